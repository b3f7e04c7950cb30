#include "fs/file_util.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

#include "fs/path.h"
#include "fs/sys_calls.h"
#include "fs/trusted_path.h"

namespace qorv {

ScopedFd& ScopedFd::operator=(ScopedFd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

int ScopedFd::Release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

bool ScopedFd::Close() {
  if (fd_ < 0) return true;
  bool ok = Sys().close(fd_) == 0;
  fd_ = -1;
  return ok;
}

ScopedFd OpenFile(const std::string& path, int flags, mode_t mode) {
  // A read follows the path as the kernel does; a write or a new file is
  // made in a directory reached without untrusted links.
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) == 0) {
    return ScopedFd(Sys().open(path.c_str(), flags, mode));
  }
  PathParent parent;
  if (!OpenParentTrusted(path, &parent)) return ScopedFd();
  return ScopedFd(Sys().openat(parent.directory.Get(), parent.name.c_str(), flags, mode));
}

bool WriteFully(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = Sys().write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReadFully(int fd, std::string* content) {
  char buffer[65536];
  off64_t offset = 0;
  for (;;) {
    ssize_t n = Sys().pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    content->append(buffer, static_cast<size_t>(n));
    offset += n;
  }
}

bool ReadFileToString(const std::string& path, std::string* content, bool* missing, size_t limit) {
  if (missing != nullptr) *missing = false;
  // Opening a pipe for reading waits for a writer unless it is told not to.
  ScopedFd fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
  if (!fd.IsValid()) {
    if (missing != nullptr) *missing = errno == ENOENT || errno == ENOTDIR;
    return false;
  }
  struct stat st;
  if (!StatOf(fd.Get(), &st)) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  const size_t before = content->size();
  if (static_cast<uint64_t>(st.st_size) > limit) {
    errno = EFBIG;
    return false;
  }
  if (!ReadFully(fd.Get(), content)) return false;
  if (content->size() - before > limit) {  // it grew while it was read
    content->resize(before);
    errno = EFBIG;
    return false;
  }
  return true;
}

bool ListNames(const std::string& directory, std::vector<std::string>* names) {
  DIR* dir = Sys().opendir(directory.c_str());
  if (dir == nullptr) return false;
  errno = 0;
  while (struct dirent* entry = Sys().readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  bool ok = errno == 0;
  Sys().closedir(dir);
  return ok;
}

ScopedFd CreateUniqueFile(const std::string& stem, int flags, mode_t mode, std::string* path) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 engine{std::random_device{}()};
  std::string name = stem;
  PathParent parent;
  if (!OpenParentTrusted(stem + "X", &parent)) {
    if (path != nullptr) *path = name;
    return ScopedFd();
  }
  parent.name.pop_back();
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = stem;
    std::string suffix;
    for (int i = 0; i < 6; ++i) suffix.push_back(kChars[engine() % (sizeof(kChars) - 1)]);
    name += suffix;
    ScopedFd fd(Sys().openat(parent.directory.Get(), (parent.name + suffix).c_str(),
                             flags | O_CREAT | O_EXCL | O_NOFOLLOW, mode));
    if (fd.IsValid() || errno != EEXIST) {
      if (path != nullptr) *path = name;
      return fd;
    }
  }
  if (path != nullptr) *path = name;
  return ScopedFd();
}

std::string RandomLetters(size_t count) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;  // the kernel's: not a sequence anyone can follow
  std::string letters;
  for (size_t i = 0; i < count; ++i) letters.push_back(kChars[random() % (sizeof(kChars) - 1)]);
  return letters;
}

bool MakeDirectoryTrusted(const std::string& path, mode_t mode, struct stat* made) {
  PathParent parent;
  if (!OpenParentTrusted(path, &parent)) return false;
  if (Sys().mkdirat(parent.directory.Get(), parent.name.c_str(), mode) != 0) return false;
  return Sys().fstatat(parent.directory.Get(), parent.name.c_str(), made, AT_SYMLINK_NOFOLLOW) == 0;
}

ScopedFd OpenFileAt(int dir, const std::string& name, int flags, mode_t mode) {
  return ScopedFd(Sys().openat(dir, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
}

ReplaceResult ReplaceFileDurably(const std::string& path, std::string_view content) {
  return ReplaceFileDurably(path, NewFileMode::kKeepOld, 0666,
                            [content](int fd) { return WriteFully(fd, content); });
}

ReplaceResult ReplaceFileDurably(const std::string& path, NewFileMode mode, mode_t bits,
                                 const std::function<bool(int fd)>& write) {
  struct stat old;
  const bool replacing = mode == NewFileMode::kKeepOld && Stat(path, &old);
  std::string temp;
  ScopedFd fd = CreateUniqueFile(path + kReplacementInfix, O_WRONLY | O_CLOEXEC, bits, &temp);
  if (!fd.IsValid()) return ReplaceResult::kNotCreated;
  bool ok = true;
  if (mode == NewFileMode::kExact) ok = SetPermissions(fd.Get(), bits);
  ok = ok && write(fd.Get());
  if (ok && replacing) {
    ok = SetPermissions(fd.Get(), old.st_mode & 07777);
    if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
      // Root rewriting a user's file gives it back to the user.
      (void)SetOwner(fd.Get(), old.st_uid, old.st_gid);
    }
  }
  if (!ok) {
    const int error = errno;
    fd.Close();
    RemoveFile(temp);
    errno = error;
    return ReplaceResult::kNotWritten;
  }
  return CommitReplacement(std::move(fd), temp, path) ? ReplaceResult::kDone
                                                      : ReplaceResult::kNotWritten;
}

bool CommitReplacement(ScopedFd fd, const std::string& temp, const std::string& path) {
  bool ok = FlushFile(fd.Get());
  int error = errno;
  ok = fd.Close() && ok;
  if (ok) {
    ok = RenamePath(temp, path);
    error = errno;
  }
  if (!ok) {
    RemoveFile(temp);
    errno = error;
    return false;
  }
  SyncDirectoryOf(path);  // the rename itself made durable
  return true;
}

void RemoveUnfinishedReplacements(const std::string& path) {
  const std::string folder = DirName(path);
  const std::string prefix = BaseName(path) + kReplacementInfix;
  std::vector<std::string> names;
  if (!ListNames(folder, &names)) return;
  for (const std::string& name : names) {
    // Exactly the six letters a replacement adds.
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
      RemoveFile(Join(folder, name));
    }
  }
}

bool SyncDirectory(const std::string& directory) {
  ScopedFd fd = OpenFile(directory, O_RDONLY | O_DIRECTORY);
  return fd.IsValid() && FlushFile(fd.Get());
}

bool SyncDirectoryOf(const std::string& path) { return SyncDirectory(DirName(path)); }

bool FlushFile(int fd) { return Sys().fsync(fd) == 0; }

bool FlushData(int fd) { return Sys().fdatasync(fd) == 0; }

bool SyncFileSystemOf(int fd) { return Sys().syncfs(fd) == 0; }

bool LockExclusive(int fd, bool wait) {
  for (;;) {
    if (Sys().flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool Stat(const std::string& path, struct stat* st) { return Sys().stat(path.c_str(), st) == 0; }
bool Lstat(const std::string& path, struct stat* st) { return Sys().lstat(path.c_str(), st) == 0; }
bool StatOf(int fd, struct stat* st) { return Sys().fstat(fd, st) == 0; }

bool ReadLink(const std::string& path, std::string* target) {
  char buffer[4096];
  ssize_t n = Sys().readlink(path.c_str(), buffer, sizeof buffer);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) return false;
  target->assign(buffer, static_cast<size_t>(n));
  return true;
}

bool MakeDirectory(const std::string& path, mode_t mode) {
  PathParent parent;
  return OpenParentTrusted(path, &parent) &&
         Sys().mkdirat(parent.directory.Get(), parent.name.c_str(), mode) == 0;
}
bool RemoveFile(const std::string& path) {
  PathParent parent;
  return OpenParentTrusted(path, &parent) &&
         Sys().unlinkat(parent.directory.Get(), parent.name.c_str(), 0) == 0;
}
bool RemoveEmptyDirectory(const std::string& path) {
  PathParent parent;
  if (!OpenParentTrusted(path, &parent)) return false;
  if (Sys().unlinkat(parent.directory.Get(), parent.name.c_str(), AT_REMOVEDIR) != 0) return false;
  ForgetResolvedDirectories();
  return true;
}
bool RenamePath(const std::string& from, const std::string& to) {
  PathParent source;
  PathParent destination;
  if (!OpenParentTrusted(from, &source) || !OpenParentTrusted(to, &destination)) return false;
  if (Sys().renameat(source.directory.Get(), source.name.c_str(), destination.directory.Get(),
                     destination.name.c_str()) != 0) {
    return false;
  }
  ForgetResolvedDirectories();  // it may have been a directory
  return true;
}
bool SetPermissions(int fd, mode_t mode) { return Sys().fchmod(fd, mode) == 0; }
bool SetOwner(int fd, uid_t owner, gid_t group) { return Sys().fchown(fd, owner, group) == 0; }
bool TruncateFile(int fd, off64_t length) { return Sys().ftruncate(fd, length) == 0; }
bool SeekTo(int fd, off64_t offset) { return Sys().lseek(fd, offset, SEEK_SET) == offset; }

ssize_t ReadAt(int fd, void* buffer, size_t count, off64_t offset) {
  for (;;) {
    ssize_t n = Sys().pread(fd, buffer, count, offset);
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t ReadSome(int fd, void* buffer, size_t count) {
  for (;;) {
    ssize_t n = Sys().read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

MappedFile::~MappedFile() {
  if (address_ != nullptr) Sys().munmap(address_, size_);
}

bool MappedFile::Map(int fd, size_t size) {
  if (size == 0) return true;
  void* address = Sys().mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (address == MAP_FAILED) return false;
  ::madvise(address, size, MADV_SEQUENTIAL);
  address_ = address;
  size_ = size;
  return true;
}

}  // namespace qorv
