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
#include "fs/sys_calls.h"
#include "fs/trusted_path.h"
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
  return DecideInstall(InspectDestination(path, entryTime)) != PlanAction::kKeep;
}

uint32_t CopyJob::BeginLevel(const std::string& target) {
  writtenFiles_.clear();
  watched_.clear();
  movable_.clear();
  held_ = 0;
  journal_.Close();
  // An empty target would put the files relative to the current directory.
  if (target.empty()) return kErrorPathNotFound;
  uint32_t code = MakeRunDirectory(WithTrailingSlash(target), &journal_, &run_, &cause_);
  if (code == 0) changes_.Begin(target, run_.backupRoot, run_.copies);
  return code;
}

uint32_t CopyJob::AnnounceBatch(size_t first, size_t end) {
  const std::string& target = changes_.targetRoot();
  for (size_t i = first; i < end; ++i) {
    const PlanItem& item = plan_.items[i];
    const std::string path = target + item.path;
    // A path the run has written already was announced before that write.
    if (!Writes(item.action) || writtenFiles_.count(path) != 0) continue;
    journal_.Add(item.was.exists ? RecordKind::kBackup : RecordKind::kFile, path);
    std::string parent = ParentOf(path);
    if (!parent.empty()) changes_.AnnounceDirectories(parent, &journal_);
  }
  if (journal_.HasQueued() && !journal_.Flush()) return JournalFailed();
  return kErrorNone;
}

uint32_t CopyJob::CheckSpace(const std::string& target) {
  FailureCause cause;
  if (PlanFits(plan_, target, &cause)) return kErrorNone;
  return Failing(kErrorDiskFull, std::move(cause));
}

uint32_t CopyJob::CheckCopies(const std::string& root) {
  if (!run_.copies) return kErrorNone;
  // Backups on another file system are copies, the copying user's files:
  // another user's link, or a file whose set-user or set-group bit the
  // copy would lose, cannot be put back as it was.
  for (const PlanItem& item : plan_.items) {
    const bool backedUp =
        (Writes(item.action) && item.was.exists) || item.action == PlanAction::kRemove;
    struct stat st;
    if (!backedUp || !Lstat(root + item.path, &st)) continue;
    const char* why = nullptr;
    if (S_ISLNK(st.st_mode) && st.st_uid != ::geteuid()) {
      why = "another user's link, which a backup on another file system cannot keep";
    } else if (S_ISREG(st.st_mode) && (st.st_mode & (S_ISUID | S_ISGID)) != 0) {
      why = "a set-user or set-group file, which a backup on another file system cannot keep";
    }
    if (why != nullptr) {
      return Failing(kErrorCannotBackUp, FailureCause{"IDS_CAUSE_BACKUP", root + item.path, why});
    }
  }
  return kErrorNone;
}

uint32_t CopyJob::FlushWritten() {
  if (!durable_ || run_.root.empty()) return kErrorNone;
  const std::vector<std::string>& created = changes_.createdDirectories();
  if (writtenFiles_.empty() && created.empty()) return kErrorNone;
  // One flush per file system holding the run's files and the entries of
  // its new directories: far cheaper than a flush per file.
  std::vector<std::string> places{changes_.targetRoot()};
  const std::vector<std::string>& outermost =
      changes_.createdBeforeLock().empty() ? created : changes_.createdBeforeLock();
  if (!outermost.empty()) {
    std::string outer = ParentOf(outermost.front());
    if (!outer.empty()) places.push_back(outer);
  }
  std::set<dev_t> flushed;
  for (const std::string& place : places) {
    ScopedFd fd = OpenFile(place, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (!fd.IsValid()) {
      return Failing(kErrorPathNotFound, CauseOf("IDS_CAUSE_FLUSH", place, errno));
    }
    struct stat st;
    bool ok = StatOf(fd.Get(), &st);
    if (ok && flushed.insert(st.st_dev).second) ok = SyncFileSystemOf(fd.Get());
    if (!ok) return Failing(kErrorWriteFault, CauseOf("IDS_CAUSE_FLUSH", place, errno));
  }
  return kErrorNone;
}

bool CopyJob::OthersCanMove(const std::string& folder) {
  auto known = movable_.find(folder);
  if (known != movable_.end()) return known->second;
  bool movable = false;
  const std::string parent = ParentOf(folder);
  struct stat above;
  struct stat here;
  if (!parent.empty() && parent != folder && Lstat(parent, &above) && Lstat(folder, &here)) {
    // Moved by whoever may write its parent; in a sticky parent only by
    // the owner of either.
    const bool open = (above.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    movable = !TrustedOwner(above.st_uid) ||
              (open && ((above.st_mode & S_ISVTX) == 0 || !TrustedOwner(here.st_uid)));
    // Or with a folder above it, up to the target itself.
    if (!movable && WithTrailingSlash(folder) != changes_.targetRoot()) {
      movable = OthersCanMove(parent);
    }
  }
  movable_[folder] = movable;
  return movable;
}

void CopyJob::WatchFolder(const std::string& folder) {
  if (watched_.count(folder) != 0 || !OthersCanMove(folder)) return;
  WatchedFolder watched;
  watched.fd = OpenDirectoryTrusted(folder);
  struct stat st;
  if (!watched.fd.IsValid() || !StatOf(watched.fd.Get(), &st)) return;
  watched.device = st.st_dev;
  watched.inode = st.st_ino;
  // A kit of many folders in a shared place must not use up the run's
  // descriptors: beyond a bound a folder is still checked, by identity,
  // but what the run wrote there could not be removed through it.
  if (held_ >= kMaxHeldFolders) {
    watched.fd.Close();
  } else {
    ++held_;
  }
  watched_[folder] = std::move(watched);
}

uint32_t CopyJob::CheckFoldersInPlace() {
  if (watched_.empty()) return kErrorNone;
  // Walked afresh, not through the descriptors kept from the writes.
  ForgetResolvedDirectories();
  std::set<std::string> moved;
  for (const auto& [folder, watched] : watched_) {
    ScopedFd now = OpenDirectoryTrusted(folder);
    struct stat st;
    if (!now.IsValid() || !StatOf(now.Get(), &st) || st.st_dev != watched.device ||
        st.st_ino != watched.inode) {
      moved.insert(folder);
    }
  }
  if (moved.empty()) return kErrorNone;
  // What the run put there goes, through the folders as they were: the
  // files, then the folders it made, innermost first.
  for (const std::string& file : writtenFiles_) {
    const std::string folder = ParentOf(file);
    if (moved.count(folder) != 0 && watched_[folder].fd.IsValid()) {
      Sys().unlinkat(watched_[folder].fd.Get(), BaseName(file).c_str(), 0);
    }
  }
  const std::vector<std::string>& made = changes_.createdDirectories();
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    const std::string parent = ParentOf(*it);
    if (moved.count(parent) != 0 && watched_[parent].fd.IsValid()) {
      Sys().unlinkat(watched_[parent].fd.Get(), BaseName(*it).c_str(), AT_REMOVEDIR);
    }
  }
  ForgetResolvedDirectories();
  watched_.clear();
  held_ = 0;
  // The outermost moved folder is the one to name, and the reason of the
  // run's failure even when a write failed first (its folder was gone).
  cause_ = FailureCause{"IDS_CAUSE_WRITE", *moved.begin(),
                        "moved out of the target during the run; what the run wrote there is "
                        "removed"};
  return kErrorPathNotFound;
}

uint32_t CopyJob::LockTarget(const std::string& target) {
  bool waited = false;
  auto waiting = [this, &waited] {
    waited = true;
    channel_->PostNotice(LookupText("IDS_WAITING_FOR_TARGET"));
  };
  auto stopped = [this] { return channel_->IsCancelRequested(); };
  uint32_t code = kErrorPathNotFound;
  // A few rounds: the run we waited for may have been the one that made the
  // directory, and its rollback may have removed it again.
  for (int round = 0; round < 8 && code == kErrorPathNotFound; ++round) {
    if (!IsDirectoryPath(StripTrailingSlashes(target))) {
      changes_.ForgetDirectories();
      changes_.AnnounceDirectories(target, &journal_);
      if (journal_.HasQueued() && !journal_.Flush()) return JournalFailed();
      if ((code = changes_.MakeTarget(target)) != 0) return code;
    }
    code = targetLock_.Acquire(StripTrailingSlashes(target), lockWaitMs_, waiting, stopped);
  }
  if (waited) channel_->PostNotice(WideString());
  if (code == kErrorBusy && !targetLock_.holder().empty()) {
    return Failing(code, FailureCause{"IDS_TARGET_BUSY", StripTrailingSlashes(target),
                                      "locked by " + targetLock_.holder() + ": not waited for"});
  }
  return code;
}

uint32_t CopyJob::Commit() {
  if (run_.root.empty()) return kErrorNone;
  // Once the commit record is on disk nothing of the run is undone, even if
  // the process ends before the run directory is gone. Without it, a crash
  // while the backups are removed below would have the next start undo a
  // finished run with half its backups gone: so that is a failure.
  if (journal_.IsOpen() && !journal_.Commit()) return JournalFailed();
  if (uninstall_) {
    for (const std::string& directory : EmptiedDirectories()) RemoveEmptyDirectory(directory);
  }
  if (onCommitted_) onCommitted_(Wide(changes_.targetRoot()), uninstall_);
  RemoveRunDirectory(run_.root, std::string());
  journal_.Close();
  targetLock_.Release();
  return kErrorNone;
}

void CopyJob::Rollback() {
  unrestored_.clear();
  bool restored = changes_.Undo(&unrestored_);
  // And the manifest that described the old files.
  if (!manifestPath_.empty() &&
      !PutBackManifest(manifestPath_, run_.root + kOldManifestName, manifestHadOld_)) {
    unrestored_.push_back({Wide(manifestPath_), Wide(run_.root + kOldManifestName)});
    restored = false;
  }
  manifestPath_.clear();
  // The journal goes last: if the process ends in the middle of this, the
  // next start finishes the work. A backup that could not be put back
  // completely is kept, journal and all: it holds the user's only copy of
  // those files, and the next start tries again.
  // Backups copied to another file system: the target's changes are on
  // disk before the records that would undo them go.
  if (restored && !run_.root.empty()) {
    RemoveRunDirectory(run_.root, run_.copies ? changes_.targetRoot() : std::string());
  }
  journal_.Close();
  targetLock_.Release();
}

void CopyJob::RecordDone(PlanAction action, const std::string& relative, uint64_t size,
                         const char* reason) {
  summary_.Add(action, relative, size, reason);
  LogLine(std::string(ActionName(action)) + " " + relative +
          (reason != nullptr ? std::string(" (") + reason + ")" : std::string()));
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

uint32_t CopyJob::Failing(uint32_t code, FailureCause cause) {
  if (cause_.empty()) cause_ = std::move(cause);
  return code;
}

uint32_t CopyJob::JournalFailed() {
  return Failing(kErrorWriteFault, JournalFailure(run_.root, errno));
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
    const bool copied = Writes(plan_.items[i].action);
    wanted[i] = copied || named.count(name) != 0;
    if (copied) named.insert(name);
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
  RefusedLink refused;
  uint32_t code = writers_->Wait(&written, &path, &error, &refused);
  if (code != 0 && !refused.path.empty()) {
    return Failing(code, LinkRefusal("IDS_CAUSE_WRITE", refused));
  }
  if (code != 0) return Failing(code, CauseOf("IDS_CAUSE_WRITE", path, error));
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
  // Whatever stopped the run, nothing of it stays in a folder moved away.
  CheckFoldersInPlace();
  channel_->SetSummary(summary_);
  channel_->SetCause(cause_);
  LogLine("failed with code " + std::to_string(code) +
          (cause_.empty() ? std::string() : ": " + Narrow(DescribeCause(cause_))));
  Rollback();
  LogRollback();
  channel_->SetUnrestored(unrestored_);
  channel_->Post(code, LookupText(code == kErrorBusy ? "IDS_TARGET_BUSY" : "IDS_INSTALL_ERROR"),
                 percent);
  return code;
}

uint32_t CopyJob::Cancel(int percent) {
  WaitForWriters();
  EndStream(false);
  CheckFoldersInPlace();
  channel_->SetSummary(summary_);
  LogLine("cancelled");
  Rollback();
  LogRollback();
  channel_->SetUnrestored(unrestored_);
  channel_->Post(kErrorCancelled, LookupText("IDS_CANCEL_FINISH"), percent);
  return kErrorCancelled;
}

uint32_t CopyJob::InstallEntry(size_t i, int percent) {
  KitReader& reader = *reader_;
  const KitEntry& entry = reader.Entry(i);
  const PlanItem& item = plan_.items[i];
  const std::string path = changes_.targetRoot() + item.path;
  channel_->Post(kErrorNone, Wide(path), percent);
  Destination destination = item.was;
  PlanAction action = item.action;
  // Named twice by the kit: the first copy is there now.
  if (writtenFiles_.count(path) != 0) {
    destination = InspectDestination(path, entry.time);
    action = DecideInstall(destination);
  }
  if (writers_ && writers_->Failed()) return WaitForWriters();
  if (!Writes(action)) {
    RecordDone(action, item.path, entry.size);
    RecordInstalled(item.path, entry, false, Digest{}, item.facts);
    return kErrorNone;
  }
  uint32_t code = changes_.BackupFile(path, destination.exists);
  if (code != 0) return code;
  std::string parent = ParentOf(path);
  if (!parent.empty() && (code = changes_.EnsureDirectory(parent)) != 0) return code;
  if (!parent.empty()) WatchFolder(parent);
  // A small new file goes to the helpers, its bytes taken from the kit
  // here, in order. It is recorded once written.
  Digest digest{};
  if (writers_ && !destination.exists && entry.size <= kSmallFile &&
      repeated_.count(entry.name) == 0) {
    std::string bytes;
    code = reader.ReadEntry(i, &bytes);
    if (code == 0) {
      writers_->Write(i, path, std::move(bytes), entry.time);
      writtenFiles_.insert(path);
      RecordDone(PlanAction::kWrite, item.path, entry.size);
      return kErrorNone;
    }
  } else {
    auto cancelled = [this] { return channel_->IsCancelRequested(); };
    code = reader.ExtractEntry(i, path, cancelled, destination.permissions, &digest);
  }
  if (code == kErrorCancelled) return code;
  if (code != 0) {
    const int error = errno;
    if (code == kErrorInvalidData) {
      cause_ =
          FailureCause{"IDS_CAUSE_KIT", Narrow(EntryPathOf(entry.name)),
                       reader.Problem().empty() ? "the unpacked kit ends early" : reader.Problem()};
    }
    return Failing(code, CauseOf("IDS_CAUSE_WRITE", path, error));
  }
  writtenFiles_.insert(path);
  RecordDone(action, item.path, entry.size, action == item.action ? item.reason : nullptr);
  RecordInstalled(item.path, entry, true, digest);
  return kErrorNone;
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
    // Flushed with the first batch of records, before the first removal:
    // nothing changes before then.
    journal_.Add(RecordKind::kUninstall, target);
  }

  LogLine(std::string(uninstall_ ? "uninstall from " : "install into ") + target +
          (previous_.files.empty() ? ", no earlier install recorded"
                                   : ", " + std::to_string(previous_.files.size()) +
                                         " files recorded by earlier installs"));
  // Decided once, under the lock: what is seen here stays true until the
  // run itself changes it, and the digests the plan takes are not taken
  // again when the files go.
  const std::string root = WithTrailingSlash(target);
  plan_ = uninstall_ ? PlanUninstall(root, previous_) : PlanInstall(*reader, root, previous_);
  LogLine("plan: " + PlanTotalsText(plan_));
  if (RefusedLink link; FindRefusedLink(root, plan_, &link)) {
    return Fail(Failing(kErrorPathNotFound, LinkRefusal("IDS_CAUSE_WRITE", link)), 0);
  }
  if ((code = CheckSpace(target)) != 0) return Fail(code, 0);
  if ((code = CheckCopies(root)) != 0) return Fail(code, 0);

  const size_t count = uninstall_ ? 0 : reader->EntryCount();
  if (count != 0 && reader->Streams() && (code = StartStream()) != 0) return Fail(code, 0);
  int percent = 0;
  try {
    size_t batchEnd = 0;
    for (size_t i = 0; i < count; ++i) {
      percent = static_cast<int>(i * 100 / count);
      if (i == batchEnd) {
        batchEnd = count - i > kPlanBatch ? i + kPlanBatch : count;
        if ((code = AnnounceBatch(i, batchEnd)) != 0) return Fail(code, percent);
      }
      code = InstallEntry(i, percent);
      if (code == kErrorCancelled) return Cancel(percent);
      if (code != 0) return Fail(code, percent);
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
  if ((code = CheckFoldersInPlace()) != 0) return Fail(code, percent);
  // Success is reported only once a power cut can no longer take it back.
  std::string kit = "-";
  if (reader != nullptr && reader->HasTrailer()) kit = Hex(reader->Trailer().digest);
  if ((code = FlushWritten()) != 0 || (code = ReplaceManifest(NewManifest(kit))) != 0 ||
      (code = Commit()) != 0) {
    return Fail(code, percent);
  }
  channel.SetSummary(summary_);
  LogLine("committed: " + DoneTotalsText(summary_) + " in " +
          std::to_string(std::chrono::duration<double>(Clock::now() - started).count()) + " s");
  channel.Post(kErrorNone, LookupText("IDS_INSTALL_FINISH"), 100);
  if (finishPauseMs_ > 0) ::usleep(static_cast<useconds_t>(finishPauseMs_) * 1000);
  return kErrorNone;
}

}  // namespace qorv
