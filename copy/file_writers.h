// Writes new files on helper threads while the copy thread goes on with the
// next entries of the kit: creating many small files costs the kernel far
// more than their bytes do, and two threads creating them take little more
// than half the time of one. For files that do not exist yet (nothing to
// back up), whose bytes are already in memory; the copy thread has made
// their directories and announced them in the journal.
//
// Write() and Wait() are called by the copy thread only; Wait() must come
// before anything is rolled back or committed.
#ifndef QORV_COPY_FILE_WRITERS_H_
#define QORV_COPY_FILE_WRITERS_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_io.h"
#include "fs/trusted_path.h"
#include "kit/kit_crypto.h"

namespace qorv {

// Makes `path` hold `bytes` with the last-write time `time` (whole
// seconds): created (0666 less the umask) or, when it exists after all,
// cut to them. `*digest`, when given, receives their SHA-256. 0 or a
// file-layer code, errno set.
uint32_t WriteSmallFile(const std::string& path, const std::string& bytes, const FileTime& time,
                        Digest* digest);

class FileWriters {
 public:
  struct Written {
    size_t entry;
    Digest digest;
  };

  // `threads` helpers, at least one; without `digests` the files written
  // are reported without their SHA-256 (all zero).
  explicit FileWriters(size_t threads, bool digests = true);
  ~FileWriters();
  FileWriters(const FileWriters&) = delete;
  FileWriters& operator=(const FileWriters&) = delete;

  // Queues the file; waits while the queue holds many bytes already.
  void Write(size_t entry, std::string path, std::string bytes, const FileTime& time);
  // Whether a file has failed: queuing more is of no use.
  bool Failed() const;
  // Waits until every queued file is written or has failed. Returns 0 and
  // adds the files written to `*written`, or the code of the first failure,
  // with its path and errno, and the link the writer refused when that is
  // why (ELOOP).
  uint32_t Wait(std::vector<Written>* written, std::string* failedPath, int* error,
                RefusedLink* refused = nullptr);

 private:
  struct Job {
    size_t entry;
    std::string path;
    std::string bytes;
    FileTime time;
  };
  void Work(size_t queue);
  // The caller's wait, under `lock`, until `ready()`: woken by the helpers
  // as they finish files.
  template <typename Ready>
  void WaitForWriters(std::unique_lock<std::mutex>& lock, Ready ready);

  mutable std::mutex mutex_;
  std::condition_variable work_;  // the helpers wait for files
  std::condition_variable done_;  // the caller waits for room, or the end
  bool callerWaits_ = false;
  std::atomic<bool> failed_{false};  // failure_ is set, or about to be
  // One queue per helper, a directory's files all in one of them: two
  // threads creating files in one directory only wait for each other's
  // lock on it.
  std::vector<std::deque<Job>> queues_;
  size_t queued_ = 0;  // jobs in all queues
  size_t queuedBytes_ = 0;
  size_t busy_ = 0;  // jobs taken and not yet done
  bool ending_ = false;
  std::vector<Written> written_;
  uint32_t failure_ = 0;
  std::string failedPath_;
  int error_ = 0;
  RefusedLink refused_;
  bool digests_;
  std::vector<std::thread> threads_;
};

}  // namespace qorv

#endif  // QORV_COPY_FILE_WRITERS_H_
