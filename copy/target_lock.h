// One run per template directory at a time, across processes and users: a
// run holds an exclusive flock on the target directory itself from before
// it decides what to write until it has committed or rolled back. Keyed by
// the directory's identity, so every spelling of the path (links, "..",
// another TMPDIR) meets the same lock, and nothing is left behind.
// Used by the copy thread only.
#ifndef QORV_COPY_TARGET_LOCK_H_
#define QORV_COPY_TARGET_LOCK_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "fs/file_util.h"

namespace qorv {

// The process holding a flock on what `st` describes, from /proc/locks, and
// its user; false when none is found there.
bool FindFlockHolder(const struct stat& st, pid_t* pid, uid_t* owner);

class TargetLock {
 public:
  TargetLock() = default;
  TargetLock(const TargetLock&) = delete;
  TargetLock& operator=(const TargetLock&) = delete;
  ~TargetLock() { Release(); }

  // Locks the existing directory `directory`. While another run holds it,
  // calls `waiting` once and waits, polling, until the lock is free, until
  // `stopped` answers true (1223), or for at most `waitMs` when that is not
  // negative (170). Returns 0 once locked, also when the directory cannot be
  // opened to be locked (unreadable to this user): then nothing is held.
  // Anyone who can read a directory can lock it: a lock held by a process
  // of another user than this one or root is not waited for (170 at once),
  // and holder() names it; so is, without `waitMs`, one whose holder cannot
  // be found (the process that took it has ended; what holds it now is not
  // a run of ours).
  uint32_t Acquire(const std::string& directory, int waitMs, const std::function<void()>& waiting,
                   const std::function<bool()>& stopped);
  void Release();
  bool Held() const { return fd_.IsValid(); }
  // Who held the lock when Acquire() gave up at once: "process 123 of user
  // 65534 (nobody)"; empty otherwise.
  const std::string& holder() const { return holder_; }

 private:
  ScopedFd fd_;
  std::string holder_;
};

}  // namespace qorv

#endif  // QORV_COPY_TARGET_LOCK_H_
