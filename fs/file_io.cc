#include "fs/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fs/error_codes.h"
#include "fs/sys_calls.h"
#include "fs/trusted_path.h"

namespace qorv {

namespace {

constexpr int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
constexpr int64_t kTicksPerSecond = 10000000;

thread_local uint32_t tLastError = kErrorNone;

uint32_t Fail(uint32_t code) {
  tLastError = code;
  return code;
}

}  // namespace

FileTime FileTimeFromUnix(int64_t seconds) {
  return FileTime::FromTicks(static_cast<uint64_t>((seconds + kEpochDifference) * kTicksPerSecond));
}

int64_t UnixFromFileTime(const FileTime& time) {
  return static_cast<int64_t>(time.Ticks() / kTicksPerSecond) - kEpochDifference;
}

uint32_t CodeFromErrno(int error) {
  return error == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

uint32_t CodeOfFailedWrite(int error, uint32_t otherwise) {
  return error == ENOSPC || error == EDQUOT ? kErrorDiskFull : otherwise;
}

uint32_t LastFileError() { return tLastError; }

uint32_t FileOpen(const std::string& path, uint32_t access, uint32_t /*share*/,
                  uint32_t disposition, int* fd, mode_t permissions) {
  tLastError = kErrorNone;
  if (fd == nullptr) return Fail(kErrorInvalidParameter);
  *fd = -1;
  int flags;
  if ((access & kReadAccess) && (access & kWriteAccess)) {
    flags = O_RDWR;
  } else if (access & kWriteAccess) {
    flags = O_WRONLY;
  } else {
    flags = O_RDONLY;
  }
  if (disposition == kCreateAlways) flags |= O_CREAT;
  if (disposition == kCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == kTruncateExisting) flags |= O_TRUNC;
  int result;
  if (flags == O_RDONLY) {
    result = Sys().open(path.c_str(), flags, permissions);
  } else {
    // Written: in a directory reached without untrusted links.
    PathParent parent;
    result = OpenParentTrusted(path, &parent)
                 ? Sys().openat(parent.directory.Get(), parent.name.c_str(), flags, permissions)
                 : -1;
  }
  if (result < 0) {
    return Fail(disposition == kCreateNew && errno == EEXIST ? kErrorFileExists
                                                             : CodeFromErrno(errno));
  }
  *fd = result;
  return kErrorNone;
}

uint32_t FileRead(int fd, void* buffer, size_t count, size_t* countRead) {
  tLastError = kErrorNone;
  if (countRead == nullptr) return Fail(kErrorInvalidParameter);
  *countRead = 0;
  char* out = static_cast<char*>(buffer);
  while (*countRead < count) {
    ssize_t n = Sys().read(fd, out + *countRead, count - *countRead);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(CodeFromErrno(errno));
    }
    if (n == 0) break;
    *countRead += static_cast<size_t>(n);
  }
  return kErrorNone;
}

uint32_t FileWrite(int fd, const void* buffer, size_t count, size_t* countWritten) {
  tLastError = kErrorNone;
  if (fd == -1) return Fail(kErrorInvalidHandle);
  if (countWritten == nullptr) return Fail(kErrorInvalidParameter);
  errno = 0;
  ssize_t n = Sys().write(fd, buffer, count);
  *countWritten = n < 0 ? 0 : static_cast<size_t>(n);
  if (n < 0 || static_cast<size_t>(n) != count) return Fail(CodeFromErrno(errno));
  return kErrorNone;
}

uint32_t FileSeek(int fd, int32_t low, int32_t* high, uint32_t method) {
  tLastError = kErrorNone;
  if (fd == -1) {
    Fail(kErrorInvalidHandle);
    return 0xFFFFFFFFu;
  }
  int64_t offset = low;
  if (high != nullptr) offset = static_cast<int64_t>(*high) * 4294967296LL + low;
  int whence = method == kSeekCurrent ? SEEK_CUR : method == kSeekEnd ? SEEK_END : SEEK_SET;
  off64_t position = Sys().lseek(fd, offset, whence);
  if (position < 0) {
    Fail(CodeFromErrno(errno));
    return 0xFFFFFFFFu;
  }
  if (high != nullptr) *high = static_cast<int32_t>(static_cast<uint64_t>(position) >> 32);
  return static_cast<uint32_t>(position);
}

uint32_t FileClose(int fd) {
  if (Sys().close(fd) != 0) return Fail(CodeFromErrno(errno));
  return kErrorNone;
}

uint32_t FileGetTime(int fd, FileTime* creation, FileTime* access, FileTime* lastWrite) {
  tLastError = kErrorNone;
  struct stat st;
  if (fd == -1 || Sys().fstat(fd, &st) != 0) return Fail(kErrorInvalidHandle);
  if (creation != nullptr) *creation = FileTimeFromUnix(st.st_ctime);
  if (access != nullptr) *access = FileTimeFromUnix(st.st_atime);
  if (lastWrite != nullptr) *lastWrite = FileTimeFromUnix(st.st_mtime);
  return kErrorNone;
}

uint32_t FileSetTime(int fd, const FileTime* /*creation*/, const FileTime* /*access*/,
                     const FileTime* lastWrite) {
  tLastError = kErrorNone;
  if (fd == -1) return Fail(kErrorInvalidHandle);
  if (lastWrite == nullptr) return kErrorNone;
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(UnixFromFileTime(*lastWrite));
  times[0].tv_nsec = 0;
  times[1] = times[0];
  (void)Sys().futimens(fd, times);
  return kErrorNone;
}

uint32_t OpenForContent(const std::string& path, int* out, bool* fresh) {
  tLastError = kErrorNone;
  *out = -1;
  *fresh = true;
  PathParent parent;
  if (!OpenParentTrusted(path, &parent)) return Fail(CodeFromErrno(errno));
  const int dir = parent.directory.Get();
  const char* name = parent.name.c_str();
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
  int fd = Sys().openat(dir, name, kFlags, 0666);
  if (fd < 0 && errno == EEXIST) {
    // Only a file of our own goes, to be made again: anything else there
    // (a link, a pipe, a name with another link to it, another user's file)
    // may have been put there to have us write elsewhere.
    struct stat st;
    if (Sys().fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_nlink == 1 && st.st_uid == ::geteuid() && Sys().unlinkat(dir, name, 0) == 0) {
      fd = Sys().openat(dir, name, kFlags, 0666);
    } else {
      errno = EEXIST;
    }
  }
  if (fd < 0) return Fail(CodeFromErrno(errno));
  *out = fd;
  return kErrorNone;
}

uint32_t FinishContent(int fd, bool fresh, uint64_t size, const FileTime& lastWrite) {
  if (!fresh && Sys().ftruncate(fd, static_cast<off64_t>(size)) != 0) {
    const int error = errno;
    Sys().close(fd);
    errno = error;
    return Fail(CodeFromErrno(error));
  }
  FileSetTime(fd, nullptr, nullptr, &lastWrite);
  return FileClose(fd);
}

uint32_t FileTruncate(int fd) {
  tLastError = kErrorNone;
  if (fd == -1) return Fail(kErrorInvalidHandle);
  off64_t position = Sys().lseek(fd, 0, SEEK_CUR);
  if (position < 0 || Sys().ftruncate(fd, position) != 0) return Fail(CodeFromErrno(errno));
  return kErrorNone;
}

}  // namespace qorv
