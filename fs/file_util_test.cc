#include "fs/file_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "fs/path.h"
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

std::vector<std::string> Names(const std::string& directory) {
  std::vector<std::string> names;
  EXPECT_TRUE(ListNames(directory, &names)) << directory;
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PathTest, HelpersOnEveryShapeOfPath) {
  struct Case {
    const char* path;
    const char* stripped;
    const char* dir;
    const char* base;
    const char* parent;
    const char* normal;
  } cases[] = {
      {"/", "/", "/", "", "", "/"},
      {"//", "/", "/", "", "", "/"},
      {"/a", "/a", "/", "a", "/", "/a"},
      {"/a/b/", "/a/b", "/a", "b", "/a", "/a/b/"},
      {"a", "a", ".", "a", "", "a"},
      {"a/b//", "a/b", "a", "b", "a", "a/b/"},
      {"", "", ".", "", "", ""},
      {"/a//b/./c/", "/a//b/./c", "/a//b/.", "c", "/a//b/.", "/a/b/c/"},
      {"/a/.", "/a/.", "/a", ".", "/a", "/a"},
      {"./", ".", ".", ".", "", "."},
      {"./a/../b", "./a/../b", "./a/..", "b", "./a/..", "a/../b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(StripTrailingSlashes(c.path), c.stripped);
    EXPECT_EQ(DirName(c.path), c.dir);
    EXPECT_EQ(BaseName(c.path), c.base);
    EXPECT_EQ(ParentOf(c.path), c.parent);
    EXPECT_EQ(LexicallyNormal(c.path), c.normal);
  }
  EXPECT_EQ(Join("a", "b"), "a/b");
  EXPECT_EQ(Join("a/", "b"), "a/b");
  EXPECT_EQ(Join("", "b"), "b");
  EXPECT_EQ(WithTrailingSlash(std::string("a")), "a/");
  EXPECT_EQ(WithTrailingSlash(std::string("a/")), "a/");
  EXPECT_EQ(WithTrailingSlash(std::string()), "");
  EXPECT_TRUE(EndsWithSeparator(WideString(u"a\\")));
  EXPECT_TRUE(IsRootPath("/"));
  EXPECT_FALSE(IsRootPath("//"));
}

TEST(FileUtilTest, WholeWritesAndReadsSurviveInterruptedCalls) {
  ScratchDir dir;
  std::string big(300000, 'x');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  {
    ScopedFd fd = OpenFile(dir / "f", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(fd.IsValid());
    FaultInjector interrupted(SysCall::kWrite, 0, EINTR);
    EXPECT_TRUE(WriteFully(fd.Get(), big));
    EXPECT_TRUE(interrupted.Fired());
    EXPECT_TRUE(fd.Close());
  }
  std::string back;
  {
    FaultInjector interrupted(SysCall::kRead, 1, EINTR);
    EXPECT_TRUE(ReadFileToString(dir / "f", &back));
    EXPECT_TRUE(interrupted.Fired());
  }
  EXPECT_EQ(back, big);

  // A full disk and an unreadable file are failures with the reason.
  ScopedFd fd = OpenFile(dir / "g", O_WRONLY | O_CREAT, 0600);
  {
    FaultInjector full(SysCall::kWrite, 0, ENOSPC);
    EXPECT_FALSE(WriteFully(fd.Get(), "abc"));
    EXPECT_EQ(errno, ENOSPC);
  }
  {
    FaultInjector broken(SysCall::kRead, 0, EIO);
    std::string partial;
    EXPECT_FALSE(ReadFileToString(dir / "f", &partial));
  }
  bool missing = false;
  EXPECT_FALSE(ReadFileToString(dir / "none/f", &back, &missing));
  EXPECT_TRUE(missing);
}

TEST(FileUtilTest, ListingAndUniqueNames) {
  ScratchDir dir;
  EXPECT_TRUE(Names(dir.path()).empty());
  std::vector<std::string> made;
  for (int i = 0; i < 20; ++i) {
    std::string name;
    ScopedFd fd = CreateUniqueFile(dir / "stem-", O_WRONLY, 0600, &name);
    ASSERT_TRUE(fd.IsValid());
    EXPECT_EQ(name.rfind(dir / "stem-", 0), 0u);
    EXPECT_EQ(name.size(), (dir / "stem-").size() + 6);
    made.push_back(BaseName(name));
  }
  std::sort(made.begin(), made.end());
  EXPECT_EQ(std::unique(made.begin(), made.end()), made.end());
  EXPECT_EQ(Names(dir.path()), made);

  std::string name;
  {
    FaultInjector denied(SysCall::kOpen, 0, EACCES);
    EXPECT_FALSE(CreateUniqueFile(dir / "x-", O_WRONLY, 0600, &name).IsValid());
  }
  EXPECT_EQ(errno, EACCES);
  EXPECT_FALSE(name.empty());
  std::vector<std::string> none;
  EXPECT_FALSE(ListNames(dir / "missing", &none));
  EXPECT_EQ(errno, ENOENT);
}

TEST(FileUtilTest, DurableReplacementKeepsOldFileOnEveryFailure) {
  ScratchDir dir;
  const std::string path = dir / "cfg";
  WriteFile(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

  // Each step of the replacement failing: the old file stays whole, and no
  // temporary file is left beside it.
  struct Case {
    SysCall call;
    int nth;
    ReplaceResult result;
  } cases[] = {
      {SysCall::kOpen, 0, ReplaceResult::kNotCreated},
      {SysCall::kWrite, 0, ReplaceResult::kNotWritten},
      {SysCall::kFchmod, 0, ReplaceResult::kNotWritten},
      {SysCall::kFsync, 0, ReplaceResult::kNotWritten},
      {SysCall::kClose, 0, ReplaceResult::kNotWritten},
      {SysCall::kRename, 0, ReplaceResult::kNotWritten},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.call));
    {
      FaultInjector fault(c.call, c.nth, EIO);
      EXPECT_EQ(ReplaceFileDurably(path, "new"), c.result);
      EXPECT_TRUE(fault.Fired());
    }
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"cfg"});
  }

  EXPECT_EQ(ReplaceFileDurably(path, "new"), ReplaceResult::kDone);
  EXPECT_EQ(ReadFile(path), "new");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"cfg"});
  EXPECT_EQ(ReplaceFileDurably(dir / "missing/cfg", "x"), ReplaceResult::kNotCreated);
}

TEST(FileUtilTest, ExclusiveLockIsHeldUntilTheDescriptorGoes) {
  ScratchDir dir;
  WriteFile(dir / "lock", "");
  ScopedFd first = OpenFile(dir / "lock", O_RDWR);
  ScopedFd second = OpenFile(dir / "lock", O_RDWR);
  ASSERT_TRUE(first.IsValid() && second.IsValid());
  EXPECT_TRUE(LockExclusive(first.Get(), false));
  EXPECT_FALSE(LockExclusive(second.Get(), false));
  EXPECT_EQ(errno, EWOULDBLOCK);
  ScopedFd moved = std::move(first);
  EXPECT_FALSE(first.IsValid());
  EXPECT_FALSE(LockExclusive(second.Get(), false));
  EXPECT_TRUE(moved.Close());
  EXPECT_TRUE(LockExclusive(second.Get(), false));
}

}  // namespace
}  // namespace qorv
