#include "copy/target_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "fs/error_codes.h"
#include "fs/file_util.h"
#include "fs/trusted_path.h"

namespace qorv {

namespace {

constexpr int kPollMs = 50;

// Polls in a row that find the lock held by nobody that can be found before
// it counts as held by an unknown process.
constexpr int kUnknownHolderPolls = 3;

int64_t NowMs() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

bool FindFlockHolder(const struct stat& st, pid_t* pid, uid_t* owner) {
  std::string locks;
  if (!ReadFileToString("/proc/locks", &locks)) return false;
  size_t start = 0;
  while (start < locks.size()) {
    size_t end = locks.find('\n', start);
    if (end == std::string::npos) end = locks.size();
    const std::string line = locks.substr(start, end - start);
    start = end + 1;
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a waiter's line
    // has "->" after the number.
    char kind[16] = {};
    long holder = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%llu", kind, &holder, &major, &minor,
                    &inode) != 5 ||
        std::strcmp(kind, "FLOCK") != 0 || major != ::major(st.st_dev) ||
        minor != ::minor(st.st_dev) || inode != st.st_ino) {
      continue;
    }
    // Its effective user, from its status ("Uid: real effective saved
    // file-system"): the owner of /proc/PID is root for a process that
    // changed its user.
    std::string status;
    if (!ReadFileToString("/proc/" + std::to_string(holder) + "/status", &status)) continue;
    const size_t uid = status.find("\nUid:");
    unsigned long real = 0;
    unsigned long effective = 0;
    if (uid == std::string::npos ||
        std::sscanf(status.c_str() + uid + 5, "%lu %lu", &real, &effective) != 2) {
      continue;
    }
    *pid = static_cast<pid_t>(holder);
    *owner = static_cast<uid_t>(effective);
    return true;
  }
  return false;
}

uint32_t TargetLock::Acquire(const std::string& directory, int waitMs,
                             const std::function<void()>& waiting,
                             const std::function<bool()>& stopped) {
  Release();
  holder_.clear();
  const int64_t deadline = NowMs() + (waitMs < 0 ? 0 : waitMs);
  bool toldWaiting = false;
  int unknown = 0;  // polls in a row that found no holder
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
    if (error != EWOULDBLOCK && error != EINTR) return kErrorNone;  // no locks here
    // Any reader of the directory can lock it: only a run of this user or
    // of root is waited for. A lock whose holder cannot be found (the
    // process that took it has ended, and what holds it now is unknown) is
    // not one of ours either: our runs hold their own locks.
    struct stat held;
    pid_t pid = 0;
    uid_t owner = 0;
    bool known = false;
    if (error == EWOULDBLOCK && StatOf(fd.Get(), &held)) {
      if (FindFlockHolder(held, &pid, &owner)) {
        unknown = 0;
        known = true;
        if (!TrustedOwner(owner)) {
          holder_ = "process " + std::to_string(pid) + " of user " + std::to_string(owner);
          if (const struct passwd* user = ::getpwuid(owner)) {
            holder_ += std::string(" (") + user->pw_name + ")";
          }
          return kErrorBusy;
        }
      } else if (++unknown >= kUnknownHolderPolls && waitMs < 0) {
        // Seen a few polls running, not a lock released between the two
        // looks.
        holder_ = "a process that cannot be found (the one that took the lock has ended)";
        return kErrorBusy;
      }
    }
    fd.Close();
    if (!toldWaiting && (known || unknown >= kUnknownHolderPolls)) {
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
