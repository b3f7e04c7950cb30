// A directory search by wildcard mask: FindFirst("dir/*.cf") then FindNext()
// until it answers false. A walk lists "." and ".." too; callers skip them.
// Used by one thread at a time. For "does this path exist" use PathExists
// (fs/file_ops.h): a mask treats *, ?, [ and backslashes as pattern syntax.
#ifndef QORV_FS_FILE_FINDER_H_
#define QORV_FS_FILE_FINDER_H_

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>

#include "base/text_string.h"

namespace qorv {

class FileFinder {
 public:
  FileFinder() = default;
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;
  ~FileFinder() { Close(); }

  // Splits `pattern` at its last "/" into directory and mask (fnmatch with
  // FNM_PATHNAME; leading dots match wildcards). False when the directory
  // cannot be opened (an empty directory part cannot) or nothing matches.
  bool FindFirst(const WideString& pattern);
  // The next matching entry whose status can be read; false at the end,
  // after which the directory is closed.
  bool FindNext();
  // The found entry's name while the search is open, else empty.
  WideString GetFoundName() const;
  // 16 when the search is open and the found entry is a directory, else 0.
  uint32_t GetFoundAttributes() const;
  void Close();

 private:
  DIR* dir_ = nullptr;
  NarrowString mask_;
  NarrowString directory_;
  NarrowString pattern_;
  NarrowString found_;
  struct stat status_ {};
};

}  // namespace qorv

#endif  // QORV_FS_FILE_FINDER_H_
