// The file idioms every layer needs, done once and through the system-call
// table (fs/sys_calls.h), so that a test can fail any of them: an owning
// descriptor, writing and reading whole buffers, listing a directory,
// creating a file under a fresh name, replacing a file durably, flushing a
// directory, locks and mappings. Paths are the locale's bytes. Failures
// leave the system's reason in errno. Safe on any thread.
#ifndef QORV_FS_FILE_UTIL_H_
#define QORV_FS_FILE_UTIL_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qorv {

// Owns a descriptor and closes it when it goes.
class ScopedFd {
 public:
  ScopedFd() = default;
  explicit ScopedFd(int fd) : fd_(fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept;
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ~ScopedFd() { Close(); }

  int Get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release();
  // Closes it now; false when the close reported an error (a write the
  // file system could not complete), which must not go unseen.
  bool Close();

 private:
  int fd_ = -1;
};

// open(2) through the table; invalid on failure.
ScopedFd OpenFile(const std::string& path, int flags, mode_t mode = 0);

// Writes all of `bytes`, retrying short writes and interruptions.
bool WriteFully(int fd, std::string_view bytes);
// Appends the whole file from its start to `*content` (positional reads:
// the descriptor's offset is left alone).
bool ReadFully(int fd, std::string* content);
// Reads the whole file at `path`. *missing (optional) tells a file that is
// not there (or whose directory is not) from one that cannot be read. Only
// a regular file of at most `limit` bytes is read: a pipe, a device or a
// link to one put in its place fails at once (errno EINVAL), a larger file
// with EFBIG, so that no such file can make the caller wait or fill memory.
inline constexpr size_t kReadLimit = size_t{64} << 20;
bool ReadFileToString(const std::string& path, std::string* content, bool* missing = nullptr,
                      size_t limit = kReadLimit);

// The names in `directory` except "." and "..", in the order the file
// system gives them; false when it cannot be read.
bool ListNames(const std::string& directory, std::vector<std::string>* names);

// Creates a file named `stem` followed by six random letters and digits,
// exclusively (O_CREAT | O_EXCL, `flags` added), trying other names while
// one exists. *path receives the name, the last one tried on failure.
ScopedFd CreateUniqueFile(const std::string& stem, int flags, mode_t mode, std::string* path);
// `count` letters and digits from the system's random source: a name
// nobody can guess to take it first.
std::string RandomLetters(size_t count);
// Makes the directory `path` exclusively, relative to the trusted
// descriptor of its parent (fs/trusted_path.h); *made receives its status
// (device, inode, owner). False with errno (EEXIST when the name is taken).
bool MakeDirectoryTrusted(const std::string& path, mode_t mode, struct stat* made);
// openat(2) of `name` in the open directory `dir`, never following a link
// in its place.
ScopedFd OpenFileAt(int dir, const std::string& name, int flags, mode_t mode = 0);

// Replaces the file at `path` by one holding `content`, so that a reader or
// a crash sees the old file or the new one, never a mix: written to a
// unique name beside it, flushed, given the old file's permission bits and
// (when the caller may) owner, renamed over it, and the directory flushed.
// A new file gets 0666 before the umask. kNotCreated: no file could be made
// beside it (a missing directory); kNotWritten: it could not be written or
// put in place, and is gone again.
enum class ReplaceResult { kDone, kNotCreated, kNotWritten };
ReplaceResult ReplaceFileDurably(const std::string& path, std::string_view content);
// The same for content written in a stream: `write` fills the new file
// through its descriptor (false, with errno set, when it cannot). `mode`
// says what the new file's permission bits are: kKeepOld as above; kUmask
// `bits` before the umask; kExact `bits` whatever the umask.
enum class NewFileMode { kKeepOld, kUmask, kExact };
ReplaceResult ReplaceFileDurably(const std::string& path, NewFileMode mode, mode_t bits,
                                 const std::function<bool(int fd)>& write);
// The name the new content has until it is renamed into place: `path`
// followed by this and six letters or digits.
inline constexpr char kReplacementInfix[] = ".qorv-";
// Removes what replacements of `path` that were stopped (killed, or cut by a
// power loss) left beside it: "<name>.qorv-XXXXXX". Only under the lock that
// orders the replacements of `path`, before writing it again.
void RemoveUnfinishedReplacements(const std::string& path);
// The last step of such a replacement, for content written in a stream:
// flushes and closes `fd` (open on `temp`, beside `path`), renames `temp`
// over `path` and flushes the directory. On failure `temp` is removed and
// errno tells why.
bool CommitReplacement(ScopedFd fd, const std::string& temp, const std::string& path);

// Flushes a directory's entries to disk (a rename or a new name in it
// becomes durable). SyncDirectoryOf flushes the directory holding `path`.
bool SyncDirectory(const std::string& directory);
bool SyncDirectoryOf(const std::string& path);
// Flushes an open file's content to disk.
bool FlushFile(int fd);
// Flushes what a reader needs of an open file: its bytes and its size,
// not its times (a journal's appended records).
bool FlushData(int fd);
// Flushes the whole file system holding the open `fd`.
bool SyncFileSystemOf(int fd);

// An exclusive flock on `fd`: waits while another holds it when `wait`,
// else fails at once (errno EWOULDBLOCK). Interruptions are retried.
bool LockExclusive(int fd, bool wait);

// The status of `path`; Lstat does not follow a final link.
bool Stat(const std::string& path, struct stat* st);
bool Lstat(const std::string& path, struct stat* st);
bool StatOf(int fd, struct stat* st);
// A link's target; false when `path` is not one.
bool ReadLink(const std::string& path, std::string* target);
bool MakeDirectory(const std::string& path, mode_t mode);
// Removes a file or link (never a directory).
bool RemoveFile(const std::string& path);
// Removes a directory only when it is empty.
bool RemoveEmptyDirectory(const std::string& path);
bool RenamePath(const std::string& from, const std::string& to);
bool SetPermissions(int fd, mode_t mode);
bool SetOwner(int fd, uid_t owner, gid_t group);
bool TruncateFile(int fd, off64_t length);
bool SeekTo(int fd, off64_t offset);
// One positional read; the count, 0 at the end, -1 on failure.
ssize_t ReadAt(int fd, void* buffer, size_t count, off64_t offset);
// One read; the count, 0 at the end, -1 on failure (interruptions retried).
ssize_t ReadSome(int fd, void* buffer, size_t count);

// A read-only private mapping of a whole open file, read in order.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();
  // Maps the `size` bytes of `fd` (0 maps nothing and succeeds).
  bool Map(int fd, size_t size);
  const unsigned char* data() const { return static_cast<const unsigned char*>(address_); }
  size_t size() const { return size_; }

 private:
  void* address_ = nullptr;
  size_t size_ = 0;
};

}  // namespace qorv

#endif  // QORV_FS_FILE_UTIL_H_
