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

namespace {}  // namespace

bool CanCreateFileIn(const std::string& directory) {
  // Whatever the last level is (a link to a folder included), the new
  // inode comes and goes with the descriptor: no name ever exists.
  ScopedFd fd(Sys().open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (fd.IsValid()) return true;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  // A file system without such files: what the kernel would check.
  if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
  struct statvfs st;
  if (Sys().statvfs(directory.c_str(), &st) != 0) return true;
  if ((st.f_flag & ST_RDONLY) != 0) {
    errno = EROFS;
    return false;
  }
  // /proc, sysfs and their kind keep no blocks and take no new names: a
  // mkdir or a create there fails with ENOENT, whatever the permissions.
  if (st.f_blocks == 0) {
    errno = ENOENT;
    return false;
  }
  return true;
}

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
      return S_ISDIR(st.st_mode) && CanCreateFileIn(dir);
    }
    if (errno != ENOENT || dir == "/" || dir == ".") return false;
    dir = DirName(dir);
  }
}

}  // namespace qorv
