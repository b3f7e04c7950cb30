#include "fs/file_ops.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "fs/sys_calls.h"

namespace qorv {

namespace {

void RemoveTree(const std::string& path) {
  struct stat st;
  if (Sys().lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    Sys().unlink(path.c_str());
    return;
  }
  std::vector<std::string> names;
  ListNames(path, &names);
  for (const std::string& name : names) RemoveTree(path + "/" + name);
  Sys().rmdir(path.c_str());
}

bool CopyTimes(const std::string& path, const struct stat& from) {
  struct timespec times[2] = {from.st_atim, from.st_mtim};
  return Sys().utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool CopyFileContent(const std::string& from, const std::string& to, const struct stat& st) {
  ScopedFd in = OpenFile(from, O_RDONLY);
  if (!in.IsValid()) return false;
  ScopedFd out = OpenFile(to, O_WRONLY | O_CREAT | O_EXCL, st.st_mode & 07777);
  if (!out.IsValid()) return false;
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  bool ok = true;
  for (;;) {
    ssize_t n = ReadSome(in.Get(), buffer.get(), 1 << 20);
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!(ok = WriteFully(out.Get(), std::string_view(buffer.get(), static_cast<size_t>(n))))) {
      break;
    }
  }
  ok = ok && SetPermissions(out.Get(), st.st_mode & 07777);
  // The source goes once the copy is in place: the copy must be on disk.
  ok = ok && Sys().fsync(out.Get()) == 0;
  ok = out.Close() && ok;
  return ok && CopyTimes(to, st);
}

// Copies one entry (a file, a link, or a directory with everything in it)
// to a path that does not exist yet. On failure the partial copy is removed.
bool CopyEntry(const std::string& from, const std::string& to) {
  struct stat st;
  if (Sys().lstat(from.c_str(), &st) != 0) return false;
  bool ok;
  if (S_ISDIR(st.st_mode)) {
    std::vector<std::string> names;
    ok = ListNames(from, &names) && Sys().mkdir(to.c_str(), 0700) == 0;
    if (!ok) return false;
    for (const std::string& name : names) {
      ok = ok && CopyEntry(from + "/" + name, to + "/" + name);
    }
    if (ok) {
      ScopedFd fd = OpenFile(to, O_RDONLY | O_DIRECTORY);
      ok = fd.IsValid() && SetPermissions(fd.Get(), st.st_mode & 07777) && CopyTimes(to, st);
    }
  } else if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    ssize_t n = Sys().readlink(from.c_str(), target.data(), target.size());
    ok = n >= 0 && static_cast<size_t>(n) < target.size();
    if (ok) target.resize(static_cast<size_t>(n));
    ok = ok && Sys().symlink(target.c_str(), to.c_str()) == 0;
  } else if (S_ISREG(st.st_mode)) {
    ok = CopyFileContent(from, to, st);
  } else {
    ok = false;  // devices, sockets, pipes: not ours to move
  }
  if (!ok) RemoveTree(to);
  return ok;
}

}  // namespace

uint32_t ShellMakeDirs(const std::string& path) {
  const std::string& p = path;
  if (p.empty()) return kErrorNotFound;
  // The levels of the path, shortest first ("a//b/" gives "a", "a//b").
  std::vector<std::string> levels;
  for (size_t pos = p.find('/', 1);; pos = p.find('/', pos + 1)) {
    std::string level = p.substr(0, pos);
    if (!level.empty() && level.back() != '/') levels.push_back(level);
    if (pos == std::string::npos) break;
  }
  // Find the deepest level that exists, then create the ones below it; a
  // level that exists must be a directory (or a link to one).
  size_t first = levels.size();
  while (first > 0) {
    struct stat st;
    if (Sys().stat(levels[first - 1].c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return kErrorNotFound;
      break;
    }
    --first;
  }
  for (size_t i = first; i < levels.size(); ++i) {
    if (Sys().mkdir(levels[i].c_str(), 0777) == 0) continue;
    if (errno != EEXIST || !IsDirectoryPath(levels[i])) return kErrorNotFound;
  }
  return kErrorNone;
}

uint32_t ShellRemoveFile(const std::string& path) {
  const std::string& p = path;
  if (!p.empty()) Sys().unlink(p.c_str());
  return kErrorNone;
}

uint32_t ShellRemoveTree(const std::string& path) {
  const std::string& p = path;
  if (p.empty()) return kErrorNone;
  // Like rm --preserve-root: the root directory is never removed, however
  // it is spelled ("/", "//", "/.").
  struct stat st;
  struct stat root;
  if (Sys().stat(p.c_str(), &st) == 0 && Sys().stat("/", &root) == 0 && st.st_dev == root.st_dev &&
      st.st_ino == root.st_ino) {
    return kErrorNone;
  }
  RemoveTree(p);
  return kErrorNone;
}

std::string MoveStagingPath(const std::string& destination) {
  std::string path = StripTrailingSlashes(destination);
  std::string base = BaseName(path);
  std::string directory = path.substr(0, path.size() - base.size());
  // One name per destination (FNV-1a of its last component), short enough
  // for any directory.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : base) hash = (hash ^ c) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, ".qorv-move-%016llx", static_cast<unsigned long long>(hash));
  return directory + name;
}

uint32_t ShellMove(const std::string& source, const std::string& destination) {
  const std::string& from = source;
  std::string to = destination;
  struct stat st;
  if (from.empty() || to.empty() || Sys().lstat(from.c_str(), &st) != 0) return kErrorNotFound;
  if (IsDirectoryPath(to)) {
    // As with mv, an existing directory receives the source inside it.
    struct stat target;
    if (Sys().stat(to.c_str(), &target) == 0 && st.st_dev == target.st_dev &&
        st.st_ino == target.st_ino) {
      return kErrorNotFound;
    }
    to += "/" + BaseName(from);
  }
  if (Sys().rename(from.c_str(), to.c_str()) == 0) return kErrorNone;
  if (errno != EXDEV) return kErrorNotFound;

  // Another file system: copy beside the destination under a name of our
  // own, flush it, put it in place with one rename, and only then remove the
  // source. A crash at any point leaves the source whole; at worst the
  // staging copy stays, under a name MoveStagingPath() knows.
  struct stat existing;
  bool replacing = Sys().lstat(to.c_str(), &existing) == 0;
  if (replacing && S_ISDIR(existing.st_mode) != S_ISDIR(st.st_mode)) return kErrorNotFound;
  std::string staging = MoveStagingPath(to);
  RemoveTree(staging);  // a copy an earlier, interrupted move left
  if (!CopyEntry(from, staging)) return kErrorNotFound;
  if (Sys().rename(staging.c_str(), to.c_str()) != 0) {
    RemoveTree(staging);
    return kErrorNotFound;
  }
  SyncDirectoryOf(to);
  RemoveTree(from);
  return kErrorNone;
}

uint32_t MakeTempFile(const std::string& directory, const std::string& prefix, std::string* path) {
  std::string dir;
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && *env != '\0' && IsDirectoryPath(env)) {
    dir = env;
  } else if (!directory.empty() && IsDirectoryPath(directory)) {
    dir = directory;
  } else {
    dir = "/tmp";
  }
  std::string stem = WithTrailingSlash(StripTrailingSlashes(dir)) + prefix.substr(0, 5);
  std::string name;
  bool made = CreateUniqueFile(stem, O_WRONLY, 0600, &name).IsValid();
  if (path != nullptr) *path = name;
  return made ? kErrorNone : kErrorCannotMakeTemp;
}

int OpenNamelessFile(const char* directory) {
  int fd = Sys().open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // No O_TMPFILE here: a name for the moment between open and unlink.
  std::string stem = Join(directory, ".vkx" + std::to_string(::getpid()) + "-");
  std::string name;
  ScopedFd made = CreateUniqueFile(stem, O_RDWR | O_CLOEXEC, 0600, &name);
  if (made.IsValid()) RemoveFile(name);
  return made.Release();
}

void RemoveOrphanedNamelessFiles(const char* directory) {
  std::string dir = WithTrailingSlash(directory);
  if (dir.empty()) return;
  std::vector<std::string> names;
  if (!ListNames(dir, &names)) return;
  for (const std::string& name : names) {
    // ".vkx<pid>-<suffix>", as OpenNamelessFile() makes them.
    if (name.compare(0, 4, ".vkx") != 0) continue;
    size_t dash = name.find('-', 4);
    if (dash == std::string::npos || dash == 4 || dash > 14) continue;
    pid_t pid = 0;
    bool digits = true;
    for (size_t i = 4; i < dash; ++i) {
      digits = digits && name[i] >= '0' && name[i] <= '9';
      pid = pid * 10 + (name[i] - '0');
    }
    bool gone = digits && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
    struct stat st;
    if (gone && Sys().lstat((dir + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid()) {
      Sys().unlink((dir + name).c_str());
    }
  }
}

bool IsDirectoryPath(const std::string& path) {
  struct stat st;
  return Sys().stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int RunShell(const NarrowString& command) { return std::system(command.c_str()); }

bool PathExists(const std::string& path) {
  const std::string& p = path;
  if (p.empty() || p.back() == '/') return false;
  struct stat st;
  return Sys().stat(p.c_str(), &st) == 0;
}

}  // namespace qorv
