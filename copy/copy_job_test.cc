#include "copy/copy_job.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/text_convert.h"
#include "copy/copy_session.h"
#include "copy/copy_worker.h"
#include "copy/progress_channel.h"
#include "copy/run_directory.h"
#include "copy/run_recovery.h"
#include "copy/target_lock.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

namespace fs = std::filesystem;
using testing::FaultInjector;
using testing::SysCall;
using testing::TestEntry;
using testing::TestKit;
using testing::WriteFile;

using testing::Ticks;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }
std::string N(const WideString& s) { return toNarrow(s).c_str(); }

struct Report {
  uint32_t code;
  std::string message;
  int percent;
};

using testing::Snapshot;

class CopyJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentLanguage(3);
    UseTemp(dir_ / "tmp");
  }
  void TearDown() override {
    reader_.Close();
    SetCurrentLanguage(0);
    SetRunBaseForTests("");
  }
  // The temporary directory, and the run directories in it: where they
  // go is tested on its own (RunBaseTest).
  void UseTemp(const std::string& tmp) {
    temp_ = tmp;
    testing::MakeDirs(temp_);
    tmpdir_.Set(temp_);
    SetRunBaseForTests(temp_);
  }

  // With `trailer_`, the kit is read in place, in one pass; without, it is
  // unpacked first. Every run must behave the same either way.
  void OpenKit(const TestKit& kit) {
    TestKit written = kit;
    written.trailer = trailer_;
    written.WriteTo(dir_ / "qorv.vkt");
    ASSERT_EQ(reader_.Open(dir_ / "qorv.vkt"), 0u) << reader_.Problem();
    ASSERT_EQ(reader_.Streams(), trailer_);
  }

  // Runs one job on this thread; the reports it posted are in reports_.
  uint32_t Run(const std::string& target, std::function<void(const Report&)> onPost = {}) {
    reports_.clear();
    ProgressChannel channel;
    channel.Init();
    channel.SetJob(&reader_, W(target));
    channel.TEST_SetPostObserver([&](uint32_t code, const WideString& message, int percent) {
      reports_.push_back(Report{code, N(message), percent});
      if (onPost) onPost(reports_.back());
      if (cancelAtPost_ >= 0 && static_cast<int>(reports_.size()) == cancelAtPost_ + 1) {
        channel.RequestCancel();
      }
    });
    channel_ = &channel;
    CopyJob job;
    job.SetFinishPauseMs(0);
    job.SetLockWaitMs(lockWaitMs_);
    committed_.clear();
    job.SetOnCommitted([this](const WideString& root, bool) {
      committed_.push_back({N(root), reports_.size(), !TempLeftovers().empty()});
    });
    uint32_t code = job.Run(channel);
    channel_unrestored_ = channel.Unrestored();
    lastCause_ = channel.Cause();
    channel_ = nullptr;
    lastBackupRoot_ = job.backupRoot();
    return code;
  }

  // What the run left in the temporary directory besides the unpacked kit.
  std::vector<std::string> TempLeftovers() const {
    std::vector<std::string> names;
    std::string unpacked = fs::path(reader_.UnpackedPath()).filename().string();
    for (auto& entry : fs::directory_iterator(temp_)) {
      std::string name = entry.path().filename().string();
      if (name != unpacked) names.push_back(name);
    }
    return names;
  }

  testing::ScratchDir dir_;
  std::string temp_;
  KitReader reader_;
  std::vector<Report> reports_;
  FailureCause lastCause_;
  std::atomic<ProgressChannel*> channel_{nullptr};  // read by helper threads
  std::vector<UnrestoredFile> channel_unrestored_;  // as the last run left them
  int cancelAtPost_ = -1;
  int lockWaitMs_ = -1;
  bool trailer_ = false;
  std::string lastBackupRoot_;
  // Each call of the committed action: the root it got, the reports posted
  // by then, and whether the run directory was still there.
  struct Commit {
    std::string root;
    size_t reportsBefore;
    bool runDirectoryThere;
  };
  std::vector<Commit> committed_;
  testing::ScopedEnv tmpdir_{"TMPDIR", "/tmp"};
};

TEST_F(CopyJobTest, FreshInstallReportsEveryEntryThenCompletion) {
  TestKit kit;
  kit.entries = {{u"a.cf", "A", Ticks(1000)},
                 {u"sub\\b.cf", "B", Ticks(2000)},
                 {u"sub\\deeper\\c.cf", "C", Ticks(3000)}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  ASSERT_EQ(Run(target), 0u);
  ASSERT_EQ(reports_.size(), 4u);
  EXPECT_EQ(reports_[0].message, target + "/a.cf");
  EXPECT_EQ(reports_[1].message, target + "/sub/b.cf");
  EXPECT_EQ(reports_[2].message, target + "/sub/deeper/c.cf");
  const int percents[] = {0, 33, 66, 100};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(reports_[i].code, 0u);
    EXPECT_EQ(reports_[i].percent, percents[i]);
  }
  EXPECT_EQ(reports_[3].message, "Copying complete...");
  EXPECT_EQ(testing::ReadFile(target + "/sub/deeper/c.cf"), "C");
  EXPECT_EQ(testing::MTime(target + "/sub/b.cf"), 2000);
  EXPECT_TRUE(TempLeftovers().empty());
  // Committed once, before the success report and before the journal went.
  ASSERT_EQ(committed_.size(), 1u);
  EXPECT_EQ(committed_[0].root, target + "/");
  EXPECT_EQ(committed_[0].reportsBefore, 3u);
  EXPECT_TRUE(committed_[0].runDirectoryThere);
}

TEST_F(CopyJobTest, EqualAndNewerFilesAreKeptOlderOnesReplaced) {
  TestKit kit;
  kit.entries = {{u"equal", "kit", Ticks(5000)},
                 {u"newer", "kit", Ticks(5000)},
                 {u"older", "kit", Ticks(5000)},
                 {u"subsecond", "kit", Ticks(5000) + 4000000}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  for (const char* name : {"equal", "newer", "older", "subsecond"}) {
    WriteFile(target + "/" + name, "mine");
  }
  testing::SetMTime(target + "/equal", 5000);
  testing::SetMTime(target + "/newer", 6000);
  testing::SetMTime(target + "/older", 4999);
  // A copy made earlier from this entry: the time it got is the entry's,
  // cut to whole seconds, so it is up to date.
  testing::SetMTime(target + "/subsecond", 5000);
  ASSERT_EQ(Run(target), 0u);
  EXPECT_EQ(testing::ReadFile(target + "/equal"), "mine");
  EXPECT_EQ(testing::ReadFile(target + "/newer"), "mine");
  EXPECT_EQ(testing::MTime(target + "/newer"), 6000);
  EXPECT_EQ(testing::ReadFile(target + "/older"), "kit");
  EXPECT_EQ(testing::MTime(target + "/older"), 5000);
  EXPECT_EQ(testing::ReadFile(target + "/subsecond"), "mine");
  EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(CopyJobTest, NewFilesFollowTheUmaskReplacedOnesKeepTheirBits) {
  TestKit kit;
  kit.entries = {{u"new.cf", "kit", Ticks(5000)}, {u"old.cf", "kit", Ticks(5000)}};
  OpenKit(kit);
  struct Case {
    mode_t umask;
    mode_t oldBits;
    mode_t newFileBits;
  };
  for (const Case& c : {Case{022, 0640, 0644}, Case{077, 0664, 0600}, Case{022, 0600, 0644}}) {
    SCOPED_TRACE("umask " + std::to_string(c.umask) + ", old " + std::to_string(c.oldBits));
    std::string target = dir_ / ("target" + std::to_string(c.umask) + std::to_string(c.oldBits));
    WriteFile(target + "/old.cf", "mine");
    ::chmod((target + "/old.cf").c_str(), c.oldBits);
    testing::SetMTime(target + "/old.cf", 4000);
    mode_t saved = ::umask(c.umask);
    uint32_t code = Run(target);
    ::umask(saved);
    ASSERT_EQ(code, 0u);
    struct stat st;
    ASSERT_EQ(::stat((target + "/new.cf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.newFileBits);
    ASSERT_EQ(::stat((target + "/old.cf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.oldBits);
    EXPECT_EQ(testing::ReadFile(target + "/old.cf"), "kit");
  }
}

TEST_F(CopyJobTest, EmptyEntryTableStillMakesAndRemovesTheBackupTree) {
  OpenKit(TestKit{});
  ASSERT_EQ(Run(dir_ / "target"), 0u);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].percent, 100);
  const std::string run = ParentOf(StripTrailingSlashes(lastBackupRoot_));
  EXPECT_EQ(ParentOf(run), temp_);
  EXPECT_TRUE(IsRunDirectoryName(BaseName(run)));
  EXPECT_FALSE(testing::Exists(run));
}

TEST_F(CopyJobTest, RunDirectoriesHaveNamesNobodyCanTakeFirst) {
  OpenKit(TestKit{});
  // What another user may have planted under the old numbered names.
  testing::MakeDirs(temp_ + "/kvins0");
  WriteFile(temp_ + "/kvins1", "a file of that name");
  std::set<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Run(dir_ / "target"), 0u);
    seen.insert(lastBackupRoot_);
  }
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_TRUE(testing::Exists(temp_ + "/kvins0"));
  EXPECT_EQ(testing::ReadFile(temp_ + "/kvins1"), "a file of that name");
}

// --- Rollback -----------------------------------------------------------------

TEST_F(CopyJobTest, RollbackRemovesCreatedAncestorsAndKeepsExistingParents) {
  TestKit kit;
  kit.entries = {{u"existing\\new.cf", "n"}, {u"a\\b\\c\\f.cf", "f"}, {u"last", "l"}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  testing::MakeDirs(target + "/existing");
  WriteFile(target + "/existing/keep", "keep");
  auto before = Snapshot(target);
  // The third entry fails: the first two were written (after the run's two
  // registry entries, the journal's header and its first batch).
  FaultInjector full(SysCall::kWrite, 6, ENOSPC);
  EXPECT_EQ(Run(target), kErrorInvalidParameter);
  EXPECT_EQ(Snapshot(target), before);
  EXPECT_FALSE(testing::Exists(target + "/a"));
  EXPECT_TRUE(TempLeftovers().empty());
  EXPECT_EQ(reports_.back().code, kErrorInvalidParameter);
  EXPECT_EQ(reports_.back().message, "Installation error");
  EXPECT_EQ(reports_.back().percent, 66);
}

TEST_F(CopyJobTest, ReplacedFilesComeBackWithContentAndTime) {
  TestKit kit;
  kit.entries = {{u"d\\e\\old.cf", "new", Ticks(9000)}, {u"x", "x"}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  WriteFile(target + "/d/e/old.cf", "old content");
  testing::SetMTime(target + "/d/e/old.cf", 100);
  ::chmod((target + "/d/e/old.cf").c_str(), 0604);
  auto before = Snapshot(target);
  FaultInjector full(SysCall::kWrite, 1, ENOSPC);
  EXPECT_NE(Run(target), 0u);
  EXPECT_EQ(Snapshot(target), before);
}

TEST_F(CopyJobTest, AFileThatCannotBePutBackIsNamedAndItsBackupKept) {
  TestKit kit;
  kit.entries = {{u"old.cf", "new", Ticks(9000)}, {u"blocker\\inner.cf", "x", Ticks(9000)}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  WriteFile(target + "/old.cf", "old content");
  testing::SetMTime(target + "/old.cf", 100);
  WriteFile(target + "/blocker", "a file where the kit wants a directory");
  {
    // The registry's, the journal's and the backup's renames work; every
    // rename after them, the restore's, fails.
    FaultInjector stuck(SysCall::kRename, 4, EIO, 1000);
    EXPECT_NE(Run(target), 0u);
  }
  EXPECT_EQ(reports_.back().message, "Installation error");
  ASSERT_EQ(channel_unrestored_.size(), 1u);
  EXPECT_EQ(N(channel_unrestored_[0].path), target + "/old.cf");
  EXPECT_EQ(testing::ReadFile(N(channel_unrestored_[0].backup)), "old content");
  EXPECT_FALSE(TempLeftovers().empty());  // the run directory, for the next start
  EXPECT_EQ(RecoverInterruptedRuns(temp_).size(), 1u);
  EXPECT_EQ(testing::ReadFile(target + "/old.cf"), "old content");
  EXPECT_TRUE(TempLeftovers().empty());
}

// The transactional promise: whichever file-layer call fails, the target is
// exactly as it was and nothing is left in the temporary directory.
// Parameters: backups on another file system; the kit read in place.
class CopyJobFaultTest : public CopyJobTest,
                         public ::testing::WithParamInterface<std::tuple<bool, bool>> {
 public:
  void SetUp() override {
    CopyJobTest::SetUp();
    trailer_ = std::get<1>(GetParam());
  }
  bool OtherFileSystem() const { return std::get<0>(GetParam()); }
  // Older, newer and unrelated files, some nested.
  static void MakeTarget(const std::string& target) {
    testing::RemoveAll(target);
    WriteFile(target + "/older.cf", "old older");
    testing::SetMTime(target + "/older.cf", 1000);
    WriteFile(target + "/newer.cf", "newer than the kit");
    testing::SetMTime(target + "/newer.cf", 999999);
    WriteFile(target + "/unrelated.txt", "not in the kit");
    testing::SetMTime(target + "/unrelated.txt", 5);
    WriteFile(target + "/dir/older2.cf", "old nested");
    testing::SetMTime(target + "/dir/older2.cf", 1000);
    ::chmod((target + "/dir/older2.cf").c_str(), 0640);
    WriteFile(target + "/dir/sub/unrelated", "u");
    testing::SetMTime(target + "/dir/sub/unrelated", 7);
  }
  static TestKit Kit() {
    TestKit kit;
    kit.entries = {
        {u"older.cf", "new older", Ticks(2000)},
        {u"newer.cf", "kit newer", Ticks(2000)},
        {u"dir\\older2.cf", "new nested", Ticks(2000)},
        {u"dir\\fresh.cf", "fresh in an existing directory", Ticks(2000)},
        {u"new\\deep\\tree\\f.cf", "fresh in new directories", Ticks(2000)},
        {u"new\\big.bin", std::string(KitReader::kCopyBufferSize * 2 + 123, 'b'), Ticks(2000)},
        {u"dir\\sub\\last.cf", "last", Ticks(2000)},
    };
    return kit;
  }
};

TEST_P(CopyJobFaultTest, EveryFailurePointLeavesTheTargetAsItWas) {
  if (OtherFileSystem()) {
    // Backups on another file system: moves become copies.
    std::string other = testing::MakeDirOnOtherFileSystem(dir_.path());
    if (other.empty()) GTEST_SKIP() << "no second file system for the temporary directory";
    UseTemp(other);
  }
  OpenKit(Kit());
  std::string target = dir_ / "target";
  MakeTarget(target);
  const auto before = Snapshot(target);
  ASSERT_EQ(Run(target), 0u);
  const auto installed = Snapshot(target);

  int failedRuns = 0;
  for (SysCall call : {SysCall::kOpen, SysCall::kWrite, SysCall::kRename, SysCall::kMkdir,
                       SysCall::kTruncate, SysCall::kUtimes, SysCall::kRead, SysCall::kFsync}) {
    for (int k = 0;; ++k) {
      SCOPED_TRACE("call " + std::to_string(static_cast<int>(call)) + ", k " + std::to_string(k));
      MakeTarget(target);
      uint32_t code;
      bool fired;
      {
        FaultInjector fault(call, k, EIO);
        code = Run(target);
        fired = fault.Fired();
      }
      if (code == 0) {
        // The failed call did not matter (a time that could not be set is
        // not a failure; a file that could not be opened is simply written).
        auto result = Snapshot(target);
        if (call != SysCall::kUtimes) {
          EXPECT_EQ(result, installed);
        }
        EXPECT_EQ(result.size(), installed.size());
      } else {
        ++failedRuns;
        EXPECT_EQ(Snapshot(target), before);
        ASSERT_FALSE(reports_.empty());
        EXPECT_EQ(reports_.back().code, code);
        EXPECT_EQ(reports_.back().message, "Installation error");
        int reached = reports_.size() >= 2 ? reports_[reports_.size() - 2].percent : 0;
        EXPECT_EQ(reports_.back().percent, reached);
      }
      EXPECT_TRUE(TempLeftovers().empty());
      EXPECT_EQ(committed_.size(), code == 0 ? 1u : 0u);
      if (!fired) break;  // the run made fewer such calls than k
    }
  }
  EXPECT_GT(failedRuns, 20);
  if (OtherFileSystem()) testing::RemoveAll(temp_);
}

INSTANTIATE_TEST_SUITE_P(FileSystemsAndKitPaths, CopyJobFaultTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// A real full disk, at every write of a run: the rollback frees what the
// run wrote before it puts the old files back, so they fit again, whether
// the backups sit on the same small file system or on another one.
TEST_P(CopyJobFaultTest, AFullDiskAtAnyMomentLeavesTheTargetAsItWas) {
  std::string mount = dir_ / "small";
  testing::SmallFileSystem small(mount, 4 << 20);
  if (!small.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  TestKit kit;
  kit.entries = {{u"a.txt", std::string(100000, 'n'), Ticks(2000)},
                 {u"b.bin", std::string(500000, 'b'), Ticks(2000)},
                 {u"new\\c.bin", std::string(1000000, 'c'), Ticks(2000)},
                 {u"d.bin", std::string(2000000, 'd'), Ticks(2000)}};
  OpenKit(kit);
  // Same file system: the backups move by rename; another: they are copies.
  UseTemp(OtherFileSystem() ? dir_ / "tmp" : mount + "/tmp");
  std::string target = mount + "/tpl";
  auto makeTarget = [&] {
    testing::RemoveAll(target);
    WriteFile(target + "/a.txt", std::string(100000, 'o'));
    testing::SetMTime(target + "/a.txt", 1000);
    WriteFile(target + "/keep.txt", "mine");
    testing::SetMTime(target + "/keep.txt", 3000);
  };
  makeTarget();
  const auto before = Snapshot(target);
  int failed = 0;
  for (uint64_t free = 0;; free += 96 << 10) {
    SCOPED_TRACE("free " + std::to_string(free));
    makeTarget();
    small.LeaveFree(free);
    uint32_t code = Run(target);
    if (code == 0) break;
    ++failed;
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(channel_unrestored_.empty());
    EXPECT_TRUE(TempLeftovers().empty());
    ASSERT_LT(free, uint64_t{8} << 20);
  }
  EXPECT_GT(failed, 10);
}

// Another run holds the target: this one waits and says so, then either
// gives up (its bound, a cancel) with the target as it was, or goes on once
// the other run has ended.
TEST_F(CopyJobTest, ARunIntoATargetAnotherRunHoldsWaits) {
  TestKit kit;
  kit.entries = {{u"a.cf", "A", Ticks(2000)}, {u"sub\\b.cf", "B", Ticks(2000)}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  WriteFile(target + "/mine.txt", "mine");
  const auto before = Snapshot(target);
  struct Case {
    int waitMs;
    int cancelAfterMs;   // -1: no cancel
    int releaseAfterMs;  // -1: held to the end
    uint32_t code;
    const char* message;
  };
  const Case cases[] = {
      {0, -1, -1, kErrorBusy,
       "Another installation into this directory is still running. Template directory has not "
       "been changed."},
      {150, -1, -1, kErrorBusy,
       "Another installation into this directory is still running. Template directory has not "
       "been changed."},
      {-1, 150, -1, kErrorCancelled,
       "Installation canceled. Template directory has not been changed."},
      {-1, -1, 150, 0, "Copying complete..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("wait " + std::to_string(c.waitMs));
    TargetLock other;
    ASSERT_EQ(other.Acquire(target, 0, {}, {}), 0u);
    ASSERT_TRUE(other.Held());
    std::thread helper([&] {
      if (c.cancelAfterMs >= 0) {
        ::usleep(static_cast<useconds_t>(c.cancelAfterMs) * 1000);
        while (channel_.load() == nullptr) ::usleep(1000);
        channel_.load()->RequestCancel();
      }
      if (c.releaseAfterMs >= 0) {
        ::usleep(static_cast<useconds_t>(c.releaseAfterMs) * 1000);
        other.Release();
      }
    });
    lockWaitMs_ = c.waitMs;
    EXPECT_EQ(Run(target), c.code);
    helper.join();
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.back().message, c.message);
    if (c.code == 0) {
      EXPECT_EQ(testing::ReadFile(target + "/sub/b.cf"), "B");
      testing::RemoveAll(target + "/sub");
      testing::RemoveAll(target + "/a.cf");
    }
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(TempLeftovers().empty());
  }
  lockWaitMs_ = -1;
}

// A lock that outlived the process that took it (`exec 9<DIR; flock -x 9;
// exec sleep`): /proc/locks names a process that has ended, so nothing says
// it is a run of ours. Without a bound it is refused at once, never waited
// for without end; with one it is waited for until the bound.
TEST_F(CopyJobTest, ALockWhoseHolderCannotBeFoundIsNotWaitedForWithoutEnd) {
  TestKit kit;
  kit.entries = {{u"a.cf", "A", Ticks(2000)}};
  OpenKit(kit);
  const std::string target = dir_ / "target";
  WriteFile(target + "/mine.txt", "mine");
  const auto before = Snapshot(target);
  const std::string hold = "exec 9<'" + target +
                           "'; flock -x 9 || exit 1; exec sleep 60 </dev/null >/dev/null 2>&1 & "
                           "echo $!";
  FILE* shell = ::popen(hold.c_str(), "r");
  ASSERT_NE(shell, nullptr);
  char line[32] = {};
  ASSERT_NE(std::fgets(line, sizeof line, shell), nullptr);
  ::pclose(shell);
  const pid_t sleeper = static_cast<pid_t>(std::atol(line));
  ASSERT_GT(sleeper, 0);
  struct Case {
    int waitMs;
    const char* reason;
  };
  const Case cases[] = {
      {-1,
       "locked by a process that cannot be found (the one that took the lock has ended): not "
       "waited for"},
      {200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.waitMs);
    lockWaitMs_ = c.waitMs;
    EXPECT_EQ(Run(target), kErrorBusy);
    EXPECT_EQ(lastCause_.reason, c.reason);
    if (*c.reason != '\0') {
      EXPECT_EQ(lastCause_.path, target);
    }
    EXPECT_EQ(Snapshot(target), before);
  }
  lockWaitMs_ = -1;
  ::kill(sleeper, SIGKILL);
}

// Somebody who may write a folder on the way moves the folder the run
// writes into out of the target halfway (the run writes on through the
// descriptors it holds): the run fails naming the folder, and nothing it
// wrote stays where the folder went. A folder nobody else can move is not
// watched; a run whose folders stay passes.
TEST_F(CopyJobTest, AFolderMovedOutOfTheTargetMidRunFailsTheRunAndKeepsNothingThere) {
  TestKit kit;
  for (int i = 0; i < 12; ++i) {
    kit.entries.push_back(
        {u"Trade\\1.0\\f" + std::u16string(1, static_cast<char16_t>('a' + i)) + u".cf",
         std::string(100, 'x'), Ticks(2000)});
  }
  OpenKit(kit);
  const std::string target = dir_ / "shared";
  const std::string folder = target + "/Trade/1.0";
  struct Case {
    mode_t tradeMode;  // the folder above the one moved
    bool move;
    uint32_t code;
  };
  const Case cases[] = {
      {0777, true, kErrorPathNotFound},
      {0777, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.tradeMode) + (c.move ? " moved" : " staying"));
    testing::RemoveAll(target);
    testing::RemoveAll(dir_ / "elsewhere");
    testing::MakeDirs(dir_ / "elsewhere");
    WriteFile(folder + "/mine.txt", "mine");
    ASSERT_EQ(::chmod((target + "/Trade").c_str(), c.tradeMode), 0);
    const auto before = Snapshot(folder);
    bool moved = false;
    const uint32_t code = Run(target, [&](const Report& report) {
      if (c.move && !moved && report.message == folder + "/ff.cf") {
        moved = ::rename(folder.c_str(), (dir_ / "elsewhere/1.0").c_str()) == 0;
      }
    });
    EXPECT_EQ(moved, c.move);
    EXPECT_EQ(code, c.code);
    if (c.move) {
      EXPECT_EQ(lastCause_.path, folder);
      EXPECT_EQ(lastCause_.reason,
                "moved out of the target during the run; what the run wrote there is removed");
      EXPECT_EQ(Snapshot(dir_ / "elsewhere/1.0"), before);
      EXPECT_FALSE(testing::Exists(folder + "/fa.cf"));
    } else {
      EXPECT_EQ(testing::ReadFile(folder + "/fl.cf"), std::string(100, 'x'));
    }
  }
}

TEST_F(CopyJobTest, ACommitRecordThatCannotBeWrittenFailsTheRun) {
  OpenKit(CopyJobFaultTest::Kit());
  std::string target = dir_ / "target";
  CopyJobFaultTest::MakeTarget(target);
  const auto before = Snapshot(target);
  int fsyncs;
  {
    // Counted on a second run: the first makes the state's folders.
    ASSERT_EQ(Run(target), 0u);
    CopyJobFaultTest::MakeTarget(target);
    FaultInjector count(SysCall::kFsync, -1, 0);
    ASSERT_EQ(Run(target), 0u);
    fsyncs = count.Count();
  }
  ASSERT_GT(fsyncs, 1);
  // The last flush of a run is its run directory's removal, the one before
  // it its commit record's.
  CopyJobFaultTest::MakeTarget(target);
  {
    FaultInjector full(SysCall::kFsync, fsyncs - 2, ENOSPC);
    EXPECT_NE(Run(target), 0u);
    EXPECT_TRUE(full.Fired());
  }
  EXPECT_EQ(reports_.back().message, "Installation error");
  EXPECT_EQ(Snapshot(target), before);
  EXPECT_TRUE(committed_.empty());
  EXPECT_TRUE(TempLeftovers().empty()) << ::testing::PrintToString(TempLeftovers());
}

TEST_F(CopyJobTest, CancelAtEveryEntryRollsBackThenReports) {
  for (size_t k = 0; k < 2 * CopyJobFaultTest::Kit().entries.size(); ++k) {
    const size_t entries = CopyJobFaultTest::Kit().entries.size();
    const size_t i = k % entries;
    trailer_ = k >= entries;
    SCOPED_TRACE(std::to_string(i) + (trailer_ ? ", in place" : ", unpacked"));
    if (i == 0) OpenKit(CopyJobFaultTest::Kit());
    std::string target = dir_ / "target";
    CopyJobFaultTest::MakeTarget(target);
    const auto before = Snapshot(target);
    CopyJobFaultTest::MakeTarget(target);
    cancelAtPost_ = static_cast<int>(i);
    EXPECT_EQ(Run(target), kErrorCancelled);
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(TempLeftovers().empty());
    ASSERT_EQ(reports_.size(), i + 2);
    EXPECT_EQ(reports_.back().code, kErrorCancelled);
    EXPECT_EQ(reports_.back().message,
              "Installation canceled. Template directory has not been changed.");
    EXPECT_EQ(reports_.back().percent, static_cast<int>(i * 100 / entries));
    EXPECT_TRUE(committed_.empty());
  }
}

TEST_F(CopyJobTest, CancelInTheMiddleOfALargeEntry) {
  for (bool trailer : {false, true}) {
    trailer_ = trailer;
    TestKit kit;
    kit.entries = {{u"small", "s"}, {u"big", std::string(KitReader::kCopyBufferSize * 3, 'b')}};
    OpenKit(kit);
    std::string target = dir_ / "target";
    testing::RemoveAll(target);
    WriteFile(target + "/big", "the old big file");
    testing::SetMTime(target + "/big", 10);
    const auto before = Snapshot(target);
    // Writes: "small", then the first block of "big"; cancel there.
    FaultInjector midway(SysCall::kWrite, 1, [this] { channel_.load()->RequestCancel(); });
    EXPECT_EQ(Run(target), kErrorCancelled);
    EXPECT_TRUE(midway.Fired());
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(TempLeftovers().empty());
  }
}

TEST_F(CopyJobTest, FileWrittenTwiceByOneKitIsRemovedOnRollback) {
  TestKit kit;
  kit.entries = {{u"twice", "first", Ticks(100)}, {u"twice", "second", Ticks(200)}, {u"end", "e"}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  testing::MakeDirs(target);
  FaultInjector full(SysCall::kWrite, 2, ENOSPC);
  EXPECT_NE(Run(target), 0u);
  EXPECT_TRUE(Snapshot(target).empty());
}

TEST_F(CopyJobTest, ADirectoryWhereTheKitHasAFileFailsTheRun) {
  TestKit kit;
  kit.entries = {{u"a", "a"}, {u"clash", "file"}};
  OpenKit(kit);
  std::string target = dir_ / "target";
  WriteFile(target + "/clash/inside", "mine");
  testing::SetMTime(target + "/clash", 1);
  const auto before = Snapshot(target);
  EXPECT_EQ(Run(target), kErrorInvalidParameter);
  EXPECT_EQ(Snapshot(target), before);
}

// --- Kits read in place ------------------------------------------------------

// Bytes that do not compress, so that a kit's stream is as long as its data.
std::string Noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST_F(CopyJobTest, InPlaceAndUnpackedRunsMakeTheSameTree) {
  TestKit kit;
  kit.entries = {
      {u"older.cf", "new", Ticks(2000)}, {u"newer.cf", "kit's", Ticks(2000)},
      {u"empty", "", Ticks(2000)},       {u"a\\b\\big.bin", Noise(3 << 20, 1), Ticks(2000)},
      {u"twice", "first", Ticks(100)},   {u"mode.cf", "new mode", Ticks(2000)},
      {u"twice", "second", Ticks(200)},  {u"last\\small", "s", Ticks(2000)}};
  std::map<std::string, std::string> trees[2];
  for (bool trailer : {false, true}) {
    trailer_ = trailer;
    OpenKit(kit);
    std::string target = dir_ / (trailer ? "in-place" : "unpacked");
    WriteFile(target + "/older.cf", "old");
    testing::SetMTime(target + "/older.cf", 1000);
    WriteFile(target + "/newer.cf", "mine");
    testing::SetMTime(target + "/newer.cf", 3000);
    WriteFile(target + "/mode.cf", "old mode");
    ::chmod((target + "/mode.cf").c_str(), 0604);
    testing::SetMTime(target + "/mode.cf", 1000);
    ASSERT_EQ(Run(target), 0u);
    EXPECT_TRUE(TempLeftovers().empty());
    trees[trailer] = Snapshot(target);
  }
  EXPECT_EQ(trees[0], trees[1]);
  EXPECT_EQ(trees[1]["/twice"].substr(trees[1]["/twice"].size() - 6), "second");
}

// The kit file is changed after Open() checked it: in the part a run
// writes from, or only in the part it skips. Either way the run fails and
// is rolled back, and the cause names the kit.
TEST_F(CopyJobTest, AKitChangedAfterItsCheckFailsTheRunAndRollsItBack) {
  trailer_ = true;
  TestKit kit;
  kit.entries = {{u"first.bin", Noise(1 << 20, 2), Ticks(2000)},
                 {u"second.bin", Noise(1 << 20, 3), Ticks(2000)}};
  for (bool skipped : {false, true}) {
    SCOPED_TRACE(skipped ? "changed where the run skips" : "changed where the run reads");
    OpenKit(kit);
    std::string target = dir_ / "target";
    testing::RemoveAll(target);
    WriteFile(target + "/first.bin", "old");
    testing::SetMTime(target + "/first.bin", 1000);
    if (skipped) {
      WriteFile(target + "/second.bin", "newer than the kit's");
      testing::SetMTime(target + "/second.bin", 3000);
    }
    const auto before = Snapshot(target);
    // One byte, in place: the reader's descriptor sees the change.
    const std::string path = dir_ / "qorv.vkt";
    std::string bytes = testing::ReadFile(path);
    const size_t at = skipped ? bytes.size() * 3 / 4 : bytes.size() / 4;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    ScopedFd fd(::open(path.c_str(), O_WRONLY));
    ASSERT_EQ(::pwrite(fd.Get(), bytes.data() + at, 1, static_cast<off_t>(at)), 1);
    fd.Close();

    ProgressChannel channel;
    channel.Init();
    channel.SetJob(&reader_, W(target));
    CopyJob job;
    job.SetFinishPauseMs(0);
    EXPECT_EQ(job.Run(channel), kErrorInvalidData);
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(TempLeftovers().empty());
    ASSERT_FALSE(channel.Cause().empty());
    EXPECT_STREQ(channel.Cause().what, "IDS_CAUSE_KIT");
    EXPECT_NE(channel.Cause().reason, "");
  }
}

// --- The worker thread ---------------------------------------------------------

TEST_F(CopyJobTest, WorkerRunsTheJobOnceOnItsThread) {
  TestKit kit;
  kit.entries = {{u"a", "a"}, {u"b", "b"}};
  OpenKit(kit);
  ProgressChannel channel;
  channel.Init();
  channel.Post(0, WideString(u"Preparing to copy..."), 0);
  channel.SetJob(&reader_, W(dir_ / "target"));
  CopyWorker worker;
  worker.Reset();
  worker.SetFinishPauseMs(0);
  ASSERT_EQ(worker.Start(channel), 0);
  RunReport report;
  do {
    channel.Read(&report.code, &report.message, &report.percent);
  } while (!report.IsFinal());
  worker.Join();
  EXPECT_EQ(report.code, 0u);
  EXPECT_EQ(report.percent, 100);
  EXPECT_TRUE(report.message.equals(u"Copying complete..."));
  EXPECT_EQ(testing::ReadFile(dir_ / "target/b"), "b");
}

TEST_F(CopyJobTest, StopBeforeTheJobStartsStillReports) {
  TestKit kit;
  kit.entries = {{u"a", "a"}};
  OpenKit(kit);
  ProgressChannel channel;
  channel.Init();
  channel.SetJob(&reader_, W(dir_ / "target"));
  CopyWorker worker;
  worker.RequestStop();
  // Start clears the stop; ask again at once, as a quick Cancel does.
  ASSERT_EQ(worker.Start(channel), 0);
  worker.RequestStop();
  channel.RequestCancel();
  worker.Join();
  uint32_t code = 0;
  WideString message;
  int percent = -1;
  channel.Read(&code, &message, &percent);
  // However the race goes, the thread ends with a final report, never with
  // the UI left waiting: the cancel with nothing left, or a finished copy.
  if (code == kErrorCancelled) {
    EXPECT_TRUE(message.equals(u"Installation canceled. Template directory has not been changed."));
    EXPECT_FALSE(testing::Exists(dir_ / "target/a"));
  } else {
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(percent, 100);
  }
}

// What the front ends make of a report.
TEST(RunReportTest, OutcomeOfEachReport) {
  struct Case {
    uint32_t code;
    int percent;
    RunOutcome outcome;
  } cases[] = {
      {kErrorNone, 0, RunOutcome::kRunning},          {kErrorNone, 99, RunOutcome::kRunning},
      {kErrorNone, 100, RunOutcome::kInstalled},      {kErrorCancelled, 40, RunOutcome::kCancelled},
      {kErrorBusy, 0, RunOutcome::kFailed},           {kErrorWriteFault, 100, RunOutcome::kFailed},
      {kErrorCancelled, 100, RunOutcome::kCancelled},
  };
  for (const Case& c : cases) {
    RunReport report;
    report.code = c.code;
    report.percent = c.percent;
    EXPECT_EQ(report.Outcome(), c.outcome) << c.code << " at " << c.percent << "%";
    EXPECT_EQ(report.IsFinal(), c.outcome != RunOutcome::kRunning);
  }
}

TEST_F(CopyJobTest, CancelFromTheUiThreadWhileTheWorkerCopies) {
  TestKit kit;
  for (int i = 0; i < 200; ++i) {
    kit.entries.push_back({u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                               std::u16string(1, static_cast<char16_t>(u'a' + i / 26)),
                           std::string(20000, 'x')});
  }
  OpenKit(kit);
  std::string target = dir_ / "target";
  testing::MakeDirs(target);
  ProgressChannel channel;
  channel.Init();
  channel.SetJob(&reader_, W(target));
  CopyWorker worker;
  worker.SetFinishPauseMs(0);
  ASSERT_EQ(worker.Start(channel), 0);
  channel.RequestCancel();
  RunReport report;
  do {
    channel.Read(&report.code, &report.message, &report.percent);
  } while (!report.IsFinal());
  worker.Join();
  // Either the cancel came in time, and nothing is left, or the copy had
  // already finished.
  if (report.Outcome() == RunOutcome::kCancelled) {
    EXPECT_TRUE(Snapshot(target).empty());
  } else {
    EXPECT_EQ(report.Outcome(), RunOutcome::kInstalled);
    EXPECT_EQ(report.percent, 100);
  }
  EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace qorv
