// The copy job's side of the target's manifest (copy/manifest.h): what the
// run installed, the manifest that replaces the earlier one, and the files
// of earlier installs that the run removes.
#include <sys/stat.h>

#include <cerrno>
#include <set>

#include "base/text_convert.h"
#include "copy/copy_job.h"
#include "copy/run_log.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "fs/trusted_path.h"
#include "kit/kit_reader.h"

namespace qorv {

void CopyJob::RecordInstalled(const std::string& relative, const KitEntry& entry, bool written,
                              const Digest& digest, const FileFacts& verified) {
  struct stat st;
  if (!Lstat(changes_.targetRoot() + relative, &st) || !S_ISREG(st.st_mode)) {
    installed_.erase(relative);
    return;
  }
  ManifestFile file{relative, static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtime),
                    digest, FactsOf(st)};
  if (!written) {
    auto before = previousIndex_.find(relative);
    const ManifestFile* earlier = before == previousIndex_.end() ? nullptr : before->second;
    if (earlier != nullptr && earlier->size == file.size && earlier->time == file.time) {
      file.digest = earlier->digest;  // as an earlier install left it
      // Its facts only when the plan found it unchanged and it still is.
      if (!SameFacts(verified, file.facts)) file.facts = FileFacts();
    } else if (earlier != nullptr && !UnchangedSince(changes_.targetRoot(), *earlier)) {
      // Changed by the user since an earlier install: recorded as that
      // install left it, so that an uninstall keeps it and names it.
      installed_[relative] = *earlier;
      return;
    } else if (file.time != UnixFromFileTime(entry.time) || file.size != entry.size ||
               !DigestOfFile(changes_.targetRoot() + relative, &file.digest)) {
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
  for (const std::string& d : changes_.createdBeforeLock()) all.insert(StripTrailingSlashes(d));
  return std::vector<std::string>(all.rbegin(), all.rend());
}

Manifest CopyJob::NewManifest(const std::string& kitIdentity) const {
  Manifest manifest;
  manifest.target = changes_.targetRoot();
  manifest.kit = kitIdentity;
  // Sorted, so a parent comes before what is in it.
  std::set<std::string> directories;
  for (const std::string& d : previous_.directories) {
    if (IsDirectoryPath(d)) directories.insert(d);
  }
  for (const auto* made : {&changes_.createdBeforeLock(), &changes_.createdDirectories()}) {
    for (const std::string& d : *made) directories.insert(StripTrailingSlashes(d));
  }
  manifest.directories.assign(directories.begin(), directories.end());
  for (const auto& [relative, file] : installed_) manifest.files.push_back(file);
  return manifest;
}

uint32_t CopyJob::ReplaceManifest(const Manifest& manifest) {
  const std::string path = ManifestPathFor(changes_.targetRoot());
  if (path.empty()) return kErrorPathNotFound;
  // Never into another user's state (root run with that user's HOME).
  if (std::string foreign; !IsOwnPlace(path, &foreign)) {
    return Failing(kErrorInvalidParameter, FailureCause{"IDS_CAUSE_MANIFEST", path, foreign});
  }
  std::string old;
  bool missing = false;
  const bool hadOld = ReadFileToString(path, &old, &missing);
  if (!hadOld && !missing) {
    return Failing(kErrorInvalidParameter, CauseOf("IDS_CAUSE_MANIFEST", path, errno));
  }
  auto failure = [this, &path] {
    return Failing(CodeOfFailedWrite(errno, kErrorWriteFault),
                   CauseOf("IDS_CAUSE_MANIFEST", path, errno));
  };
  // The old one is safe before the change is announced: a journal that
  // names the manifest always finds its old copy, or none because there
  // was none.
  if (hadOld && ReplaceFileDurably(run_.root + kOldManifestName, old) != ReplaceResult::kDone) {
    return failure();
  }
  journal_.Add(hadOld ? RecordKind::kManifest : RecordKind::kNoManifest, path);
  if (uninstall_) {
    for (const std::string& directory : EmptiedDirectories()) {
      journal_.Add(RecordKind::kEmptied, directory);
    }
  }
  if (!journal_.Flush()) return failure();
  manifestPath_ = path;
  manifestHadOld_ = hadOld;
  if (uninstall_) {
    if (!RemoveFile(path) && errno != ENOENT) return failure();
    if (!SyncDirectoryOf(path)) return failure();
    return kErrorNone;
  }
  if (ShellMakeDirs(ManifestDirectory()) != 0) {
    return Failing(kErrorPathNotFound,
                   CauseOf("IDS_CAUSE_MAKE_DIRECTORY", ManifestDirectory(), errno));
  }
  RemoveUnfinishedReplacements(path);
  if (ReplaceFileDurably(path, EncodeManifest(manifest)) != ReplaceResult::kDone) return failure();
  return kErrorNone;
}

uint32_t CopyJob::RemoveDropped(int percent) {
  const std::string& target = changes_.targetRoot();
  auto dropped = [](const PlanItem& item) { return item.entry == kNoEntry; };
  for (const PlanItem& item : plan_.items) {
    if (dropped(item) && item.action == PlanAction::kRemove) {
      journal_.Add(RecordKind::kBackup, target + item.path);
    }
  }
  if (journal_.HasQueued() && !journal_.Flush()) return JournalFailed();
  for (const PlanItem& item : plan_.items) {
    if (!dropped(item)) continue;
    if (channel_->IsCancelRequested()) return kErrorCancelled;
    RecordDone(item.action, item.path, item.size);
    if (item.action != PlanAction::kRemove) continue;
    channel_->Post(kErrorNone, Wide(target + item.path), percent);
    // Removed is moved into the backup tree: a rollback puts it back.
    uint32_t code = changes_.BackupFile(target + item.path, true);
    if (code != 0) return code;
  }
  return kErrorNone;
}

}  // namespace qorv
