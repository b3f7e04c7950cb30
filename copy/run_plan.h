// What a run will do, file by file, decided once: the dry run prints the
// plan, the copy job carries out the very same plan and reports what it did
// in the same terms, and tools read both as JSON lines.
//
//   write         the kit's file, where there is none
//   replace       the kit's file over an older one
//   keep          a file as new as the kit's, or newer
//   remove        a file an earlier install put there that the kit no
//                 longer ships (or every file, when uninstalling),
//                 unchanged since
//   keep-changed  such a file, changed since it was installed: kept
#ifndef QORV_COPY_RUN_PLAN_H_
#define QORV_COPY_RUN_PLAN_H_

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "copy/manifest.h"
#include "fs/file_io.h"
#include "fs/trusted_path.h"

namespace qorv {

class KitReader;
struct FailureCause;  // copy/progress_channel.h

enum class PlanAction { kWrite, kReplace, kKeep, kRemove, kKeepChanged };
inline constexpr int kPlanActionCount = 5;
const char* ActionName(PlanAction action);

// What is at a destination, from one status query (two for a link).
struct Destination {
  bool exists = false;    // anything, a dangling link included
  bool older = true;      // no time to compare counts as older
  int permissions = -1;   // the bits a replacement keeps; -1: none to keep
  uint64_t size = 0;      // of what is there
  bool sameTime = false;  // the entry's time, in whole seconds
};
Destination InspectDestination(const std::string& path, const FileTime& entryTime);

// The update rule: a kit's file is written where there is none, replaces
// an older one, and keeps one as new as itself or newer.
PlanAction DecideInstall(const Destination& destination);

inline constexpr size_t kNoEntry = static_cast<size_t>(-1);

struct PlanItem {
  PlanAction action;
  std::string path;  // relative to the target
  uint64_t size = 0;
  // For the kit's files: the entry's index, and what its destination was
  // when the plan was made (the run acts on exactly that). kNoEntry for the
  // files of earlier installs.
  size_t entry = kNoEntry;
  Destination was;
  // Why, when the update rule alone does not say: kSameTimeOtherBytes.
  const char* reason = nullptr;
  // A kept file the plan found unchanged since an earlier install: what
  // lstat said of it then, to be recorded again.
  FileFacts facts;
};

// A file an earlier kit installed, unchanged since, with the entry's time
// but not its bytes (the kit's table of entry digests says so): replaced.
inline constexpr char kSameTimeOtherBytes[] = "same time, other bytes";

// Whether `action` writes the file (kWrite, kReplace).
inline bool Writes(PlanAction action) {
  return action == PlanAction::kWrite || action == PlanAction::kReplace;
}

struct RunPlan {
  std::vector<PlanItem> items;
  size_t count[kPlanActionCount] = {};
  uint64_t bytesToWrite = 0;

  void Add(PlanAction action, const std::string& path, uint64_t size, const char* reason = nullptr);
  // Counts an action without keeping its item: for totals only.
  void Tally(PlanAction action, uint64_t size);
  size_t Count(PlanAction action) const { return count[static_cast<int>(action)]; }
  // The directory the run puts at the head of the launcher's list, when
  // that changes the list; empty when the list stays as it is.
  std::string record;
  // With `record`: the launcher's list before and after, for a plan shown
  // as a difference.
  std::vector<std::string> listBefore, listAfter;
  // Whether anything changes: in the target, or the launcher's list.
  bool Changes() const;
};

// The files of `previous` whose paths are not in `shipped`: kRemove when
// unchanged since, kKeepChanged otherwise; files already gone are left out.
void PlanObsolete(const std::set<std::string>& shipped, const std::string& targetRoot,
                  const Manifest& previous, RunPlan* plan);

// The whole install of `reader`'s entries into `targetRoot` (ending with
// "/"), after an earlier install recorded in `previous` (empty: none): one
// item per entry, in the kit's order, then the earlier installs' files.
RunPlan PlanInstall(const KitReader& reader, const std::string& targetRoot,
                    const Manifest& previous);
// The uninstall of what `manifest` records.
RunPlan PlanUninstall(const std::string& targetRoot, const Manifest& manifest);

// The first link on the way to a place the plan changes in `targetRoot`
// that is not followed (fs/trusted_path.h): a run stops there before its
// first change. False when there is none.
bool FindRefusedLink(const std::string& targetRoot, const RunPlan& plan, RefusedLink* link);

// What a plan needs on disk, in blocks of `block` bytes: the kit's files
// on the target's file system, and the files moved aside (replaced or
// removed) wherever the backups go.
struct SpaceNeeded {
  uint64_t written = 0;
  uint64_t backedUp = 0;
};
SpaceNeeded SpaceNeededBy(const RunPlan& plan, uint64_t block);

// Whether `plan` fits into `target`: the files it writes on the target's
// file system (or, for a target still to be made, on that of its nearest
// existing directory), the files it moves aside where the backups go. False
// with `*cause` ("Not enough space: <where>: <n> bytes needed, <m> free",
// in the current language). True when the figures cannot be asked: the
// copy then says why, if it comes to that.
bool PlanFits(const RunPlan& plan, const std::string& target, FailureCause* cause);

// Whether installing `reader`'s kit into the directory `target` (absolute)
// fits, planned as the copy job plans it, after the install recorded there:
// what the directory page and the terminal check before the copy starts.
bool InstallFits(const KitReader& reader, const std::string& target, FailureCause* cause);

// What a run finds before its first change, found by a dry run: that the
// target's missing folders can be made and the plan's first file written
// there, asked of the system without giving anything a name
// (CanCreateFileIn() in fs/fs_queries.h), and that a run as root has a place
// for its run directory on the target's file system. False with the cause
// the real run would give ("Cannot create the directory: /proc/nope: No
// such file or directory").
bool TargetWritable(const RunPlan& plan, const std::string& target, FailureCause* cause);

// JSON (JsonString() is in base/text_convert.h): one object per plan item;
// the totals.
std::string PlanItemJson(const char* type, const PlanItem& item);
std::string PlanTotalsJson(const RunPlan& plan);
// The totals in words: "1 to write, 0 to replace, ...; 9 bytes to write".
std::string PlanTotalsText(const RunPlan& plan);
// What a run did, in words: "1 written, 0 replaced, ...; 9 bytes".
std::string DoneTotalsText(const RunPlan& done);

}  // namespace qorv

#endif  // QORV_COPY_RUN_PLAN_H_
