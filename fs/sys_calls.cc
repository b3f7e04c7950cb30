#include "fs/sys_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace qorv {

namespace {

int RealOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags | O_CLOEXEC | O_LARGEFILE, mode);
}
int RealStat(const char* path, struct stat* st) { return ::stat(path, st); }
int RealLstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int RealFstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int RealStatvfs(const char* path, struct statvfs* st) { return ::statvfs(path, st); }

const SysCalls kReal = {
    RealOpen,  ::read,    ::pread64, ::write,  ::close,  ::lseek64,    RealFstat,   RealStat,
    RealLstat, ::futimens, ::utimensat, ::ftruncate64, ::fsync, ::fchmod, ::mkdir,
    ::rmdir,   ::unlink,  ::rename, ::symlink, ::readlink, ::opendir,   RealStatvfs,
    ::syncfs,
};

std::atomic<const SysCalls*> gActive{&kReal};

}  // namespace

const SysCalls& Sys() { return *gActive.load(std::memory_order_acquire); }

const SysCalls& RealSysCalls() { return kReal; }

const SysCalls* SetSysCallsForTesting(const SysCalls* table) {
  return gActive.exchange(table == nullptr ? &kReal : table, std::memory_order_acq_rel);
}

}  // namespace qorv
