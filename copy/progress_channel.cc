#include "copy/progress_channel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "base/text_convert.h"
#include "res/string_table.h"

namespace qorv {

// Holds the semaphore for one operation; released on every way out.
class ProgressChannel::Lock {
 public:
  explicit Lock(sem_t* semaphore) : semaphore_(semaphore) {
    while (sem_wait(semaphore_) != 0 && errno == EINTR) {
    }
  }
  ~Lock() { sem_post(semaphore_); }

 private:
  sem_t* semaphore_;
};

ProgressChannel::~ProgressChannel() {
  if (initialised_) sem_destroy(&lock_);
  if (ended_ >= 0) ::close(ended_);
}

void ProgressChannel::Init() {
  target_ = WideString();
  message_ = WideString();
  if (!initialised_) sem_init(&lock_, 0, 1);
  if (ended_ < 0) ended_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  initialised_ = true;
}

void ProgressChannel::Ended() {
  const uint64_t one = 1;
  if (ended_ >= 0 && ::write(ended_, &one, sizeof one) < 0) {
    // Full or gone: the front end still polls on its timeout.
  }
}

void ProgressChannel::SetJob(KitReader* reader, const WideString& target) {
  Lock lock(&lock_);
  cancel_ = false;
  code_ = 0;
  percent_ = 0;
  reader_ = reader;
  target_ = target;
  notice_ = WideString();
  unrestored_.clear();
  cause_ = FailureCause();
  size_t n = target_.size();
  if (n != 0 && target_[n - 1] != u'/' && target_[n - 1] != u'\\') target_.push_back(u'/');
}

void ProgressChannel::GetJob(KitReader** reader, WideString* target) {
  Lock lock(&lock_);
  *reader = reader_;
  *target = target_;
}

void ProgressChannel::RequestCancel() {
  Lock lock(&lock_);
  cancel_ = true;
}

bool ProgressChannel::IsCancelRequested() {
  Lock lock(&lock_);
  return cancel_;
}

void ProgressChannel::Post(uint32_t code, const WideString& message, int percent) {
  {
    Lock lock(&lock_);
    code_ = code;
    message_ = message;
    percent_ = percent;
  }
  if (observer_) observer_(code, message, percent);
}

void ProgressChannel::Read(uint32_t* code, WideString* message, int* percent) {
  Lock lock(&lock_);
  *code = code_;
  *message = message_;
  *percent = percent_;
}

void ProgressChannel::PostNotice(const WideString& notice) {
  Lock lock(&lock_);
  notice_ = notice;
}

WideString ProgressChannel::Notice() {
  Lock lock(&lock_);
  return notice_;
}

void ProgressChannel::SetUnrestored(const std::vector<UnrestoredFile>& files) {
  Lock lock(&lock_);
  unrestored_ = files;
}

std::vector<UnrestoredFile> ProgressChannel::Unrestored() {
  Lock lock(&lock_);
  return unrestored_;
}

WideString DescribeCause(const FailureCause& cause) {
  if (cause.empty()) return WideString();
  WideString text = LookupText(cause.what);
  if (!cause.path.empty()) text.append(Wide(": " + cause.path));
  if (!cause.reason.empty()) text.append(Wide(": " + cause.reason));
  return text;
}

void ProgressChannel::SetCause(const FailureCause& cause) {
  Lock lock(&lock_);
  cause_ = cause;
}

FailureCause ProgressChannel::Cause() {
  Lock lock(&lock_);
  return cause_;
}

void ProgressChannel::SetSummary(const RunPlan& summary) {
  Lock lock(&lock_);
  summary_ = summary;
}

RunPlan ProgressChannel::Summary() {
  Lock lock(&lock_);
  return summary_;
}

}  // namespace qorv
