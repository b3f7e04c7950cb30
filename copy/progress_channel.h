// The one piece of state the UI thread and the copy thread share: the job's
// inputs, a cancel flag, and the job's latest report (error code, message,
// percent). An unnamed semaphore of value 1 serialises every access, and a
// report is always written and read whole, so the UI never pairs one post's
// code with another's message. A post replaces the previous report: the UI
// sees the latest state when it polls.
#ifndef QORV_COPY_PROGRESS_CHANNEL_H_
#define QORV_COPY_PROGRESS_CHANNEL_H_

#include <semaphore.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text_string.h"
#include "copy/run_plan.h"

namespace qorv {

class KitReader;

// A file a rolled-back run could not put back, and where its old version is.
struct UnrestoredFile {
  WideString path;
  WideString backup;
};

// Why a run failed: what it was doing (the key of our words for it), on
// which path, and the system's reason. Empty `what`: no cause recorded.
struct FailureCause {
  const char* what = nullptr;  // "IDS_CAUSE_WRITE", ...
  std::string path;
  std::string reason;  // strerror's text, or figures
  bool empty() const { return what == nullptr; }
};
// "<what, in the current language>: <path>: <reason>".
WideString DescribeCause(const FailureCause& cause);

class ProgressChannel {
 public:
  ProgressChannel() = default;
  ProgressChannel(const ProgressChannel&) = delete;
  ProgressChannel& operator=(const ProgressChannel&) = delete;
  ~ProgressChannel();

  // Empties target and message and creates the semaphore. Call once, before
  // any other operation.
  void Init();
  // Clears cancel flag, error and percent; keeps the message. The target gets
  // a final "/" unless it is empty or ends in "/" or a backslash.
  void SetJob(KitReader* reader, const WideString& target);
  void GetJob(KitReader** reader, WideString* target);
  // Asks the running job to stop; it rolls back and then reports 1223.
  void RequestCancel();
  bool IsCancelRequested();
  void Post(uint32_t code, const WideString& message, int percent);
  void Read(uint32_t* code, WideString* message, int* percent);
  // A text shown beside the progress while it is set (the run waits for
  // another installation, say); empty: none.
  void PostNotice(const WideString& notice);
  WideString Notice();
  // Set by a failed or cancelled run before its final report when its
  // rollback could not put every file back: then the target is not as it
  // was, and the front ends must not say it is.
  void SetUnrestored(const std::vector<UnrestoredFile>& files);
  std::vector<UnrestoredFile> Unrestored();
  // Set by a run before its final report: what it did to each file (on
  // failure or cancel, what it had done before it rolled back).
  void SetSummary(const RunPlan& summary);
  RunPlan Summary();
  // Set by a failed run before its final report.
  void SetCause(const FailureCause& cause);
  FailureCause Cause();

  // A descriptor that turns readable once the job has returned (Ended()),
  // so that a front end waiting in poll() wakes at once; -1 when none could
  // be made.
  int EndedFd() const { return ended_; }
  void Ended();

  // Tests only: called after every Post, outside the lock, on the posting
  // thread.
  void TEST_SetPostObserver(std::function<void(uint32_t, const WideString&, int)> observer) {
    observer_ = std::move(observer);
  }

 private:
  class Lock;

  sem_t lock_;
  bool initialised_ = false;
  int ended_ = -1;
  KitReader* reader_ = nullptr;
  WideString target_;
  bool cancel_ = false;
  uint32_t code_ = 0;
  WideString message_;
  int percent_ = 0;
  WideString notice_;
  std::vector<UnrestoredFile> unrestored_;
  RunPlan summary_;
  FailureCause cause_;
  std::function<void(uint32_t, const WideString&, int)> observer_;
};

}  // namespace qorv

#endif  // QORV_COPY_PROGRESS_CHANNEL_H_
