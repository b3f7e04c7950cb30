// What the installs put into a target: each file's path (relative to the
// target), size, time and SHA-256, the directories they made, and the kit
// they came from. Kept per target under $XDG_STATE_HOME/qorv/manifests/
// (default ~/.local/state/qorv/manifests/); the copy job replaces it inside
// its run, so a later kit can remove what this one dropped and an uninstall
// knows what is the installer's to remove. Text, one record per line:
//
//   qorv-manifest 1
//   T <length>:<target root>
//   K <hex SHA-256 of the kit, or "-" for a kit without a trailer>
//   D <length>:<absolute directory>          (outermost first)
//   F <size> <unix seconds> <hex SHA-256> <length>:<relative path>
//   end
//
// Any thread; nothing is cached.
#ifndef QORV_COPY_MANIFEST_H_
#define QORV_COPY_MANIFEST_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit_crypto.h"

namespace qorv {

// What lstat said of a file when a run last wrote it or found it unchanged:
// a file that still says the same (size, modification and change times to
// the nanosecond, inode, device) is unchanged without being read, as a
// version-control index does it.
struct FileFacts {
  bool known = false;
  // Recorded clearly before the manifest was written: a change since would
  // show in the change time. Not so for a file changed in the same tick
  // the manifest was written ("racy"): that one is read. Set on loading.
  bool trusted = false;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  uint64_t inode = 0;
  uint64_t device = 0;
};
FileFacts FactsOf(const struct stat& st);
// Whether both are known and say the same of one file.
bool SameFacts(const FileFacts& a, const FileFacts& b);

struct ManifestFile {
  std::string path;  // relative to the target, "/" separators
  uint64_t size = 0;
  int64_t time = 0;  // last write, whole seconds since 1970
  Digest digest{};
  FileFacts facts;  // written as an "S" line after the file's; optional
};

struct Manifest {
  std::string target;  // the target root, ending with "/"
  std::string kit;     // hex SHA-256 of the kit; "-" when it had no trailer
  // Directories the installs made (the target and its parents included),
  // outermost first.
  std::vector<std::string> directories;
  std::vector<ManifestFile> files;

  const ManifestFile* Find(const std::string& path) const;
};

// The installer's state: $XDG_STATE_HOME/qorv/ (an absolute XDG_STATE_HOME
// only), else ~/.local/state/qorv/; ends with "/". Empty without a home.
std::string StateDirectory();
// StateDirectory() + "manifests/".
std::string ManifestDirectory();
// The manifest file of the target root `targetRoot` (ending with "/").
std::string ManifestPathFor(const std::string& targetRoot);

std::string EncodeManifest(const Manifest& manifest);
// False for anything but a whole manifest of this format, and for one that
// names a file outside its target (an absolute path, an empty, "." or ".."
// component) or a directory neither on the way to its target nor below it.
bool ParseManifest(const std::string& text, Manifest* manifest);

enum class ManifestState {
  kNone,  // never installed with a manifest
  kRead,
  kDamaged,  // there, but unreadable or not a manifest: treated as none
};
ManifestState LoadManifest(const std::string& targetRoot, Manifest* manifest);

// Undoes a replacement of the manifest at `manifestPath`. When there
// `hadOne`, its old copy was saved as `oldCopy`, which is put back (a
// missing copy was put back already: an undo cut short and done again);
// else the manifest goes. False when it cannot be put back.
bool PutBackManifest(const std::string& manifestPath, const std::string& oldCopy, bool hadOne);

// The SHA-256 of the file at `path`; false when it cannot be read.
bool DigestOfFile(const std::string& path, Digest* digest);
// Whether the file `targetRoot` + `file.path` is still as recorded: a
// regular file of that size, time (whole seconds) and digest.
// With `now`, what lstat says of the file now when it is unchanged (to be
// recorded again).
bool UnchangedSince(const std::string& targetRoot, const ManifestFile& file,
                    FileFacts* now = nullptr);

}  // namespace qorv

#endif  // QORV_COPY_MANIFEST_H_
