// Makes one chosen system call of the file layer fail, for tests of what
// happens on a full disk, a vanished directory or a failed rename. While an
// injector lives, the nth call (0-based) of its kind fails with its errno;
// all other calls run for real.
// `times` makes that many calls in a row fail. One injector at a time.
#ifndef QORV_TESTING_FAULT_INJECTION_H_
#define QORV_TESTING_FAULT_INJECTION_H_

#include <functional>

#include "fs/sys_calls.h"

namespace qorv::testing {

enum class SysCall {
  kOpen,
  kRead,
  kWrite,
  kClose,
  kRename,
  kMkdir,
  kTruncate,
  kUtimes,
  kFsync,
  kUnlink,
  kRmdir,
  kStatvfs,
  kFchmod,
  kSyncfs,
  kResolve  // a directory opened on the way to a file, or to list it
};

class FaultInjector {
 public:
  // Calls nth .. nth + times - 1 fail; nth < 0 never fails: the injector
  // only counts.
  FaultInjector(SysCall call, int nth, int error, int times = 1);
  // Runs `action` at the nth call instead of failing it; the call then runs
  // for real. For doing something at an exact point of a run (a cancel in
  // the middle of a file).
  FaultInjector(SysCall call, int nth, std::function<void()> action);
  ~FaultInjector();
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // Calls of the kind seen so far, the failed one included.
  int Count() const;
  bool Fired() const;

 private:
  const SysCalls* previous_;
};

}  // namespace qorv::testing

#endif  // QORV_TESTING_FAULT_INJECTION_H_
