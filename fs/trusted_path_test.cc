#include "fs/trusted_path.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "testing/fault_injection.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

constexpr uid_t kNobody = 65534;

// The number of names in an absolute path.
int Depth(const std::string& path) {
  int names = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '/' && (i == 0 || path[i - 1] == '/')) ++names;
  }
  return names;
}

class TrustedPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "w";
    testing::MakeDirs(root_ + "/real/dir");
    testing::MakeDirs(root_ + "/elsewhere");
    testing::MakeDirs(root_ + "/swap/inner");
    testing::WriteFile(root_ + "/file", "a file");
    Link(root_ + "/real", "own");
    Link(root_ + "/missing", "dangling");
    Link(root_ + "/loop2", "loop1");
    Link(root_ + "/loop1", "loop2");
    Link(root_ + "/theirs/dir", "via-theirs");
    if (::geteuid() == 0) {
      Link(root_ + "/real", "theirs");
      EXPECT_EQ(::lchown((root_ + "/theirs").c_str(), kNobody, kNobody), 0);
      testing::MakeDirs(root_ + "/mnt");
      if (::mount("tmpfs", (root_ + "/mnt").c_str(), "tmpfs", 0, "size=1m") == 0) {
        mounted_ = root_ + "/mnt";
        testing::MakeDirs(mounted_ + "/sub");
      }
    }
  }
  void TearDown() override {
    if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
    ForgetResolvedDirectories();
  }
  void Link(const std::string& to, const std::string& name) {
    ASSERT_EQ(::symlink(to.c_str(), (root_ + "/" + name).c_str()), 0) << name;
  }

  testing::ScratchDir dir_;
  std::string root_;
  std::string mounted_;
};

// Every walk: where it lands (compared by identity with what the path names
// to the kernel), or the error it gives, and the link it refuses.
TEST_F(TrustedPathTest, TheWalkFollowsOnlyTrustedLinksAndSaysWhy) {
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* what;
    std::string path;
    std::string lands;  // "" when it fails
    int error;
    std::string refused;  // the link named, when one is refused
    bool needsRoot;
    std::function<void()> during;  // done just before the walk opens "swap"
  };
  const std::string w = root_;
  auto swapForTheirLink = [w] {
    ASSERT_EQ(::rename((w + "/swap").c_str(), (w + "/swapped").c_str()), 0);
    ASSERT_EQ(::symlink((w + "/elsewhere").c_str(), (w + "/swap").c_str()), 0);
    ASSERT_EQ(::lchown((w + "/swap").c_str(), kNobody, kNobody), 0);
  };
  const Case cases[] = {
      {"a folder", w + "/real/dir", w + "/real/dir", 0, "", false, {}},
      {"the user's own link", w + "/own/dir", w + "/real/dir", 0, "", false, {}},
      {"another user's link", w + "/theirs/dir", "", ELOOP, w + "/theirs", true, {}},
      {"a link that leads through another user's",
       w + "/via-theirs",
       "",
       ELOOP,
       w + "/theirs",
       true,
       {}},
      {"a dangling link", w + "/dangling/x", "", ENOENT, "", false, {}},
      {"links in a loop", w + "/loop1/x", "", ELOOP, "", false, {}},
      {"'..' inside", w + "/real/dir/../dir", w + "/real/dir", 0, "", false, {}},
      {"'..' after a link: the folder's own parent",
       w + "/own/dir/..",
       w + "/real",
       0,
       "",
       false,
       {}},
      {"a file in the way", w + "/file/x", "", ENOTDIR, "", false, {}},
      {"across a mount point", w + "/mnt/sub", w + "/mnt/sub", 0, "", true, {}},
      {"a folder swapped for another user's link during the walk", w + "/swap/inner", "", ELOOP,
       w + "/swap", true, swapForTheirLink},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && !root) continue;
    if (c.lands == w + "/mnt/sub" && mounted_.empty()) continue;
    ForgetResolvedDirectories();
    RefusedLink stale;
    TakeRefusedLink(&stale);
    ScopedFd fd;
    int error = 0;
    {
      // The walk opens "/" and then each name: "swap" is opened at the
      // index of its depth.
      std::unique_ptr<testing::FaultInjector> hook;
      if (c.during) {
        hook = std::make_unique<testing::FaultInjector>(testing::SysCall::kResolve,
                                                        Depth(w + "/swap"), c.during);
      }
      fd = OpenDirectoryTrusted(c.path);
      error = errno;
      if (hook) {
        EXPECT_TRUE(hook->Fired());
      }
    }
    RefusedLink link;
    const bool refused = TakeRefusedLink(&link);
    if (c.lands.empty()) {
      EXPECT_FALSE(fd.IsValid());
      EXPECT_EQ(error, c.error) << std::strerror(error);
    } else {
      ASSERT_TRUE(fd.IsValid()) << std::strerror(error);
      struct stat got;
      struct stat want;
      ASSERT_EQ(::fstat(fd.Get(), &got), 0);
      ASSERT_EQ(::stat(c.lands.c_str(), &want), 0);
      EXPECT_EQ(got.st_dev, want.st_dev);
      EXPECT_EQ(got.st_ino, want.st_ino);
    }
    EXPECT_EQ(refused, !c.refused.empty());
    if (refused) {
      EXPECT_EQ(link.path, c.refused);
      EXPECT_EQ(link.owner, kNobody);
    }
    // Told once.
    EXPECT_FALSE(TakeRefusedLink(&link));
  }
  if (!root) return;
  // A refusal is the refusing thread's own: a writer thread's walk does not
  // stand for, or overwrite, another thread's.
  ForgetResolvedDirectories();
  EXPECT_FALSE(OpenDirectoryTrusted(w + "/theirs/dir").IsValid());
  std::thread other([&] {
    RefusedLink link;
    EXPECT_FALSE(TakeRefusedLink(&link));
    ForgetResolvedDirectories();
    EXPECT_FALSE(OpenDirectoryTrusted(w + "/via-theirs").IsValid());
    EXPECT_TRUE(TakeRefusedLink(&link));
  });
  other.join();
  RefusedLink mine;
  ASSERT_TRUE(TakeRefusedLink(&mine));
  EXPECT_EQ(mine.path, w + "/theirs");
}

}  // namespace
}  // namespace qorv
