// Power cuts at every point of a run: each state the file system may be
// left in (testing/crash_states.h) is rebuilt from the run's recorded
// changes, the next start's recovery runs on it, and the target must be the
// tree before the run or the tree after it, with the manifest and the
// launcher file that go with that tree.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "config/launcher_settings.h"
#include "copy/copy_job.h"
#include "copy/manifest.h"
#include "copy/run_directory.h"
#include "copy/run_recovery.h"
#include "fs/path.h"
#include "fs/trusted_path.h"
#include "res/string_table.h"
#include "testing/crash_states.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::FileChange;
using testing::Snapshot;
using testing::TestKit;
using testing::Ticks;
using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }

// The scene: a world with a home (the state directory and the launcher file
// in it), a temporary directory and a template folder.
struct World {
  std::string root, home, target, launcher, manifest;
  // The target's tree; an empty target is not a missing one.
  std::map<std::string, std::string> Tree() const {
    if (!testing::Exists(target)) return {};
    auto tree = Snapshot(target);
    tree["<the target exists>"] = "";
    return tree;
  }
  std::string Launcher() const {
    return testing::Exists(launcher) ? testing::ReadFile(launcher) : "-";
  }
  std::string Manifest() const {
    return testing::Exists(manifest) ? testing::ReadFile(manifest) : "-";
  }
  // Every name in the world but the target's tree: the state directory,
  // the launcher's folder, the temporary directory, the run's places.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    const std::string tree = target + "/";
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
      const std::string path = it->path();
      if (path == target || path.compare(0, tree.size(), tree) == 0) {
        if (it->is_directory(ec_) && !it->is_symlink(ec_)) it.disable_recursion_pending();
        continue;
      }
      names.insert(path);
    }
    return names;
  }
  mutable std::error_code ec_;
  std::vector<std::string> RegistryEntries() const {
    std::vector<std::string> left;
    if (!testing::Exists(LiveDirectory())) return left;
    for (auto& entry : std::filesystem::directory_iterator(LiveDirectory())) {
      left.push_back(entry.path());
    }
    return left;
  }
  std::vector<std::string> RunDirectories() const {
    std::vector<std::string> left;
    // Everywhere a run of this world may have put one.
    for (const std::string& base :
         {StateDirectory() + "runs", ParentOf(target), home, root + "/tmp"}) {
      if (!testing::Exists(base)) continue;
      for (auto& entry : std::filesystem::directory_iterator(base)) {
        if (IsRunDirectoryName(entry.path().filename())) left.push_back(entry.path());
      }
    }
    return left;
  }
};

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void Record(const WideString& root, bool uninstalled) {
  if (uninstalled) {
    ForgetInstalledLocation(root);
  } else {
    RecordInstalledLocation(root);
  }
}

uint32_t RunJob(KitReader* reader, const std::string& target, bool uninstall) {
  ProgressChannel channel;
  channel.Init();
  channel.SetJob(reader, W(target));
  CopyJob job;
  job.SetFinishPauseMs(0);
  job.SetOnCommitted(&Record);
  job.SetUninstall(uninstall);
  const uint32_t code = job.Run(channel);
  const FailureCause cause = channel.Cause();
  if (!cause.empty()) std::cout << "the run failed: " << Narrow(DescribeCause(cause)) << "\n";
  return code;
}

void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

class CrashStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentLanguage(3);
    world_.root = dir_ / "w";
    world_.home = world_.root + "/home";
    world_.target = world_.home + "/Templates/Acme";
    world_.launcher = world_.home + "/.Vexa/vexalaunch/vexalaunch.cfg";
    testing::MakeDirs(world_.root + "/tmp");
    WriteFile(world_.launcher,
              "ConfigurationTemplatesLocation=" + world_.home + "/Templates\nOther=kept\n");
    testing::MakeDirs(world_.home + "/Templates");
    world_.manifest = ManifestPathFor(world_.target + "/");
  }
  void TearDown() override {
    if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
    reader_.Close();
    SetCurrentLanguage(0);
  }

  void OpenKit(TestKit kit) {
    reader_.Close();
    kit.trailer = true;  // read in place: nothing of the run outside the world
    kit.WriteTo(dir_ / "qorv.vkt");
    ASSERT_EQ(reader_.Open(dir_ / "qorv.vkt"), 0u) << reader_.Problem();
  }

  // The world as `from` holds it; a file system mounted at its "disk"
  // stays mounted, emptied and filled again.
  void Restore(const std::string& from, const std::string& to) {
    for (const auto& entry : std::filesystem::directory_iterator(to)) {
      if (entry.path().filename() != "disk") {
        std::filesystem::remove_all(entry.path());
      } else {
        for (const auto& inner : std::filesystem::directory_iterator(entry.path())) {
          std::filesystem::remove_all(inner.path());
        }
      }
    }
    CopyInto(from, to);
    // The world was made again behind the program's back.
    ForgetResolvedDirectories();
  }

  // Copies what `from` holds into the folder `to`, modes and times kept
  // (as `cp -a`, without a process per state).
  static void CopyInto(const std::string& from, const std::string& to) {
    for (const auto& entry : std::filesystem::directory_iterator(from)) {
      const std::string source = entry.path();
      const std::string copy = to + "/" + entry.path().filename().string();
      struct stat st;
      ASSERT_EQ(::lstat(source.c_str(), &st), 0) << source;
      if (S_ISDIR(st.st_mode)) {
        if (::mkdir(copy.c_str(), 0700) != 0) {
          ASSERT_EQ(errno, EEXIST) << copy;
        }
        CopyInto(source, copy);
      } else if (S_ISLNK(st.st_mode)) {
        std::filesystem::copy_symlink(source, copy);
      } else {
        WriteFile(copy, testing::ReadFile(source));
      }
      if (!S_ISLNK(st.st_mode)) ::chmod(copy.c_str(), st.st_mode & 07777);
      const struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::utimensat(AT_FDCWD, copy.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
  }

  // What is wrong with the world after a recovery; empty when the tree is
  // the one before or after the run, with the manifest and launcher file
  // that go with it, and nothing of the run left.
  std::string Verdict() const {
    const auto tree = world_.Tree();
    const bool before = tree == before_.tree;
    const bool after = tree == after_.tree;
    if (!before && !after) return "a tree neither before nor after";
    if (world_.Manifest() != (after ? after_.manifest : before_.manifest) &&
        !(before && world_.Manifest() == before_.manifest)) {
      return "the manifest does not go with the tree";
    }
    if (world_.Launcher() != (after ? after_.launcher : before_.launcher) &&
        !(before && world_.Launcher() == before_.launcher)) {
      return "the launcher file does not go with the tree";
    }
    if (!world_.RunDirectories().empty()) return "a run directory is left";
    for (const std::string& name : world_.Names()) {
      if (before_.names.count(name) == 0 && after_.names.count(name) == 0) {
        return "a name neither before nor after has is left: " + name;
      }
    }
    if (!world_.RegistryEntries().empty()) return "a registry entry is left";
    return std::string();
  }

  // The cut states to try, with the bytes not yet flushed all kept, all
  // lost, and (when few) each way between; a seeded sample of them when
  // `sample` is smaller than their number.
  static std::vector<std::pair<testing::CutState, std::set<ino_t>>> Cuts(
      const std::vector<FileChange>& changes, size_t sample, uint32_t seed) {
    std::vector<testing::CutState> states = testing::CutStatesOf(changes);
    if (sample < states.size()) {
      std::mt19937 random(seed);
      std::shuffle(states.begin(), states.end(), random);
      states.resize(sample);
    }
    std::vector<std::pair<testing::CutState, std::set<ino_t>>> cuts;
    for (const testing::CutState& state : states) {
      const std::set<ino_t> unflushed = testing::UnflushedAt(changes, state.count);
      cuts.push_back({state, {}});
      if (unflushed.empty()) continue;
      cuts.push_back({state, unflushed});
      if (unflushed.size() > 4 || unflushed.size() < 2) continue;
      const std::vector<ino_t> files(unflushed.begin(), unflushed.end());
      for (size_t mask = 1; mask + 1 < (size_t{1} << files.size()); ++mask) {
        std::set<ino_t> lost;
        for (size_t i = 0; i < files.size(); ++i) {
          if ((mask >> i & 1) != 0) lost.insert(files[i]);
        }
        cuts.push_back({state, lost});
      }
    }
    return cuts;
  }

  static std::string Describe(const testing::CutState& state, size_t of, size_t lost) {
    return "after " + std::to_string(state.count) + " of " + std::to_string(of) + " changes" +
           (state.lagging != 0
                ? ", one file system holding back from " + std::to_string(state.lagFrom)
                : std::string()) +
           ", " + std::to_string(lost) + " files' bytes lost";
  }

  // Records `run` from the world as it is, then tries every state a power
  // cut at each point of it may leave, and for `second` of them, every
  // state a second cut during the next start's recovery may leave. Returns
  // the states explored.
  size_t Explore(const std::function<uint32_t()>& run, bool fails, size_t sample, size_t second) {
    const std::string saved = dir_ / "w0";
    Shell("rm -rf '" + saved + "' && mkdir '" + saved + "'");
    CopyInto(world_.root, saved);
    before_ = {world_.Tree(), world_.Launcher(), world_.Manifest(), world_.Names()};
    std::vector<FileChange> changes;
    {
      testing::ChangeRecorder recorder(world_.root);
      if (fails) recorder.FailWriteUnder(world_.target + "/", 2);
      EXPECT_EQ(run() != 0, fails);
      changes = recorder.Take();
    }
    after_ = {world_.Tree(), world_.Launcher(), world_.Manifest(), world_.Names()};
    EXPECT_GT(changes.size(), 10u);
    if (std::getenv("QORV_CRASH_TRACE") != nullptr) {
      for (size_t i = 0; i < changes.size(); ++i) {
        std::cout << i << " " << changes[i].kind << " " << changes[i].device << " "
                  << changes[i].path << " " << changes[i].to << "\n";
      }
    }
    EXPECT_EQ(testing::DevicesOf(changes).size(), devices_);

    size_t explored = 0;
    size_t recut = 0;
    std::vector<std::string> violations;
    const auto cuts = Cuts(changes, sample, 20261209);
    // The first cuts whose recoveries are cut again: spread over the run.
    std::set<size_t> again;
    for (size_t i = 0; i < second && i < cuts.size(); ++i) again.insert(i * cuts.size() / second);
    for (size_t c = 0; c < cuts.size(); ++c) {
      const auto& [state, lost] = cuts[c];
      ++explored;
      Restore(saved, world_.root);
      testing::Replay(changes, state, lost);
      std::vector<FileChange> recovery;
      {
        std::unique_ptr<testing::ChangeRecorder> recorder;
        if (again.count(c) != 0) recorder = std::make_unique<testing::ChangeRecorder>(world_.root);
        RecoverAllInterruptedRuns(&Record);
        if (recorder) recovery = recorder->Take();
      }
      const std::string first = Describe(state, changes.size(), lost.size());
      if (std::string wrong = Verdict(); !wrong.empty()) {
        violations.push_back(first + ": " + wrong);
        continue;
      }
      if (recovery.empty()) continue;
      ++recut;
      for (const auto& [cut, gone] : Cuts(recovery, SIZE_MAX, 0)) {
        ++explored;
        Restore(saved, world_.root);
        testing::Replay(changes, state, lost);
        testing::Replay(recovery, cut, gone);
        RecoverAllInterruptedRuns(&Record);
        if (std::string wrong = Verdict(); !wrong.empty()) {
          violations.push_back(first + "; the recovery cut " +
                               Describe(cut, recovery.size(), gone.size()) + ": " + wrong);
        }
      }
    }
    // The world as the run left it, for the next scene.
    Restore(saved, world_.root);
    testing::Replay(changes, changes.size(), {});
    std::cout << "crash states: " << explored << " explored (" << recut
              << " recoveries cut again), " << violations.size() << " violated\n";
    EXPECT_EQ(violations, std::vector<std::string>());
    return explored;
  }

  // Every scene of the explorer on the world as set up.
  void ExploreScenes(size_t files, size_t sample, size_t second) {
    TestKit first;
    for (size_t i = 0; i < files; ++i) {
      first.entries.push_back({Ascii("lib\\f" + std::to_string(i) + ".cf"),
                               std::string(100 + i * 37, static_cast<char>('a' + i % 26)),
                               Ticks(1600000000)});
    }
    first.entries.push_back({u"doc\\about.html", "<p>1</p>", Ticks(1600000000)});
    // An upgrade: every file newer, one dropped, one new in a new folder.
    TestKit upgrade;
    for (size_t i = 1; i < files; ++i) {
      upgrade.entries.push_back({Ascii("lib\\f" + std::to_string(i) + ".cf"),
                                 "v2 " + std::string(50 + i, 'x'), Ticks(1700000000)});
    }
    upgrade.entries.push_back({u"new\\deep\\g.cf", "g", Ticks(1700000000)});
    // A third release, whose run meets a full disk halfway.
    TestKit third;
    for (size_t i = 0; i < files; ++i) {
      third.entries.push_back(
          {Ascii("lib\\f" + std::to_string(i) + ".cf"), "v3", Ticks(1800000000)});
    }
    struct Scene {
      const char* what;
      const TestKit* kit;
      bool uninstall;
      bool fails;
    };
    const Scene scenes[] = {
        {"a fresh install", &first, false, false},
        {"an upgrade that removes an obsolete file", &upgrade, false, false},
        {"an upgrade rolled back after a full disk", &third, false, true},
        {"an uninstall", &upgrade, true, false},
    };
    size_t total = 0;
    for (const Scene& scene : scenes) {
      SCOPED_TRACE(scene.what);
      std::cout << scene.what << ": ";
      OpenKit(*scene.kit);
      total += Explore(
          [&] {
            // As a start does first: the folder the launcher lists is
            // probed for the directory to propose.
            ProposeTargetDirectory(ReadKnownLocations());
            return RunJob(&reader_, world_.target, scene.uninstall);
          },
          scene.fails, sample, second);
    }
    std::cout << "crash states in all: " << total << "\n";
  }

  struct Seen {
    std::map<std::string, std::string> tree;
    std::string launcher, manifest;
    std::set<std::string> names;
  };
  Seen before_, after_;
  std::string mounted_;
  size_t devices_ = 1;
  testing::ScratchDir dir_;
  World world_;
  KitReader reader_;
  testing::ScopedEnv home_{"HOME", dir_ / "w/home"};
  testing::ScopedEnv state_{"XDG_STATE_HOME", dir_ / "w/home/.local/state"};
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "w/tmp"};
};

// A larger kit and a seeded sample of points with QORV_CRASH_LARGE (make
// crashcheck); every point of a small one otherwise.
bool Large() { return std::getenv("QORV_CRASH_LARGE") != nullptr; }

TEST_F(CrashStateTest, APowerCutAnywhereLeavesTheTreeBeforeOrAfter) {
  ExploreScenes(Large() ? 40 : 4, Large() ? 400 : SIZE_MAX, Large() ? SIZE_MAX : 16);
}

// The target on a second file system (a tmpfs), the state directory with
// the registry and the manifests on the first: each may keep what the
// other has not yet written.
TEST_F(CrashStateTest, APowerCutAcrossTwoFileSystemsLeavesTheTreeBeforeOrAfter) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting the second file system needs root";
  // Private to this process where it can be, so that nothing outlives it.
  if (::unshare(CLONE_NEWNS) == 0) ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  const std::string disk = world_.root + "/disk";
  testing::MakeDirs(disk);
  ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16m"), 0) << std::strerror(errno);
  mounted_ = disk;
  world_.target = disk + "/Templates/Acme";
  world_.manifest = ManifestPathFor(world_.target + "/");
  devices_ = 2;
  ExploreScenes(Large() ? 12 : 3, Large() ? 1500 : 600, Large() ? SIZE_MAX : 8);
}

}  // namespace
}  // namespace qorv
