// A fresh directory for one test, on the file system of the build tree
// (real files on a real file system), removed with everything in it at the
// end. Small helpers read and write whole files in it.
#ifndef QORV_TESTING_SCRATCH_DIR_H_
#define QORV_TESTING_SCRATCH_DIR_H_

#include <cstdint>
#include <map>
#include <string>

namespace qorv::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory, without a final "/".
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets an environment variable for the life of the object, then puts back
// what was there (or unsets it).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  void Set(const std::string& value);
  void Unset();

 private:
  std::string name_;
  bool had_;
  std::string saved_;
};

// Writes `content` to `path`, creating missing parents.
void WriteFile(const std::string& path, const std::string& content);
// The whole content of `path`, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);  // lstat: links are not followed
int64_t MTime(const std::string& path);
void SetMTime(const std::string& path, int64_t seconds);
void MakeDirs(const std::string& path);
void RemoveAll(const std::string& path);
// A new, empty directory under /dev/shm when that is another file system
// than the one holding `near`; empty when there is none here.
std::string MakeDirOnOtherFileSystem(const std::string& near);
// A tmpfs of `bytes` mounted on `path` (created) for the life of the
// object: a disk that really fills up. Needs root; Mounted() says whether it
// worked.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& path, uint64_t bytes);
  ~SmallFileSystem();
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool Mounted() const { return mounted_; }
  // Sizes the file `filler` on it so that about `bytes` stay free.
  void LeaveFree(uint64_t bytes);
  uint64_t Free() const;

 private:
  std::string path_;
  bool mounted_ = false;
};

// Everything a user could notice about a tree: names, types, contents,
// modification times of files, permission bits; keyed by path below `root`.
std::map<std::string, std::string> Snapshot(const std::string& root);

}  // namespace qorv::testing

#endif  // QORV_TESTING_SCRATCH_DIR_H_
