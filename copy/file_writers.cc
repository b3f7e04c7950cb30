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
  *digest = Sha256Of(bytes.data(), bytes.size());
  return FinishContent(out, fresh, bytes.size(), time);
}

FileWriters::FileWriters(size_t threads) : queues_(std::max<size_t>(threads, 1)) {
  for (size_t i = 0; i < queues_.size(); ++i) threads_.emplace_back([this, i] { Work(i); });
}

FileWriters::~FileWriters() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void FileWriters::Write(size_t entry, std::string path, std::string bytes, const FileTime& time) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queuedBytes_ < kQueuedBytes || failure_ != 0; });
  if (failure_ != 0) return;  // the run fails anyway
  queuedBytes_ += bytes.size();
  const size_t queue = std::hash<std::string>{}(path.substr(0, path.rfind('/'))) % queues_.size();
  queues_[queue].push_back(Job{entry, std::move(path), std::move(bytes), time});
  ++queued_;
  changed_.notify_all();
}

bool FileWriters::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_ != 0;
}

void FileWriters::Work(size_t queue) {
  std::deque<Job>& mine = queues_[queue];
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this, &mine] { return !mine.empty() || ending_; });
    if (mine.empty()) return;
    Job job = std::move(mine.front());
    mine.pop_front();
    --queued_;
    ++busy_;
    // Once one file has failed the run is rolled back: the others are
    // dropped, not written.
    const bool skip = failure_ != 0;
    lock.unlock();
    Digest digest{};
    uint32_t code = kErrorNone;
    int error = 0;
    if (!skip) {
      try {
        code = WriteSmallFile(job.path, job.bytes, job.time, &digest);
        error = errno;
      } catch (const std::exception&) {
        code = kErrorInvalidParameter;
      }
    }
    lock.lock();
    --busy_;
    queuedBytes_ -= job.bytes.size();
    if (skip) {
    } else if (code != 0) {
      if (failure_ == 0) {
        failure_ = code;
        failedPath_ = job.path;
        error_ = error;
      }
    } else {
      written_.push_back(Written{job.entry, digest});
    }
    changed_.notify_all();
  }
}

uint32_t FileWriters::Wait(std::vector<Written>* written, std::string* failedPath, int* error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queued_ == 0 && busy_ == 0; });
  written->insert(written->end(), written_.begin(), written_.end());
  written_.clear();
  *failedPath = failedPath_;
  *error = error_;
  return failure_;
}

}  // namespace qorv
