#include "copy/file_writers.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <functional>

#include "fs/error_codes.h"
#include "fs/file_util.h"

namespace qorv {

namespace {

// Bytes queued before Write() waits: the copy thread stays ahead of the
// writers without holding much of the kit in memory.
constexpr size_t kQueuedBytes = size_t{16} << 20;
// Files a helper takes from its queue at once.
constexpr size_t kBatch = 32;

}  // namespace

uint32_t WriteSmallFile(const std::string& path, const std::string& bytes, const FileTime& time,
                        Digest* digest) {
  int out = -1;
  bool fresh = false;
  uint32_t code = OpenForContent(path, &out, &fresh);
  if (code != 0) return code;
  size_t written = 0;
  code = bytes.empty() ? kErrorNone : FileWrite(out, bytes.data(), bytes.size(), &written);
  if (code != 0) {
    const int error = errno;
    FileClose(out);
    errno = error;
    return code;
  }
  if (digest != nullptr) *digest = Sha256Of(bytes.data(), bytes.size());
  return FinishContent(out, fresh, bytes.size(), time);
}

FileWriters::FileWriters(size_t threads, bool digests)
    : queues_(std::max<size_t>(threads, 1)), digests_(digests) {
  for (size_t i = 0; i < queues_.size(); ++i) threads_.emplace_back([this, i] { Work(i); });
}

FileWriters::~FileWriters() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void FileWriters::Write(size_t entry, std::string path, std::string bytes, const FileTime& time) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitForWriters(lock, [this] { return queuedBytes_ < kQueuedBytes || failure_ != 0; });
  if (failure_ != 0) return;  // the run fails anyway
  queuedBytes_ += bytes.size();
  const size_t queue = std::hash<std::string>{}(path.substr(0, path.rfind('/'))) % queues_.size();
  // Only a helper whose queue was empty may be asleep: waking the helpers
  // for every small file would cost more than writing it.
  const bool wake = queues_[queue].empty();
  queues_[queue].push_back(Job{entry, std::move(path), std::move(bytes), time});
  ++queued_;
  if (wake) work_.notify_all();
}

template <typename Ready>
void FileWriters::WaitForWriters(std::unique_lock<std::mutex>& lock, Ready ready) {
  callerWaits_ = true;
  done_.wait(lock, ready);
  callerWaits_ = false;
}

bool FileWriters::Failed() const { return failed_.load(std::memory_order_acquire); }

void FileWriters::Work(size_t queue) {
  std::deque<Job>& mine = queues_[queue];
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this, &mine] { return !mine.empty() || ending_; });
    if (mine.empty()) return;
    // Files are taken a few dozen at a time: the lock is taken twice per
    // batch, not per file.
    std::vector<Job> batch;
    while (!mine.empty() && batch.size() < kBatch) {
      batch.push_back(std::move(mine.front()));
      mine.pop_front();
    }
    queued_ -= batch.size();
    busy_ += batch.size();
    lock.unlock();
    std::vector<Written> written;
    size_t bytes = 0;
    uint32_t failure = kErrorNone;
    std::string failedPath;
    int error = 0;
    RefusedLink refused;
    for (Job& job : batch) {
      bytes += job.bytes.size();
      // Once one file has failed the run is rolled back: the others are
      // dropped, not written.
      if (failed_.load(std::memory_order_acquire)) continue;
      Digest digest{};
      uint32_t code = kErrorNone;
      try {
        code = WriteSmallFile(job.path, job.bytes, job.time, digests_ ? &digest : nullptr);
      } catch (const std::exception&) {
        code = kErrorInvalidParameter;
      }
      if (code == kErrorNone) {
        written.push_back(Written{job.entry, digest});
        continue;
      }
      failed_.store(true, std::memory_order_release);
      failure = code;
      failedPath = job.path;
      error = errno;
      // This thread's walk refused it: handed over with the failure.
      if (error == ELOOP) TakeRefusedLink(&refused);
    }
    lock.lock();
    busy_ -= batch.size();
    queuedBytes_ -= bytes;
    if (failure != kErrorNone && failure_ == kErrorNone) {
      failure_ = failure;
      failedPath_ = failedPath;
      error_ = error;
      refused_ = refused;
    }
    written_.insert(written_.end(), written.begin(), written.end());
    if (callerWaits_) done_.notify_one();
  }
}

uint32_t FileWriters::Wait(std::vector<Written>* written, std::string* failedPath, int* error,
                           RefusedLink* refused) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitForWriters(lock, [this] { return queued_ == 0 && busy_ == 0; });
  written->insert(written->end(), written_.begin(), written_.end());
  written_.clear();
  *failedPath = failedPath_;
  *error = error_;
  if (refused != nullptr) *refused = refused_;
  return failure_;
}

}  // namespace qorv
