// Where run directories go, and how a start finds them there again: on the
// target's file system, so that backups are renames that outlive a reboot.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "copy/manifest.h"
#include "copy/run_directory.h"
#include "copy/run_journal.h"
#include "copy/run_recovery.h"
#include "fs/path.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::WriteFile;

dev_t DeviceOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_dev;
}

class RunBaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    other_ = testing::MakeDirOnOtherFileSystem(dir_.path());
    testing::MakeDirs(dir_ / "tmp");
  }
  void TearDown() override {
    if (!other_.empty()) testing::RemoveAll(other_);
  }

  testing::ScratchDir dir_;
  std::string other_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
  testing::ScopedEnv state_{"XDG_STATE_HOME", dir_ / "state"};
};

TEST_F(RunBaseTest, OnTheTargetsFileSystemBesideTheTargetNotInIt) {
  if (other_.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  struct Case {
    const char* what;
    std::string state;   // XDG_STATE_HOME
    std::string target;  // exists when `made`
    bool made;
    std::string expected;  // the first place
  };
  const std::string here = dir_ / "disk";
  const Case cases[] = {
      {"the state directory on the target's file system", dir_ / "state", here + "/t", true,
       dir_ / "state/qorv/runs/"},
      {"the state elsewhere: beside an existing target", other_ + "/state", here + "/t", true,
       here + "/"},
      {"the state elsewhere: in the nearest existing folder", other_ + "/state", here + "/a/b/c",
       false, here + "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::RemoveAll(here);
    testing::RemoveAll(dir_ / "state");
    testing::MakeDirs(here);
    if (c.made) testing::MakeDirs(c.target);
    state_.Set(c.state);
    // Asked without making: the same answer, and nothing made.
    std::vector<std::string> places = RunPlacesFor(c.target + "/", false);
    ASSERT_FALSE(places.empty());
    EXPECT_EQ(places[0], c.expected);
    EXPECT_FALSE(testing::Exists(dir_ / "state/qorv/runs"));
    places = RunPlacesFor(c.target + "/", true);
    ASSERT_FALSE(places.empty());
    EXPECT_EQ(places[0], c.expected);
    for (const std::string& place : places) EXPECT_EQ(DeviceOf(place), DeviceOf(here));
  }
  // A file system of its own: inside it, never on another.
  state_.Set(dir_ / "state");
  EXPECT_EQ(RunPlacesFor("/dev/shm/", false), std::vector<std::string>{"/dev/shm/"});
}

TEST_F(RunBaseTest, ARunIsRegisteredUnderAnUnguessableNameFoundAfterACrashAndForgotten) {
  if (other_.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  state_.Set(other_ + "/state");
  const std::string target = dir_ / "disk/t";
  testing::MakeDirs(target);
  WriteFile(target + "/old.cf", "the user's");
  // Names another user could have taken first are not used at all.
  testing::MakeDirs(dir_ / "disk/.qorv-runs/kvins0");
  RunJournal journal;
  RunDirectory run;
  FailureCause cause;
  ASSERT_EQ(MakeRunDirectory(target + "/", &journal, &run, &cause), 0u);
  EXPECT_EQ(ParentOf(StripTrailingSlashes(run.root)), dir_ / "disk");
  EXPECT_TRUE(IsRunDirectoryName(BaseName(StripTrailingSlashes(run.root))));
  EXPECT_FALSE(run.copies);
  struct stat st {};
  ASSERT_EQ(::lstat(run.root.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // The registry names it, with its device and inode.
  std::vector<std::string> problems;
  std::vector<LiveRun> live = ListLiveRuns(&problems);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(problems, std::vector<std::string>{});
  EXPECT_EQ(live[0].runRoot, run.root);
  EXPECT_EQ(live[0].target, target + "/");
  EXPECT_TRUE(live[0].made);
  EXPECT_EQ(live[0].inode, st.st_ino);

  // A write announced, done, and the process gone before its end.
  journal.Add(RecordKind::kFile, target + "/new.cf");
  ASSERT_TRUE(journal.Flush());
  WriteFile(target + "/new.cf", "half");
  journal.Close();
  EXPECT_EQ(FindAllInterruptedRuns().size(), 1u);
  std::vector<RecoveredRun> recovered = RecoverAllInterruptedRuns();
  ASSERT_EQ(recovered.size(), 1u);
  EXPECT_TRUE(recovered[0].restored);
  EXPECT_EQ(recovered[0].problem, "");
  EXPECT_FALSE(testing::Exists(target + "/new.cf"));
  EXPECT_EQ(testing::ReadFile(target + "/old.cf"), "the user's");
  // Nothing left: not the run, not its entry; what was not the run's stays.
  EXPECT_FALSE(testing::Exists(run.root));
  EXPECT_TRUE(testing::Exists(dir_ / "disk/.qorv-runs/kvins0"));
  EXPECT_TRUE(std::filesystem::is_empty(other_ + "/state/qorv/live"));
  EXPECT_TRUE(RecoverAllInterruptedRuns().empty());
}

// What a start must never believe: each scene plants a run the user did
// not make, or a record that names what the run could not have changed,
// and the recovery must leave every file as it is and say why.
TEST_F(RunBaseTest, RecoveryActsOnlyOnRunsTheUserRecorded) {
  const std::string target = dir_ / "t/";
  struct Scene {
    const char* what;
    std::function<void(const LiveRun& run)> plant;
    const char* problem;  // in the answer
  };
  const std::string victim = dir_ / "victim.cf";
  const std::string rootDir = dir_ / "rootonly";
  const Scene scenes[] = {
      {"a directory swapped in under the registered name",
       [](const LiveRun& run) {
         testing::RemoveAll(run.runRoot);
         testing::MakeDirs(run.runRoot);
         ::chmod(run.runRoot.c_str(), 0700);
       },
       "not the run directory that was registered"},
      {"a run directory others may write",
       [](const LiveRun& run) { ::chmod(run.runRoot.c_str(), 0777); },
       "not the run directory that was registered"},
      {"a file outside the target",
       [&](const LiveRun& run) {
         std::string journal = testing::ReadFile(run.runRoot + "journal");
         journal += EncodeRecord('F', victim);
         WriteFile(run.runRoot + "journal", journal);
       },
       "not the registered target's"},
      {"a manifest that is not the target's",
       [&](const LiveRun& run) {
         std::string journal = testing::ReadFile(run.runRoot + "journal");
         journal += EncodeRecord('M', rootDir + "/passwd");
         WriteFile(run.runRoot + "journal", journal);
         WriteFile(run.runRoot + "manifest.old", "somebody's text");
       },
       "not the registered target's"},
      {"another target in the journal",
       [&](const LiveRun& run) {
         WriteFile(run.runRoot + "journal", EncodeRecord('V', kJournalFormat) +
                                                EncodeRecord('T', dir_ / "") +
                                                EncodeRecord('F', victim));
       },
       "not the registered target's"},
  };
  for (const Scene& scene : scenes) {
    SCOPED_TRACE(scene.what);
    testing::RemoveAll(dir_ / "state");
    testing::RemoveAll(dir_ / "t");
    testing::MakeDirs(dir_ / "t");
    WriteFile(victim, "keep me");
    WriteFile(rootDir + "/passwd", "root's");
    RunJournal journal;
    RunDirectory run;
    FailureCause cause;
    ASSERT_EQ(MakeRunDirectory(target, &journal, &run, &cause), 0u);
    journal.Close();
    std::vector<std::string> problems;
    std::vector<LiveRun> live = ListLiveRuns(&problems);
    ASSERT_EQ(live.size(), 1u);
    scene.plant(live[0]);
    EXPECT_EQ(FindAllInterruptedRuns().size(), 1u);
    std::vector<RecoveredRun> answered = RecoverAllInterruptedRuns();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_NE(answered[0].problem.find(scene.problem), std::string::npos) << answered[0].problem;
    EXPECT_EQ(testing::ReadFile(victim), "keep me");
    EXPECT_EQ(testing::ReadFile(rootDir + "/passwd"), "root's");
    // Still there for a person to look at, and said again next time.
    EXPECT_TRUE(testing::Exists(run.root));
    EXPECT_EQ(RecoverAllInterruptedRuns().size(), 1u);
  }

  // A registry others may change is not read at all.
  testing::RemoveAll(dir_ / "state");
  testing::RemoveAll(dir_ / "t");
  testing::MakeDirs(dir_ / "t");
  RunJournal journal;
  RunDirectory run;
  FailureCause cause;
  ASSERT_EQ(MakeRunDirectory(target, &journal, &run, &cause), 0u);
  journal.Add(RecordKind::kFile, target + "new.cf");
  ASSERT_TRUE(journal.Flush());
  WriteFile(target + "new.cf", "x");
  journal.Close();
  ::chmod((dir_ / "state/qorv").c_str(), 0777);
  std::vector<RecoveredRun> answered = RecoverAllInterruptedRuns();
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_NE(answered[0].problem.find("writable by other users"), std::string::npos);
  EXPECT_TRUE(testing::Exists(target + "new.cf"));
  EXPECT_TRUE(testing::Exists(run.root + "journal"));
  // Nor can a run start there.
  RunJournal other;
  RunDirectory second;
  FailureCause refused;
  EXPECT_NE(MakeRunDirectory(target, &other, &second, &refused), 0u);
  EXPECT_NE(refused.reason.find("writable by other users"), std::string::npos);
  ::chmod((dir_ / "state/qorv").c_str(), 0700);
  EXPECT_TRUE(RecoverAllInterruptedRuns()[0].restored);
  EXPECT_FALSE(testing::Exists(target + "new.cf"));
}

}  // namespace
}  // namespace qorv
