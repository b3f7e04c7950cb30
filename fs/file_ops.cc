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
#include "fs/trusted_path.h"

namespace qorv {

namespace {

// Removes the entry `name` of the directory `dir`, with everything in it
// when it is a directory. Links are removed, never followed.
void RemoveTreeAt(int dir, const std::string& name) {
  struct stat st;
  if (Sys().fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    Sys().unlinkat(dir, name.c_str(), 0);
    return;
  }
  int inner = Sys().openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
  if (inner >= 0) {
    std::vector<std::string> names;
    if (DIR* listing = Sys().fdopendir(inner)) {
      while (struct dirent* entry = Sys().readdir(listing)) {
        std::string child = entry->d_name;
        if (child != "." && child != "..") names.push_back(child);
      }
      for (const std::string& child : names) RemoveTreeAt(dirfd(listing), child);
      Sys().closedir(listing);
    } else {
      Sys().close(inner);
    }
  }
  Sys().unlinkat(dir, name.c_str(), AT_REMOVEDIR);
  ForgetResolvedDirectories();
}

void RemoveTree(const std::string& path) {
  PathParent parent;
  if (OpenParentTrusted(path, &parent)) RemoveTreeAt(parent.directory.Get(), parent.name);
}

uint32_t MoveEntry(const std::string& source, const std::string& destination, bool copies);

// An entry's place: a directory's descriptor and a name in it.
struct Place {
  int dir;
  const std::string& name;
};

bool CopyTimes(Place to, const struct stat& from) {
  struct timespec times[2] = {from.st_atim, from.st_mtim};
  return Sys().utimensat(to.dir, to.name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool CopyFileContent(Place from, Place to, const struct stat& st) {
  // Opened without following, and only the file that was looked at: a
  // pipe or a device put in its place is not read.
  ScopedFd in(Sys().openat(from.dir, from.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0));
  struct stat opened;
  if (!in.IsValid() || Sys().fstat(in.Get(), &opened) != 0) return false;
  if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
    errno = EAGAIN;
    return false;
  }
  // A copy is the copying user's file: it never carries the set-user or
  // set-group bits, which would hand out that user's rights.
  const mode_t bits = st.st_mode & 01777;
  ScopedFd out(
      Sys().openat(to.dir, to.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, bits));
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
  ok = ok && SetPermissions(out.Get(), bits);
  // The source goes once the copy is in place: the copy must be on disk.
  ok = ok && Sys().fsync(out.Get()) == 0;
  ok = out.Close() && ok;
  return ok && CopyTimes(to, st);
}

// The names in the open directory `dir` (which stays open).
bool ListNamesAt(int dir, std::vector<std::string>* names) {
  ScopedFd listed(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
  DIR* listing = listed.IsValid() ? Sys().fdopendir(listed.Get()) : nullptr;
  if (listing == nullptr) return false;
  listed.Release();
  while (struct dirent* entry = Sys().readdir(listing)) {
    std::string child = entry->d_name;
    if (child != "." && child != "..") names->push_back(child);
  }
  Sys().closedir(listing);
  return true;
}

// Copies one entry (a file, a link, or a directory with everything in it)
// to a name that does not exist yet. On failure the partial copy is removed.
bool CopyEntry(Place from, Place to) {
  struct stat st;
  if (Sys().fstatat(from.dir, from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  bool ok;
  if (S_ISDIR(st.st_mode)) {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
    ScopedFd source(Sys().openat(from.dir, from.name.c_str(), kFlags, 0));
    ok = source.IsValid() && Sys().mkdirat(to.dir, to.name.c_str(), 0700) == 0;
    if (!ok) return false;
    ScopedFd made(Sys().openat(to.dir, to.name.c_str(), kFlags, 0));
    std::vector<std::string> names;
    ok = made.IsValid() && ListNamesAt(source.Get(), &names);
    for (const std::string& name : names) {
      ok = ok && CopyEntry({source.Get(), name}, {made.Get(), name});
    }
    ok = ok && SetPermissions(made.Get(), st.st_mode & 03777) && CopyTimes(to, st);
  } else if (S_ISLNK(st.st_mode)) {
    // A link made again is the copying user's link, and trusted as such
    // (fs/trusted_path.h): only the user's own is.
    if (st.st_uid != ::geteuid()) {
      errno = EPERM;
      return false;
    }
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    ssize_t n = Sys().readlinkat(from.dir, from.name.c_str(), target.data(), target.size());
    ok = n >= 0 && static_cast<size_t>(n) < target.size();
    if (ok) target.resize(static_cast<size_t>(n));
    ok = ok && Sys().symlinkat(target.c_str(), to.dir, to.name.c_str()) == 0;
  } else if (S_ISREG(st.st_mode)) {
    ok = CopyFileContent(from, to, st);
  } else {
    ok = false;  // devices, sockets, pipes: not ours to move
  }
  if (!ok) RemoveTreeAt(to.dir, to.name);
  return ok;
}

}  // namespace

uint32_t ShellMakeDirs(const std::string& path) {
  if (path.empty()) return kErrorNotFound;
  std::vector<std::string> made;
  return OpenDirectoryTrusted(path, &made).IsValid() ? kErrorNone : kErrorNotFound;
}

uint32_t ShellRemoveFile(const std::string& path) {
  if (!path.empty()) RemoveFile(path);
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
  return MoveEntry(source, destination, true);
}

uint32_t MoveWithinFileSystem(const std::string& source, const std::string& destination) {
  return MoveEntry(source, destination, false);
}

namespace {

uint32_t MoveEntry(const std::string& source, const std::string& destination, bool copies) {
  std::string to = destination;
  PathParent from;
  struct stat st;
  if (source.empty() || to.empty() || !OpenParentTrusted(source, &from) ||
      Sys().fstatat(from.directory.Get(), from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return kErrorNotFound;
  }
  if (IsDirectoryPath(to)) {
    // As with mv, an existing directory receives the source inside it.
    struct stat target;
    if (Sys().stat(to.c_str(), &target) == 0 && st.st_dev == target.st_dev &&
        st.st_ino == target.st_ino) {
      return kErrorNotFound;
    }
    to += "/" + from.name;
  }
  PathParent into;
  if (!OpenParentTrusted(to, &into)) return kErrorNotFound;
  const Place origin{from.directory.Get(), from.name};
  const Place place{into.directory.Get(), into.name};
  if (S_ISDIR(st.st_mode)) ForgetResolvedDirectories();
  if (Sys().renameat(origin.dir, origin.name.c_str(), place.dir, place.name.c_str()) == 0) {
    return kErrorNone;
  }
  if (errno != EXDEV || !copies) return kErrorNotFound;

  // Another file system: copy beside the destination under a name of our
  // own, flush it, put it in place with one rename, and only then remove the
  // source. A crash at any point leaves the source whole; at worst the
  // staging copy stays, under a name MoveStagingPath() knows.
  struct stat existing;
  bool replacing =
      Sys().fstatat(place.dir, place.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
  if (replacing && S_ISDIR(existing.st_mode) != S_ISDIR(st.st_mode)) return kErrorNotFound;
  const std::string stagingName = BaseName(MoveStagingPath(to));
  const Place staging{place.dir, stagingName};
  RemoveTreeAt(staging.dir, staging.name);  // a copy an earlier, interrupted move left
  if (!CopyEntry(origin, staging)) return kErrorNotFound;
  if (Sys().renameat(staging.dir, staging.name.c_str(), place.dir, place.name.c_str()) != 0) {
    RemoveTreeAt(staging.dir, staging.name);
    return kErrorNotFound;
  }
  SyncDirectoryOf(to);
  RemoveTreeAt(origin.dir, origin.name);
  return kErrorNone;
}

}  // namespace

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
      RemoveFile(dir + name);
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
