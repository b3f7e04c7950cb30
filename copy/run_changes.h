// What one copy run has changed in its target, and how to take it back: the
// directories it made, the files it wrote where there were none, and the
// files it moved into its backup tree before writing over or removing them.
// Undo() removes what the run wrote and puts the old files back, so that the
// target is as it was before the run. The copy thread of one run.
#ifndef QORV_COPY_RUN_CHANGES_H_
#define QORV_COPY_RUN_CHANGES_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "copy/progress_channel.h"
#include "copy/run_journal.h"

namespace qorv {

class RunChanges {
 public:
  // Failures are explained in `*cause` when it is still empty (the first
  // reason is the one that counts: what follows is its consequence).
  explicit RunChanges(FailureCause* cause) : cause_(cause) {}
  RunChanges(const RunChanges&) = delete;
  RunChanges& operator=(const RunChanges&) = delete;

  // Starts the changes of a run into `targetRoot` whose backups go under
  // `backupRoot` (both ending with "/"); `copies` when the backup tree is
  // on another file system, else a file that would have to be copied there
  // (a file system mounted inside the target) is a failure.
  void Begin(const std::string& targetRoot, const std::string& backupRoot, bool copies);
  const std::string& targetRoot() const { return targetRoot_; }
  const std::string& backupRoot() const { return backupRoot_; }

  // Adds to `journal` the directories missing on the way to `parent`,
  // outermost first, each once per run.
  void AnnounceDirectories(const std::string& parent, RunJournal* journal);
  // Makes `path` and its missing parents; the ones made here are the run's
  // to remove again. 0, or 3 with the cause.
  uint32_t EnsureDirectory(const std::string& path);
  // Makes the missing target before the run holds its lock: another run may
  // put files there meanwhile, so Undo() removes these only when empty.
  uint32_t MakeTarget(const std::string& target);
  // Forgets what is known about directories: after a wait for the target's
  // lock, another run may have removed them.
  void ForgetDirectories();

  // Moves the file at `path` into the backup tree, or records it as created
  // when nothing `exists` there yet. A file the run wrote already, or whose
  // original is saved already, needs nothing. 0; 87 for a directory where
  // the kit has a file; 1013 when it cannot be moved; 3 when the backup
  // tree cannot be made.
  uint32_t BackupFile(const std::string& path, bool exists);

  // Removes what the run wrote and made, then puts the backups back. False
  // when something could not be put back; each such file is added to
  // `unrestored` when given, and its backup stays where it is.
  bool Undo(std::vector<UnrestoredFile>* unrestored);

  // Made by the run, outermost first.
  const std::vector<std::string>& createdDirectories() const { return createdDirectories_; }
  const std::vector<std::string>& createdBeforeLock() const { return createdBeforeLock_; }

 private:
  // A directory of the backup tree, made with its parents; none of them is
  // recorded, since the run directory goes as a whole.
  uint32_t EnsureDirectoryQuiet(const std::string& path);
  // Where the backup of `path` (below the target root) goes.
  std::string BackupPathOf(const std::string& path) const {
    return backupRoot_ + path.substr(targetRoot_.size());
  }
  uint32_t Failing(uint32_t code, const char* what, const std::string& path, int error);

  FailureCause* cause_;
  std::string targetRoot_;
  std::string backupRoot_;
  bool copies_ = false;
  std::vector<std::string> createdDirectories_;
  std::vector<std::string> createdFiles_;   // written where no file was
  std::vector<std::string> replacedFiles_;  // moved into the backup tree
  std::vector<std::string> createdBeforeLock_;
  // Directories known to exist during this run, so that the thousandth file
  // of a directory costs no more checks than the first.
  std::set<std::string> knownDirectories_;
  std::set<std::string> plannedDirectories_;
  std::set<std::string> knownBackupDirectories_;
  std::set<std::string> createdFileSet_;
};

// Moves everything under `backup` back to the same place under `target`
// (both ending with "/"). False when something could not be moved back;
// each such file is added to `unrestored` when given.
bool RestoreTree(const std::string& target, const std::string& backup,
                 std::vector<UnrestoredFile>* unrestored = nullptr);

// Removes `path` and everything in it; "/" is never removed.
uint32_t DeleteTree(const std::string& path);

}  // namespace qorv

#endif  // QORV_COPY_RUN_CHANGES_H_
