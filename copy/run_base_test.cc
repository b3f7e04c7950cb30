// Where run directories go, and how a start finds them there again: on the
// target's file system, so that backups are renames that outlive a reboot.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
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
    std::vector<std::string> blocked;  // files planted where a base would go
    std::string expected;
  };
  const std::string here = dir_ / "disk";
  const Case cases[] = {
      {"the state directory on the target's file system",
       dir_ / "state",
       here + "/t",
       true,
       {},
       dir_ / "state/qorv/runs/"},
      {"the state elsewhere: beside an existing target",
       other_ + "/state",
       here + "/t",
       true,
       {},
       here + "/.qorv-runs/"},
      {"the state elsewhere: in the nearest existing folder",
       other_ + "/state",
       here + "/a/b/c",
       false,
       {},
       here + "/.qorv-runs/"},
      {"beside blocked: inside the target",
       other_ + "/state",
       here + "/t",
       true,
       {here + "/.qorv-runs"},
       here + "/t/.qorv-runs/"},
      {"nowhere on its file system: the temporary directory",
       other_ + "/state",
       here + "/t",
       true,
       {here + "/.qorv-runs", here + "/t/.qorv-runs"},
       dir_ / "tmp/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::RemoveAll(here);
    testing::MakeDirs(here);
    if (c.made) testing::MakeDirs(c.target);
    for (const std::string& file : c.blocked) WriteFile(file, "in the way");
    state_.Set(c.state);
    // Asked without making: the same answer, and nothing made.
    EXPECT_EQ(RunBaseFor(c.target + "/", false), c.expected);
    if (c.blocked.empty()) {
      EXPECT_FALSE(testing::Exists(here + "/.qorv-runs"));
    }
    const std::string base = RunBaseFor(c.target + "/", true);
    EXPECT_EQ(base, c.expected);
    struct stat st {};
    ASSERT_EQ(::stat(base.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    if (base != dir_ / "tmp/") {
      EXPECT_EQ(st.st_mode & 0777, 0700u);
      EXPECT_EQ(st.st_dev, DeviceOf(here));
    }
  }
}

TEST_F(RunBaseTest, ARunOutsideTheStateIsRegisteredFoundAfterACrashAndForgotten) {
  if (other_.empty()) GTEST_SKIP() << "no second file system at /dev/shm";
  state_.Set(other_ + "/state");
  const std::string target = dir_ / "disk/t";
  testing::MakeDirs(target);
  WriteFile(target + "/old.cf", "the user's");
  RunJournal journal;
  RunDirectory run;
  FailureCause cause;
  ASSERT_EQ(MakeRunDirectory(target + "/", &journal, &run, &cause), 0u);
  EXPECT_EQ(run.root, dir_ / "disk/.qorv-runs/kvins0/");
  // The registry names it, and every start looks there.
  const std::string live = other_ + "/state/qorv/live";
  std::vector<std::string> entries;
  for (auto& entry : std::filesystem::directory_iterator(live)) entries.push_back(entry.path());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(testing::ReadFile(entries[0]), dir_ / "disk/.qorv-runs/kvins0\n");
  std::vector<std::string> bases = RunBases();
  EXPECT_NE(std::find(bases.begin(), bases.end(), dir_ / "disk/.qorv-runs/"), bases.end());

  // A write announced, done, and the process gone before its end.
  journal.Add(RecordKind::kFile, target + "/new.cf");
  ASSERT_TRUE(journal.Flush());
  WriteFile(target + "/new.cf", "half");
  journal.Close();
  EXPECT_EQ(FindAllInterruptedRuns().size(), 1u);
  std::vector<RecoveredRun> recovered = RecoverAllInterruptedRuns();
  ASSERT_EQ(recovered.size(), 1u);
  EXPECT_TRUE(recovered[0].restored);
  EXPECT_FALSE(testing::Exists(target + "/new.cf"));
  EXPECT_EQ(testing::ReadFile(target + "/old.cf"), "the user's");
  // Nothing left: not the run, not its hidden place, not its entry.
  EXPECT_FALSE(testing::Exists(dir_ / "disk/.qorv-runs"));
  EXPECT_TRUE(std::filesystem::is_empty(live));
  EXPECT_TRUE(RecoverAllInterruptedRuns().empty());
}

}  // namespace
}  // namespace qorv
