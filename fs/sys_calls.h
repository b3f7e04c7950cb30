// The system calls of the file layer, gathered in one table so that tests can
// make a chosen call fail (a full disk, a vanished directory) without
// permission tricks, which do nothing for root. Production code never
// replaces the table; it only calls through Sys(), and only inside fs/: the
// layers above use the file layer's functions.
#ifndef QORV_FS_SYS_CALLS_H_
#define QORV_FS_SYS_CALLS_H_

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <time.h>

namespace qorv {

struct SysCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*pread)(int fd, void* buffer, size_t count, off64_t offset);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*close)(int fd);
  off64_t (*lseek)(int fd, off64_t offset, int whence);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*futimens)(int fd, const struct timespec times[2]);
  int (*utimensat)(int dirfd, const char* path, const struct timespec times[2], int flags);
  int (*ftruncate)(int fd, off64_t length);
  int (*fsync)(int fd);
  int (*fdatasync)(int fd);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*mkdir)(const char* path, mode_t mode);
  int (*rmdir)(const char* path);
  int (*unlink)(const char* path);
  int (*rename)(const char* from, const char* to);
  int (*symlink)(const char* target, const char* path);
  ssize_t (*readlink)(const char* path, char* buffer, size_t size);
  DIR* (*opendir)(const char* path);
  struct dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  int (*statvfs)(const char* path, struct statvfs* st);
  int (*syncfs)(int fd);
  // Relative to a directory's descriptor: how changes inside a tree that
  // others can write are made without following their links.
  int (*openat)(int dirfd, const char* name, int flags, mode_t mode);
  int (*fstatat)(int dirfd, const char* name, struct stat* st, int flags);
  int (*mkdirat)(int dirfd, const char* name, mode_t mode);
  int (*unlinkat)(int dirfd, const char* name, int flags);
  int (*renameat)(int fromfd, const char* from, int tofd, const char* to);
  int (*symlinkat)(const char* target, int dirfd, const char* name);
  ssize_t (*readlinkat)(int dirfd, const char* name, char* buffer, size_t size);
  DIR* (*fdopendir)(int fd);
  int (*flock)(int fd, int operation);
  void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
  int (*munmap)(void* address, size_t length);
};

// The table in use. Thread-safe to call.
const SysCalls& Sys();

// The table of the real calls.
const SysCalls& RealSysCalls();

// Installs `table` (which must outlive its use) and returns the previous one.
// For tests only; call while no other thread uses the file layer.
const SysCalls* TEST_SetSysCalls(const SysCalls* table);

}  // namespace qorv

#endif  // QORV_FS_SYS_CALLS_H_
