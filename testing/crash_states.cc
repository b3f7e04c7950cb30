#include "testing/crash_states.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>

#include "fs/sys_calls.h"

namespace qorv::testing {

namespace {

std::mutex gMutex;
std::string gRoot;
std::vector<FileChange> gChanges;
SysCalls gTable;
const SysCalls* gPrevious = nullptr;
std::string gFailPrefix;
int gFailAt = -1;

const SysCalls& Real() { return RealSysCalls(); }

FileChange Change(FileChange::Kind kind, const std::string& path) {
  FileChange change;
  change.kind = kind;
  change.path = path;
  return change;
}

std::string FdPath(int fd) {
  if (fd == AT_FDCWD) {
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
  }
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char buffer[4096];
  ssize_t n = ::readlink(link, buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string At(int dirfd, const char* name) {
  if (name == nullptr || *name == '\0') return FdPath(dirfd);
  if (name[0] == '/') return name;
  return FdPath(dirfd) + "/" + name;
}

bool Inside(const std::string& path) {
  return path.compare(0, gRoot.size(), gRoot) == 0 && path.find(" (deleted)") == std::string::npos;
}

// The file system a change to `path` was made on: its folder's.
dev_t DeviceOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
  struct stat st {};
  return Real().lstat(folder.c_str(), &st) == 0 ? st.st_dev : 0;
}

void Add(FileChange change) {
  if (!Inside(change.path)) return;
  if (change.device == 0) change.device = DeviceOf(change.path);
  gChanges.push_back(std::move(change));
}

ino_t InodeOf(int fd) {
  struct stat st {};
  return Real().fstat(fd, &st) == 0 ? st.st_ino : 0;
}

int Opened(const std::string& path, int flags, bool existed, int fd, mode_t mode) {
  if (fd < 0) return fd;
  if ((flags & O_CREAT) != 0 && !existed) {
    FileChange c = Change(FileChange::kCreate, path);
    c.inode = InodeOf(fd);
    c.mode = mode;
    Add(c);
  } else if ((flags & O_TRUNC) != 0 && existed) {
    FileChange c = Change(FileChange::kTruncate, path);
    c.inode = InodeOf(fd);
    Add(c);
  }
  return fd;
}

int Open(const char* path, int flags, mode_t mode) {
  std::lock_guard<std::mutex> lock(gMutex);
  struct stat st;
  bool existed = Real().lstat(path, &st) == 0;
  return Opened(path, flags, existed, Real().open(path, flags, mode), mode);
}

int Openat(int dirfd, const char* name, int flags, mode_t mode) {
  std::lock_guard<std::mutex> lock(gMutex);
  struct stat st;
  bool existed = Real().fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  const std::string path = At(dirfd, name);
  return Opened(path, flags, existed, Real().openat(dirfd, name, flags, mode), mode);
}

ssize_t Write(int fd, const void* buffer, size_t count) {
  std::lock_guard<std::mutex> lock(gMutex);
  off_t offset = Real().lseek(fd, 0, SEEK_CUR);
  if ((::fcntl(fd, F_GETFL) & O_APPEND) != 0) {
    struct stat st {};
    Real().fstat(fd, &st);
    offset = st.st_size;
  }
  const std::string path = FdPath(fd);
  if (gFailAt >= 0 && path.compare(0, gFailPrefix.size(), gFailPrefix) == 0 && gFailAt-- == 0) {
    errno = ENOSPC;
    return -1;
  }
  ssize_t done = Real().write(fd, buffer, count);
  if (done > 0 && offset >= 0) {
    FileChange c = Change(FileChange::kWrite, path);
    c.inode = InodeOf(fd);
    c.offset = offset;
    c.data.assign(static_cast<const char*>(buffer), static_cast<size_t>(done));
    Add(c);
  }
  return done;
}

int Ftruncate(int fd, off64_t length) {
  std::lock_guard<std::mutex> lock(gMutex);
  int r = Real().ftruncate(fd, length);
  if (r == 0) {
    FileChange c = Change(FileChange::kTruncate, FdPath(fd));
    c.inode = InodeOf(fd);
    c.offset = length;
    Add(c);
  }
  return r;
}

int Renamed(int r, const std::string& from, const std::string& to) {
  if (r == 0 && (Inside(from) || Inside(to))) {
    FileChange c = Change(FileChange::kRename, from);
    c.to = to;
    c.device = DeviceOf(to);
    gChanges.push_back(c);
  }
  return r;
}

int Rename(const char* from, const char* to) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Renamed(Real().rename(from, to), from, to);
}

int Renameat(int fromfd, const char* from, int tofd, const char* to) {
  std::lock_guard<std::mutex> lock(gMutex);
  const std::string a = At(fromfd, from);
  const std::string b = At(tofd, to);
  return Renamed(Real().renameat(fromfd, from, tofd, to), a, b);
}

int Simple(int r, FileChange::Kind kind, const std::string& path, mode_t mode = 0) {
  if (r == 0) {
    FileChange c = Change(kind, path);
    c.mode = mode;
    Add(c);
  }
  return r;
}

int Unlink(const char* path) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Simple(Real().unlink(path), FileChange::kUnlink, path);
}

int Unlinkat(int dirfd, const char* name, int flags) {
  std::lock_guard<std::mutex> lock(gMutex);
  const std::string path = At(dirfd, name);
  return Simple(Real().unlinkat(dirfd, name, flags),
                (flags & AT_REMOVEDIR) != 0 ? FileChange::kRmdir : FileChange::kUnlink, path);
}

int Made(int r, const std::string& path, mode_t mode) {
  if (r == 0) {
    FileChange c = Change(FileChange::kMkdir, path);
    c.mode = mode;
    struct stat st {};
    if (Real().lstat(path.c_str(), &st) == 0) c.inode = st.st_ino;
    Add(c);
  }
  return r;
}

int Mkdir(const char* path, mode_t mode) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Made(Real().mkdir(path, mode), path, mode);
}

int Mkdirat(int dirfd, const char* name, mode_t mode) {
  std::lock_guard<std::mutex> lock(gMutex);
  const std::string path = At(dirfd, name);
  return Made(Real().mkdirat(dirfd, name, mode), path, mode);
}

int Rmdir(const char* path) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Simple(Real().rmdir(path), FileChange::kRmdir, path);
}

int Timed(int r, const std::string& path, const struct timespec times[2]) {
  if (r == 0) {
    FileChange c = Change(FileChange::kTimes, path);
    if (times != nullptr) {
      c.times[0] = times[0];
      c.times[1] = times[1];
    } else {
      c.times[0].tv_nsec = c.times[1].tv_nsec = UTIME_NOW;
    }
    Add(c);
  }
  return r;
}

int Futimens(int fd, const struct timespec times[2]) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Timed(Real().futimens(fd, times), FdPath(fd), times);
}

int Utimensat(int dirfd, const char* name, const struct timespec times[2], int flags) {
  std::lock_guard<std::mutex> lock(gMutex);
  const std::string path = At(dirfd, name);
  return Timed(Real().utimensat(dirfd, name, times, flags), path, times);
}

int Fchmod(int fd, mode_t mode) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Simple(Real().fchmod(fd, mode), FileChange::kMode, FdPath(fd), mode);
}

int Flushed(int r, int fd) {
  struct stat st {};
  if (r == 0 && Real().fstat(fd, &st) == 0) {
    FileChange c = Change(
        S_ISDIR(st.st_mode) ? FileChange::kFlushDirectory : FileChange::kFlushFile, FdPath(fd));
    c.inode = st.st_ino;
    c.device = st.st_dev;
    Add(c);
  }
  return r;
}

int Fsync(int fd) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Flushed(Real().fsync(fd), fd);
}

int Fdatasync(int fd) {
  std::lock_guard<std::mutex> lock(gMutex);
  return Flushed(Real().fdatasync(fd), fd);
}

int Syncfs(int fd) {
  std::lock_guard<std::mutex> lock(gMutex);
  int r = Real().syncfs(fd);
  struct stat st {};
  if (r == 0 && Real().fstat(fd, &st) == 0) {
    FileChange c = Change(FileChange::kFlushAll, gRoot);
    c.device = st.st_dev;
    gChanges.push_back(c);
  }
  return r;
}

}  // namespace

ChangeRecorder::ChangeRecorder(const std::string& root) {
  std::lock_guard<std::mutex> lock(gMutex);
  gRoot = root;
  gChanges.clear();
  gTable = Real();
  gTable.open = Open;
  gTable.openat = Openat;
  gTable.write = Write;
  gTable.ftruncate = Ftruncate;
  gTable.rename = Rename;
  gTable.renameat = Renameat;
  gTable.unlink = Unlink;
  gTable.unlinkat = Unlinkat;
  gTable.mkdir = Mkdir;
  gTable.mkdirat = Mkdirat;
  gTable.rmdir = Rmdir;
  gTable.futimens = Futimens;
  gTable.utimensat = Utimensat;
  gTable.fchmod = Fchmod;
  gTable.fsync = Fsync;
  gTable.fdatasync = Fdatasync;
  gTable.syncfs = Syncfs;
  gPrevious = TEST_SetSysCalls(&gTable);
}

ChangeRecorder::~ChangeRecorder() {
  TEST_SetSysCalls(gPrevious);
  gFailAt = -1;
}

void ChangeRecorder::FailWriteUnder(const std::string& prefix, int nth) {
  std::lock_guard<std::mutex> lock(gMutex);
  gFailPrefix = prefix;
  gFailAt = nth;
}

std::vector<FileChange> ChangeRecorder::Take() {
  std::lock_guard<std::mutex> lock(gMutex);
  return std::move(gChanges);
}

std::set<ino_t> UnflushedAt(const std::vector<FileChange>& changes, size_t count) {
  std::map<ino_t, dev_t> unflushed;
  for (size_t i = 0; i < count && i < changes.size(); ++i) {
    const FileChange& c = changes[i];
    if (c.kind == FileChange::kWrite) unflushed[c.inode] = c.device;
    if (c.kind == FileChange::kFlushFile) unflushed.erase(c.inode);
    if (c.kind == FileChange::kFlushAll) {
      for (auto it = unflushed.begin(); it != unflushed.end();) {
        it = it->second == c.device ? unflushed.erase(it) : std::next(it);
      }
    }
  }
  std::set<ino_t> files;
  for (const auto& [inode, device] : unflushed) files.insert(inode);
  return files;
}

std::set<dev_t> DevicesOf(const std::vector<FileChange>& changes) {
  std::set<dev_t> devices;
  for (const FileChange& c : changes) {
    if (c.device != 0) devices.insert(c.device);
  }
  return devices;
}

namespace {

// Whether a change is one of the metadata operations a file system keeps
// in order (and may hold back).
bool IsMetadata(const FileChange& c) {
  switch (c.kind) {
    case FileChange::kWrite:
    case FileChange::kFlushFile:
    case FileChange::kFlushDirectory:
    case FileChange::kFlushAll:
      return false;
    default:
      return true;
  }
}

bool IsBarrier(const FileChange& c) {
  return c.kind == FileChange::kFlushDirectory || c.kind == FileChange::kFlushAll;
}

}  // namespace

std::vector<CutState> CutStatesOf(const std::vector<FileChange>& changes) {
  std::vector<CutState> states;
  const std::set<dev_t> devices = DevicesOf(changes);
  for (size_t k = 0; k <= changes.size(); ++k) {
    states.push_back(CutState{k, 0, 0});
    if (devices.size() < 2 || k == 0) continue;
    for (dev_t device : devices) {
      // A cut right after one of its own held-back changes is the same as
      // one just before it.
      const FileChange& last = changes[k - 1];
      if (last.device == device && IsMetadata(last)) continue;
      size_t start = k;
      while (start > 0 && !(changes[start - 1].device == device && IsBarrier(changes[start - 1]))) {
        --start;
      }
      for (size_t j = start; j < k; ++j) {
        if (changes[j].device == device && IsMetadata(changes[j])) {
          states.push_back(CutState{k, device, j});
        }
      }
    }
  }
  return states;
}

namespace {

// A directory made again has another inode than the one the run saw: a
// registry entry's identity record ("I <length>:<device> <inode>\n")
// that names the old one is made to name the new one.
std::string WithInodesMoved(std::string data, const std::map<ino_t, ino_t>& moved) {
  size_t at = data.rfind("\nI ");
  if (at == std::string::npos) return data;
  const size_t colon = data.find(':', at);
  const size_t end = colon == std::string::npos ? colon : data.find('\n', colon);
  if (end == std::string::npos) return data;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(data.c_str() + colon + 1, "%llu %llu", &device, &inode) != 2) return data;
  auto found = moved.find(static_cast<ino_t>(inode));
  if (found == moved.end()) return data;
  const std::string identity =
      std::to_string(device) + " " + std::to_string(static_cast<unsigned long long>(found->second));
  return data.substr(0, at + 1) + "I " + std::to_string(identity.size()) + ":" + identity +
         data.substr(end);
}

}  // namespace

void Replay(const std::vector<FileChange>& changes, const CutState& state,
            const std::set<ino_t>& lost) {
  std::map<ino_t, ino_t> moved;
  const size_t count = std::min(state.count, changes.size());
  // Only what was written since the file's last flush can be lost.
  std::vector<bool> durable(count, false);
  std::set<ino_t> flushed;
  std::set<dev_t> all;
  for (size_t i = count; i-- > 0;) {
    const FileChange& c = changes[i];
    if (c.kind == FileChange::kFlushFile) flushed.insert(c.inode);
    if (c.kind == FileChange::kFlushAll) all.insert(c.device);
    durable[i] = all.count(c.device) != 0 || flushed.count(c.inode) != 0;
  }
  // Files whose making was held back: their bytes have no name to be
  // found under.
  std::set<ino_t> unnamed;
  for (size_t i = 0; i < count; ++i) {
    const FileChange& c = changes[i];
    if (state.lagging != 0 && i >= state.lagFrom && c.device == state.lagging && IsMetadata(c)) {
      if (c.kind == FileChange::kCreate) unnamed.insert(c.inode);
      continue;
    }
    if (c.kind == FileChange::kWrite && unnamed.count(c.inode) != 0) continue;
    const bool dropped = !durable[i] && lost.count(c.inode) != 0;
    const char* path = c.path.c_str();
    switch (c.kind) {
      case FileChange::kCreate: {
        int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, c.mode & 07777);
        if (fd >= 0) ::close(fd);
        break;
      }
      case FileChange::kWrite: {
        if (dropped) break;
        int fd = ::open(path, O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
          const std::string data = WithInodesMoved(c.data, moved);
          if (::pwrite(fd, data.data(), data.size(), c.offset) < 0) {
          }
          ::close(fd);
        }
        break;
      }
      case FileChange::kTruncate:
        if (::truncate(path, dropped ? 0 : c.offset) != 0) {
        }
        break;
      case FileChange::kRename:
        ::rename(path, c.to.c_str());
        break;
      case FileChange::kUnlink:
        ::unlink(path);
        break;
      case FileChange::kMkdir: {
        struct stat st {};
        if (::mkdir(path, c.mode & 07777) == 0 && ::lstat(path, &st) == 0 && c.inode != 0) {
          moved[c.inode] = st.st_ino;
        }
        break;
      }
      case FileChange::kRmdir:
        ::rmdir(path);
        break;
      case FileChange::kTimes:
        ::utimensat(AT_FDCWD, path, c.times, AT_SYMLINK_NOFOLLOW);
        break;
      case FileChange::kMode:
        ::chmod(path, c.mode & 07777);
        break;
      case FileChange::kFlushFile:
      case FileChange::kFlushDirectory:
      case FileChange::kFlushAll:
        break;
    }
  }
}

}  // namespace qorv::testing
