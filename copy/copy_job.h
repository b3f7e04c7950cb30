// The installation proper: carries out the run's plan (copy/run_plan.h),
// decided once the target is locked: writes every kit entry that is missing
// or older than the kit's copy into the target directory, transactionally.
// Before a file is replaced the old one is moved into a backup tree in the
// run directory (copy/run_directory.h); files and directories the run creates
// are recorded (copy/run_changes.h). Any failure
// or a cancel removes what the run wrote, puts the old files back, and only
// then reports, so the target directory is exactly as it was when the report
// arrives, or the channel names the files that could not be put back. Success flushes the written
// files to disk, writes the commit record, runs the committed action (the front ends record the
// location there), then removes the backup tree.
//
// Every change is announced in the run's journal (copy/run_journal.h) and on
// disk before it is made, a batch of entries at a time, so that a run the
// process did not live to finish or roll back is undone at the next start.
//
// Each run also replaces the target's manifest (copy/manifest.h) before its
// commit record: files an earlier kit installed that this one no longer
// ships are removed when unchanged since (backed up and journalled like a
// replaced file), and an uninstall run removes every file the manifest
// lists, the manifest itself, and, once committed, the directories the
// installs made when they are empty.
//
// Runs on the copy thread; talks to the UI only through the channel.
#ifndef QORV_COPY_COPY_JOB_H_
#define QORV_COPY_COPY_JOB_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/text_string.h"
#include "copy/file_writers.h"
#include "copy/manifest.h"
#include "copy/progress_channel.h"
#include "copy/run_changes.h"
#include "copy/run_directory.h"
#include "copy/run_journal.h"
#include "copy/run_plan.h"
#include "copy/target_lock.h"
#include "fs/file_io.h"

namespace qorv {

class KitReader;
struct KitEntry;

class CopyJob {
 public:
  CopyJob() = default;
  CopyJob(const CopyJob&) = delete;
  CopyJob& operator=(const CopyJob&) = delete;

  // The whole installation with the channel's kit reader and target. Reports
  // (0, destination path, i * 100 / N) before entry i, then one final report:
  // (0, "Copying complete...", 100) on success, (code, "Installation error",
  // percent reached) on failure, (1223, "Installation canceled. ...", percent
  // reached) on cancel; the last two after the rollback. Returns the code.
  uint32_t Run(ProgressChannel& channel);

  void SetFinishPauseMs(int ms) { finishPauseMs_ = ms; }
  // How long a run waits for another run into the same target to end
  // before it gives up with 170 (ms; negative: as long as it takes).
  void SetLockWaitMs(int ms) { lockWaitMs_ = ms; }
  // How many helper threads write small new files when the kit is read in
  // place (0: the copy thread writes them itself).
  void SetWriterThreads(size_t threads) { writerThreads_ = threads; }
  // Two on a machine with more than one processor, else none.
  static size_t DefaultWriterThreads();
  // Whether success waits until the written files are on disk (default).
  void SetDurable(bool durable) { durable_ = durable; }
  // Runs on the copy thread once the run is committed and before its journal
  // goes, so that a start after a crash in between runs it again (see
  // RecoverInterruptedRuns).
  void SetOnCommitted(CommittedAction action) { onCommitted_ = std::move(action); }
  // An uninstall run: no kit (the channel's reader is not used), every file
  // of the manifest. Fails with 2 when the target has no manifest.
  void SetUninstall(bool uninstall) { uninstall_ = uninstall; }
  // The run's backup tree, ending with "/"; empty before the run has one.
  const std::string& backupRoot() const { return changes_.backupRoot(); }
  // After a rollback: the files it could not put back (empty when the
  // target is as it was).
  const std::vector<UnrestoredFile>& unrestored() const { return unrestored_; }

  // The plan the run carries out (complete once the target is locked).
  const RunPlan& plan() const { return plan_; }

 private:
  // Makes the run directory and its journal for `target`.
  uint32_t BeginLevel(const std::string& target);
  uint32_t Commit();
  void Rollback();
  // Announces in the journal, and flushes, what the plan's items [first,
  // end) will change, before any of them is made.
  uint32_t AnnounceBatch(size_t first, size_t end);
  // Makes the target when it is missing, then waits for its lock (see
  // copy/target_lock.h), telling the channel while it waits.
  uint32_t LockTarget(const std::string& target);
  // Flushes the file systems holding what the run wrote.
  uint32_t FlushWritten();
  // A run whose backups are copies refuses what a copy cannot keep.
  uint32_t CheckCopies(const std::string& root);
  // Before anything changes: room on the target's file system for what
  // the plan writes, and in the temporary directory for the backups when
  // it is on another one. 112 with the cause when either falls short.
  uint32_t CheckSpace(const std::string& target);
  // The plan's item for entry `i`, carried out. `percent` is the progress.
  uint32_t InstallEntry(size_t i, int percent);
  // Moves the files of the earlier installs that this run drops into the
  // backup tree (the plan's items after the kit's), announced in the
  // journal first.
  uint32_t RemoveDropped(int percent);
  // What the target's manifest holds after this run: the files written,
  // those kept that are still as an earlier install or the kit made them,
  // and the directories the installs made.
  // `verified`: what the plan found of a kept file it found unchanged.
  void RecordInstalled(const std::string& relative, const KitEntry& entry, bool written,
                       const Digest& digest, const FileFacts& verified = FileFacts());
  Manifest NewManifest(const std::string& kitIdentity) const;
  // Replaces (or, uninstalling, removes) the manifest, its old copy saved
  // in the run directory and the change announced first.
  uint32_t ReplaceManifest(const Manifest& manifest);
  // The directories an uninstall removes once committed, when empty;
  // innermost first.
  std::vector<std::string> EmptiedDirectories() const;
  // A kit read in place: starts the pass over its data for the entries to
  // be written (none: no pass), and ends it, with `verify` checking the
  // kit's digest once more (13 when the kit file changed).
  uint32_t StartStream();
  uint32_t EndStream(bool verify);
  // Waits for the helpers' files and records them; the first one's failure.
  uint32_t WaitForWriters();
  uint32_t Fail(uint32_t code, int percent);
  // Records why the run fails (the first reason only: what follows is its
  // consequence) and answers `code`.
  uint32_t Failing(uint32_t code, FailureCause cause);
  uint32_t JournalFailed();
  // What the run did to a file: in its summary and its log.
  void RecordDone(PlanAction action, const std::string& relative, uint64_t size,
                  const char* reason = nullptr);
  void LogRollback() const;
  uint32_t Cancel(int percent);
  // A folder the run writes into that another user could move away while
  // the run writes through the descriptors it holds (a folder on the way,
  // from the target's parent down, is theirs or open to them): held open,
  // and checked before the commit to be still where its path leads.
  void WatchFolder(const std::string& folder);
  bool OthersCanMove(const std::string& folder);
  // 3 with the cause when a watched folder was moved: what the run wrote
  // into it, and the folders it made there, are removed through the
  // descriptors held.
  uint32_t CheckFoldersInPlace();

  struct WatchedFolder {
    ScopedFd fd;
    dev_t device = 0;
    ino_t inode = 0;
  };
  std::map<std::string, WatchedFolder> watched_;
  std::map<std::string, bool> movable_;  // by folder: others can move it
  static constexpr size_t kMaxHeldFolders = 256;
  size_t held_ = 0;  // watched folders held open

  ProgressChannel* channel_ = nullptr;
  FailureCause cause_;
  RunDirectory run_;
  RunChanges changes_{&cause_};
  std::set<std::string> writtenFiles_;
  RunPlan plan_;
  KitReader* reader_ = nullptr;
  KitReader* streamed_ = nullptr;  // while a pass over the kit runs
  size_t writerThreads_ = DefaultWriterThreads();
  std::unique_ptr<FileWriters> writers_;  // while a pass runs
  std::set<WideString> repeated_;         // names the kit holds more than once
  RunJournal journal_;
  int finishPauseMs_ = 1000;
  int lockWaitMs_ = -1;
  TargetLock targetLock_;
  bool durable_ = true;
  CommittedAction onCommitted_;
  std::vector<UnrestoredFile> unrestored_;
  bool uninstall_ = false;
  Manifest previous_;
  std::map<std::string, const ManifestFile*> previousIndex_;
  std::map<std::string, ManifestFile> installed_;
  RunPlan summary_;           // what the run did
  std::string manifestPath_;  // set once the manifest may have changed
  bool manifestHadOld_ = false;
};

// Whether the file at `path` must be written: true when it does not exist or
// its modification time is before `entryTime`, both in whole seconds.
bool NeedsCopy(const std::string& path, const FileTime& entryTime);

}  // namespace qorv

#endif  // QORV_COPY_COPY_JOB_H_
