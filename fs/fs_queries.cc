#include "fs/fs_queries.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "fs/sys_calls.h"

namespace qorv {

namespace {

bool ProbeWritable(const std::string& dir) {
  std::string probe;
  if (!CreateUniqueFile(Join(dir, ".Vexa"), O_WRONLY, 0600, &probe).IsValid()) return false;
  RemoveFile(probe);
  return true;
}

}  // namespace

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.c_str();
}

std::string TempDirectory() {
  std::string dir = "/tmp";
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && *env != '\0' && IsDirectoryPath(env)) dir = env;
  return WithTrailingSlash(dir);
}

bool FileSize(const std::string& path, uint64_t* size) {
  struct stat st;
  if (Sys().stat(path.c_str(), &st) != 0) return false;
  if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FreeSpaceOf(const std::string& path, uint64_t* free, uint64_t* blockSize) {
  struct statvfs st;
  if (Sys().statvfs(path.c_str(), &st) != 0) return false;
  // /proc, sysfs and their kind keep no blocks: their figures say nothing.
  if (st.f_blocks == 0) return false;
  *free = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  *blockSize = st.f_frsize != 0 ? st.f_frsize : 4096;
  return true;
}

uint64_t FreeSpaceInTemp() {
  struct statvfs st;
  if (Sys().statvfs(TempDirectory().c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bfree) * static_cast<uint64_t>(st.f_frsize);
}

bool IsWritableDirectory(const std::string& directory) {
  std::string dir = StripTrailingSlashes(directory);
  if (dir.empty()) return false;
  // Climb to the nearest entry that exists; it must be a directory.
  for (;;) {
    struct stat st;
    if (Sys().stat(dir.c_str(), &st) == 0) {
      return S_ISDIR(st.st_mode) && ProbeWritable(dir);
    }
    if (errno != ENOENT || dir == "/" || dir == ".") return false;
    dir = DirName(dir);
  }
}

}  // namespace qorv
