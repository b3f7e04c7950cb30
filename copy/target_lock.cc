#include "copy/target_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "fs/error_codes.h"
#include "fs/file_util.h"

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
    ScopedFd fd = OpenFile(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!fd.IsValid()) return kErrorNone;
    if (LockExclusive(fd.Get(), false)) {
      // The holder before us may have removed the directory (a rollback of
      // the run that created it) or put another in its place: the lock
      // counts only on what the path names now.
      struct stat held;
      struct stat named;
      if (StatOf(fd.Get(), &held) && Stat(directory, &named) && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        fd_ = std::move(fd);
        return kErrorNone;
      }
      fd.Close();
      struct stat st;
      if (!Stat(directory, &st)) return kErrorPathNotFound;
      continue;
    }
    int error = errno;
    fd.Close();
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

void TargetLock::Release() { fd_.Close(); }

}  // namespace qorv
