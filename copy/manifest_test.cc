#include "copy/manifest.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "copy/copy_job.h"
#include "copy/progress_channel.h"
#include "copy/run_plan.h"
#include "fs/error_codes.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ReadFile;
using testing::Snapshot;
using testing::TestKit;
using testing::Ticks;
using testing::WriteFile;

TEST(ManifestTest, EncodesAndParsesWholeManifestsOnly) {
  Manifest m;
  m.target = "/home/u/tpl with\nline/";
  m.kit = std::string(64, 'a');
  m.directories = {"/home/u/tpl with\nline", "/home/u/tpl with\nline/d"};
  m.files = {{"d/x.cf", 12, 1700000000, {}, {}}, {"name with spaces", 0, 0, {}, {}}};
  m.files[0].digest[0] = 0xab;
  const std::string text = EncodeManifest(m);
  Manifest back;
  ASSERT_TRUE(ParseManifest(text, &back));
  EXPECT_EQ(EncodeManifest(back), text);
  EXPECT_EQ(back.files[0].digest[0], 0xab);
  ASSERT_NE(back.Find("name with spaces"), nullptr);

  // Damaged: every cut, a wrong format, a length past the end, a bad digest.
  for (size_t cut = 0; cut + 1 < text.size(); ++cut) {
    EXPECT_FALSE(ParseManifest(text.substr(0, cut), &back)) << cut;
  }
  std::string other = text;
  other.replace(0, 15, "qorv-manifest 2");
  std::string longer = text;
  longer.replace(longer.find("6:d/x.cf"), 8, "9:d/x.cf");
  std::string badHex = text;
  badHex.replace(badHex.find(" ab") + 1, 2, "zz");
  for (const std::string& damaged : {other, longer, badHex}) {
    EXPECT_FALSE(ParseManifest(damaged, &back)) << damaged;
  }
}

// The state directory may belong to someone else: a manifest that names a
// file outside its target, or a directory off the way to it, is refused as
// damaged, and an uninstall then removes nothing.
TEST(ManifestTest, NamesOutsideTheTargetAreRefused) {
  struct Case {
    std::string directory;  // empty: none
    std::string file;       // empty: none
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"/srv", "a/b.cf", true},        // a parent the install made
      {"/srv/tpl/d", "d/b.cf", true},  // below the target
      {"/srv/tpl", "x", true},         // the target itself
      {"", "../protected/passwd", false},
      {"", "/etc/passwd", false},
      {"", "a/../../b", false},
      {"", "a//b", false},
      {"", "./a", false},
      {"", "a/", false},
      {"/etc", "", false},       // neither on the way nor below
      {"/srv/tplx", "", false},  // a sibling that shares the prefix
      {"/srv/tpl/../../etc", "", false},
      {"srv/tpl/d", "", false},  // not absolute
  };
  for (const Case& c : cases) {
    Manifest m;
    m.target = "/srv/tpl/";
    m.kit = "-";
    if (!c.directory.empty()) m.directories = {c.directory};
    if (!c.file.empty()) m.files = {{c.file, 1, 1, {}, {}}};
    Manifest back;
    EXPECT_EQ(ParseManifest(EncodeManifest(m), &back), c.accepted) << c.directory << c.file;
  }
}

// Putting the manifest back after a failed run: the old copy returns, or,
// when there was none, whatever the run wrote goes. A manifest directory
// that is missing, or sits under a file, holds none: that is as before too,
// not a file that could not be put back.
TEST(ManifestTest, PutBackRestoresTheOldCopyOrNone) {
  testing::ScratchDir dir;
  struct Case {
    const char* name;
    const char* manifest;  // under dir, relative
    const char* old;       // the saved copy, nullptr: none was saved
    const char* written;   // what the run left, nullptr: nothing
    bool hadOne;           // the journal says there was one before
    bool putBack;
    const char* after;  // the manifest afterwards, nullptr: none
  };
  const Case cases[] = {
      {"old copy returns", "m1/t.manifest", "old", "new", true, true, "old"},
      // An undo cut after the manifest was back and its copy gone, done
      // again: the manifest stays.
      {"put back already", "m7/t.manifest", nullptr, "old", true, true, "old"},
      {"none before, one written", "m2/t.manifest", nullptr, "new", false, true, nullptr},
      {"none before, none written", "m3/t.manifest", nullptr, nullptr, false, true, nullptr},
      {"no manifest directory", "m4/t.manifest", nullptr, nullptr, false, true, nullptr},
      {"state under a file", "file/m5/t.manifest", nullptr, nullptr, false, true, nullptr},
  };
  WriteFile(dir / "file", "not a directory");
  testing::MakeDirs(dir / "m3");
  testing::MakeDirs(dir / "m7");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string manifest = dir / c.manifest;
    const std::string old = manifest + ".old";
    if (c.written != nullptr) WriteFile(manifest, c.written);
    if (c.old != nullptr) WriteFile(old, c.old);
    EXPECT_EQ(PutBackManifest(manifest, old, c.hadOne), c.putBack);
    if (c.after == nullptr) {
      EXPECT_FALSE(testing::Exists(manifest));
    } else {
      EXPECT_EQ(ReadFile(manifest), c.after);
    }
  }
  // An old copy that cannot be read cannot be put back.
  testing::MakeDirs(dir / "m6/t.manifest.old");
  EXPECT_FALSE(PutBackManifest(dir / "m6/t.manifest", dir / "m6/t.manifest.old", true));
}

TEST(RunPlanTest, JsonStringsHoldAnyName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain/a.cf", "\"plain/a.cf\""},
      {"quote\" back\\slash", "\"quote\\\" back\\\\slash\""},
      {"tab\tnewline\n", "\"tab\\u0009newline\\u000a\""},
      {"Шаблон/ü.cf", "\"Шаблон/ü.cf\""},
      {"bad\xff\xc3", "\"bad\\udcff\\udcc3\""},       // not UTF-8: surrogate escapes
      {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},  // an encoded surrogate is not UTF-8
      // What a terminal acts on is escaped even where JSON allows it raw.
      {"del\x7f csi\xc2\x9b[2J nel\xc2\x85", "\"del\\u007f csi\\u009b[2J nel\\u0085\""},
      {"\xc2\xa0nbsp", "\"\xc2\xa0nbsp\""},
  };
  for (const auto& [name, json] : cases) EXPECT_EQ(JsonString(name), json) << name;
}

// Two kits into one target, then an uninstall, through the real copy job.
class UpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCurrentLanguage(3); }
  void TearDown() override {
    reader_.Close();
    SetCurrentLanguage(0);
  }

  void OpenKit(const std::vector<testing::TestEntry>& entries) {
    reader_.Close();
    TestKit kit;
    kit.entries = entries;
    kit.WriteTo(dir_ / "qorv.vkt");
    ASSERT_EQ(reader_.Open(dir_ / "qorv.vkt"), 0u) << reader_.Problem();
  }

  // Into target_, or the same directory spelled as `spelling`.
  uint32_t Run(bool uninstall = false, const std::string& spelling = std::string()) {
    ProgressChannel channel;
    channel.Init();
    channel.SetJob(uninstall ? nullptr : &reader_, Wide(spelling.empty() ? target_ : spelling));
    CopyJob job;
    job.SetFinishPauseMs(0);
    job.SetUninstall(uninstall);
    job.SetOnCommitted([this](const WideString&, bool uninstalled) {
      committed_.push_back(uninstalled ? "uninstalled" : "installed");
    });
    uint32_t code = job.Run(channel);
    done_ = channel.Summary();
    unrestored_ = job.unrestored();
    return code;
  }

  std::string Manifested() const {
    std::string text;
    Manifest m;
    if (LoadManifest(target_ + "/", &m) != ManifestState::kRead) return "none";
    for (const ManifestFile& f : m.files) text += f.path + ";";
    return text;
  }

  // The target's files and directories ("d/") with their contents.
  std::map<std::string, std::string> Contents() const {
    std::map<std::string, std::string> contents;
    for (const auto& [path, value] : Snapshot(target_)) {
      size_t first = value.find(' ');
      size_t second = first == std::string::npos ? first : value.find(' ', first + 1);
      if (second == std::string::npos) {
        contents[path.substr(1) + "/"] = "";
      } else {
        contents[path.substr(1)] = value.substr(second + 1);
      }
    }
    return contents;
  }

  std::map<std::string, size_t> Counts() const {
    std::map<std::string, size_t> counts;
    for (const PlanItem& item : done_.items) ++counts[ActionName(item.action)];
    return counts;
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
  const std::string target_ = dir_ / "target";
  KitReader reader_;
  RunPlan done_;
  std::vector<std::string> committed_;
  std::vector<UnrestoredFile> unrestored_;
};

TEST_F(UpgradeTest, UpgradeRemovesWhatTheNewKitDropsThenUninstallRemovesTheRest) {
  testing::MakeDirs(dir_ / "tmp");
  OpenKit({{u"a.cf", "a", Ticks(1600000000)},
           {u"b.cf", "b", Ticks(1600000000)},
           {u"c.cf", "c", Ticks(1600000000)},
           {u"d\\e.cf", "e", Ticks(1600000000)}});
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(Manifested(), "a.cf;b.cf;c.cf;d/e.cf;");
  WriteFile(target_ + "/mine.txt", "the user's");
  WriteFile(target_ + "/c.cf", "edited");

  // The plan says what the run then does.
  OpenKit({{u"a.cf", "a2", Ticks(1700000000)}});
  Manifest previous;
  ASSERT_EQ(LoadManifest(target_ + "/", &previous), ManifestState::kRead);
  const RunPlan plan = PlanInstall(reader_, target_ + "/", previous);
  ASSERT_EQ(Run(), 0u);
  ASSERT_EQ(done_.items.size(), plan.items.size());
  for (size_t i = 0; i < plan.items.size(); ++i) {
    EXPECT_EQ(done_.items[i].action, plan.items[i].action) << plan.items[i].path;
    EXPECT_EQ(done_.items[i].path, plan.items[i].path);
  }
  EXPECT_EQ(Counts(),
            (std::map<std::string, size_t>{{"replace", 1}, {"remove", 2}, {"keep-changed", 1}}));
  EXPECT_EQ(Contents(),
            (std::map<std::string, std::string>{
                {"a.cf", "a2"}, {"c.cf", "edited"}, {"d/", ""}, {"mine.txt", "the user's"}}));
  EXPECT_EQ(Manifested(), "a.cf;");

  // The same kit again: nothing to do, nothing removed.
  ASSERT_EQ(Run(), 0u);
  EXPECT_FALSE(done_.Changes());

  ASSERT_EQ(Run(true), 0u);
  EXPECT_EQ(Counts(), (std::map<std::string, size_t>{{"remove", 1}}));
  // The directory the installs made goes once empty; the target stays
  // with the user's files.
  EXPECT_EQ(Contents(),
            (std::map<std::string, std::string>{{"c.cf", "edited"}, {"mine.txt", "the user's"}}));
  EXPECT_EQ(Manifested(), "none");
  EXPECT_EQ(committed_,
            (std::vector<std::string>{"installed", "installed", "installed", "uninstalled"}));
  // Nothing left to uninstall.
  EXPECT_EQ(Run(true), 2u);
}

// What the dry run shows is what the run then does, item for item: both
// come from one plan. For a failing run, what it did before the failure.
TEST_F(UpgradeTest, AFileTheUserChangedStaysTheUsersThroughUpgradesAndIsNamedOnUninstall) {
  OpenKit({{u"mine.cf", "kit 1", Ticks(1600000000)}, {u"other.cf", "o", Ticks(1600000000)}});
  ASSERT_EQ(Run(), 0u);
  WriteFile(target_ + "/mine.cf", "edited by the user");
  testing::SetMTime(target_ + "/mine.cf", 1800000000);  // newer than the next kit's copy
  OpenKit({{u"mine.cf", "kit 2", Ticks(1700000000)}, {u"other.cf", "o2", Ticks(1700000000)}});
  Manifest previous;
  ASSERT_EQ(LoadManifest(target_ + "/", &previous), ManifestState::kRead);
  RunPlan plan = PlanInstall(reader_, target_ + "/", previous);
  ASSERT_EQ(plan.items.size(), 2u);
  EXPECT_EQ(plan.items[0].action, PlanAction::kKeepChanged);
  EXPECT_EQ(plan.items[1].action, PlanAction::kReplace);
  ASSERT_EQ(Run(), 0u);
  EXPECT_EQ(Counts(), (std::map<std::string, size_t>{{"keep-changed", 1}, {"replace", 1}}));
  EXPECT_EQ(testing::ReadFile(target_ + "/mine.cf"), "edited by the user");
  EXPECT_EQ(Manifested(), "mine.cf;other.cf;");
  ASSERT_EQ(Run(true), 0u);
  EXPECT_EQ(Counts(), (std::map<std::string, size_t>{{"keep-changed", 1}, {"remove", 1}}));
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"mine.cf", "edited by the user"}}));
}

TEST_F(UpgradeTest, TheRunDoesWhatTheDryRunShows) {
  testing::MakeDirs(dir_ / "tmp");
  using Entries = std::vector<testing::TestEntry>;
  const Entries earlier = {{u"x.cf", "x", Ticks(1600000000)}, {u"y.cf", "y", Ticks(1600000000)}};
  struct Case {
    const char* name;
    Entries installedBefore;  // a kit installed first (none: empty)
    std::function<void(const std::string&)> prepare;
    Entries kit;
    std::vector<std::string> planned;  // "action path"
    bool fails;
  };
  // What the target holds before the run: a file or a directory at `name`
  // with the modification time `seconds`.
  auto fileAt = [](const char* name, int64_t seconds) {
    return [=](const std::string& t) {
      WriteFile(t + "/" + name, "mine");
      testing::SetMTime(t + "/" + name, seconds);
    };
  };
  auto directoryAt = [](const char* name, int64_t seconds) {
    return [=](const std::string& t) {
      testing::MakeDirs(t + "/" + name);
      testing::SetMTime(t + "/" + name, seconds);
    };
  };
  const Entries aDAndZ = {
      {u"a.cf", "a", Ticks(5000)}, {u"d.cf", "d", Ticks(5000)}, {u"z.cf", "z", Ticks(5000)}};
  const std::vector<Case> cases = {
      {"new", {}, [](const std::string&) {}, {{u"a.cf", "a", Ticks(5000)}}, {"write a.cf"}, false},
      {"older", {}, fileAt("a.cf", 4999), {{u"a.cf", "a", Ticks(5000)}}, {"replace a.cf"}, false},
      {"newer", {}, fileAt("a.cf", 5001), {{u"a.cf", "a", Ticks(5000)}}, {"keep a.cf"}, false},
      {"equal in whole seconds",
       {},
       fileAt("a.cf", 5000),
       {{u"a.cf", "a", Ticks(5000) + 9990000}},
       {"keep a.cf"},
       false},
      {"changed after install and obsolete",
       earlier,
       [](const std::string& t) { WriteFile(t + "/y.cf", "edited"); },
       {{u"x.cf", "x", Ticks(1600000000)}},
       {"keep x.cf", "keep-changed y.cf"},
       false},
      {"obsolete",
       earlier,
       [](const std::string&) {},
       {{u"x.cf", "x2", Ticks(1700000000)}, {u"sub\\n.cf", "n", Ticks(1700000000)}},
       {"replace x.cf", "write sub/n.cf", "remove y.cf"},
       false},
      {"directory where a file is, newer",
       {},
       directoryAt("d.cf", 6000),
       aDAndZ,
       {"write a.cf", "keep d.cf", "write z.cf"},
       false},
      {"directory where a file is, older",
       {},
       directoryAt("d.cf", 4000),
       aDAndZ,
       {"write a.cf", "replace d.cf", "write z.cf"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::RemoveAll(target_);
    testing::RemoveAll(ManifestDirectory());
    testing::MakeDirs(target_);
    if (!c.installedBefore.empty()) {
      OpenKit(c.installedBefore);
      ASSERT_EQ(Run(), 0u);
    }
    c.prepare(target_);
    OpenKit(c.kit);
    Manifest previous;
    LoadManifest(target_ + "/", &previous);
    const RunPlan plan = PlanInstall(reader_, target_ + "/", previous);
    std::vector<std::string> shown;
    for (const PlanItem& item : plan.items) shown.push_back(PlanItemJson("plan", item));
    std::vector<std::string> planned;
    for (const PlanItem& item : plan.items) {
      planned.push_back(std::string(ActionName(item.action)) + " " + item.path);
    }
    EXPECT_EQ(planned, c.planned);

    EXPECT_EQ(Run() != 0u, c.fails);
    std::vector<std::string> done;
    for (const PlanItem& item : done_.items) done.push_back(PlanItemJson("plan", item));
    if (c.fails) {
      // Up to the item it could not carry out.
      ASSERT_LT(done.size(), shown.size());
      shown.resize(done.size());
    }
    EXPECT_EQ(done, shown);
  }
}

// A run that fails after it removed the dropped files, at every flush it
// makes from there on, puts them back with the manifest that named them.
TEST_F(UpgradeTest, AFailedUpgradeOrUninstallPutsFilesAndManifestBack) {
  testing::MakeDirs(dir_ / "tmp");
  for (bool uninstall : {false, true}) {
    int failed = 0;
    for (int back = 1;; ++back) {
      SCOPED_TRACE((uninstall ? "uninstall, flush " : "upgrade, flush ") + std::to_string(back));
      testing::RemoveAll(target_);
      testing::RemoveAll(ManifestDirectory());
      OpenKit({{u"a.cf", "a", Ticks(1600000000)}, {u"d\\b.cf", "b", Ticks(1600000000)}});
      ASSERT_EQ(Run(), 0u);
      OpenKit({{u"a.cf", "a", Ticks(1600000000)}});
      int flushes;
      {
        testing::FaultInjector count(testing::SysCall::kFsync, -1, 0);
        ASSERT_EQ(Run(uninstall), 0u);
        flushes = count.Count();
      }
      if (back > flushes) break;
      testing::RemoveAll(target_);
      testing::RemoveAll(ManifestDirectory());
      OpenKit({{u"a.cf", "a", Ticks(1600000000)}, {u"d\\b.cf", "b", Ticks(1600000000)}});
      ASSERT_EQ(Run(), 0u);
      // This install's own manifest: it records what lstat says of its files.
      const auto before = Snapshot(target_);
      const std::string manifest = ReadFile(ManifestPathFor(target_ + "/"));
      OpenKit({{u"a.cf", "a", Ticks(1600000000)}});
      // The failed flush is the back-th from the end: the commit record's
      // first, then the manifest's and the journal's before it.
      testing::FaultInjector fail(testing::SysCall::kFsync, flushes - back, EIO);
      if (Run(uninstall) == 0u) continue;  // a flush whose failure is not fatal
      ++failed;
      EXPECT_EQ(Snapshot(target_), before);
      EXPECT_EQ(ReadFile(ManifestPathFor(target_ + "/")), manifest);
      if (back >= 6) break;
    }
    EXPECT_GE(failed, 3) << (uninstall ? "uninstall" : "upgrade");
  }
}

// One target spelled several ways ("//", "/./", a trailing "/."): an upgrade
// or an uninstall under another spelling finds the manifest the install
// wrote, and leaves no second one.
// A file whose lstat still says what the manifest recorded is unchanged
// without being read. One that says otherwise (new bytes under the same
// size and time: a new change time), one whose facts were taken in the
// manifest's own tick, and one an older manifest has no facts for, are
// read.
TEST_F(UpgradeTest, RecordedFactsSpareTheReadingOfUnchangedFilesOnly) {
  testing::MakeDirs(dir_ / "tmp");
  OpenKit({{u"a.cf", "aaaa", Ticks(1600000000)}});
  const std::string file = target_ + "/a.cf";
  struct Case {
    const char* what;
    bool newBytes;
    bool racy;
    bool noFacts;
    bool unchanged;
    bool reads;
  };
  const Case cases[] = {
      {"untouched", false, false, false, true, false},
      {"new bytes under the same size and time", true, false, false, false, true},
      {"facts taken in the manifest's own tick", false, true, false, true, true},
      {"a manifest without facts", false, false, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::RemoveAll(target_);
    ASSERT_EQ(Run(), 0u);
    Manifest m;
    ASSERT_EQ(LoadManifest(target_ + "/", &m), ManifestState::kRead);
    ASSERT_EQ(m.files.size(), 1u);
    ASSERT_TRUE(m.files[0].facts.known);
    if (c.newBytes) {
      ::usleep(20000);  // a change time of its own
      WriteFile(file, "bbbb");
      testing::SetMTime(file, 1600000000);
    }
    if (c.noFacts) {
      m.files[0].facts = FileFacts();
      WriteFile(ManifestPathFor(target_ + "/"), EncodeManifest(m));
    }
    // The manifest written a second after the facts were taken, or in
    // the same tick.
    struct stat st;
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    struct timespec times[2] = {st.st_ctim, st.st_ctim};
    if (!c.racy) times[1].tv_sec += 1;
    if (c.newBytes) times[1] = {m.files[0].facts.ctimeNs / 1000000000 + 1, 0};
    ASSERT_EQ(::utimensat(AT_FDCWD, ManifestPathFor(target_ + "/").c_str(), times, 0), 0);
    ASSERT_EQ(LoadManifest(target_ + "/", &m), ManifestState::kRead);
    testing::FaultInjector reads(testing::SysCall::kRead, -1, 0);
    EXPECT_EQ(UnchangedSince(target_ + "/", m.files[0]), c.unchanged);
    EXPECT_EQ(reads.Count() > 0, c.reads) << reads.Count();
  }
  // A re-install with nothing to write records the facts again.
  testing::RemoveAll(target_);
  ASSERT_EQ(Run(), 0u);
  ASSERT_EQ(Run(), 0u);
  Manifest m;
  ASSERT_EQ(LoadManifest(target_ + "/", &m), ManifestState::kRead);
  ASSERT_EQ(m.files.size(), 1u);
  EXPECT_TRUE(m.files[0].facts.known);
}

TEST_F(UpgradeTest, AnySpellingOfTheTargetFindsItsManifest) {
  testing::MakeDirs(dir_ / "tmp");
  auto manifests = [] {
    testing::MakeDirs(ManifestDirectory());
    auto names = std::filesystem::directory_iterator(ManifestDirectory());
    return std::distance(names, std::filesystem::directory_iterator());
  };
  const auto before = manifests();
  OpenKit({{u"a.cf", "a", Ticks(1600000000)}, {u"d\\b.cf", "b", Ticks(1600000000)}});
  ASSERT_EQ(Run(), 0u);
  OpenKit({{u"a.cf", "a", Ticks(1600000000)}});
  ASSERT_EQ(Run(false, dir_.path() + "//target/./"), 0u);
  EXPECT_EQ(manifests(), before + 1);
  EXPECT_FALSE(testing::Exists(target_ + "/d/b.cf"));
  EXPECT_EQ(Manifested(), "a.cf;");
  ASSERT_EQ(Run(true, dir_.path() + "/./target/."), 0u);
  EXPECT_FALSE(testing::Exists(target_ + "/a.cf"));
  EXPECT_EQ(Manifested(), "none");
  EXPECT_EQ(manifests(), before);
}

// A forged manifest naming a file beside the target, with its true size,
// time and digest: the uninstall finds no install, and the file stays.
TEST_F(UpgradeTest, AForgedManifestRemovesNothingOutsideTheTarget) {
  testing::MakeDirs(dir_ / "tmp");
  OpenKit({{u"a.cf", "a", Ticks(1600000000)}});
  ASSERT_EQ(Run(), 0u);
  WriteFile(dir_ / "outside.txt", "not the installer's");
  Manifest forged;
  ASSERT_EQ(LoadManifest(target_ + "/", &forged), ManifestState::kRead);
  ManifestFile outside{"../outside.txt", 19, testing::MTime(dir_ / "outside.txt"), {}, {}};
  ASSERT_TRUE(DigestOfFile(dir_ / "outside.txt", &outside.digest));
  forged.files.push_back(outside);
  WriteFile(ManifestPathFor(target_ + "/"), EncodeManifest(forged));
  EXPECT_EQ(Run(true), kErrorNotFound);
  EXPECT_EQ(ReadFile(dir_ / "outside.txt"), "not the installer's");
  EXPECT_EQ(ReadFile(target_ + "/a.cf"), "a");
}

// A first install whose manifest cannot be written (the state directory is
// a file) fails and is undone, and nothing claims a file was left behind.
TEST_F(UpgradeTest, AManifestThatCannotBeWrittenFailsTheRunCleanly) {
  testing::MakeDirs(dir_ / "tmp");
  WriteFile(dir_ / "state", "not a directory");
  testing::ScopedEnv state("XDG_STATE_HOME", dir_ / "state");
  OpenKit({{u"a.cf", "a", Ticks(1600000000)}, {u"d\\b.cf", "b", Ticks(1600000000)}});
  EXPECT_NE(Run(), 0u);
  EXPECT_FALSE(testing::Exists(target_));
  EXPECT_TRUE(unrestored_.empty());
  EXPECT_TRUE(committed_.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp"));
}

}  // namespace
}  // namespace qorv
