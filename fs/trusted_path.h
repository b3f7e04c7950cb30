// Where files are changed, paths are never handed to the kernel whole: the
// directory that holds the file is opened one level at a time, and a link
// on the way is followed only when it belongs to the user the program runs
// as, or to root (the rule the kernel's protected_symlinks applies in
// sticky folders, here everywhere). In a folder others can write (a shared
// templates folder, a target root installs into), nobody can then send a
// write, a move or a removal outside it by planting a link, or by swapping
// a folder for one in the middle of a run. The last component is never
// followed: callers act on it with the *at calls and O_NOFOLLOW.
#ifndef QORV_FS_TRUSTED_PATH_H_
#define QORV_FS_TRUSTED_PATH_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "fs/file_util.h"

namespace qorv {

// Whether a link owned by `owner` is followed: the effective user's own,
// and root's.
bool TrustedOwner(uid_t owner);

// The directory `path` (a relative one from the working directory), opened
// with O_PATH. When `made` is given, missing levels are made (0777 before
// the umask) and each one made is added to it, outermost first. Invalid
// with errno on failure: ENOTDIR for a level that is not a directory, ELOOP
// for a link that is not followed (TakeRefusedLink() names it).
ScopedFd OpenDirectoryTrusted(const std::string& path, std::vector<std::string>* made = nullptr);

// The directory holding `path`, opened as above, and the last component
// of `path`. False with errno: EINVAL when `path` has no last component
// ("", "/", or one ending in "." or "..").
struct PathParent {
  ScopedFd directory;
  std::string name;
};
bool OpenParentTrusted(const std::string& path, PathParent* parent);

// The link the calling thread's last walk refused, and its owner; each
// refusal is told once. Another thread's refusals are its own.
struct RefusedLink {
  std::string path;
  uid_t owner = 0;
};
bool TakeRefusedLink(RefusedLink* link);

// Whether the user may keep state at `path` (a manifest, a log, the
// launcher file): the file, when it is there, and the nearest directory on
// the way to it that exists belong to the effective user or root. Root run
// with another user's HOME then never writes into, or acts on, that user's
// files. When not, `*problem` says whose they are.
bool IsOwnPlace(const std::string& path, std::string* problem);
// Whether `path` is a place only the effective user controls, checked all
// the way up from "/": every directory on the way that exists (and a link
// on the way) belongs to the user or root, and none that others can write
// is anything but sticky (in a sticky folder only the owner of a name can
// move it away). A registry of the user's runs there cannot be forged or
// swapped by anybody else. When not, `*problem` names the first place that
// fails and why.
bool IsSafeOwnPath(const std::string& path, std::string* problem);
// "owned by user 1000 (alice), not by the user running this program"
std::string ForeignOwnerText(uid_t owner);

// Resolving the directory of the last change again costs one call: each
// thread keeps it open. After a directory is removed or moved, every
// thread resolves afresh.
void ForgetResolvedDirectories();

}  // namespace qorv

#endif  // QORV_FS_TRUSTED_PATH_H_
