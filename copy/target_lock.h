// One run per template directory at a time, across processes and users: a
// run holds an exclusive flock on the target directory itself from before
// it decides what to write until it has committed or rolled back. Keyed by
// the directory's identity, so every spelling of the path (links, "..",
// another TMPDIR) meets the same lock, and nothing is left behind.
// Used by the copy thread only.
#ifndef QORV_COPY_TARGET_LOCK_H_
#define QORV_COPY_TARGET_LOCK_H_

#include <cstdint>
#include <functional>
#include <string>

#include "fs/file_util.h"

namespace qorv {

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
  uint32_t Acquire(const std::string& directory, int waitMs, const std::function<void()>& waiting,
                   const std::function<bool()>& stopped);
  void Release();
  bool Held() const { return fd_.IsValid(); }

 private:
  ScopedFd fd_;
};

}  // namespace qorv

#endif  // QORV_COPY_TARGET_LOCK_H_
