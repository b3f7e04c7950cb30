#include "copy/copy_worker.h"

#include "copy/copy_job.h"
#include "fs/error_codes.h"
#include "res/string_table.h"

namespace qorv {

int CopyWorker::Start(ProgressChannel& channel) {
  Join();
  stop_.store(false);
  channel_ = &channel;
  startResult_ = -1;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) == 0) {
    startResult_ = pthread_create(&thread_, &attributes, &CopyWorker::WorkerMain, this);
    pthread_attr_destroy(&attributes);
  }
  return startResult_;
}

void CopyWorker::Join() {
  if (startResult_ == 0) {
    pthread_join(thread_, nullptr);
    startResult_ = -1;
  }
}

void* CopyWorker::WorkerMain(void* argument) {
  auto* worker = static_cast<CopyWorker*>(argument);
  if (worker->stop_.load()) {
    // Stopped before the job began: nothing was changed, and the UI waits
    // for a final report all the same.
    worker->channel_->Post(kErrorCancelled, LookupText("IDS_CANCEL_FINISH"), 0);
    return nullptr;
  }
  // One run only: a second run would rewrite files while the final page is
  // shown, and could be cut short by the end of the process.
  try {
    CopyJob job;
    job.SetFinishPauseMs(worker->finishPauseMs_);
    job.SetLockWaitMs(worker->lockWaitMs_);
    job.SetOnCommitted(worker->onCommitted_);
    job.SetUninstall(worker->uninstall_);
    job.Run(*worker->channel_);
  } catch (...) {
    // Out of memory in the middle of a run: report it rather than let the
    // exception end the process; the UI then shows the error page.
    worker->channel_->Post(kErrorInvalidParameter, LookupText("IDS_INSTALL_ERROR"), 0);
  }
  worker->channel_->Ended();
  return nullptr;
}

}  // namespace qorv
