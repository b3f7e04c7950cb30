// Root installing into a folder that another user can write: whatever that
// user plants there, before a run or at any step of it, nothing outside the
// target changes. Real files, real links owned by another account (made by
// root with lchown), and the file layer's call table to act between the
// run's own calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "copy/copy_job.h"
#include "copy/manifest.h"
#include "copy/progress_channel.h"
#include "copy/run_directory.h"
#include "copy/run_recovery.h"
#include "fs/error_codes.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::FaultInjector;
using testing::ReadFile;
using testing::SysCall;
using testing::TestEntry;
using testing::Ticks;
using testing::WriteFile;

constexpr uid_t kOther = 65534;  // nobody

// What the other user plants at a name.
enum class Plant { kLink, kHardLink, kPipe };

class HostileTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "links of another user are made by root";
    SetCurrentLanguage(3);
    testing::MakeDirs(dir_ / "tmp");
    SetRunBaseForTests(dir_ / "tmp");
    // Outside: a private file and a folder the other user must not reach
    // through the installer.
    WriteFile(outside_ + "/secret.cf", "root only");
    ::chmod((outside_ + "/secret.cf").c_str(), 0600);
    testing::SetMTime(outside_ + "/secret.cf", 1000);  // older than the kit's files
    WriteFile(outside_ + "/Trade/readme.txt", "outside readme");
    WriteFile(outside_ + "/Trade/old.cf", "A old");
    testing::SetMTime(outside_ + "/Trade/old.cf", 1500000000);
    ResetTarget();
  }
  void TearDown() override {
    reader_.Close();
    SetCurrentLanguage(0);
    SetRunBaseForTests("");
  }

  void ResetTarget() {
    testing::RemoveAll(shared_);
    testing::RemoveAll(dir_ / "state");
    testing::RemoveAll(dir_ / "tmp");
    testing::MakeDirs(dir_ / "tmp");
    testing::MakeDirs(shared_);
    ::chmod(shared_.c_str(), 01777);
  }

  void OpenKit(const std::vector<TestEntry>& entries) {
    reader_.Close();
    testing::TestKit kit;
    kit.entries = entries;
    kit.WriteTo(dir_ / "qorv.vkt");
    ASSERT_EQ(reader_.Open(dir_ / "qorv.vkt"), 0u) << reader_.Problem();
  }
  static std::vector<TestEntry> KitA() {
    return {{u"top.cf", "A top", Ticks(1600000000)},
            {u"Trade\\readme.txt", "A readme", Ticks(1600000000)},
            {u"Trade\\old.cf", "A old", Ticks(1500000000)},
            {u"Trade\\1.0\\new.cf", "A new", Ticks(1600000000)}};
  }
  // Drops Trade/old.cf, and is newer everywhere else.
  static std::vector<TestEntry> KitB() {
    return {{u"top.cf", "B top", Ticks(1700000000)},
            {u"Trade\\readme.txt", "B readme", Ticks(1700000000)},
            {u"Trade\\1.0\\new.cf", "B new", Ticks(1700000000)}};
  }

  uint32_t Run(const std::string& target, bool uninstall = false, int lockWaitMs = -1) {
    ProgressChannel channel;
    channel.Init();
    channel.SetJob(uninstall ? nullptr : &reader_, Wide(target));
    CopyJob job;
    job.SetFinishPauseMs(0);
    job.SetLockWaitMs(lockWaitMs);
    job.SetWriterThreads(writerThreads_);
    job.SetUninstall(uninstall);
    uint32_t code = job.Run(channel);
    cause_ = channel.Cause();
    return code;
  }

  // A link owned by the other user. False when the name's folder is not
  // there (yet, or any more).
  static bool PlantLink(const std::string& at, const std::string& to) {
    return ::symlink(to.c_str(), at.c_str()) == 0 && ::lchown(at.c_str(), kOther, kOther) == 0;
  }
  void PlantAt(const std::string& at, Plant plant) const {
    switch (plant) {
      case Plant::kLink:
        (void)PlantLink(at, outside_ + "/secret.cf");
        break;
      case Plant::kHardLink:
        ::link((outside_ + "/secret.cf").c_str(), at.c_str());
        break;
      case Plant::kPipe:
        ::mkfifo(at.c_str(), 0666);
        break;
    }
  }

  std::map<std::string, std::string> Outside() const { return testing::Snapshot(outside_); }

  testing::ScratchDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
  testing::ScopedEnv state_{"XDG_STATE_HOME", dir_ / "state"};
  const std::string outside_ = dir_ / "outside";
  const std::string shared_ = dir_ / "shared";
  KitReader reader_;
  FailureCause cause_;
  size_t writerThreads_ = CopyJob::DefaultWriterThreads();
};

// Links planted before the run. A link of the other user on the way stops
// the run before its first change, named in the cause; the user's own link
// is followed as always; a link in a file's place is moved aside, never
// written through.
TEST_F(HostileTreeTest, PlantedLinksAreFollowedOnlyWhenTheyAreTheUsersOwn) {
  struct Case {
    const char* what;
    std::string target;
    std::function<void()> plant;
    bool uninstallAfterInstall;
    bool succeeds;
    std::string refusedLink;  // below dir_
  } cases[] = {
      {"a folder in the target", shared_,
       [&] { ASSERT_TRUE(PlantLink(shared_ + "/Trade", outside_ + "/Trade")); }, false, false,
       "shared/Trade"},
      {"the target itself", shared_ + "/t",
       [&] { ASSERT_TRUE(PlantLink(shared_ + "/t", outside_)); }, false, false, "shared/t"},
      {"a folder, after the install, for the uninstall", shared_,
       [&] {
         std::filesystem::rename(shared_ + "/Trade", shared_ + "/Trade.moved");
         ASSERT_TRUE(PlantLink(shared_ + "/Trade", outside_ + "/Trade"));
       },
       true, false, "shared/Trade"},
      {"a file's name", shared_,
       [&] { ASSERT_TRUE(PlantLink(shared_ + "/top.cf", outside_ + "/secret.cf")); }, false, true,
       ""},
      {"the user's own link to a folder elsewhere", shared_,
       [&] {
         testing::MakeDirs(dir_ / "elsewhere");
         ASSERT_EQ(::symlink((dir_ / "elsewhere").c_str(), (shared_ + "/Trade").c_str()), 0);
       },
       false, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetTarget();
    testing::RemoveAll(dir_ / "elsewhere");
    OpenKit(KitA());
    if (c.uninstallAfterInstall) {
      ASSERT_EQ(Run(c.target), 0u);
    }
    c.plant();
    const auto outside = Outside();
    const auto target = testing::Snapshot(shared_);
    uint32_t code = Run(c.target, c.uninstallAfterInstall);
    EXPECT_EQ(Outside(), outside);
    if (c.succeeds) {
      EXPECT_EQ(code, 0u);
      EXPECT_EQ(ReadFile(c.target + "/top.cf"), "A top");
      struct stat st;
      ASSERT_EQ(::lstat((c.target + "/top.cf").c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
    } else {
      EXPECT_NE(code, 0u);
      EXPECT_EQ(testing::Snapshot(shared_), target);  // stopped before its first change
      EXPECT_EQ(cause_.path, dir_ / c.refusedLink);
      EXPECT_EQ(cause_.reason, "a link owned by user 65534 (nobody), not followed");
    }
  }
  // Followed: the files are in the folder the user's link points to.
  EXPECT_EQ(ReadFile(dir_ / "elsewhere/readme.txt"), "A readme");
}

// The race: at each step of a run, the other user plants a link, a hard
// link or a pipe at every name of the kit that is free, or swaps each of
// the kit's folders for a link to a folder outside. Whether the run then
// fails (and rolls back) or succeeds, nothing outside changes. Every kind
// of call the file layer makes in the target is a step: resolving a
// folder, opening, making a folder, moving, removing. Runs: an install over
// older files, an upgrade that removes a dropped file, an uninstall, and the
// recovery at the next start of an upgrade killed in its middle.
TEST_F(HostileTreeTest, NothingPlantedDuringARunReachesOutside) {
  const std::vector<std::string> files = {"top.cf", "Trade/readme.txt", "Trade/old.cf",
                                          "Trade/1.0/new.cf"};
  const std::vector<std::string> folders = {"Trade/1.0", "Trade"};
  auto plantEverywhere = [&](int step) {
    if (step % 4 == 3) {
      for (const std::string& folder : folders) {
        const std::string at = shared_ + "/" + folder;
        struct stat st;
        if (::lstat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            ::rename(at.c_str(), (at + ".moved").c_str()) == 0) {
          (void)PlantLink(at, outside_ + "/Trade");
        }
      }
      return;
    }
    for (const std::string& file : files) {
      const std::string at = shared_ + "/" + file;
      struct stat st;
      if (::lstat(at.c_str(), &st) != 0) PlantAt(at, static_cast<Plant>(step % 3));
    }
  };
  enum class Kind { kInstallOverOlder, kUpgrade, kUninstall, kRecovery };
  int raced = 0;
  for (Kind kind : {Kind::kInstallOverOlder, Kind::kUpgrade, Kind::kUninstall, Kind::kRecovery}) {
    for (SysCall call : {SysCall::kResolve, SysCall::kOpen, SysCall::kMkdir, SysCall::kRename,
                         SysCall::kUnlink, SysCall::kRmdir}) {
      for (int k = 0;; ++k) {
        SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + ", call " +
                     std::to_string(static_cast<int>(call)) + ", step " + std::to_string(k));
        ResetTarget();
        OpenKit(KitA());
        if (kind == Kind::kInstallOverOlder) {
          WriteFile(shared_ + "/top.cf", "older top");
          testing::SetMTime(shared_ + "/top.cf", 1000);
          WriteFile(shared_ + "/Trade/readme.txt", "older readme");
          testing::SetMTime(shared_ + "/Trade/readme.txt", 1000);
        } else {
          ASSERT_EQ(Run(shared_), 0u);
          if (kind != Kind::kUninstall) {
            OpenKit(KitB());
          }
        }
        if (kind == Kind::kRecovery) {
          // The upgrade dies at its fourth move, its journal and backups
          // left for the next start.
          const pid_t run = ::fork();
          if (run == 0) {
            writerThreads_ = 0;  // no threads started after a fork
            FaultInjector die(SysCall::kRename, 3, [] { ::_exit(9); });
            Run(shared_);
            ::_exit(0);
          }
          int status = 0;
          ASSERT_EQ(::waitpid(run, &status, 0), run);
          ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
        }
        const auto outside = Outside();
        bool fired;
        {
          FaultInjector race(call, k, [&] { plantEverywhere(k); });
          if (kind == Kind::kRecovery) {
            RecoverInterruptedRuns(dir_ / "tmp");
          } else {
            Run(shared_, kind == Kind::kUninstall);
          }
          fired = race.Fired();
        }
        EXPECT_EQ(Outside(), outside);
        if (!fired) break;  // the run made fewer such calls than k
        ++raced;
      }
    }
  }
  EXPECT_GT(raced, 150);
}

// Root run with another user's HOME (sudo keeping it): that user's state is
// neither trusted nor written. A manifest there, forged to name a file of
// the target, removes nothing; an install writes no manifest there, and
// fails before it is done, undone, with the owner named.
TEST_F(HostileTreeTest, AnotherUsersStateIsNeitherTrustedNorWritten) {
  OpenKit(KitA());
  ASSERT_EQ(Run(shared_), 0u);
  WriteFile(shared_ + "/mine.txt", "the administrator's");
  const std::string manifest = ManifestPathFor(shared_ + "/");
  Manifest forged;
  ASSERT_EQ(LoadManifest(shared_ + "/", &forged), ManifestState::kRead);
  ManifestFile mine{"mine.txt", 19, testing::MTime(shared_ + "/mine.txt"), {}, {}};
  ASSERT_TRUE(DigestOfFile(shared_ + "/mine.txt", &mine.digest));
  forged.files.push_back(mine);
  WriteFile(manifest, EncodeManifest(forged));
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_ / "state")) {
    ASSERT_EQ(::lchown(entry.path().c_str(), kOther, kOther), 0);
  }
  ASSERT_EQ(::lchown((dir_ / "state").c_str(), kOther, kOther), 0);
  const auto state = testing::Snapshot(dir_ / "state");

  EXPECT_NE(Run(shared_, true), 0u);
  EXPECT_EQ(ReadFile(shared_ + "/mine.txt"), "the administrator's");
  EXPECT_EQ(ReadFile(shared_ + "/top.cf"), "A top");

  const auto target = testing::Snapshot(shared_);
  OpenKit(KitB());
  EXPECT_NE(Run(shared_), 0u);
  EXPECT_EQ(testing::Snapshot(shared_), target);
  EXPECT_EQ(testing::Snapshot(dir_ / "state"), state);
  // Refused before the run's first change: its registry would be there.
  EXPECT_EQ(std::string(cause_.what), "IDS_CAUSE_JOURNAL");
  EXPECT_NE(cause_.reason.find("owned by user 65534 (nobody)"), std::string::npos) << cause_.reason;
}

// Anyone who can read the target can lock it: root does not wait for the
// other user's lock, and says whose it is.
TEST_F(HostileTreeTest, AnotherUsersLockOnTheTargetIsNotWaitedFor) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::close(ready[0]);
    // Opened first: the scratch folder's parents need not be open to the
    // other user. The lock is taken as that user.
    const int fd = ::open(shared_.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0 && ::setgid(kOther) == 0 && ::setuid(kOther) == 0 && ::flock(fd, LOCK_EX) == 0) {
      (void)!::write(ready[1], "x", 1);
      ::pause();
    }
    ::_exit(1);
  }
  ::close(ready[1]);
  char got = 0;
  ASSERT_EQ(::read(ready[0], &got, 1), 1);
  ::close(ready[0]);
  OpenKit(KitA());
  // Bounded, so that a run that waits fails here instead of hanging.
  EXPECT_EQ(Run(shared_, false, 5000), kErrorBusy);
  EXPECT_EQ(std::string(cause_.what == nullptr ? "" : cause_.what), "IDS_TARGET_BUSY");
  EXPECT_EQ(cause_.reason, "locked by process " + std::to_string(holder) +
                               " of user 65534 (nobody): not waited for");
  EXPECT_FALSE(testing::Exists(shared_ + "/top.cf"));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
}

}  // namespace
}  // namespace qorv
