#include "copy/run_changes.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/text_convert.h"
#include "copy/run_directory.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"

namespace qorv {

bool RestoreTree(const std::string& target, const std::string& backup,
                 std::vector<UnrestoredFile>* unrestored) {
  std::vector<std::string> names;
  if (!ListNames(backup, &names)) {
    if (errno == ENOENT) return true;
    if (unrestored != nullptr) unrestored->push_back({Wide(target), Wide(backup)});
    return false;
  }
  bool ok = true;
  for (const std::string& name : names) {
    std::string source = backup + name;
    std::string destination = target + name;
    struct stat st;
    bool moved;
    if (Lstat(source, &st) && S_ISDIR(st.st_mode)) {
      ok = RestoreTree(WithTrailingSlash(destination), WithTrailingSlash(source), unrestored) && ok;
      continue;
    }
    if (IsDirectoryPath(destination)) {
      moved = false;  // a move would land inside it, not in its place
    } else {
      moved = ShellMove(source, destination) == kErrorNone;
    }
    if (!moved && unrestored != nullptr) unrestored->push_back({Wide(destination), Wide(source)});
    ok = moved && ok;
  }
  return ok;
}

uint32_t DeleteTree(const std::string& path) {
  if (path.empty() || IsRootPath(path)) return kErrorNone;
  return ShellRemoveTree(path);
}

void RunChanges::Begin(const std::string& targetRoot, const std::string& backupRoot, bool copies) {
  copies_ = copies;
  // Nothing of an earlier run of the same job is this run's to undo.
  createdDirectories_.clear();
  createdFiles_.clear();
  replacedFiles_.clear();
  createdBeforeLock_.clear();
  knownDirectories_.clear();
  plannedDirectories_.clear();
  knownBackupDirectories_.clear();
  createdFileSet_.clear();
  targetRoot_ = targetRoot;
  backupRoot_ = backupRoot;
}

uint32_t RunChanges::Failing(uint32_t code, const char* what, const std::string& path, int error) {
  if (cause_->empty()) *cause_ = CauseOf(what, path, error);
  return code;
}

void RunChanges::AnnounceDirectories(const std::string& parent, RunJournal* journal) {
  std::vector<std::string> missing;  // innermost first
  for (std::string directory = parent; !directory.empty() && !IsRootPath(directory);
       directory = ParentOf(directory)) {
    std::string key = StripTrailingSlashes(directory);
    if (knownDirectories_.count(key) != 0 || plannedDirectories_.count(key) != 0) break;
    if (IsDirectoryPath(key)) {
      knownDirectories_.insert(key);
      break;
    }
    missing.push_back(key);
    plannedDirectories_.insert(key);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    journal->Add(RecordKind::kDirectory, *it);
  }
}

void RunChanges::ForgetDirectories() {
  knownDirectories_.clear();
  plannedDirectories_.clear();
}

uint32_t RunChanges::EnsureDirectory(const std::string& path) {
  if (IsRootPath(path)) return kErrorNone;
  std::string key = StripTrailingSlashes(path);
  if (knownDirectories_.count(key) != 0) return kErrorNone;
  if (IsDirectoryPath(key)) {
    knownDirectories_.insert(key);
    return kErrorNone;
  }
  std::string parent = ParentOf(path);
  if (!parent.empty()) {
    uint32_t code = EnsureDirectory(parent);
    if (code != 0) return code;
  }
  // Recorded only when this mkdir made it: one another installer made a
  // moment ago is not this run's to remove.
  if (MakeDirectory(key, 0777)) {
    createdDirectories_.push_back(path);
  } else if (errno != EEXIST || !IsDirectoryPath(key)) {
    return Failing(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", key,
                   errno == EEXIST ? ENOTDIR : errno);
  }
  knownDirectories_.insert(key);
  return kErrorNone;
}

uint32_t RunChanges::MakeTarget(const std::string& target) {
  const size_t before = createdDirectories_.size();
  uint32_t code = EnsureDirectory(target);
  createdBeforeLock_.insert(createdBeforeLock_.end(), createdDirectories_.begin() + before,
                            createdDirectories_.end());
  createdDirectories_.resize(before);
  return code;
}

uint32_t RunChanges::EnsureDirectoryQuiet(const std::string& path) {
  if (IsRootPath(path)) return kErrorNone;
  std::string key = StripTrailingSlashes(path);
  if (knownBackupDirectories_.count(key) != 0) return kErrorNone;
  if (ShellMakeDirs(path) != 0) {
    return Failing(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", key, errno);
  }
  knownBackupDirectories_.insert(key);
  return kErrorNone;
}

uint32_t RunChanges::BackupFile(const std::string& path, bool exists) {
  if (!exists) {
    // Nothing there: the run creates this file, and a rollback removes it.
    if (createdFileSet_.insert(path).second) createdFiles_.push_back(path);
    return kErrorNone;
  }
  // A file this run wrote already, or whose original is already saved, needs
  // no backup: the original is what a rollback must bring back.
  if (createdFileSet_.count(path) != 0) return kErrorNone;
  std::string backup = BackupPathOf(path);
  struct stat st;
  if (Lstat(backup, &st)) return kErrorNone;
  if (Lstat(path, &st) && S_ISDIR(st.st_mode)) {
    // A directory where the kit has a file.
    return Failing(kErrorInvalidParameter, "IDS_CAUSE_WRITE", path, EISDIR);
  }

  std::string backupParent = ParentOf(backup);
  if (!backupParent.empty()) {
    uint32_t code = EnsureDirectoryQuiet(backupParent);
    if (code != 0) return code;
  }
  // Without a backup the old file could not be put back: that is a failure,
  // never a reason to write over it anyway.
  const uint32_t moved = copies_ ? ShellMove(path, backup) : MoveWithinFileSystem(path, backup);
  if (moved != kErrorNone) {
    return Failing(kErrorCannotBackUp, "IDS_CAUSE_BACKUP", path, errno);
  }
  replacedFiles_.push_back(path);
  return kErrorNone;
}

bool RunChanges::Undo(std::vector<UnrestoredFile>* unrestored) {
  // First free what the run wrote: on a full disk the old files may only fit
  // back once the new ones, the partly written one above all, are gone. A
  // file the run wrote is never one it backed up, so nothing restored below
  // is removed here.
  for (auto it = createdFiles_.rbegin(); it != createdFiles_.rend(); ++it) ShellRemoveFile(*it);
  for (const std::string& path : replacedFiles_) {
    struct stat st;
    // Only where the old file is safe in the backup tree.
    if (Lstat(BackupPathOf(path), &st) && Lstat(path, &st) && !S_ISDIR(st.st_mode)) {
      RemoveFile(path);
    }
  }
  // Whole, with everything in them: the run holds the target's lock, so
  // nothing in a directory it created is anybody else's. (The recovery at a
  // later start cannot know that, and removes only empty ones.)
  for (const std::string& directory : createdDirectories_) DeleteTree(directory);
  for (auto it = createdBeforeLock_.rbegin(); it != createdBeforeLock_.rend(); ++it) {
    RemoveEmptyDirectory(*it);
  }
  // Then put the old files back.
  if (backupRoot_.empty() || targetRoot_.empty()) return true;
  return RestoreTree(targetRoot_, backupRoot_, unrestored);
}

}  // namespace qorv
