#include "fs/fs_queries.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/text_convert.h"
#include "testing/fault_injection.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ScratchDir;

TEST(FsQueriesTest, TempDirectory) {
  ScratchDir dir;
  testing::ScopedEnv tmpdir("TMPDIR", dir.path());
  testing::WriteFile(dir / "file", "");
  tmpdir.Set(dir / "file");
  EXPECT_EQ(TempDirectory(), "/tmp/");
  tmpdir.Set(dir / "missing");
  EXPECT_EQ(TempDirectory(), "/tmp/");
  tmpdir.Set("/var/tmp");
  EXPECT_EQ(TempDirectory(), "/var/tmp/");
  tmpdir.Set(dir.path() + "/");
  EXPECT_EQ(TempDirectory(), dir.path() + "/");
  tmpdir.Unset();
  EXPECT_EQ(TempDirectory(), "/tmp/");
}

TEST(FsQueriesTest, FileSizeAndFreeSpace) {
  ScratchDir dir;
  testing::WriteFile(dir / "f", std::string(12345, 'x'));
  uint64_t size = 0;
  EXPECT_TRUE(FileSize(dir / "f", &size));
  EXPECT_EQ(size, 12345u);
  EXPECT_FALSE(FileSize(dir / "none", &size));

  EXPECT_GT(FreeSpaceInTemp(), 0u);
  testing::FaultInjector broken(testing::SysCall::kStatvfs, 0, EIO);
  EXPECT_EQ(FreeSpaceInTemp(), 0u);
}

TEST(FsQueriesTest, WritableDirectoryIsProbedWhereAsked) {
  ScratchDir dir;
  testing::ScopedEnv tmpdir("TMPDIR", dir.path());
  testing::MakeDirs(dir / "target");
  testing::WriteFile(dir / "plain", "");
  // TMPDIR has no say in the answer.
  tmpdir.Set(dir.path());
  EXPECT_TRUE(IsWritableDirectory(dir / "target"));
  EXPECT_TRUE(IsWritableDirectory(dir / "target/"));
  EXPECT_TRUE(IsWritableDirectory(dir / "target/not/yet/there"));
  EXPECT_FALSE(IsWritableDirectory(dir / "plain"));
  EXPECT_FALSE(IsWritableDirectory(dir / "plain/below"));
  EXPECT_FALSE(IsWritableDirectory(std::string()));
  // The probe leaves nothing behind, not even the folder's time: no name
  // is ever made there, so a kill at any moment leaves nothing either.
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir / "target" + "')\"").c_str()), 0);
  testing::SetMTime(dir / "target", 1000);
  EXPECT_TRUE(IsWritableDirectory(dir / "target"));
  EXPECT_TRUE(CanCreateFileIn(dir / "target"));
  EXPECT_EQ(testing::MTime(dir / "target"), 1000);

  // A directory where files cannot be created (a read-only mount, a full
  // disk) fails, even for root.
  testing::FaultInjector denied(testing::SysCall::kOpen, 0, EROFS);
  EXPECT_FALSE(IsWritableDirectory(dir / "target"));
}

}  // namespace
}  // namespace qorv
