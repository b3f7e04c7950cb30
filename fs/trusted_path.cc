#include "fs/trusted_path.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string_view>

#include "fs/sys_calls.h"

namespace qorv {

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW;

// Each thread's own last refusal: a writer thread's never stands for the
// copy thread's.
thread_local RefusedLink tRefused;
thread_local bool tHasRefused = false;

std::atomic<uint64_t> gGeneration{0};

struct ResolvedDirectory {
  std::string path;
  ScopedFd fd;
  uint64_t generation = 0;
};
thread_local ResolvedDirectory tLast;

void Refuse(const std::string& path, uid_t owner) {
  tRefused = RefusedLink{path, owner};
  tHasRefused = true;
}

// The components of `path` that name something: no empty ones, no ".".
void PushComponents(std::string_view path, std::deque<std::string>* pending) {
  std::deque<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  pending->insert(pending->begin(), parts.begin(), parts.end());
}

ScopedFd OpenStart(bool absolute) {
  return ScopedFd(Sys().openat(AT_FDCWD, absolute ? "/" : ".", O_PATH | O_DIRECTORY, 0));
}

std::string Below(const std::string& shown, bool absolute, const std::string& name) {
  if (shown.empty()) return absolute ? "/" + name : name;
  return shown == "/" ? "/" + name : shown + "/" + name;
}

ScopedFd Walk(const std::string& path, std::vector<std::string>* made) {
  const bool absolute = path[0] == '/';
  ScopedFd current = OpenStart(absolute);
  std::string shown;  // the path walked so far, for messages and `made`
  std::deque<std::string> pending;
  PushComponents(path, &pending);
  int links = 0;
  while (current.IsValid() && !pending.empty()) {
    const std::string name = std::move(pending.front());
    pending.pop_front();
    const std::string here = Below(shown, absolute, name);
    ScopedFd next(Sys().openat(current.Get(), name.c_str(), kDirectoryFlags, 0));
    if (!next.IsValid() && errno == ENOENT && made != nullptr && name != "..") {
      if (Sys().mkdirat(current.Get(), name.c_str(), 0777) == 0) {
        made->push_back(here);
      } else if (errno != EEXIST) {
        return ScopedFd();
      }
      next = ScopedFd(Sys().openat(current.Get(), name.c_str(), kDirectoryFlags, 0));
    }
    if (next.IsValid()) {
      current = std::move(next);
      shown = name == ".." ? shown.substr(0, shown.rfind('/')) : here;
      continue;
    }
    if (errno != ENOTDIR && errno != ELOOP) return ScopedFd();
    // A link, or something that is no directory. The link is opened
    // itself, so that its owner and its text are those of one link, even
    // when another takes its name meanwhile.
    ScopedFd link(Sys().openat(current.Get(), name.c_str(), O_PATH | O_NOFOLLOW, 0));
    struct stat st;
    if (!link.IsValid() || Sys().fstat(link.Get(), &st) != 0) return ScopedFd();
    if (!S_ISLNK(st.st_mode)) {
      errno = ENOTDIR;
      return ScopedFd();
    }
    if (!TrustedOwner(st.st_uid)) {
      Refuse(here, st.st_uid);
      errno = ELOOP;
      return ScopedFd();
    }
    if (++links > kMaxLinks) {
      errno = ELOOP;
      return ScopedFd();
    }
    char text[PATH_MAX];
    ssize_t n = Sys().readlinkat(link.Get(), "", text, sizeof text);
    if (n < 0) return ScopedFd();
    if (n == 0 || static_cast<size_t>(n) >= sizeof text) {
      errno = n == 0 ? ENOENT : ENAMETOOLONG;
      return ScopedFd();
    }
    PushComponents(std::string_view(text, static_cast<size_t>(n)), &pending);
    if (text[0] == '/') {
      current = OpenStart(true);
      shown.clear();
    }
  }
  return current;
}

ScopedFd Duplicate(const ScopedFd& fd) { return ScopedFd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0)); }

}  // namespace

bool TrustedOwner(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

ScopedFd OpenDirectoryTrusted(const std::string& path, std::vector<std::string>* made) {
  if (path.empty()) {
    errno = ENOENT;
    return ScopedFd();
  }
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  const uint64_t generation = gGeneration.load(std::memory_order_acquire);
  if (tLast.fd.IsValid() && tLast.generation == generation && tLast.path == key) {
    ScopedFd copy = Duplicate(tLast.fd);
    if (copy.IsValid()) return copy;
  }
  ScopedFd fd = Walk(key, made);
  if (fd.IsValid()) {
    tLast.fd = Duplicate(fd);
    tLast.path = key;
    tLast.generation = generation;
  }
  return fd;
}

bool OpenParentTrusted(const std::string& path, PathParent* parent) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return false;
  }
  parent->directory = OpenDirectoryTrusted(slash == std::string::npos ? std::string(".")
                                           : slash == 0               ? std::string("/")
                                                                      : trimmed.substr(0, slash));
  parent->name = std::move(name);
  return parent->directory.IsValid();
}

std::string ForeignOwnerText(uid_t owner) {
  std::string text = "owned by user " + std::to_string(owner);
  if (const struct passwd* user = ::getpwuid(owner))
    text += std::string(" (") + user->pw_name + ")";
  return text + ", not by the user running this program";
}

namespace {

// Why the state at a place of another user's is not used, and what to do:
// a HOME that is not the running user's (root started with sudo -E).
std::string ForeignStateText(uid_t owner) {
  return ForeignOwnerText(owner) + "; run as that user, or with your own HOME (sudo -H for root)";
}

}  // namespace

bool IsOwnPlace(const std::string& path, std::string* problem) {
  std::string place = path;
  while (place.size() > 1 && place.back() == '/') place.pop_back();
  for (;;) {
    struct stat st;
    if (Sys().lstat(place.c_str(), &st) == 0) {
      if (TrustedOwner(st.st_uid)) return true;
      *problem = place + ": " + ForeignStateText(st.st_uid);
      return false;
    }
    const size_t slash = place.rfind('/');
    if (slash == std::string::npos || place == "/") return true;  // nothing of anybody's there
    place = slash == 0 ? std::string("/") : place.substr(0, slash);
  }
}

bool IsSafeOwnPath(const std::string& path, std::string* problem) {
  if (path.empty() || path[0] != '/') {
    *problem = path + ": not an absolute path";
    return false;
  }
  std::string place;
  std::deque<std::string> parts;
  PushComponents(path, &parts);
  std::vector<std::string> levels{"/"};
  for (const std::string& part : parts) {
    place += "/" + part;
    levels.push_back(place);
  }
  for (const std::string& level : levels) {
    struct stat st;
    if (Sys().lstat(level.c_str(), &st) != 0) {
      if (errno == ENOENT) return true;  // the rest is the user's to make
      *problem = level + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      if (!TrustedOwner(st.st_uid)) {
        *problem = level + ": a link " + ForeignOwnerText(st.st_uid);
        return false;
      }
      if (Sys().stat(level.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        *problem = level + ": " + std::strerror(errno);
        return false;
      }
    }
    if (!TrustedOwner(st.st_uid)) {
      *problem = level + ": " + ForeignStateText(st.st_uid);
      return false;
    }
    const bool last = level == levels.back();
    if (!last && !S_ISDIR(st.st_mode)) {
      *problem = level + ": " + std::strerror(ENOTDIR);
      return false;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
        (!S_ISDIR(st.st_mode) || (st.st_mode & S_ISVTX) == 0)) {
      *problem = level + ": writable by other users";
      return false;
    }
  }
  return true;
}

bool TakeRefusedLink(RefusedLink* link) {
  if (!tHasRefused) return false;
  *link = std::move(tRefused);
  tHasRefused = false;
  return true;
}

void ForgetResolvedDirectories() { gGeneration.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace qorv
