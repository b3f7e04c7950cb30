#include "testing/scratch_dir.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qorv::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  const char* base = std::getenv("QORV_TEST_BINARY_DIR");
  std::string root = base != nullptr ? std::string(base) + "/scratch" : "/tmp";
  fs::create_directories(root);
  std::string pattern = root + "/t-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  path_ = pattern;
}

ScratchDir::~ScratchDir() { RemoveAll(path_); }

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) saved_ = old;
  Set(value);
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    ::setenv(name_.c_str(), saved_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

void ScopedEnv::Set(const std::string& value) { ::setenv(name_.c_str(), value.c_str(), 1); }

void ScopedEnv::Unset() { ::unsetenv(name_.c_str()); }

void WriteFile(const std::string& path, const std::string& content) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

int64_t MTime(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return st.st_mtime;
}

void SetMTime(const std::string& path, int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    throw std::runtime_error("utimensat " + path);
  }
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

void RemoveAll(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  if (!fs::exists(root)) return tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::string path = it->path().string();
    struct stat st;
    ::lstat(path.c_str(), &st);
    std::string description = std::to_string(st.st_mode);
    if (S_ISREG(st.st_mode)) {
      std::string content = ReadFile(path);
      description += " " + std::to_string(st.st_mtime) + " " +
                     (content.size() <= 40 ? content
                                           : std::to_string(content.size()) + " bytes #" +
                                                 std::to_string(std::hash<std::string>{}(content)));
    }
    tree[path.substr(root.size())] = description;
  }
  return tree;
}

std::string MakeDirOnOtherFileSystem(const std::string& near) {
  struct stat shm;
  struct stat here;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(near.c_str(), &here) != 0 ||
      shm.st_dev == here.st_dev) {
    return std::string();
  }
  char pattern[] = "/dev/shm/qorv-XXXXXX";
  return ::mkdtemp(pattern) == nullptr ? std::string() : std::string(pattern);
}

SmallFileSystem::SmallFileSystem(const std::string& path, uint64_t bytes) : path_(path) {
  fs::create_directories(path);
  std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

uint64_t SmallFileSystem::Free() const {
  struct statvfs st;
  if (::statvfs(path_.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

void SmallFileSystem::LeaveFree(uint64_t bytes) {
  std::string filler = path_ + "/filler";
  if (::truncate(filler.c_str(), 0) != 0) WriteFile(filler, "");
  uint64_t free = Free();
  if (free <= bytes) return;
  // tmpfs counts what is written, not what a file's size claims.
  int fd = ::open(filler.c_str(), O_WRONLY);
  if (fd < 0) throw std::runtime_error("open " + filler);
  std::string block(65536, 'f');
  for (uint64_t left = free - bytes; left > 0;) {
    size_t n = left < block.size() ? static_cast<size_t>(left) : block.size();
    ssize_t written = ::write(fd, block.data(), n);
    if (written <= 0) break;
    left -= static_cast<uint64_t>(written);
  }
  ::close(fd);
}

}  // namespace qorv::testing
