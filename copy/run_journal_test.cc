#include "copy/run_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "copy/copy_job.h"
#include "copy/manifest.h"
#include "copy/progress_channel.h"
#include "copy/run_directory.h"
#include "copy/run_recovery.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

namespace fs = std::filesystem;
using testing::FaultInjector;
using testing::Snapshot;
using testing::SysCall;
using testing::TestKit;
using testing::WriteFile;

using testing::Ticks;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }

class RunJournalTest : public ::testing::Test {
 protected:
  // The run directories in the temporary directory: where they go is
  // tested on its own (RunBaseTest).
  void SetUp() override {
    SetCurrentLanguage(3);
    testing::MakeDirs(temp_);
    SetRunBaseForTests(temp_);
  }
  void TearDown() override {
    reader_.Close();
    SetCurrentLanguage(0);
    SetRunBaseForTests("");
  }

  std::vector<std::string> RunDirectories() const {
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(temp_)) {
      std::string name = entry.path().filename().string();
      if (IsRunDirectoryName(name)) names.push_back(name);
    }
    return names;
  }

  // The kit replaces two older files (one of 3 MiB, written in blocks, over
  // an original of 1 MiB), keeps a newer one, and creates files in new
  // directories. With `failAtEnd` its last entry meets an old directory
  // standing where it has a file, so the run always ends in a rollback.
  void OpenScene(bool failAtEnd) {
    failAtEnd_ = failAtEnd;
    TestKit kit;
    kit.entries = {
        {u"old.cf", "new content", Ticks(2000000000)},
        {u"deep\\new\\a.cf", "a"},
        {u"big.bin", std::string(3 << 20, 'b')},
        {u"sub\\old2.cf", std::string(3 << 20, 'n'), Ticks(2000000000)},
        {u"newer.cf", "kit", Ticks(1000000000)},
        {u"deep\\new\\b.cf", "b"},
    };
    if (failAtEnd) kit.entries.push_back({u"blocked", "x", Ticks(2000000000)});
    kit.trailer = trailer_;
    kit.WriteTo(dir_ / "qorv.vkt");
    ASSERT_EQ(reader_.Open(dir_ / "qorv.vkt"), 0u) << reader_.Problem();
    ASSERT_EQ(reader_.Streams(), trailer_);
  }
  void MakeTarget() {
    testing::RemoveAll(target_);
    WriteFile(target_ + "/old.cf", "original");
    testing::SetMTime(target_ + "/old.cf", 1500000000);
    WriteFile(target_ + "/sub/old2.cf", std::string(1 << 20, 'o'));
    testing::SetMTime(target_ + "/sub/old2.cf", 1500000000);
    WriteFile(target_ + "/newer.cf", "mine");
    testing::SetMTime(target_ + "/newer.cf", 1900000000);
    WriteFile(target_ + "/keep.txt", "keep");
    testing::SetMTime(target_ + "/keep.txt", 1400000000);
    if (failAtEnd_) {
      testing::MakeDirs(target_ + "/blocked");
      testing::SetMTime(target_ + "/blocked", 1000000000);
    }
    for (const char* directory : {"", "/sub"}) testing::SetMTime(target_ + directory, 1300000000);
  }

  uint32_t RunJob() {
    ProgressChannel channel;
    channel.Init();
    channel.SetJob(&reader_, W(jobTarget_.empty() ? target_ : jobTarget_));
    CopyJob job;
    job.SetFinishPauseMs(0);
    job.SetOnCommitted(Recorder());
    job.SetUninstall(uninstall_);
    return job.Run(channel);
  }

  // Stands for the recording of the location: the target root, in a file.
  CommittedAction Recorder() {
    return [this](const WideString& root, bool uninstalled) {
      WriteFile(recorded_, (uninstalled ? "forgotten " : "") + std::string(toNarrow(root).c_str()));
    };
  }

  // Runs the job in a child process that kills itself (SIGKILL) right before
  // the nth call of `call`. True when the child was killed, false when its
  // run ended before that call came.
  bool RunKilledAt(SysCall call, int nth) {
    pid_t pid = ::fork();
    if (pid == 0) {
      FaultInjector kill(call, nth, [] { ::raise(SIGKILL); });
      RunJob();
      ::_exit(0);  // no destructor: the unpacked kit belongs to the parent
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  // Kills the failing run at every rename (originals to the backup tree and
  // back), unlink and rmdir (removal of what it created) and write: after
  // each, the next start must find the target exactly as it was.
  void ExpectEveryKillUndone() {
    MakeTarget();
    const auto before = Snapshot(target_);
    ASSERT_NE(RunJob(), 0u);
    ASSERT_EQ(Snapshot(target_), before);
    for (SysCall call : {SysCall::kRename, SysCall::kUnlink, SysCall::kRmdir, SysCall::kWrite}) {
      int kills = 0;
      for (int k = 0;; ++k) {
        ASSERT_LT(k, 500);
        MakeTarget();
        bool killed = RunKilledAt(call, k);
        RecoverInterruptedRuns(temp_);
        EXPECT_EQ(Snapshot(target_), before) << static_cast<int>(call) << " at " << k;
        EXPECT_TRUE(RunDirectories().empty()) << static_cast<int>(call) << " at " << k;
        if (!killed) break;
        ++kills;
      }
      EXPECT_GT(kills, 2) << static_cast<int>(call);
    }
  }

  testing::ScratchDir dir_;
  std::string temp_ = dir_ / "tmp";
  std::string target_ = dir_ / "target";
  testing::ScopedEnv tmpdir_{"TMPDIR", temp_};
  std::string jobTarget_;  // the target as the job is given it, if not target_
  std::string recorded_ = dir_ / "recorded";
  KitReader reader_;
  bool failAtEnd_ = false;
  bool trailer_ = false;  // the kit read in place, not unpacked
  bool uninstall_ = false;
};

TEST_F(RunJournalTest, RecordsRoundTripAndACutRecordEndsTheReading) {
  testing::MakeDirs(temp_ + "/kvins0");
  RunJournal journal;
  ASSERT_TRUE(journal.Create(temp_ + "/kvins0/", "/t/"));
  journal.Add(RecordKind::kFile, "/t/a\nb:c");
  journal.Add(RecordKind::kDirectory, "/t/d");
  ASSERT_TRUE(journal.Flush());
  journal.Close();
  std::string path = temp_ + "/kvins0/journal";
  std::string bytes = testing::ReadFile(path);
  WriteFile(path, bytes + "B 9:/t/abc");  // the crash cut the last record

  int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<JournalRecord> records = ReadJournal(fd);
  ::close(fd);
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].kind, RecordKind::kVersion);
  EXPECT_EQ(records[0].path, kJournalFormat);
  EXPECT_EQ(records[1].path, std::to_string(::getpid()));
  EXPECT_EQ(records[2].kind, RecordKind::kTarget);
  EXPECT_EQ(records[2].path, "/t/");
  EXPECT_EQ(records[3].kind, RecordKind::kFile);
  EXPECT_EQ(records[3].path, "/t/a\nb:c");
  EXPECT_EQ(records[4].path, "/t/d");

  for (const char* damaged : {"", "V", "V 99:qorv", "V x:1\n", "V 3:abcd\n"}) {
    WriteFile(path, damaged);
    fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_TRUE(ReadJournal(fd).empty()) << damaged;
    ::close(fd);
  }
}

// Killed anywhere in an uninstall, the next start finds the target and its
// manifest as installed, or everything removed and the location forgotten.
TEST_F(RunJournalTest, KilledAnywhereInAnUninstallEndsInstalledOrUninstalled) {
  OpenScene(false);
  const std::string manifestPath = ManifestPathFor(target_ + "/");
  auto install = [this] {
    testing::RemoveAll(target_);
    testing::RemoveAll(ManifestDirectory());
    MakeTarget();
    uninstall_ = false;
    return RunJob();
  };
  ASSERT_EQ(install(), 0u);
  const auto installed = Snapshot(target_);
  uninstall_ = true;
  ASSERT_EQ(RunJob(), 0u);
  const auto uninstalled = Snapshot(target_);
  ASSERT_NE(installed, uninstalled);

  for (SysCall call : {SysCall::kOpen, SysCall::kWrite, SysCall::kFsync, SysCall::kRename,
                       SysCall::kUnlink, SysCall::kRmdir}) {
    int undone = 0;
    int finished = 0;
    for (int k = 0;; ++k) {
      ASSERT_LT(k, 500) << "the run never ends";
      ASSERT_EQ(install(), 0u);
      // This install's own manifest: it records what lstat says of its files.
      const std::string manifest = testing::ReadFile(manifestPath);
      testing::RemoveAll(recorded_);
      uninstall_ = true;
      bool killed = RunKilledAt(call, k);
      RecoverInterruptedRuns(temp_, Recorder());
      auto after = Snapshot(target_);
      EXPECT_TRUE(RunDirectories().empty()) << static_cast<int>(call) << " at " << k;
      if (after == installed) {
        ++undone;
        EXPECT_EQ(testing::ReadFile(manifestPath), manifest)
            << static_cast<int>(call) << " at " << k;
        EXPECT_FALSE(testing::Exists(recorded_));
      } else {
        ++finished;
        EXPECT_EQ(after, uninstalled) << static_cast<int>(call) << " at " << k;
        EXPECT_FALSE(testing::Exists(manifestPath));
        EXPECT_EQ(testing::ReadFile(recorded_), "forgotten " + target_ + "/");
      }
      if (!killed) break;
    }
    // Directories go only after the commit record.
    if (call != SysCall::kRmdir) {
      EXPECT_GT(undone, 0) << static_cast<int>(call);
    }
    EXPECT_GT(finished, 0) << static_cast<int>(call);
  }
}

// The kill points once for a kit that is unpacked first, once for one read
// in place.
class RunJournalKillTest : public RunJournalTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    RunJournalTest::SetUp();
    trailer_ = GetParam();
  }
};

INSTANTIATE_TEST_SUITE_P(UnpackedAndInPlace, RunJournalKillTest, ::testing::Bool());

TEST_P(RunJournalKillTest, KilledAnywhereInASuccessfulRunEndsAsBeforeOrInstalledAndRecorded) {
  OpenScene(false);
  MakeTarget();
  const auto before = Snapshot(target_);
  ASSERT_EQ(RunJob(), 0u);
  const auto installed = Snapshot(target_);
  ASSERT_NE(installed, before);

  int recordedByRecovery = 0;  // killed between the commit record and the recording
  for (SysCall call : {SysCall::kOpen, SysCall::kWrite, SysCall::kFsync, SysCall::kRename,
                       SysCall::kMkdir, SysCall::kUtimes, SysCall::kSyncfs, SysCall::kUnlink}) {
    int undone = 0;
    for (int k = 0;; ++k) {
      ASSERT_LT(k, 500) << "the run never ends";
      MakeTarget();
      testing::RemoveAll(recorded_);
      bool killed = RunKilledAt(call, k);
      bool recordedByRun = testing::Exists(recorded_);
      std::vector<RecoveredRun> runs = RecoverInterruptedRuns(temp_, Recorder());
      auto after = Snapshot(target_);
      EXPECT_TRUE(RunDirectories().empty()) << static_cast<int>(call) << " at " << k;
      // Recorded exactly when installed, by the run or by the next start.
      EXPECT_EQ(testing::Exists(recorded_), after == installed)
          << static_cast<int>(call) << " at " << k;
      if (!killed) {
        EXPECT_EQ(after, installed);
        break;
      }
      // Before the commit record: undone. After it: installed, and only
      // the run directory is cleaned away.
      if (after == before) {
        ++undone;
        for (const RecoveredRun& run : runs) EXPECT_TRUE(run.restored);
      } else {
        EXPECT_EQ(after, installed) << static_cast<int>(call) << " at " << k;
        EXPECT_TRUE(runs.empty());
        if (!recordedByRun) {
          ++recordedByRecovery;
          EXPECT_EQ(testing::ReadFile(recorded_), target_ + "/");
        }
      }
    }
    if (call != SysCall::kSyncfs && call != SysCall::kUnlink) {
      EXPECT_GT(undone, 0) << static_cast<int>(call);
    }
  }
  EXPECT_GT(recordedByRecovery, 0);
}

TEST_P(RunJournalKillTest, KilledDuringTheRollbackIsFinishedAtTheNextStart) {
  OpenScene(true);
  ExpectEveryKillUndone();
}

TEST_P(RunJournalKillTest, KilledWhileMovingAcrossFileSystemsLosesNothing) {
  // Backups on another file system are copies: a kill in the middle of one
  // must leave the original whole.
  std::string other = testing::MakeDirOnOtherFileSystem(dir_.path());
  if (other.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  temp_ = other;
  tmpdir_.Set(temp_);
  SetRunBaseForTests(temp_);
  OpenScene(true);
  ExpectEveryKillUndone();
  reader_.Close();
  testing::RemoveAll(other);
}

TEST_F(RunJournalTest, LiveRunsAreLeftAloneAndFinishedOnesCleanedAway) {
  OpenScene(false);
  MakeTarget();
  const auto before = Snapshot(target_);
  // A registered run directory, as a run that died at once leaves it.
  auto made = [this](RunJournal* journal) {
    RunDirectory run;
    FailureCause cause;
    EXPECT_EQ(MakeRunDirectory(target_ + "/", journal, &run, &cause), 0u);
    return run.root;
  };

  // A run that holds its journal is alive, whatever its records say.
  RunJournal live;
  const std::string running = made(&live);
  live.Add(RecordKind::kFile, target_ + "/keep.txt");
  ASSERT_TRUE(live.Flush());
  EXPECT_TRUE(RecoverInterruptedRuns(temp_).empty());
  EXPECT_TRUE(testing::Exists(target_ + "/keep.txt"));
  EXPECT_TRUE(testing::Exists(running + "journal"));

  // Committed: nothing is undone.
  ASSERT_TRUE(live.Commit());
  live.Close();
  EXPECT_TRUE(RecoverInterruptedRuns(temp_).empty());
  EXPECT_EQ(Snapshot(target_), before);
  EXPECT_TRUE(RunDirectories().empty());

  // Killed before its journal existed: the empty directory goes. One with
  // a journal this installer did not write stays, and is said; a
  // directory the registry does not name is never touched.
  RunJournal empty;
  const std::string emptied = made(&empty);
  empty.Close();
  ::unlink((emptied + "journal").c_str());
  RunJournal foreign;
  const std::string unreadable = made(&foreign);
  foreign.Close();
  WriteFile(unreadable + "journal", "X 1:y\n");
  const std::string stranger = temp_ + "/" + kRunDirectoryPrefix + "abcdefghijkl";
  WriteFile(stranger + "/journal", EncodeRecord('V', kJournalFormat) +
                                       EncodeRecord('T', target_ + "/") +
                                       EncodeRecord('F', target_ + "/keep.txt"));
  std::vector<RecoveredRun> answered = RecoverInterruptedRuns(temp_);
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].runDirectory, unreadable);
  EXPECT_EQ(answered[0].problem, "its journal is not one this installer can read");
  EXPECT_FALSE(testing::Exists(emptied));
  EXPECT_TRUE(testing::Exists(unreadable + "journal"));
  EXPECT_TRUE(testing::Exists(stranger + "/journal"));
  EXPECT_TRUE(testing::Exists(target_ + "/keep.txt"));
  testing::RemoveAll(unreadable);
  testing::RemoveAll(stranger);

  // Starting: its new journal, held, is left alone; one nobody holds (the
  // installer died while it started) goes with its directory.
  std::string fresh[2];
  for (std::string& root : fresh) {
    RunJournal journal;
    root = made(&journal);
    journal.Close();
    ASSERT_EQ(::rename((root + "journal").c_str(), (root + "journal.new").c_str()), 0);
  }
  int starting = ::open((fresh[0] + "journal.new").c_str(), O_RDWR);
  ASSERT_GE(starting, 0);
  ASSERT_EQ(::flock(starting, LOCK_EX), 0);
  RecoverInterruptedRuns(temp_);
  EXPECT_TRUE(testing::Exists(fresh[0] + "journal.new"));
  EXPECT_FALSE(testing::Exists(fresh[1]));
  ::close(starting);
}

TEST_F(RunJournalTest, ARelativeTargetIsUndoneFromAnyDirectory) {
  OpenScene(false);
  MakeTarget();
  const auto before = Snapshot(target_);
  std::string cwd = fs::current_path();
  fs::current_path(dir_.path());
  jobTarget_ = "target";
  bool killed = RunKilledAt(SysCall::kOpen, 12);
  fs::current_path("/");
  std::vector<RecoveredRun> runs = RecoverInterruptedRuns(temp_);
  fs::current_path(cwd);
  ASSERT_TRUE(killed);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].restored);
  EXPECT_TRUE(runs[0].target == W(target_ + "/"));
  EXPECT_EQ(Snapshot(target_), before);
}

TEST_F(RunJournalTest, ARunThatCannotBePutBackIsKeptAndTriedAgain) {
  OpenScene(false);
  MakeTarget();
  const auto before = Snapshot(target_);
  // Killed after old.cf went to the backup tree and its new copy was written
  // (the opens of a run before it: the registry, its lock, the journal...).
  ASSERT_TRUE(RunKilledAt(SysCall::kOpen, 13));
  ASSERT_EQ(testing::ReadFile(target_ + "/old.cf"), "new content");
  // Something now stands where the original must go back.
  testing::RemoveAll(target_ + "/old.cf");
  testing::MakeDirs(target_ + "/old.cf/in-the-way");

  std::vector<RecoveredRun> runs = RecoverInterruptedRuns(temp_);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_FALSE(runs[0].restored);
  EXPECT_TRUE(runs[0].target == W(target_ + "/"));
  ASSERT_EQ(RunDirectories().size(), 1u);  // the only copy of the original

  testing::RemoveAll(target_ + "/old.cf");
  runs = RecoverInterruptedRuns(temp_);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].restored);
  EXPECT_EQ(Snapshot(target_), before);
  EXPECT_TRUE(RunDirectories().empty());
}

}  // namespace
}  // namespace qorv
