// Questions about the file system that the preparation asks before anything
// is written: where temporary files go, how big the kit is, how much room
// there is, and whether a template directory can be written.
#ifndef QORV_FS_FS_QUERIES_H_
#define QORV_FS_FS_QUERIES_H_

#include <cstdint>
#include <string>

#include "base/text_string.h"

namespace qorv {

// The current directory (any length); empty when it cannot be found.
std::string CurrentDirectory();
// $TMPDIR when it names an existing directory, else "/tmp"; always ends in
// "/".
std::string TempDirectory();
// The size of the file at `path` (links followed); false when it has none.
bool FileSize(const std::string& path, uint64_t* size);
// Free bytes (reserved blocks counted) of the file system holding
// TempDirectory(); 0 when that cannot be asked.
uint64_t FreeSpaceInTemp();
// The bytes an unprivileged user may still write on the file system holding
// `path`, and its block size; false (errno set) when it cannot be asked,
// and for a file system that keeps no blocks (/proc, sysfs), whose figures
// say nothing.
bool FreeSpaceOf(const std::string& path, uint64_t* free, uint64_t* blockSize);
// Whether a file can be created in `directory`, asked without giving
// anything a name there: a file without a name (O_TMPFILE), else the
// permission and the mount's read-only flag. A kill or a dry run leaves
// nothing behind and no folder's time changes. A directory that does not
// exist yet passes when its nearest existing ancestor does, since the copy
// creates the rest.
bool IsWritableDirectory(const std::string& directory);
// The same for an existing directory; false with errno set.
bool CanCreateFileIn(const std::string& directory);

}  // namespace qorv

#endif  // QORV_FS_FS_QUERIES_H_
