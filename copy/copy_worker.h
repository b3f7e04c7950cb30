// Owns the copy thread. Start() runs one copy job on a new thread with the
// given channel; the thread ends when that run has ended (committed, rolled
// back, or cancelled and rolled back). It never calls the toolkit: it talks
// to the UI only through the channel.
#ifndef QORV_COPY_COPY_WORKER_H_
#define QORV_COPY_COPY_WORKER_H_

#include <pthread.h>

#include <atomic>
#include <utility>

#include "copy/progress_channel.h"
#include "copy/run_journal.h"

namespace qorv {

class CopyWorker {
 public:
  CopyWorker() = default;
  CopyWorker(const CopyWorker&) = delete;
  CopyWorker& operator=(const CopyWorker&) = delete;
  // Waits for a running copy to end, so that the process never ends between
  // moving an old file away and writing the new one.
  ~CopyWorker() { Join(); }

  void Reset() { stop_.store(false); }
  // Starts the thread. Returns pthread_create's result (0 on success).
  int Start(ProgressChannel& channel);
  // A stop asked for before the thread runs its job keeps it from running;
  // the thread then reports the cancel (1223) at once.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }
  // Waits for the thread, if one was started and not yet joined.
  void Join();
  // Pause after a successful run, before the thread ends (ms).
  void SetFinishPauseMs(int ms) { finishPauseMs_ = ms; }
  // Given to the job (CopyJob::SetLockWaitMs); set before Start.
  void SetLockWaitMs(int ms) { lockWaitMs_ = ms; }
  // Given to the job (CopyJob::SetOnCommitted); set before Start.
  void SetOnCommitted(CommittedAction action) { onCommitted_ = std::move(action); }
  // Given to the job (CopyJob::SetUninstall); set before Start.
  void SetUninstall(bool uninstall) { uninstall_ = uninstall; }

 private:
  static void* WorkerMain(void* worker);

  ProgressChannel* channel_ = nullptr;
  std::atomic<bool> stop_{false};
  pthread_t thread_{};
  int startResult_ = -1;
  int finishPauseMs_ = 1000;
  int lockWaitMs_ = -1;
  CommittedAction onCommitted_;
  bool uninstall_ = false;
};

}  // namespace qorv

#endif  // QORV_COPY_COPY_WORKER_H_
