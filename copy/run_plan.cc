#include "copy/run_plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "base/text_convert.h"
#include "copy/progress_channel.h"
#include "copy/run_directory.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "kit/kit_names.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"

namespace qorv {

const char* ActionName(PlanAction action) {
  switch (action) {
    case PlanAction::kWrite:
      return "write";
    case PlanAction::kReplace:
      return "replace";
    case PlanAction::kKeep:
      return "keep";
    case PlanAction::kRemove:
      return "remove";
    case PlanAction::kKeepChanged:
      return "keep-changed";
  }
  return "";
}

void RunPlan::Add(PlanAction action, const std::string& path, uint64_t size, const char* reason) {
  items.push_back({action, path, size, kNoEntry, Destination{}, reason, FileFacts{}});
  Tally(action, size);
}

void RunPlan::Tally(PlanAction action, uint64_t size) {
  ++count[static_cast<int>(action)];
  if (action == PlanAction::kWrite || action == PlanAction::kReplace) bytesToWrite += size;
}

namespace {

// The totals in the log's words, each count followed by its word (the
// actions in their order), then the bytes.
std::string TotalsText(const RunPlan& plan, const char* const (&words)[kPlanActionCount],
                       const char* bytes) {
  std::string text;
  for (int i = 0; i < kPlanActionCount; ++i) {
    text += std::to_string(plan.count[i]) + words[i] + (i + 1 < kPlanActionCount ? ", " : "; ");
  }
  return text + std::to_string(plan.bytesToWrite) + bytes;
}

}  // namespace

std::string PlanTotalsText(const RunPlan& plan) {
  return TotalsText(plan,
                    {" to write", " to replace", " to keep", " to remove", " kept as changed"},
                    " bytes to write");
}

std::string DoneTotalsText(const RunPlan& done) {
  return TotalsText(done, {" written", " replaced", " kept", " removed", " kept as changed"},
                    " bytes");
}

bool RunPlan::Changes() const {
  return Count(PlanAction::kWrite) + Count(PlanAction::kReplace) + Count(PlanAction::kRemove) !=
             0 ||
         !record.empty();
}

Destination InspectDestination(const std::string& path, const FileTime& entryTime) {
  Destination d;
  struct stat st;
  if (!Lstat(path, &st)) return d;
  d.exists = true;
  if (S_ISLNK(st.st_mode) && !Stat(path, &st)) return d;
  d.permissions = static_cast<int>(st.st_mode & 0777);
  d.size = static_cast<uint64_t>(st.st_size);
  // Compared at the precision a copy sets, whole seconds: a file installed
  // from this very entry is equal to it, not older, whatever fraction of a
  // second the kit's time carries.
  d.older = st.st_mtime < UnixFromFileTime(entryTime);
  d.sameTime = st.st_mtime == UnixFromFileTime(entryTime);
  return d;
}

PlanAction DecideInstall(const Destination& destination) {
  if (!destination.older) return PlanAction::kKeep;
  return destination.exists ? PlanAction::kReplace : PlanAction::kWrite;
}

void PlanObsolete(const std::set<std::string>& shipped, const std::string& targetRoot,
                  const Manifest& previous, RunPlan* plan) {
  for (const ManifestFile& file : previous.files) {
    if (shipped.count(file.path) != 0) continue;
    struct stat st;
    if (!Lstat(targetRoot + file.path, &st)) continue;  // gone already
    plan->Add(UnchangedSince(targetRoot, file) ? PlanAction::kRemove : PlanAction::kKeepChanged,
              file.path, file.size);
  }
}

RunPlan PlanInstall(const KitReader& reader, const std::string& targetRoot,
                    const Manifest& previous) {
  RunPlan plan;
  std::set<std::string> shipped;
  const std::vector<Digest>& digests = reader.Trailer().entryDigests;
  // The earlier records by path: one look-up per entry, not a scan.
  std::unordered_map<std::string_view, const ManifestFile*> earlierByPath;
  earlierByPath.reserve(previous.files.size());
  for (const ManifestFile& file : previous.files) earlierByPath.emplace(file.path, &file);
  for (const KitEntry& entry : reader.entries()) {
    std::string relative = Narrow(EntryPathOf(entry.name));
    shipped.insert(relative);
    PlanItem item{PlanAction::kKeep,
                  relative,
                  entry.size,
                  plan.items.size(),
                  InspectDestination(targetRoot + relative, entry.time),
                  nullptr,
                  FileFacts{}};
    item.action = DecideInstall(item.was);
    if (item.action == PlanAction::kKeep) {
      auto found = earlierByPath.find(relative);
      const ManifestFile* earlier = found == earlierByPath.end() ? nullptr : found->second;
      FileFacts now;
      const bool unchanged = earlier != nullptr && UnchangedSince(targetRoot, *earlier, &now);
      if (unchanged) item.facts = now;
      if (earlier != nullptr && !unchanged) {
        // Kept because the user changed it after an earlier install put
        // it there: the user's now, and said so.
        item.action = PlanAction::kKeepChanged;
      } else if (earlier != nullptr && item.was.sameTime && item.entry < digests.size() &&
                 digests[item.entry] != earlier->digest) {
        // A kit made with a fixed time changed the file's bytes, not its
        // time: the copy an earlier kit left is replaced.
        item.action = PlanAction::kReplace;
        item.reason = kSameTimeOtherBytes;
      }
    }
    plan.Tally(item.action, item.size);
    plan.items.push_back(std::move(item));
  }
  PlanObsolete(shipped, targetRoot, previous, &plan);
  return plan;
}

RunPlan PlanUninstall(const std::string& targetRoot, const Manifest& manifest) {
  RunPlan plan;
  PlanObsolete({}, targetRoot, manifest, &plan);
  return plan;
}

bool FindRefusedLink(const std::string& targetRoot, const RunPlan& plan, RefusedLink* link) {
  std::set<std::string> checked;
  for (const PlanItem& item : plan.items) {
    if (item.action == PlanAction::kKeep || item.action == PlanAction::kKeepChanged) continue;
    // The deepest directory on the way that exists: the run makes the rest.
    for (std::string directory = ParentOf(targetRoot + item.path);
         !directory.empty() && checked.insert(StripTrailingSlashes(directory)).second;
         directory = ParentOf(StripTrailingSlashes(directory))) {
      if (OpenDirectoryTrusted(directory).IsValid()) break;
      if (errno == ELOOP && TakeRefusedLink(link)) return true;
      if (errno != ENOENT) break;  // the run says why when it gets there
    }
  }
  return false;
}

SpaceNeeded SpaceNeededBy(const RunPlan& plan, uint64_t block) {
  auto blocks = [block](uint64_t size) { return (size + block - 1) / block * block; };
  SpaceNeeded needed;
  for (const PlanItem& item : plan.items) {
    switch (item.action) {
      case PlanAction::kWrite:
        needed.written += blocks(item.size);
        break;
      case PlanAction::kReplace:
        needed.written += blocks(item.size);
        needed.backedUp += blocks(item.was.size);
        break;
      case PlanAction::kRemove:
        needed.backedUp += blocks(item.size);
        break;
      case PlanAction::kKeep:
      case PlanAction::kKeepChanged:
        break;
    }
  }
  return needed;
}

bool PlanFits(const RunPlan& plan, const std::string& target, FailureCause* cause) {
  // A target still to be made is measured where it will be.
  std::string where = StripTrailingSlashes(target);
  struct stat st;
  while (!where.empty() && !Stat(where, &st)) where = ParentOf(where);
  uint64_t free = 0;
  uint64_t block = 0;
  if (where.empty() || !FreeSpaceOf(where, &free, &block)) return true;
  const SpaceNeeded needed = SpaceNeededBy(plan, block);
  auto shortfall = [cause](const std::string& place, uint64_t bytes, uint64_t available) {
    // "%1 bytes needed, %2 free", in the current language.
    std::string figures = Narrow(LookupText("IDS_SPACE_FIGURES"));
    for (const auto& [mark, value] : {std::pair<const char*, uint64_t>{"%1", bytes},
                                      std::pair<const char*, uint64_t>{"%2", available}}) {
      size_t at = figures.find(mark);
      if (at != std::string::npos) figures.replace(at, 2, std::to_string(value));
    }
    *cause = FailureCause{"IDS_CAUSE_NO_SPACE", place, figures};
    return false;
  };
  if (needed.written > free) return shortfall(StripTrailingSlashes(target), needed.written, free);
  // Backups are moved into the run directory, on the target's file system
  // but where no place there can be had: within one file system that costs
  // nothing.
  struct stat targetStat;
  struct stat tempStat;
  const std::vector<std::string> places = RunPlacesFor(WithTrailingSlash(target), false);
  const std::string temp = StripTrailingSlashes(places.empty() ? TempDirectory() : places.front());
  if (needed.backedUp != 0 && Stat(where, &targetStat) && Stat(temp, &tempStat) &&
      targetStat.st_dev != tempStat.st_dev) {
    uint64_t tempFree = 0;
    uint64_t tempBlock = 0;
    if (FreeSpaceOf(temp, &tempFree, &tempBlock) && needed.backedUp > tempFree) {
      return shortfall(temp, needed.backedUp, tempFree);
    }
  }
  return true;
}

namespace {

// Whether `path` could be made, asked of its folder without making
// anything (a name there is what a killed dry run would leave behind).
bool CanMakeDirectory(const std::string& path, FailureCause* cause) {
  if (!CanCreateFileIn(ParentOf(path))) {
    *cause = FailureCause{"IDS_CAUSE_MAKE_DIRECTORY", path, std::strerror(errno)};
    return false;
  }
  return true;
}

// The folders from `from` (which exists) down to `path`: each that exists
// must be a folder; the first missing one must be possible to make.
bool CanReach(const std::string& from, const std::string& path, FailureCause* cause,
              bool* reached) {
  *reached = false;
  size_t at = from.size();
  while (at < path.size()) {
    size_t next = path.find('/', at + 1);
    std::string prefix = path.substr(0, next);
    struct stat st;
    if (!Stat(prefix, &st)) {
      if (errno == ENOENT) return CanMakeDirectory(prefix, cause);
      *cause = FailureCause{"IDS_CAUSE_MAKE_DIRECTORY", prefix, std::strerror(errno)};
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      *cause = FailureCause{"IDS_CAUSE_MAKE_DIRECTORY", prefix, std::strerror(ENOTDIR)};
      return false;
    }
    if (next == std::string::npos) break;
    at = next;
  }
  *reached = true;
  return true;
}

}  // namespace

bool TargetWritable(const RunPlan& plan, const std::string& target, FailureCause* cause) {
  const std::string root = StripTrailingSlashes(target);
  bool reached = false;
  if (root.empty() || root[0] != '/' || !CanReach("", root, cause, &reached)) return false;
  if (::geteuid() == 0 && RunPlacesFor(WithTrailingSlash(root), false).empty()) {
    *cause = NoRunPlaceForRoot(root);
    return false;
  }
  if (!reached) return true;  // its first missing folder can be made: so can the rest
  for (const PlanItem& item : plan.items) {
    if (item.action != PlanAction::kWrite && item.action != PlanAction::kReplace) continue;
    const std::string path = root + "/" + item.path;
    if (!CanReach(root, ParentOf(path), cause, &reached)) return false;
    if (!reached) return true;
    // Asked without a name in the folder: a dry run leaves nothing, even
    // when it is killed, and changes no folder's time.
    if (!CanCreateFileIn(ParentOf(path))) {
      *cause = FailureCause{"IDS_CAUSE_WRITE", path, std::strerror(errno)};
      return false;
    }
    return true;
  }
  return true;
}

bool InstallFits(const KitReader& reader, const std::string& target, FailureCause* cause) {
  const std::string root = WithTrailingSlash(target);
  Manifest previous;
  LoadManifest(root, &previous);
  return PlanFits(PlanInstall(reader, root, previous), target, cause);
}

std::string PlanItemJson(const char* type, const PlanItem& item) {
  return std::string("{\"type\":\"") + type + "\",\"action\":\"" + ActionName(item.action) +
         "\",\"path\":" + JsonString(item.path) + ",\"size\":" + std::to_string(item.size) +
         (item.reason != nullptr ? ",\"reason\":" + JsonString(item.reason) : std::string()) + "}";
}

std::string PlanTotalsJson(const RunPlan& plan) {
  std::string out = "{\"type\":\"totals\"";
  for (int i = 0; i < kPlanActionCount; ++i) {
    out += ",\"" + std::string(ActionName(static_cast<PlanAction>(i))) +
           "\":" + std::to_string(plan.count[i]);
  }
  out += ",\"bytes_to_write\":" + std::to_string(plan.bytesToWrite);
  out += std::string(",\"changes\":") + (plan.Changes() ? "true" : "false") + "}";
  return out;
}

}  // namespace qorv
