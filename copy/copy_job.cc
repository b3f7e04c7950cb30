#include "copy/copy_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "base/text_convert.h"
#include "copy/run_log.h"
#include "copy/run_plan.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "kit/kit_names.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"

namespace qorv {

namespace {

// A relative target made absolute from the current directory, so that the
// journal names the same files wherever the next start runs from; and
// lexically normal, so that "/srv//tpl/./" and "/srv/tpl/" are one target
// for the manifest and the launcher's list.
std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return LexicallyNormal(path);
  std::string cwd = CurrentDirectory();
  if (cwd.empty()) return path;
  return LexicallyNormal(WithTrailingSlash(cwd) + path);
}

// Where the backup of `path` (below the level's target root) goes.
std::string BackupPathOf(const CopyLevel& level, const std::string& path) {
  return level.backupRoot + path.substr(level.targetRoot.size());
}

// Entries announced in the journal with one flush to disk.
constexpr size_t kPlanBatch = 1024;
// New files up to this size are written by the helper threads when the kit
// is read in place.
constexpr uint32_t kSmallFile = 256 << 10;

}  // namespace

size_t CopyJob::DefaultWriterThreads() { return std::thread::hardware_concurrency() > 1 ? 2 : 0; }

bool NeedsCopy(const std::string& path, const FileTime& entryTime) {
  // A file that exists keeps its place unless it is older, even when it
  // cannot be opened at this moment.
  return InspectDestination(path, entryTime).older;
}

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

uint32_t CopyJob::BeginLevel(const std::string& target) {
  levels_.emplace_back();
  Top().targetRoot = target;
  knownDirectories_.clear();
  knownBackupDirectories_.clear();
  createdFileSet_.clear();
  writtenFiles_.clear();
  plannedDirectories_.clear();
  journal_.Close();
  // An empty target would put the files relative to the current directory.
  if (target.empty()) return kErrorPathNotFound;

  // The temporary directory itself is not the run's to remove again.
  std::string temp = TempDirectory();
  if (!IsDirectoryPath(temp) && ShellMakeDirs(temp) != 0) {
    return Because(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", temp, errno);
  }
  temp = WithTrailingSlash(temp);
  // The first free kvinsN, taken with an exclusive mkdir so that two
  // installers running at once never share a run directory. Only the user
  // may read the backups of the user's files.
  int lost = 0;
  for (int32_t n = 0;; ++n) {
    std::string candidate = temp + "kvins" + std::to_string(n);
    if (MakeDirectory(candidate, 0700)) {
      std::string runRoot = WithTrailingSlash(candidate);
      // The journal and its target are on disk before anything changes.
      if (!journal_.Create(runRoot, WithTrailingSlash(target))) {
        // Another installer starting at this moment may have taken the
        // fresh directory for a dead run's and emptied it: then another one
        // will do. A full disk fails every time.
        int error = errno;
        RemoveRunDirectory(runRoot);
        if (++lost < 8) continue;
        return Because(kErrorWriteFault, "IDS_CAUSE_JOURNAL", runRoot + kJournalName, error);
      }
      Top().runRoot = runRoot;
      Top().backupRoot = runRoot + kBackupDirectoryName;
      return kErrorNone;
    }
    if (errno != EEXIST || n == INT32_MAX) {
      return Because(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", candidate, errno);
    }
  }
}

void CopyJob::PlanDirectories(const std::string& parent) {
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
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    journal_.Add(RecordKind::kDirectory, *it);
}

uint32_t CopyJob::PlanSteps(KitReader& reader, const std::string& target, size_t first,
                            size_t end) {
  steps_.resize(end - first);
  for (size_t i = first; i < end; ++i) {
    const KitEntry& entry = reader.Entry(i);
    Step& step = steps_[i - first];
    step.path = target + Narrow(EntryPathOf(entry.name));
    const Destination& destination = inspected_[i];
    step.exists = destination.exists;
    step.older = destination.older;
    step.permissions = destination.permissions;
    // A path the run has written already was announced before that write.
    if (!step.older || writtenFiles_.count(step.path) != 0) continue;
    journal_.Add(step.exists ? RecordKind::kBackup : RecordKind::kFile, step.path);
    std::string parent = ParentOf(step.path);
    if (!parent.empty()) PlanDirectories(parent);
  }
  if (journal_.HasQueued() && !journal_.Flush()) {
    return Because(kErrorWriteFault, "IDS_CAUSE_JOURNAL", Top().runRoot + kJournalName, errno);
  }
  return kErrorNone;
}

uint32_t CopyJob::CheckSpace(const KitReader* reader, const std::string& target) {
  uint64_t free = 0;
  uint64_t block = 0;
  inspected_.clear();
  const bool figures = FreeSpaceOf(target, &free, &block);
  if (!figures) block = 1;  // the copy will say why, if it comes to that
  auto blocks = [block](uint64_t size) { return (size + block - 1) / block * block; };
  uint64_t written = 0;
  uint64_t backedUp = 0;
  RunPlan planned;  // its totals, for the log
  std::set<std::string> shipped;
  if (reader != nullptr) {
    for (const KitEntry& entry : reader->entries()) {
      std::string relative = Narrow(EntryPathOf(entry.name));
      shipped.insert(relative);
      // Looked at once: the run holds the target, so what is seen here
      // stays true until the run itself changes it.
      inspected_.push_back(InspectDestination(target + relative, entry.time));
      const Destination& d = inspected_.back();
      if (!d.older) {
        planned.Tally(PlanAction::kKeep, entry.size);
        continue;
      }
      planned.Tally(d.exists ? PlanAction::kReplace : PlanAction::kWrite, entry.size);
      written += blocks(entry.size);
      if (d.exists) backedUp += blocks(d.size);
    }
  }
  // Decided once, under the lock: the digests it takes are not taken again
  // when the files go.
  dropped_ = RunPlan();
  PlanObsolete(shipped, target, previous_, &dropped_);
  for (const PlanItem& item : dropped_.items) {
    planned.Tally(item.action, item.size);
    if (item.action == PlanAction::kRemove) backedUp += blocks(item.size);
  }
  LogLine("plan: " + PlanTotalsText(planned));
  auto shortfall = [this](const std::string& where, uint64_t needed, uint64_t available) {
    // "%1 bytes needed, %2 free", in the current language.
    std::string figures = Narrow(LookupText(NarrowString("IDS_SPACE_FIGURES")));
    for (const auto& [mark, value] : {std::pair<const char*, uint64_t>{"%1", needed},
                                      std::pair<const char*, uint64_t>{"%2", available}}) {
      size_t at = figures.find(mark);
      if (at != std::string::npos) figures.replace(at, 2, std::to_string(value));
    }
    return BecauseOf(kErrorDiskFull, "IDS_CAUSE_NO_SPACE", where, figures);
  };
  if (!figures) return kErrorNone;
  if (written > free) return shortfall(StripTrailingSlashes(target), written, free);
  // Backups are moved: within one file system that costs nothing.
  struct stat targetStat;
  struct stat tempStat;
  const std::string temp = TempDirectory();
  if (backedUp != 0 && Stat(target, &targetStat) && Stat(temp, &tempStat) &&
      targetStat.st_dev != tempStat.st_dev) {
    uint64_t tempFree = 0;
    uint64_t tempBlock = 0;
    if (FreeSpaceOf(temp, &tempFree, &tempBlock) && backedUp > tempFree) {
      return shortfall(temp, backedUp, tempFree);
    }
  }
  return kErrorNone;
}

uint32_t CopyJob::FlushWritten() {
  if (!durable_ || levels_.empty()) return kErrorNone;
  const CopyLevel& level = Top();
  if (writtenFiles_.empty() && level.createdDirectories.empty()) return kErrorNone;
  // One flush per file system holding the run's files and the entries of
  // its new directories: far cheaper than a flush per file.
  std::vector<std::string> places{level.targetRoot};
  const std::vector<std::string>& outermost =
      level.createdBeforeLock.empty() ? level.createdDirectories : level.createdBeforeLock;
  if (!outermost.empty()) {
    std::string outer = ParentOf(outermost.front());
    if (!outer.empty()) places.push_back(outer);
  }
  std::set<dev_t> flushed;
  for (const std::string& place : places) {
    ScopedFd fd = OpenFile(place, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!fd.IsValid()) return Because(kErrorPathNotFound, "IDS_CAUSE_FLUSH", place, errno);
    struct stat st;
    bool ok = StatOf(fd.Get(), &st);
    if (ok && flushed.insert(st.st_dev).second) ok = SyncFileSystemOf(fd.Get());
    if (!ok) return Because(kErrorWriteFault, "IDS_CAUSE_FLUSH", place, errno);
  }
  return kErrorNone;
}

uint32_t CopyJob::EnsureDirectory(const std::string& path) {
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
    if (!levels_.empty()) Top().createdDirectories.push_back(path);
  } else if (errno != EEXIST || !IsDirectoryPath(key)) {
    return Because(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", key,
                   errno == EEXIST ? ENOTDIR : errno);
  }
  knownDirectories_.insert(key);
  return kErrorNone;
}

uint32_t CopyJob::LockTarget(const std::string& target) {
  bool waited = false;
  auto waiting = [this, &waited] {
    waited = true;
    channel_->PostNotice(LookupText(NarrowString("IDS_WAITING_FOR_TARGET")));
  };
  auto stopped = [this] { return channel_->IsCancelRequested(); };
  uint32_t code = kErrorPathNotFound;
  // A few rounds: the run we waited for may have been the one that made the
  // directory, and its rollback may have removed it again.
  for (int round = 0; round < 8 && code == kErrorPathNotFound; ++round) {
    if (!IsDirectoryPath(StripTrailingSlashes(target))) {
      knownDirectories_.clear();
      plannedDirectories_.clear();
      PlanDirectories(target);
      if (journal_.HasQueued() && !journal_.Flush()) {
        return Because(kErrorWriteFault, "IDS_CAUSE_JOURNAL", Top().runRoot + kJournalName, errno);
      }
      CopyLevel& level = Top();
      size_t before = level.createdDirectories.size();
      if ((code = EnsureDirectory(target)) != 0) return code;
      level.createdBeforeLock.insert(level.createdBeforeLock.end(),
                                     level.createdDirectories.begin() + before,
                                     level.createdDirectories.end());
      level.createdDirectories.resize(before);
    }
    code = targetLock_.Acquire(StripTrailingSlashes(target), lockWaitMs_, waiting, stopped);
  }
  if (waited) channel_->PostNotice(WideString());
  return code;
}

uint32_t CopyJob::EnsureDirectoryQuiet(const std::string& path) {
  if (IsRootPath(path)) return kErrorNone;
  std::string key = StripTrailingSlashes(path);
  if (knownBackupDirectories_.count(key) != 0) return kErrorNone;
  if (ShellMakeDirs(path) != 0) {
    return Because(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", key, errno);
  }
  knownBackupDirectories_.insert(key);
  return kErrorNone;
}

uint32_t CopyJob::BackupFile(const std::string& path, bool exists) {
  CopyLevel& level = Top();
  if (!exists) {
    // Nothing there: the run creates this file, and a rollback removes it.
    if (createdFileSet_.insert(path).second) level.createdFiles.push_back(path);
    return kErrorNone;
  }
  // A file this run wrote already, or whose original is already saved, needs
  // no backup: the original is what a rollback must bring back.
  if (createdFileSet_.count(path) != 0) return kErrorNone;
  std::string backup = BackupPathOf(level, path);
  struct stat st;
  if (Lstat(backup, &st)) return kErrorNone;
  if (Lstat(path, &st) && S_ISDIR(st.st_mode)) {
    // A directory where the kit has a file.
    return Because(kErrorInvalidParameter, "IDS_CAUSE_WRITE", path, EISDIR);
  }

  std::string backupParent = ParentOf(backup);
  if (!backupParent.empty()) {
    uint32_t code = EnsureDirectoryQuiet(backupParent);
    if (code != 0) return code;
  }
  // Without a backup the old file could not be put back: that is a failure,
  // never a reason to write over it anyway.
  if (ShellMove(path, backup) != kErrorNone) {
    return Because(kErrorCannotBackUp, "IDS_CAUSE_BACKUP", path, errno);
  }
  level.replacedFiles.push_back(path);
  return kErrorNone;
}

uint32_t CopyJob::Commit() {
  if (levels_.empty()) return kErrorNone;
  // Once the commit record is on disk nothing of the run is undone, even if
  // the process ends before the run directory is gone. Without it, a crash
  // while the backups are removed below would have the next start undo a
  // finished run with half its backups gone: so that is a failure.
  if (journal_.IsOpen() && !journal_.Commit()) {
    return Because(kErrorWriteFault, "IDS_CAUSE_JOURNAL", Top().runRoot + kJournalName, errno);
  }
  if (uninstall_) {
    for (const std::string& directory : EmptiedDirectories()) RemoveEmptyDirectory(directory);
  }
  if (onCommitted_) onCommitted_(Wide(Top().targetRoot), uninstall_);
  if (!Top().runRoot.empty()) RemoveRunDirectory(Top().runRoot);
  journal_.Close();
  targetLock_.Release();
  return kErrorNone;
}

uint32_t CopyJob::Rollback(uint32_t code) {
  unrestored_.clear();
  if (levels_.empty()) return code;
  CopyLevel& level = Top();
  // First free what the run wrote: on a full disk the old files may only fit
  // back once the new ones, the partly written one above all, are gone. A
  // file the run wrote is never one it backed up, so nothing restored below
  // is removed here.
  for (auto it = level.createdFiles.rbegin(); it != level.createdFiles.rend(); ++it) {
    ShellRemoveFile(*it);
  }
  for (const std::string& path : level.replacedFiles) {
    struct stat st;
    // Only where the old file is safe in the backup tree.
    if (Lstat(BackupPathOf(level, path), &st) && Lstat(path, &st) && !S_ISDIR(st.st_mode)) {
      RemoveFile(path);
    }
  }
  // Whole, with everything in them: the run holds the target's lock, so
  // nothing in a directory it created is anybody else's. (The recovery at a
  // later start cannot know that, and removes only empty ones.)
  for (const std::string& directory : level.createdDirectories) DeleteTree(directory);
  for (auto it = level.createdBeforeLock.rbegin(); it != level.createdBeforeLock.rend(); ++it) {
    RemoveEmptyDirectory(*it);
  }
  // Then put the old files back, and the manifest that described them.
  bool restored = true;
  if (!level.backupRoot.empty() && !level.targetRoot.empty()) {
    restored = RestoreTree(level.targetRoot, level.backupRoot, &unrestored_);
  }
  if (!manifestPath_.empty() && !PutBackManifest(manifestPath_, level.runRoot + kOldManifestName)) {
    unrestored_.push_back({Wide(manifestPath_), Wide(level.runRoot + kOldManifestName)});
    restored = false;
  }
  manifestPath_.clear();
  // The journal goes last: if the process ends in the middle of this, the
  // next start finishes the work. A backup that could not be put back
  // completely is kept, journal and all: it holds the user's only copy of
  // those files, and the next start tries again.
  if (restored && !level.runRoot.empty()) RemoveRunDirectory(level.runRoot);
  journal_.Close();
  targetLock_.Release();
  return code;
}

void CopyJob::RecordInstalled(const std::string& relative, const KitEntry& entry, bool written,
                              const Digest& digest) {
  struct stat st;
  if (!Lstat(Top().targetRoot + relative, &st) || !S_ISREG(st.st_mode)) {
    installed_.erase(relative);
    return;
  }
  ManifestFile file{relative, static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtime),
                    digest};
  if (!written) {
    auto before = previousIndex_.find(relative);
    const ManifestFile* earlier = before == previousIndex_.end() ? nullptr : before->second;
    if (earlier != nullptr && earlier->size == file.size && earlier->time == file.time) {
      file.digest = earlier->digest;  // as an earlier install left it
    } else if (file.time != UnixFromFileTime(entry.time) || file.size != entry.size ||
               !DigestOfFile(Top().targetRoot + relative, &file.digest)) {
      // Not the kit's copy (the user's own, newer one): not ours to remove.
      installed_.erase(relative);
      return;
    }
  }
  installed_[relative] = file;
}

std::vector<std::string> CopyJob::EmptiedDirectories() const {
  // Innermost first, so that a parent is empty once its children are gone.
  std::set<std::string> all(previous_.directories.begin(), previous_.directories.end());
  if (!levels_.empty()) {
    for (const std::string& d : levels_.back().createdBeforeLock)
      all.insert(StripTrailingSlashes(d));
  }
  return std::vector<std::string>(all.rbegin(), all.rend());
}

Manifest CopyJob::NewManifest(const std::string& kitIdentity) const {
  const CopyLevel& level = levels_.back();
  Manifest manifest;
  manifest.target = level.targetRoot;
  manifest.kit = kitIdentity;
  // Sorted, so a parent comes before what is in it.
  std::set<std::string> directories;
  for (const std::string& d : previous_.directories) {
    if (IsDirectoryPath(d)) directories.insert(d);
  }
  for (const auto* made : {&level.createdBeforeLock, &level.createdDirectories}) {
    for (const std::string& d : *made) directories.insert(StripTrailingSlashes(d));
  }
  manifest.directories.assign(directories.begin(), directories.end());
  for (const auto& [relative, file] : installed_) manifest.files.push_back(file);
  return manifest;
}

uint32_t CopyJob::ReplaceManifest(const Manifest& manifest) {
  const std::string path = ManifestPathFor(Top().targetRoot);
  if (path.empty()) return kErrorPathNotFound;
  std::string old;
  bool missing = false;
  const bool hadOld = ReadFileToString(path, &old, &missing);
  if (!hadOld && !missing) {
    return Because(kErrorInvalidParameter, "IDS_CAUSE_MANIFEST", path, errno);
  }
  auto failure = [this, &path] {
    return Because(errno == ENOSPC || errno == EDQUOT ? kErrorDiskFull : kErrorWriteFault,
                   "IDS_CAUSE_MANIFEST", path, errno);
  };
  // The old one is safe before the change is announced: a journal that
  // names the manifest always finds its old copy, or none because there
  // was none.
  if (hadOld && ReplaceFileDurably(Top().runRoot + kOldManifestName, old) != ReplaceResult::kDone) {
    return failure();
  }
  journal_.Add(RecordKind::kManifest, path);
  if (uninstall_) {
    for (const std::string& directory : EmptiedDirectories()) {
      journal_.Add(RecordKind::kEmptied, directory);
    }
  }
  if (!journal_.Flush()) return failure();
  manifestPath_ = path;
  if (uninstall_) {
    if (!RemoveFile(path) && errno != ENOENT) return failure();
    if (!SyncDirectoryOf(path)) return failure();
    return kErrorNone;
  }
  if (ShellMakeDirs(ManifestDirectory()) != 0) {
    return Because(kErrorPathNotFound, "IDS_CAUSE_MAKE_DIRECTORY", ManifestDirectory(), errno);
  }
  RemoveUnfinishedManifests(path);
  if (ReplaceFileDurably(path, EncodeManifest(manifest)) != ReplaceResult::kDone) return failure();
  return kErrorNone;
}

uint32_t CopyJob::RemoveDropped(int percent) {
  const std::string& target = Top().targetRoot;
  for (const PlanItem& item : dropped_.items) {
    if (item.action == PlanAction::kRemove) journal_.Add(RecordKind::kBackup, target + item.path);
  }
  if (journal_.HasQueued() && !journal_.Flush()) {
    return Because(kErrorWriteFault, "IDS_CAUSE_JOURNAL", Top().runRoot + kJournalName, errno);
  }
  for (const PlanItem& item : dropped_.items) {
    if (channel_->IsCancelRequested()) return kErrorCancelled;
    Did(item.action, item.path, item.size);
    if (item.action != PlanAction::kRemove) continue;
    channel_->Post(kErrorNone, Wide(target + item.path), percent);
    // Removed is moved into the backup tree: a rollback puts it back.
    uint32_t code = BackupFile(target + item.path, true);
    if (code != 0) return code;
  }
  return kErrorNone;
}

void CopyJob::Did(PlanAction action, const std::string& relative, uint64_t size) {
  summary_.Add(action, relative, size);
  LogLine(std::string(ActionName(action)) + " " + relative);
}

void CopyJob::LogRollback() const {
  if (unrestored_.empty()) {
    LogLine("rolled back: the directory is as it was");
    return;
  }
  for (const UnrestoredFile& file : unrestored_) {
    LogLine("not put back: " + Narrow(file.path) + " (its old version: " + Narrow(file.backup) +
            ")");
  }
}

uint32_t CopyJob::Because(uint32_t code, const char* what, const std::string& path, int error) {
  return BecauseOf(code, what, path, error != 0 ? std::strerror(error) : "");
}

uint32_t CopyJob::BecauseOf(uint32_t code, const char* what, const std::string& path,
                            const std::string& reason) {
  if (cause_.empty()) cause_ = FailureCause{what, path, reason};
  return code;
}

uint32_t CopyJob::StartStream() {
  const KitReader& reader = *reader_;
  // The entries to be written, and any named again after one of them (it
  // is decided once the first is there).
  std::vector<bool> wanted(reader.EntryCount(), false);
  std::set<WideString> named;
  bool any = false;
  for (size_t i = 0; i < wanted.size(); ++i) {
    const WideString& name = reader.Entry(i).name;
    wanted[i] = inspected_[i].older || named.count(name) != 0;
    if (inspected_[i].older) named.insert(name);
    any = any || wanted[i];
  }
  // Nothing to write: the kit's data is not even read.
  if (!any) return kErrorNone;
  streamed_ = reader_;
  repeated_.clear();
  std::set<WideString> seen;
  for (const KitEntry& entry : reader.entries()) {
    if (!seen.insert(entry.name).second) repeated_.insert(entry.name);
  }
  if (writerThreads_ > 0) writers_ = std::make_unique<FileWriters>(writerThreads_);
  return reader_->BeginStream(std::move(wanted));
}

uint32_t CopyJob::WaitForWriters() {
  if (!writers_) return kErrorNone;
  std::vector<FileWriters::Written> written;
  std::string path;
  int error = 0;
  uint32_t code = writers_->Wait(&written, &path, &error);
  if (code != 0) return Because(code, "IDS_CAUSE_WRITE", path, error);
  for (const FileWriters::Written& file : written) {
    const KitEntry& entry = reader_->Entry(file.entry);
    RecordInstalled(Narrow(EntryPathOf(entry.name)), entry, true, file.digest);
  }
  return kErrorNone;
}

uint32_t CopyJob::EndStream(bool verify) {
  if (streamed_ == nullptr) return kErrorNone;
  uint32_t code = streamed_->EndStream(verify);
  if (code != 0) cause_ = FailureCause{"IDS_CAUSE_KIT", streamed_->KitPath(), streamed_->Problem()};
  streamed_ = nullptr;
  return code;
}

uint32_t CopyJob::Fail(uint32_t code, int percent) {
  WaitForWriters();
  EndStream(false);
  channel_->SetSummary(summary_);
  channel_->SetCause(cause_);
  LogLine("failed with code " + std::to_string(code) +
          (cause_.empty() ? std::string() : ": " + Narrow(DescribeCause(cause_))));
  Rollback(code);
  LogRollback();
  channel_->SetUnrestored(unrestored_);
  const char* key = code == kErrorBusy ? "IDS_TARGET_BUSY" : "IDS_INSTALL_ERROR";
  channel_->Post(code, LookupText(NarrowString(key)), percent);
  return code;
}

uint32_t CopyJob::Cancel(int percent) {
  WaitForWriters();
  EndStream(false);
  channel_->SetSummary(summary_);
  LogLine("cancelled");
  Rollback(kErrorCancelled);
  LogRollback();
  channel_->SetUnrestored(unrestored_);
  channel_->Post(kErrorCancelled, LookupText(NarrowString("IDS_CANCEL_FINISH")), percent);
  return kErrorCancelled;
}

uint32_t CopyJob::Run(ProgressChannel& channel) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point started = Clock::now();
  channel_ = &channel;
  KitReader* reader = nullptr;
  WideString given;
  channel.GetJob(&reader, &given);
  reader_ = reader;
  const std::string target = Absolute(Narrow(given));
  uint32_t code = BeginLevel(target);
  if (code != 0) return Fail(code, 0);
  if (reader == nullptr && !uninstall_) return Fail(kErrorInvalidParameter, 0);
  // What to write is decided only once no other run writes there.
  code = LockTarget(target);
  if (code == kErrorCancelled) return Cancel(0);
  if (code != 0) return Fail(code, 0);
  // And so is what the earlier installs put there.
  const ManifestState state = LoadManifest(WithTrailingSlash(target), &previous_);
  for (const ManifestFile& file : previous_.files) previousIndex_[file.path] = &file;
  if (uninstall_) {
    if (state != ManifestState::kRead) return Fail(kErrorNotFound, 0);
    journal_.Add(RecordKind::kUninstall, target);
    if (!journal_.Flush()) {
      return Fail(
          Because(kErrorWriteFault, "IDS_CAUSE_JOURNAL", Top().runRoot + kJournalName, errno), 0);
    }
  }

  LogLine(std::string(uninstall_ ? "uninstall from " : "install into ") + target +
          (previous_.files.empty() ? ", no earlier install recorded"
                                   : ", " + std::to_string(previous_.files.size()) +
                                         " files recorded by earlier installs"));
  if ((code = CheckSpace(uninstall_ ? nullptr : reader, target)) != 0) return Fail(code, 0);

  const size_t count = uninstall_ ? 0 : reader->EntryCount();
  if (count != 0 && reader->Streams() && (code = StartStream()) != 0) return Fail(code, 0);
  int percent = 0;
  try {
    auto cancelled = [&channel] { return channel.IsCancelRequested(); };
    size_t batchStart = 0;
    size_t batchEnd = 0;
    for (size_t i = 0; i < count; ++i) {
      percent = static_cast<int>(i * 100 / count);
      if (i == batchEnd) {
        batchStart = i;
        batchEnd = count - i > kPlanBatch ? i + kPlanBatch : count;
        if ((code = PlanSteps(*reader, target, batchStart, batchEnd)) != 0) {
          return Fail(code, percent);
        }
      }
      const KitEntry& entry = reader->Entry(i);
      const Step& step = steps_[i - batchStart];
      channel.Post(kErrorNone, Wide(step.path), percent);
      Destination destination{step.exists, step.older, step.permissions};
      // Named twice by the kit: the first copy is there now.
      if (writtenFiles_.count(step.path) != 0)
        destination = InspectDestination(step.path, entry.time);
      const std::string relative = step.path.substr(Top().targetRoot.size());
      Digest digest{};
      if (writers_ && writers_->Failed()) return Fail(WaitForWriters(), percent);
      if (destination.older) {
        if ((code = BackupFile(step.path, destination.exists)) != 0) return Fail(code, percent);
        std::string parent = ParentOf(step.path);
        if (!parent.empty() && (code = EnsureDirectory(parent)) != 0) return Fail(code, percent);
        // A small new file goes to the helpers, its bytes taken from the
        // kit here, in order. It is recorded once written.
        const bool helped = writers_ && !destination.exists && entry.size <= kSmallFile &&
                            repeated_.count(entry.name) == 0;
        if (helped) {
          std::string bytes;
          code = reader->ReadEntry(i, &bytes);
          if (code == 0) {
            writers_->Write(i, step.path, std::move(bytes), entry.time);
            writtenFiles_.insert(step.path);
            Did(PlanAction::kWrite, relative, entry.size);
            if (channel.IsCancelRequested()) return Cancel(percent);
            continue;
          }
        } else {
          code = reader->ExtractEntry(i, step.path, cancelled, destination.permissions, &digest);
        }
        if (code == kErrorCancelled) return Cancel(percent);
        if (code != 0) {
          const int error = errno;
          if (code == kErrorInvalidData) {
            cause_ = FailureCause{
                "IDS_CAUSE_KIT", Narrow(EntryPathOf(entry.name)),
                reader->Problem().empty() ? "the unpacked kit ends early" : reader->Problem()};
          }
          return Fail(Because(code, "IDS_CAUSE_WRITE", step.path, error), percent);
        }
        writtenFiles_.insert(step.path);
        Did(destination.exists ? PlanAction::kReplace : PlanAction::kWrite, relative, entry.size);
      } else {
        Did(PlanAction::kKeep, relative, entry.size);
      }
      RecordInstalled(relative, entry, destination.older, digest);
      if (channel.IsCancelRequested()) return Cancel(percent);
    }
  } catch (const std::exception&) {
    return Fail(kErrorInvalidParameter, percent);
  }
  if ((code = WaitForWriters()) != 0) return Fail(code, percent);
  writers_.reset();
  // Every byte of the kit is checked again before the run may commit: the
  // files were written from a kit file that may have changed since Open().
  if ((code = EndStream(true)) != 0) return Fail(code, percent);
  code = RemoveDropped(percent);
  if (code == kErrorCancelled) return Cancel(percent);
  if (code != 0) return Fail(code, percent);
  // Success is reported only once a power cut can no longer take it back.
  std::string kit = "-";
  if (reader != nullptr && reader->HasTrailer()) kit = Hex(reader->Trailer().digest);
  if ((code = FlushWritten()) != 0 || (code = ReplaceManifest(NewManifest(kit))) != 0 ||
      (code = Commit()) != 0) {
    return Fail(code, percent);
  }
  channel.SetSummary(summary_);
  LogLine("committed: " + std::to_string(summary_.Count(PlanAction::kWrite)) + " written, " +
          std::to_string(summary_.Count(PlanAction::kReplace)) + " replaced, " +
          std::to_string(summary_.Count(PlanAction::kKeep)) + " kept, " +
          std::to_string(summary_.Count(PlanAction::kRemove)) + " removed, " +
          std::to_string(summary_.Count(PlanAction::kKeepChanged)) + " kept as changed; " +
          std::to_string(summary_.bytesToWrite) + " bytes in " +
          std::to_string(std::chrono::duration<double>(Clock::now() - started).count()) + " s");
  channel.Post(kErrorNone, LookupText(NarrowString("IDS_INSTALL_FINISH")), 100);
  if (finishPauseMs_ > 0) ::usleep(static_cast<useconds_t>(finishPauseMs_) * 1000);
  return kErrorNone;
}

}  // namespace qorv
