// SIGINT, SIGTERM and SIGHUP as events the front ends take at their own pace.
// A signal may arrive while the copy has just moved a user's file into the
// backup tree; ending the process there would leave the target half
// written. So the three signals are blocked in every thread and one thread
// takes them with sigwait(), writing each number as one byte into a pipe.
// The wizard and the text front end watch the pipe's read end: during the
// copy they ask the job to roll back and end when it has; otherwise they end
// at once, as the signal would have ended them.
#ifndef QORV_INSTALL_INTERRUPTS_H_
#define QORV_INSTALL_INTERRUPTS_H_

namespace qorv {

class InterruptWatch {
 public:
  // Blocks the three signals in the calling thread, and so in every thread
  // created after it, and starts the taking thread. Call once, first thing
  // in main(), before any other thread exists. False when the pipe or the
  // thread could not be made (the signals are then left as they were).
  static bool Start();
  // The pipe's read end (non-blocking); -1 before Start.
  static int fd();
  // One signal number taken from the pipe; 0 when none is waiting.
  static int Take() { return TakeFrom(fd()); }
  // The same from any such pipe (tests give the front ends their own).
  static int TakeFrom(int fd);
  // For a child process, between fork and exec: unblocks the three signals,
  // which a program started from here must receive as usual.
  static void UnblockInChild();
  // Ends the process as `signal` would have ended it: its default action,
  // unblocked, delivered to this thread.
  [[noreturn]] static void EndBySignal(int signal);
};

}  // namespace qorv

#endif  // QORV_INSTALL_INTERRUPTS_H_
