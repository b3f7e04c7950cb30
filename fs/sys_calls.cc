#include "fs/sys_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace qorv {

namespace {

int RealOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags | O_CLOEXEC | O_LARGEFILE, mode);
}
int RealStat(const char* path, struct stat* st) { return ::stat(path, st); }
int RealLstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int RealFstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int RealOpenat(int dirfd, const char* name, int flags, mode_t mode) {
  return ::openat(dirfd, name, flags | O_CLOEXEC | O_LARGEFILE, mode);
}
int RealFstatat(int dirfd, const char* name, struct stat* st, int flags) {
  return ::fstatat(dirfd, name, st, flags);
}
int RealStatvfs(const char* path, struct statvfs* st) { return ::statvfs(path, st); }

// Named fields: two calls of the same signature can never trade places.
const SysCalls kReal = {
    .open = RealOpen,
    .read = ::read,
    .pread = ::pread64,
    .write = ::write,
    .close = ::close,
    .lseek = ::lseek64,
    .fstat = RealFstat,
    .stat = RealStat,
    .lstat = RealLstat,
    .futimens = ::futimens,
    .utimensat = ::utimensat,
    .ftruncate = ::ftruncate64,
    .fsync = ::fsync,
    .fdatasync = ::fdatasync,
    .fchmod = ::fchmod,
    .fchown = ::fchown,
    .mkdir = ::mkdir,
    .rmdir = ::rmdir,
    .unlink = ::unlink,
    .rename = ::rename,
    .symlink = ::symlink,
    .readlink = ::readlink,
    .opendir = ::opendir,
    .readdir = ::readdir,
    .closedir = ::closedir,
    .statvfs = RealStatvfs,
    .syncfs = ::syncfs,
    .openat = RealOpenat,
    .fstatat = RealFstatat,
    .mkdirat = ::mkdirat,
    .unlinkat = ::unlinkat,
    .renameat = ::renameat,
    .symlinkat = ::symlinkat,
    .readlinkat = ::readlinkat,
    .fdopendir = ::fdopendir,
    .flock = ::flock,
    .mmap = ::mmap,
    .munmap = ::munmap,
};

std::atomic<const SysCalls*> gActive{&kReal};

}  // namespace

const SysCalls& Sys() { return *gActive.load(std::memory_order_acquire); }

const SysCalls& RealSysCalls() { return kReal; }

const SysCalls* TEST_SetSysCalls(const SysCalls* table) {
  return gActive.exchange(table == nullptr ? &kReal : table, std::memory_order_acq_rel);
}

}  // namespace qorv
