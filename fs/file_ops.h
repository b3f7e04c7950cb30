// Creating, moving and removing files and trees. The names keep the
// "Shell" prefix of the commands they stand for (mkdir -p, rm -f, rm -rf,
// mv, touch), and the answers are those of the commands, but the work is
// done with system calls: a path reaches the file system unchanged whatever
// it holds (quotes, $, backquotes, newlines, a leading '-'), and no process
// is started per file. Symbolic links are never followed into.
#ifndef QORV_FS_FILE_OPS_H_
#define QORV_FS_FILE_OPS_H_

#include <cstdint>
#include <string>

#include "base/text_string.h"

namespace qorv {

// Creates `path` and every missing parent. Returns 0, or 2 when a level
// cannot be created or exists as something else than a directory.
uint32_t ShellMakeDirs(const std::string& path);
// Removes a file or link (never a directory). Always 0.
uint32_t ShellRemoveFile(const std::string& path);
// Removes a file, or a directory with everything in it. Always 0; what
// cannot be removed stays, and the root directory is never removed.
uint32_t ShellRemoveTree(const std::string& path);
// Moves `source` to `destination` as mv does: onto an existing directory it
// moves into it; across file systems it copies content, permission bits and
// times (a directory with everything in it) and then removes the source.
// Returns 0, or 2 when nothing was moved. A copy is the moving user's: it
// never has the set-user or set-group bit, and a link is made again only
// when it is the user's own (errno EPERM otherwise).
uint32_t ShellMove(const std::string& source, const std::string& destination);
// The same, but never a copy: across file systems, 2 with errno EXDEV.
uint32_t MoveWithinFileSystem(const std::string& source, const std::string& destination);
// Where ShellMove keeps its copy across file systems until the copy is
// complete: ".qorv-move-<hash of the name>" beside `destination`.
std::string MoveStagingPath(const std::string& destination);
// Creates a new, empty file whose name starts with the first five
// characters of `prefix`, in $TMPDIR when that names a directory, else in
// `directory` when it is one, else in /tmp. *path receives the name even on
// failure. Returns 0, or 1013 when no file could be created.
uint32_t MakeTempFile(const std::string& directory, const std::string& prefix, std::string* path);
// Opens a new file for reading and writing, mode 0600, that has no name in
// `directory`: O_TMPFILE where the file system has it, else a unique name
// that is removed at once. It goes with its last descriptor. Returns the
// descriptor, or -1 with errno set.
int OpenNamelessFile(const char* directory);
// Removes the files OpenNamelessFile() named in `directory` whose process
// is gone (killed in the moment between open and unlink).
void RemoveOrphanedNamelessFiles(const char* directory);
// Runs a command line through /bin/sh; the status word of system().
int RunShell(const NarrowString& command);
// True when `path` (in the locale's bytes) is an existing directory, or a
// link to one.
bool IsDirectoryPath(const std::string& path);

// True when `path` names an existing entry (links followed). Exact: no
// character of the name has a special meaning. False for an empty path or
// one ending in "/".
bool PathExists(const std::string& path);

}  // namespace qorv

#endif  // QORV_FS_FILE_OPS_H_
