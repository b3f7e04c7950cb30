// Power cuts as a test: the changes a run makes to the file system are
// recorded through the file layer's system-call table, then every state a
// power cut could leave is rebuilt from them.
//
// The model is a journaling file system such as ext4 (data=ordered) or XFS,
// one or several of them:
//  - on one file system, metadata operations (create, rename, unlink, mkdir,
//    rmdir, truncate, times, modes) reach the disk in the order they were
//    made, so a cut keeps a prefix of them;
//  - file systems are independent: one may still hold back its metadata
//    operations since its last directory flush (fsync of a directory, or
//    syncfs of it) while another's later ones are on disk. A file's own
//    fsync is not counted as such a barrier: it is one on ext4, which
//    commits its whole journal, but not on every file system, and names
//    are only promised durable through their directory;
//  - bytes written to a file and not flushed since (fsync or fdatasync of
//    that file, or syncfs of its file system) may be missing, so such a
//    file can be left empty.
#ifndef QORV_TESTING_CRASH_STATES_H_
#define QORV_TESTING_CRASH_STATES_H_

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace qorv::testing {

struct FileChange {
  enum Kind {
    kCreate,
    kWrite,
    kTruncate,
    kRename,
    kUnlink,
    kMkdir,
    kRmdir,
    kTimes,
    kMode,
    kFlushFile,
    kFlushDirectory,
    kFlushAll
  } kind = kCreate;
  std::string path;  // absolute
  std::string to;    // kRename
  ino_t inode = 0;   // kCreate, kWrite, kTruncate, kFlushFile
  off_t offset = 0;  // kWrite; the length for kTruncate
  std::string data;  // kWrite
  struct timespec times[2] = {};
  mode_t mode = 0;
  dev_t device = 0;  // the file system the change was made on
};

// What a power cut after the first `count` changes left on disk: all of
// them, except that file system `lagging` (when not 0) had not yet written
// its metadata changes from `lagFrom` on.
struct CutState {
  size_t count = 0;
  dev_t lagging = 0;
  size_t lagFrom = 0;
};

// Every state a cut may leave: one per point, and per point, for each file
// system, each later start of what it still held back.
std::vector<CutState> CutStatesOf(const std::vector<FileChange>& changes);

// The file systems the changes were made on.
std::set<dev_t> DevicesOf(const std::vector<FileChange>& changes);

// While it lives, every mutating call of the file layer on a path under
// `root` is recorded (and made for real). One recorder at a time; calls
// from several threads are recorded in the order they were made.
class ChangeRecorder {
 public:
  explicit ChangeRecorder(const std::string& root);
  ~ChangeRecorder();
  ChangeRecorder(const ChangeRecorder&) = delete;
  ChangeRecorder& operator=(const ChangeRecorder&) = delete;
  std::vector<FileChange> Take();
  // Makes the `nth` write (0-based) to a file under `prefix` fail with
  // ENOSPC, as a disk that fills up in the middle of a run.
  void FailWriteUnder(const std::string& prefix, int nth);
};

// The files (by inode) whose bytes a cut after the first `count` changes may
// lose: written, and not flushed since.
std::set<ino_t> UnflushedAt(const std::vector<FileChange>& changes, size_t count);

// Makes the changes of `state` again, on the file system as it was before
// them, leaving out the bytes written to the files in `lost` since their
// last flush (such a file stays as short as its other changes leave it).
void Replay(const std::vector<FileChange>& changes, const CutState& state,
            const std::set<ino_t>& lost);
inline void Replay(const std::vector<FileChange>& changes, size_t count,
                   const std::set<ino_t>& lost) {
  Replay(changes, CutState{count, 0, 0}, lost);
}

}  // namespace qorv::testing

#endif  // QORV_TESTING_CRASH_STATES_H_
