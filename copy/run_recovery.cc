#include "copy/run_recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "base/text_convert.h"
#include "copy/manifest.h"
#include "copy/run_directory.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"

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

// Undoes one run from its records. True when every moved file is back.
// What the run wrote goes first, so that on a full disk the old files fit
// back in.
bool Undo(const std::string& runDirectory, const std::vector<JournalRecord>& records) {
  std::string target;
  for (const JournalRecord& record : records) {
    if (record.kind == RecordKind::kTarget) target = record.path;
  }
  if (target.empty() || target[0] != '/' || target.back() != '/') return false;
  const std::string backupRoot = runDirectory + kBackupDirectoryName;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    struct stat st;
    if (it->kind == RecordKind::kFile && IsPlainAbsolute(it->path) && Lstat(it->path, &st) &&
        !S_ISDIR(st.st_mode)) {
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
    if (path.compare(0, target.size(), target) != 0 ||
        !IsPlainRelative(path.substr(target.size()))) {
      continue;  // not a path this run could have written
    }
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
    if (it->kind == RecordKind::kDirectory && IsPlainAbsolute(it->path)) {
      RemoveEmptyDirectory(it->path);
    }
  }
  bool restored = true;
  for (const auto& [path, backup] : moves) {
    if (IsDirectoryPath(path) || ShellMove(backup, path) != 0) restored = false;
  }
  for (const JournalRecord& record : records) {
    if (record.kind == RecordKind::kManifest && IsPlainAbsolute(record.path) &&
        !PutBackManifest(record.path, runDirectory + kOldManifestName)) {
      restored = false;
    }
  }
  return restored;
}

// Recovery when `act`, else only the search.
std::vector<RecoveredRun> Recover(const std::string& tempDirectory,
                                  const CommittedAction& onCommitted, bool act) {
  std::vector<RecoveredRun> recovered;
  std::string temp = WithTrailingSlash(tempDirectory);
  if (temp.empty()) return recovered;
  std::vector<std::string> names;
  if (!ListNames(temp, &names)) return recovered;
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& name) { return !IsRunDirectoryName(name); }),
              names.end());
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    std::string runDirectory = temp + name + "/";
    struct stat st;
    if (!Lstat(temp + name, &st) || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;  // not ours to judge
    }
    ScopedFd fd =
        OpenFile(runDirectory + kJournalName, (act ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW);
    if (!fd.IsValid()) {
      if (errno != ENOENT || !act) continue;  // not ours to judge, or to touch
      // A run that died while it started: its new journal is not held.
      // One that is starting holds it; a directory without either is
      // empty, and its installer, if it lives, takes another.
      std::string fresh = runDirectory + kNewJournalName;
      ScopedFd starting = OpenFile(fresh, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
      if (starting.IsValid() && LockExclusive(starting.Get(), false)) RemoveFile(fresh);
      starting.Close();
      RemoveEmptyDirectory(runDirectory);
      continue;
    }
    if (!LockExclusive(fd.Get(), false)) continue;  // its run is alive
    std::vector<JournalRecord> records = ReadJournal(fd.Get());
    struct stat journal;
    bool empty = StatOf(fd.Get(), &journal) && journal.st_size == 0;
    if (!empty && (records.empty() || records[0].kind != RecordKind::kVersion ||
                   records[0].path != kJournalFormat)) {
      continue;  // not a journal this installer can read: left alone
    }
    bool committed = false;
    bool targeted = false;
    bool uninstalled = false;
    std::vector<std::string> emptied;
    RecoveredRun run;
    run.runDirectory = runDirectory;
    for (const JournalRecord& record : records) {
      committed = committed || record.kind == RecordKind::kCommit;
      uninstalled = uninstalled || record.kind == RecordKind::kUninstall;
      if (record.kind == RecordKind::kEmptied && IsPlainAbsolute(record.path)) {
        emptied.push_back(record.path);
      }
      if (record.kind == RecordKind::kTarget) {
        targeted = true;
        run.target = Wide(record.path);
      }
    }
    if (!act) {
      if (!committed && targeted) recovered.push_back(run);
    } else if (committed || !targeted) {
      // Nothing to undo: finished, or stopped before its header was on
      // disk, so before it changed anything.
      if (committed && targeted) {
        // What a committed uninstall does after its commit record, again.
        for (const std::string& directory : emptied) RemoveEmptyDirectory(directory);
        if (onCommitted) onCommitted(run.target, uninstalled);
      }
      RemoveRunDirectory(runDirectory);
    } else {
      run.restored = Undo(runDirectory, records);
      if (run.restored) RemoveRunDirectory(runDirectory);
      recovered.push_back(run);
    }
  }
  return recovered;
}

}  // namespace

std::vector<RecoveredRun> RecoverInterruptedRuns(const std::string& tempDirectory,
                                                 const CommittedAction& onCommitted) {
  return Recover(tempDirectory, onCommitted, true);
}

std::vector<RecoveredRun> FindInterruptedRuns(const std::string& tempDirectory) {
  return Recover(tempDirectory, {}, false);
}

std::vector<RecoveredRun> RecoverAllInterruptedRuns(const CommittedAction& onCommitted) {
  std::vector<RecoveredRun> all;
  for (const std::string& base : RunBases()) {
    for (RecoveredRun& run : Recover(base, onCommitted, true)) all.push_back(std::move(run));
  }
  PruneLiveRuns();
  return all;
}

std::vector<RecoveredRun> FindAllInterruptedRuns() {
  std::vector<RecoveredRun> all;
  for (const std::string& base : RunBases()) {
    for (RecoveredRun& run : Recover(base, {}, false)) all.push_back(std::move(run));
  }
  return all;
}

}  // namespace qorv
