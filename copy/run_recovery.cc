#include "copy/run_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/text_convert.h"
#include "copy/manifest.h"
#include "copy/run_directory.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "fs/trusted_path.h"

namespace qorv {

namespace {

// Copies an interrupted move across file systems left, beside the file and
// beside its backup.
void RemoveStagingCopies(const std::string& path, const std::string& backup) {
  for (const std::string& staging : {MoveStagingPath(path), MoveStagingPath(backup)}) {
    struct stat st;
    if (Lstat(staging, &st)) ShellRemoveTree(staging);
  }
}

// A path below the target root `target` (ending with "/").
bool Below(const std::string& target, const std::string& path) {
  return path.size() > target.size() && path.compare(0, target.size(), target) == 0 &&
         IsPlainRelative(path.substr(target.size()));
}

// Why a record names nothing the run into `target` could have changed;
// empty when every one does. A run makes the missing folders on the way to
// its target too, and an uninstall removes them when empty: a directory
// record may name one of them, or the target itself.
std::string StrayRecord(const std::string& target, const std::vector<JournalRecord>& records) {
  const std::string manifest = ManifestPathFor(target);
  for (const JournalRecord& record : records) {
    bool fits = true;
    switch (record.kind) {
      case RecordKind::kTarget:
        fits = record.path == target;
        break;
      case RecordKind::kFile:
      case RecordKind::kBackup:
        fits = Below(target, record.path);
        break;
      case RecordKind::kDirectory:
      case RecordKind::kEmptied:
        fits = IsPlainAbsolute(record.path) &&
               (Below(target, record.path) ||
                target.compare(0, record.path.size() + 1, record.path + "/") == 0);
        break;
      case RecordKind::kManifest:
      case RecordKind::kNoManifest:
        fits = record.path == manifest;
        break;
      default:
        break;
    }
    if (!fits) {
      return "its journal names " + EscapeControls(record.path) +
             ", which is not the registered target's";
    }
  }
  return std::string();
}

// Undoes one run from its records. True when every moved file is back.
// What the run wrote goes first, so that on a full disk the old files fit
// back in. Every step looks before it acts, so that done again after a cut
// it does nothing twice.
bool Undo(const std::string& runDirectory, const std::string& target,
          const std::vector<JournalRecord>& records, bool formatOne) {
  const std::string backupRoot = runDirectory + kBackupDirectoryName;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    struct stat st;
    if (it->kind == RecordKind::kFile && Lstat(it->path, &st) && !S_ISDIR(st.st_mode)) {
      RemoveFile(it->path);
    }
  }
  // The backups to put back, newest first: the reverse of the order the run
  // made its changes in. Where one is safe in the backup tree, what the run
  // wrote in its place goes now.
  std::vector<std::pair<std::string, std::string>> moves;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->kind != RecordKind::kBackup) continue;
    const std::string& path = it->path;
    std::string backup = backupRoot + path.substr(target.size());
    RemoveStagingCopies(path, backup);
    struct stat st;
    if (!Lstat(backup, &st)) continue;  // never moved, or back already
    if (Lstat(path, &st) && !S_ISDIR(st.st_mode)) RemoveFile(path);
    moves.emplace_back(path, backup);
  }
  // Innermost first; a directory somebody else has put something into
  // since stays (see the header).
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->kind == RecordKind::kDirectory) RemoveEmptyDirectory(it->path);
  }
  bool restored = true;
  for (const auto& [path, backup] : moves) {
    if (IsDirectoryPath(path) || ShellMove(backup, path) != 0) restored = false;
  }
  // The manifest once the files it describes are back; its old copy goes
  // only with the run directory, after this.
  const std::string oldCopy = runDirectory + kOldManifestName;
  for (const JournalRecord& record : records) {
    if (record.kind != RecordKind::kManifest && record.kind != RecordKind::kNoManifest) continue;
    struct stat st;
    const bool hadOne = formatOne ? Lstat(oldCopy, &st) : record.kind == RecordKind::kManifest;
    if (!PutBackManifest(record.path, oldCopy, hadOne)) restored = false;
  }
  return restored;
}

// The target's nearest existing folder when it is on another file system
// than `runDirectory` (its backups were copies): flushed before the run's
// records go. Empty when they share one.
std::string OtherFileSystem(const std::string& target, const struct stat& runDirectory) {
  std::string place = StripTrailingSlashes(target);
  struct stat st;
  while (!place.empty() && !(Stat(place, &st) && S_ISDIR(st.st_mode))) {
    const std::string parent = ParentOf(place);
    if (parent == place) return std::string();
    place = parent;
  }
  return !place.empty() && st.st_dev != runDirectory.st_dev ? place : std::string();
}

// One registered run: false when there is nothing to say of it.
bool RecoverRun(const LiveRun& live, const CommittedAction& onCommitted, bool act,
                RecoveredRun* run) {
  run->runDirectory = live.runRoot;
  run->target = Wide(live.target);
  ScopedFd dir = OpenDirectoryTrusted(live.runRoot);
  if (!dir.IsValid()) {
    if (errno == ENOENT) {
      // Finished, its entry not yet removed; or entered and never made.
      if (act) ForgetRun(live.runRoot);
      return false;
    }
    run->problem = std::string("its directory cannot be opened: ") + std::strerror(errno);
    return true;
  }
  struct stat st;
  if (!StatOf(dir.Get(), &st) || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 077) != 0 ||
      (live.made && (st.st_dev != live.device || st.st_ino != live.inode))) {
    run->problem = "not the run directory that was registered";
    return true;
  }
  ScopedFd journal = OpenFileAt(dir.Get(), kJournalName, act ? O_RDWR : O_RDONLY);
  if (!journal.IsValid()) {
    if (errno != ENOENT) {
      run->problem = std::string("its journal cannot be opened: ") + std::strerror(errno);
      return true;
    }
    if (!act) return false;
    // A run that died while it started: its new journal is not held. One
    // that is starting holds it; a directory without either is empty, and
    // its installer, if it lives, makes another.
    ScopedFd starting = OpenFileAt(dir.Get(), kNewJournalName, O_RDWR);
    if (starting.IsValid() && LockExclusive(starting.Get(), false)) {
      RemoveFile(live.runRoot + kNewJournalName);
    }
    starting.Close();
    if (RemoveEmptyDirectory(live.runRoot) || errno == ENOENT) {
      SyncDirectoryOf(StripTrailingSlashes(live.runRoot));
      ForgetRun(live.runRoot);
    }
    return false;
  }
  struct stat journalStat;
  if (!StatOf(journal.Get(), &journalStat) || !S_ISREG(journalStat.st_mode) ||
      journalStat.st_uid != ::geteuid()) {
    run->problem = "its journal is not a file of the user's own";
    return true;
  }
  if (!LockExclusive(journal.Get(), false)) return false;  // its run is alive
  std::vector<JournalRecord> records = ReadJournal(journal.Get());
  if (journalStat.st_size == 0) {
    // Stopped before its header was on disk, so before it changed anything.
    if (act) RemoveRunDirectory(live.runRoot, std::string());
    return false;
  }
  const bool formatOne = !records.empty() && records[0].kind == RecordKind::kVersion &&
                         records[0].path == kJournalFormatOne;
  if (records.empty() || records[0].kind != RecordKind::kVersion ||
      (records[0].path != kJournalFormat && !formatOne)) {
    run->problem = "its journal is not one this installer can read";
    return true;
  }
  if (std::string stray = StrayRecord(live.target, records); !stray.empty()) {
    run->problem = stray;
    return true;
  }
  bool committed = false;
  bool targeted = false;
  bool uninstalled = false;
  std::vector<std::string> emptied;
  for (const JournalRecord& record : records) {
    committed = committed || record.kind == RecordKind::kCommit;
    uninstalled = uninstalled || record.kind == RecordKind::kUninstall;
    targeted = targeted || record.kind == RecordKind::kTarget;
    if (record.kind == RecordKind::kEmptied) emptied.push_back(record.path);
  }
  if (!act) return !committed && targeted;
  if (committed || !targeted) {
    // Nothing to undo: finished, or stopped before its header was whole.
    if (committed) {
      // What a committed uninstall does after its commit record, again.
      for (const std::string& directory : emptied) RemoveEmptyDirectory(directory);
      if (onCommitted) onCommitted(run->target, uninstalled);
    }
    RemoveRunDirectory(live.runRoot, std::string());
    return false;
  }
  run->restored = Undo(live.runRoot, live.target, records, formatOne);
  // The undone target is on disk before the records that would undo it
  // again go; on one file system the run directory's own removal, flushed
  // before the registry forgets it, takes it there in order.
  if (run->restored) {
    run->restored = RemoveRunDirectory(live.runRoot, OtherFileSystem(live.target, st));
  }
  return true;
}

// Recovery when `act`, else only the search; the runs in `base` only when
// it is given.
std::vector<RecoveredRun> Recover(const std::string& base, const CommittedAction& onCommitted,
                                  bool act) {
  std::vector<RecoveredRun> answered;
  // Another user's home or state (root started with that user's HOME):
  // nothing in it is read, let alone acted on.
  if (std::string problem; !IsOwnRegistry(&problem)) {
    if (LiveDirectory().empty()) return answered;  // no home: no runs of ours anywhere
    RecoveredRun refused;
    refused.runDirectory = LiveDirectory();
    refused.problem = problem;
    answered.push_back(refused);
    return answered;
  }
  // A run that is starting holds the registry until its journal is
  // locked; one that is running holds its journal.
  ScopedFd registry;
  if (act) {
    registry = LockRegistry();
    RemoveUnfinishedEntries();
  }
  std::vector<std::string> problems;
  for (const LiveRun& live : ListLiveRuns(&problems)) {
    if (!base.empty() && WithTrailingSlash(ParentOf(StripTrailingSlashes(live.runRoot))) !=
                             WithTrailingSlash(base)) {
      continue;
    }
    RecoveredRun run;
    if (RecoverRun(live, onCommitted, act, &run)) answered.push_back(std::move(run));
  }
  if (base.empty()) {
    for (const std::string& problem : problems) {
      RecoveredRun refused;
      refused.runDirectory = LiveDirectory();
      refused.problem = problem;
      answered.push_back(refused);
    }
  }
  return answered;
}

}  // namespace

std::vector<RecoveredRun> RecoverInterruptedRuns(const std::string& base,
                                                 const CommittedAction& onCommitted) {
  return Recover(WithTrailingSlash(base), onCommitted, true);
}

std::vector<RecoveredRun> FindInterruptedRuns(const std::string& base) {
  return Recover(WithTrailingSlash(base), {}, false);
}

std::vector<RecoveredRun> RecoverAllInterruptedRuns(const CommittedAction& onCommitted) {
  return Recover(std::string(), onCommitted, true);
}

std::vector<RecoveredRun> FindAllInterruptedRuns() { return Recover(std::string(), {}, false); }

}  // namespace qorv
