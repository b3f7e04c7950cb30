#include "fs/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "testing/fault_injection.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::FaultInjector;
using testing::ScratchDir;
using testing::SysCall;

TEST(FileTimeTest, UnixEpochAndBack) {
  EXPECT_EQ(FileTimeFromUnix(0).Ticks(), 116444736000000000ull);
  FileTime t = FileTimeFromUnix(0);
  EXPECT_EQ(t.low, static_cast<uint32_t>(116444736000000000ull));
  EXPECT_EQ(t.high, static_cast<uint32_t>(116444736000000000ull >> 32));
  EXPECT_EQ(UnixFromFileTime(t), 0);
  EXPECT_EQ(UnixFromFileTime(FileTime::FromTicks(116444736000000000ull + 9999999)), 0);
  EXPECT_EQ(UnixFromFileTime(FileTimeFromUnix(1700000000)), 1700000000);
}

TEST(FileIoTest, CreateAlwaysKeepsContentUntilTruncated) {
  ScratchDir dir;
  testing::WriteFile(dir / "f", "0123456789");
  int fd = -1;
  ASSERT_EQ(FileOpen(dir / "f", kReadAccess | kWriteAccess, 0, kCreateAlways, &fd), 0u);
  EXPECT_EQ(testing::ReadFile(dir / "f"), "0123456789");
  EXPECT_EQ(FileSeek(fd, 4, nullptr, kSeekBegin), 4u);
  EXPECT_EQ(FileTruncate(fd), 0u);
  char buffer[16];
  size_t got = 99;
  EXPECT_EQ(FileSeek(fd, 0, nullptr, kSeekBegin), 0u);
  EXPECT_EQ(FileRead(fd, buffer, sizeof(buffer), &got), 0u);  // short read is fine
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(FileClose(fd), 0u);
  EXPECT_EQ(testing::ReadFile(dir / "f"), "0123");

  ASSERT_EQ(FileOpen(dir / "f", kWriteAccess, 0, kTruncateExisting, &fd), 0u);
  size_t written = 0;
  EXPECT_EQ(FileWrite(fd, "xy", 2, &written), 0u);
  EXPECT_EQ(written, 2u);
  FileClose(fd);
  EXPECT_EQ(testing::ReadFile(dir / "f"), "xy");

  struct stat st;
  ASSERT_EQ(::stat((dir / "new").c_str(), &st), -1);
  ASSERT_EQ(FileOpen(dir / "new", kWriteAccess, 0, kCreateAlways, &fd), 0u);
  FileClose(fd);
  ASSERT_EQ(::stat((dir / "new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777 & ~0660u, 0u);
}

TEST(FileIoTest, SeekWithHighHalf) {
  ScratchDir dir;
  int fd = -1;
  ASSERT_EQ(FileOpen(dir / "sparse", kReadAccess | kWriteAccess, 0, kCreateAlways, &fd), 0u);
  int32_t high = 1;
  EXPECT_EQ(FileSeek(fd, 16, &high, kSeekBegin), 16u);  // 4 GiB + 16
  EXPECT_EQ(high, 1);
  high = 0;
  EXPECT_EQ(FileSeek(fd, -6, &high, kSeekCurrent), 10u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(FileSeek(fd, -1, nullptr, kSeekBegin), 0xFFFFFFFFu);
  EXPECT_EQ(LastFileError(), kErrorInvalidParameter);
  FileClose(fd);
}

TEST(FileIoTest, TimesInWholeSeconds) {
  ScratchDir dir;
  testing::WriteFile(dir / "t", "x");
  testing::SetMTime(dir / "t", 0);
  int fd = -1;
  ASSERT_EQ(FileOpen(dir / "t", kReadAccess | kWriteAccess, 0, kOpenExisting, &fd), 0u);
  FileTime write;
  FileTime access;
  EXPECT_EQ(FileGetTime(fd, nullptr, &access, &write), 0u);
  EXPECT_EQ(write.Ticks(), 116444736000000000ull);
  EXPECT_EQ(access.Ticks(), 116444736000000000ull);

  FileTime subSecond = FileTime::FromTicks(FileTimeFromUnix(1500000000).Ticks() + 7654321);
  EXPECT_EQ(FileSetTime(fd, nullptr, nullptr, &subSecond), 0u);
  FileClose(fd);
  EXPECT_EQ(testing::MTime(dir / "t"), 1500000000);
}

// --- Failures and their codes ----------------------------------------------

TEST(FileIoTest, ErrorCodes) {
  ScratchDir dir;
  int fd = 7;
  EXPECT_EQ(FileOpen(dir / "missing", kReadAccess, 0, kOpenExisting, &fd), kErrorNotFound);
  EXPECT_EQ(fd, -1);
  EXPECT_EQ(LastFileError(), kErrorNotFound);
  EXPECT_EQ(FileOpen(dir.path(), kWriteAccess, 0, kOpenExisting, &fd), kErrorInvalidParameter);
  EXPECT_EQ(FileOpen(dir / "x", kReadAccess, 0, kOpenExisting, nullptr), kErrorInvalidParameter);

  size_t n = 0;
  EXPECT_EQ(FileWrite(-1, "x", 1, &n), kErrorInvalidHandle);
  EXPECT_EQ(FileTruncate(-1), kErrorInvalidHandle);
  EXPECT_EQ(FileGetTime(-1, nullptr, nullptr, nullptr), kErrorInvalidHandle);
  EXPECT_EQ(FileSetTime(-1, nullptr, nullptr, nullptr), kErrorInvalidHandle);
  EXPECT_EQ(FileSeek(-1, 0, nullptr, kSeekBegin), 0xFFFFFFFFu);
  EXPECT_EQ(LastFileError(), kErrorInvalidHandle);

  // A later successful call clears the code.
  testing::WriteFile(dir / "ok", "");
  EXPECT_EQ(FileOpen(dir / "ok", kReadAccess, 0, kOpenExisting, &fd), 0u);
  EXPECT_EQ(LastFileError(), 0u);
  FileClose(fd);
}

TEST(FileIoTest, InjectedFailuresReachTheCaller) {
  ScratchDir dir;
  int fd = -1;
  ASSERT_EQ(FileOpen(dir / "f", kReadAccess | kWriteAccess, 0, kCreateAlways, &fd), 0u);
  size_t n = 0;
  {
    FaultInjector full(SysCall::kWrite, 0, ENOSPC);
    EXPECT_EQ(FileWrite(fd, "abc", 3, &n), kErrorInvalidParameter);
    EXPECT_TRUE(full.Fired());
  }
  {
    FaultInjector gone(SysCall::kRead, 0, ENOENT);
    char buffer[4];
    EXPECT_EQ(FileRead(fd, buffer, 4, &n), kErrorNotFound);
  }
  {
    FaultInjector truncate(SysCall::kTruncate, 0, EIO);
    EXPECT_EQ(FileTruncate(fd), kErrorInvalidParameter);
  }
  {
    // A failed time change is not reported.
    FaultInjector times(SysCall::kUtimes, 0, EPERM);
    FileTime t = FileTimeFromUnix(5);
    EXPECT_EQ(FileSetTime(fd, nullptr, nullptr, &t), 0u);
    EXPECT_TRUE(times.Fired());
  }
  FileClose(fd);
  {
    FaultInjector open(SysCall::kOpen, 0, EMFILE);
    EXPECT_EQ(FileOpen(dir / "f", kReadAccess, 0, kOpenExisting, &fd), kErrorInvalidParameter);
  }
}

}  // namespace
}  // namespace qorv
