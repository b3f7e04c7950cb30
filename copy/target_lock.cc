#include "copy/target_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "fs/error_codes.h"
#include "fs/sys_calls.h"

namespace qorv {

namespace {

constexpr int kPollMs = 50;

int64_t NowMs() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

uint32_t TargetLock::Acquire(const std::string& directory, int waitMs,
                             const std::function<void()>& waiting,
                             const std::function<bool()>& stopped) {
  Release();
  const int64_t deadline = NowMs() + (waitMs < 0 ? 0 : waitMs);
  bool toldWaiting = false;
  for (;;) {
    int fd = Sys().open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return kErrorNone;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // The holder before us may have removed the directory (a rollback of
      // the run that created it) or put another in its place: the lock
      // counts only on what the path names now.
      struct stat held;
      struct stat named;
      if (Sys().fstat(fd, &held) == 0 && Sys().stat(directory.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        fd_ = fd;
        return kErrorNone;
      }
      Sys().close(fd);
      struct stat st;
      if (Sys().stat(directory.c_str(), &st) != 0) return kErrorPathNotFound;
      continue;
    }
    int error = errno;
    Sys().close(fd);
    if (error != EWOULDBLOCK && error != EINTR) return kErrorNone;  // no locks here
    if (!toldWaiting) {
      toldWaiting = true;
      if (waiting) waiting();
    }
    if (stopped && stopped()) return kErrorCancelled;
    if (waitMs >= 0 && NowMs() >= deadline) return kErrorBusy;
    ::usleep(kPollMs * 1000);
  }
}

void TargetLock::Release() {
  if (fd_ >= 0) Sys().close(fd_);
  fd_ = -1;
}

}  // namespace qorv
