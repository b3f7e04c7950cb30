#include "fs/file_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "testing/fault_injection.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::Exists;
using testing::FaultInjector;
using testing::ReadFile;
using testing::ScratchDir;
using testing::SysCall;
using testing::WriteFile;

// Names a shell would have interpreted.
const char* const kHostileNames[] = {
    "quote\"d", "dollar$HOME", "back`id`quote", "back\\slash", "new\nline",
    "-rf",      "semi;colon",  "star*",         "ques?",       "[set]",
};

TEST(FileOpsTest, HostileNamesReachTheFileSystemUnchanged) {
  ScratchDir dir;
  for (const char* name : kHostileNames) {
    SCOPED_TRACE(name);
    std::string base = dir / name;
    ASSERT_EQ(ShellMakeDirs(base + "/inner/" + name), 0u);
    EXPECT_TRUE(Exists(base + "/inner/" + name));

    WriteFile(base + "/f" + name, "content");
    EXPECT_TRUE(PathExists(base + "/f" + name));
    EXPECT_EQ(ShellMove(base + "/f" + name, base + "/g" + name), 0u);
    EXPECT_EQ(ReadFile(base + "/g" + name), "content");
    EXPECT_FALSE(Exists(base + "/f" + name));

    EXPECT_EQ(ShellRemoveFile(base + "/g" + name), 0u);
    EXPECT_FALSE(Exists(base + "/g" + name));

    std::string tempPath;
    EXPECT_EQ(MakeTempFile(base, name, &tempPath), 0u);
    EXPECT_TRUE(Exists(tempPath));

    EXPECT_EQ(ShellRemoveTree(base), 0u);
    EXPECT_FALSE(Exists(base));
  }
  // Nothing was created outside the scratch directory by any of them.
  EXPECT_FALSE(Exists("rf"));
}

// The unpacked kit's file: no name at any moment with O_TMPFILE; without
// it, a name removed at once, and removed by a later start when its process
// died in between.
TEST(FileOpsTest, NamelessFilesLeaveNothingBehind) {
  testing::ScratchDir dir;
  auto names = [&] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  for (bool withTmpFile : {true, false}) {
    SCOPED_TRACE(withTmpFile ? "O_TMPFILE" : "named, then unlinked");
    int fd;
    {
      testing::FaultInjector noTmpFile(testing::SysCall::kOpen, withTmpFile ? -1 : 0, EOPNOTSUPP);
      fd = OpenNamelessFile(dir.path().c_str());
    }
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(names().empty());
    ASSERT_EQ(::pwrite(fd, "kit", 3, 0), 3);
    char back[3];
    ASSERT_EQ(::pread(fd, back, 3, 0), 3);
    EXPECT_EQ(std::string(back, 3), "kit");
    ::close(fd);
  }
  const std::string alive = ".vkx" + std::to_string(::getpid()) + "-abcdef";
  for (const std::string& name : {std::string(".vkx999999999-abcdef"), alive, std::string(".vkx-x"),
                                  std::string("vkx1-abcdef")}) {
    testing::WriteFile(dir / name, "x");
  }
  RemoveOrphanedNamelessFiles(dir.path().c_str());
  EXPECT_EQ(names(), (std::vector<std::string>{".vkx-x", alive, "vkx1-abcdef"}));
}

TEST(FileOpsTest, PathExistsIsExact) {
  ScratchDir dir;
  WriteFile(dir / "a1", "x");
  EXPECT_TRUE(PathExists(dir / "a1"));
  for (const char* pattern : {"a*", "a?", "[a]1", "a\\1"}) {
    EXPECT_FALSE(PathExists(dir / pattern)) << pattern;
  }
  WriteFile(dir / "a*", "star");
  EXPECT_TRUE(PathExists(dir / "a*"));
  EXPECT_FALSE(PathExists(dir.path() + "/"));
  EXPECT_TRUE(PathExists(dir.path()));
  EXPECT_FALSE(PathExists(std::string()));
}

TEST(FileOpsTest, MakeDirsCodes) {
  ScratchDir dir;
  EXPECT_EQ(ShellMakeDirs(dir / "a/b/c"), 0u);
  EXPECT_EQ(ShellMakeDirs(dir / "a/b/c"), 0u);  // already there
  EXPECT_EQ(ShellMakeDirs(dir / "a//b/./d/"), 0u);
  EXPECT_TRUE(Exists(dir / "a/b/d"));
  WriteFile(dir / "file", "");
  EXPECT_EQ(ShellMakeDirs(dir / "file"), kErrorNotFound);
  EXPECT_EQ(ShellMakeDirs(dir / "file/sub"), kErrorNotFound);
  EXPECT_EQ(ShellMakeDirs(std::string()), kErrorNotFound);
  {
    FaultInjector full(SysCall::kMkdir, 1, ENOSPC);
    EXPECT_EQ(ShellMakeDirs(dir / "x/y/z"), kErrorNotFound);
  }
  EXPECT_TRUE(Exists(dir / "x"));
  EXPECT_FALSE(Exists(dir / "x/y"));
}

TEST(FileOpsTest, RemoveTreeNeverFollowsLinks) {
  ScratchDir dir;
  WriteFile(dir / "keep/precious", "mine");
  WriteFile(dir / "tree/a/b/file", "x");
  ASSERT_EQ(::symlink((dir / "keep").c_str(), (dir / "tree/a/link").c_str()), 0);
  EXPECT_EQ(ShellRemoveTree(dir / "tree"), 0u);
  EXPECT_FALSE(Exists(dir / "tree"));
  EXPECT_EQ(ReadFile(dir / "keep/precious"), "mine");
  EXPECT_EQ(ShellRemoveTree(dir / "absent"), 0u);

  // A file removal leaves directories alone.
  EXPECT_EQ(ShellRemoveFile(dir / "keep"), 0u);
  EXPECT_TRUE(Exists(dir / "keep/precious"));
}

TEST(FileOpsTest, MoveAsMvDoes) {
  ScratchDir dir;
  EXPECT_EQ(ShellMove(dir / "missing", dir / "to"), kErrorNotFound);

  WriteFile(dir / "old", "old");
  WriteFile(dir / "new", "new");
  EXPECT_EQ(ShellMove(dir / "old", dir / "new"), 0u);  // replaces
  EXPECT_EQ(ReadFile(dir / "new"), "old");

  testing::MakeDirs(dir / "box");
  EXPECT_EQ(ShellMove(dir / "new", dir / "box"), 0u);  // into a directory
  EXPECT_EQ(ReadFile(dir / "box/new"), "old");

  EXPECT_EQ(ShellMove(dir / "box", dir / "box"), kErrorNotFound);
  EXPECT_EQ(ShellMove(dir / "box", dir / "crate"), 0u);  // a directory, whole
  EXPECT_EQ(ReadFile(dir / "crate/new"), "old");

  WriteFile(dir / "f", "f");
  {
    FaultInjector refused(SysCall::kRename, 0, EACCES);
    EXPECT_EQ(ShellMove(dir / "f", dir / "g"), kErrorNotFound);
  }
  EXPECT_EQ(ReadFile(dir / "f"), "f");
}

// The temporary directory often lives on another file system than the
// templates; a move there copies and then removes.
class CrossDeviceMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    other_ = testing::MakeDirOnOtherFileSystem(work_.path());
    if (other_.empty()) GTEST_SKIP() << "/dev/shm and the build tree are on one file system here";
  }
  void TearDown() override {
    if (!other_.empty()) testing::RemoveAll(other_);
  }
  ScratchDir work_;
  std::string other_;
};

TEST_F(CrossDeviceMoveTest, FileKeepsContentModeAndTime) {
  WriteFile(work_ / "f", "payload");
  ::chmod((work_ / "f").c_str(), 0640);
  testing::SetMTime(work_ / "f", 1234567890);
  ASSERT_EQ(ShellMove(work_ / "f", other_ + "/f"), 0u);
  EXPECT_FALSE(Exists(work_ / "f"));
  EXPECT_EQ(ReadFile(other_ + "/f"), "payload");
  EXPECT_EQ(testing::MTime(other_ + "/f"), 1234567890);
  struct stat st;
  ASSERT_EQ(::stat((other_ + "/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Back again, replacing an existing file.
  WriteFile(work_ / "g", "older");
  ASSERT_EQ(ShellMove(other_ + "/f", work_ / "g"), 0u);
  EXPECT_EQ(ReadFile(work_ / "g"), "payload");
}

TEST_F(CrossDeviceMoveTest, DirectoryMovesWithEverythingInIt) {
  WriteFile(work_ / "d/a", "a");
  WriteFile(work_ / "d/sub/b", "b");
  ASSERT_EQ(::symlink("a", (work_ / "d/link").c_str()), 0);
  ASSERT_EQ(ShellMove(work_ / "d", other_ + "/d"), 0u);
  EXPECT_FALSE(Exists(work_ / "d"));
  EXPECT_EQ(ReadFile(other_ + "/d/sub/b"), "b");
  EXPECT_EQ(ReadFile(other_ + "/d/link"), "a");
}

TEST_F(CrossDeviceMoveTest, FailedCopyKeepsTheSource) {
  WriteFile(work_ / "f", "payload");
  {
    FaultInjector full(SysCall::kWrite, 0, ENOSPC);
    EXPECT_EQ(ShellMove(work_ / "f", other_ + "/f"), kErrorNotFound);
  }
  EXPECT_EQ(ReadFile(work_ / "f"), "payload");
  EXPECT_FALSE(Exists(other_ + "/f"));
}

TEST(FileOpsTest, MakeTempFilePrefersTmpdirAndReportsFailure) {
  ScratchDir dir;
  testing::MakeDirs(dir / "given");
  testing::MakeDirs(dir / "env");
  testing::ScopedEnv tmpdir("TMPDIR", dir / "env");
  tmpdir.Unset();
  std::string path;
  ASSERT_EQ(MakeTempFile(dir / "given", "vkxlonger", &path), 0u);
  const std::string& p = path;
  EXPECT_EQ(p.rfind(dir / "given/vkxlo", 0), 0u) << p;
  EXPECT_EQ(p.size(), (dir / "given/vkxlo").size() + 6);
  EXPECT_EQ(ReadFile(p), "");

  tmpdir.Set(dir / "env");
  ASSERT_EQ(MakeTempFile(dir / "given", "vkx", &path), 0u);
  EXPECT_EQ(path.rfind(dir / "env/vkx", 0), 0u);

  {
    FaultInjector denied(SysCall::kOpen, 0, EACCES);
    EXPECT_EQ(MakeTempFile(dir / "given", "vkx", &path), kErrorCannotMakeTemp);
    EXPECT_FALSE(path.empty());
  }
}

}  // namespace
}  // namespace qorv
