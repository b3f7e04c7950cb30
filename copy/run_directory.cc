#include "copy/run_directory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "copy/manifest.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "kit/kit_crypto.h"

namespace qorv {

bool IsRunDirectoryName(const std::string& name) {
  const size_t prefix = sizeof(kRunDirectoryPrefix) - 1;
  if (name.compare(0, prefix, kRunDirectoryPrefix) != 0 || name.size() == prefix) return false;
  return name.find_first_not_of("0123456789", prefix) == std::string::npos;
}

FailureCause CauseOf(const char* what, const std::string& path, int error) {
  RefusedLink link;
  if (error == ELOOP && TakeRefusedLink(&link)) return LinkRefusal(what, link);
  return FailureCause{what, path, error != 0 ? std::strerror(error) : ""};
}

FailureCause LinkRefusal(const char* what, const RefusedLink& link) {
  std::string owner = std::to_string(link.owner);
  if (const struct passwd* user = ::getpwuid(link.owner))
    owner += std::string(" (") + user->pw_name + ")";
  return FailureCause{what, link.path, "a link owned by user " + owner + ", not followed"};
}

FailureCause JournalFailure(const std::string& runRoot, int error) {
  return CauseOf("IDS_CAUSE_JOURNAL", runRoot + kJournalName, error);
}

namespace {

std::string& RunBaseForTests() {
  static std::string base;
  return base;
}

std::string RunsDirectory() {
  const std::string state = StateDirectory();
  return state.empty() ? state : state + "runs";
}

std::string LiveDirectory() {
  const std::string state = StateDirectory();
  return state.empty() ? state : state + "live";
}

// The entry of a run in the registry: named by its path's digest.
std::string LiveEntryOf(const std::string& runRoot) {
  const std::string live = LiveDirectory();
  if (live.empty()) return live;
  const std::string key = StripTrailingSlashes(runRoot);
  return live + "/" + Hex(Sha256Of(key.data(), key.size())).substr(0, 32);
}

// The run directory a registry entry names (without its trailing "/").
bool ReadLiveEntry(const std::string& entry, std::string* runRoot) {
  if (!ReadFileToString(entry, runRoot, nullptr, 4096) || runRoot->size() < 2 ||
      runRoot->back() != '\n' || (*runRoot)[0] != '/') {
    return false;
  }
  runRoot->pop_back();
  return true;
}

// `path`, or the nearest directory above it that exists; empty when none.
std::string NearestExisting(std::string path, struct stat* st) {
  path = StripTrailingSlashes(path);
  while (!path.empty()) {
    if (Stat(path, st) && S_ISDIR(st->st_mode)) return path;
    std::string parent = ParentOf(path);
    if (parent == path) break;
    path = parent;
  }
  return std::string();
}

// A directory of the user's own, closed to others, on file system `device`;
// made when missing and `make` (its new entry flushed). Without `make`, a
// missing one counts when the directory above it is on `device`.
bool UsableBase(const std::string& directory, dev_t device, bool make) {
  struct stat st;
  if (!Lstat(directory, &st)) {
    if (!make) {
      struct stat above;
      return NearestExisting(ParentOf(directory), &above) != "" && above.st_dev == device;
    }
    if (!MakeDirectory(directory, 0700) && errno != EEXIST) return false;
    SyncDirectoryOf(directory);
    if (!Lstat(directory, &st)) return false;
  }
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
         st.st_dev == device;
}

}  // namespace

void SetRunBaseForTests(const std::string& base) { RunBaseForTests() = base; }

std::string RunBaseFor(const std::string& targetRoot, bool make) {
  if (!RunBaseForTests().empty()) return WithTrailingSlash(RunBaseForTests());
  const std::string target = StripTrailingSlashes(targetRoot);
  struct stat near;
  const std::string nearest = NearestExisting(target, &near);
  if (!nearest.empty()) {
    const std::string runs = RunsDirectory();
    // Never into another user's state (root run with that user's HOME).
    if (std::string foreign; !runs.empty() && IsOwnPlace(runs, &foreign)) {
      if (make) ShellMakeDirs(StateDirectory());
      if (UsableBase(runs, near.st_dev, make)) return WithTrailingSlash(runs);
    }
    // Beside the target rather than inside it, where the launcher and
    // people look for templates; inside only when the target is a file
    // system of its own.
    std::vector<std::string> places;
    if (nearest == target) {
      struct stat above;
      const std::string parent = ParentOf(target);
      if (!parent.empty() && Stat(parent, &above) && above.st_dev == near.st_dev) {
        places.push_back(parent);
      }
      places.push_back(target);
    } else {
      places.push_back(nearest);
    }
    for (const std::string& place : places) {
      const std::string base = WithTrailingSlash(place) + kHiddenRunBase;
      if (UsableBase(base, near.st_dev, make)) return WithTrailingSlash(base);
    }
  }
  return WithTrailingSlash(TempDirectory());
}

std::vector<std::string> RunBases() {
  std::vector<std::string> bases{WithTrailingSlash(TempDirectory())};
  const std::string runs = RunsDirectory();
  if (!runs.empty()) bases.push_back(WithTrailingSlash(runs));
  if (!RunBaseForTests().empty()) bases.push_back(WithTrailingSlash(RunBaseForTests()));
  std::vector<std::string> names;
  const std::string live = LiveDirectory();
  if (!live.empty() && ListNames(live, &names)) {
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::string runRoot;
      if (!ReadLiveEntry(live + "/" + name, &runRoot)) continue;
      const std::string base = WithTrailingSlash(ParentOf(StripTrailingSlashes(runRoot)));
      if (std::find(bases.begin(), bases.end(), base) == bases.end()) {
        bases.push_back(base);
      }
    }
  }
  return bases;
}

bool RegisterLiveRun(const std::string& runRoot, FailureCause* cause) {
  const std::string live = LiveDirectory();
  const std::string entry = LiveEntryOf(runRoot);
  if (live.empty()) {
    *cause = FailureCause{"IDS_CAUSE_JOURNAL", runRoot, "no home directory for the state"};
    return false;
  }
  // Never into another user's state (root run with that user's HOME).
  if (std::string foreign; !IsOwnPlace(entry, &foreign)) {
    *cause = FailureCause{"IDS_CAUSE_JOURNAL", entry, foreign};
    return false;
  }
  struct stat st;
  if (!Stat(live, &st)) {
    if (ShellMakeDirs(live) != 0) {
      *cause = CauseOf("IDS_CAUSE_MAKE_DIRECTORY", live, errno);
      return false;
    }
    SyncDirectoryOf(live);
  }
  if (ReplaceFileDurably(entry, StripTrailingSlashes(runRoot) + "\n") != ReplaceResult::kDone) {
    *cause = CauseOf("IDS_CAUSE_JOURNAL", entry, errno);
    return false;
  }
  return true;
}

void PruneLiveRuns() {
  const std::string live = LiveDirectory();
  std::vector<std::string> names;
  if (live.empty() || !ListNames(live, &names)) return;
  for (const std::string& name : names) {
    const std::string entry = live + "/" + name;
    std::string runRoot;
    if (!ReadLiveEntry(entry, &runRoot)) continue;
    struct stat st;
    if (Lstat(runRoot, &st)) continue;  // still to be undone, or running
    RemoveFile(entry);
    // A hidden base nobody uses any more goes too.
    const std::string base = ParentOf(runRoot);
    if (base.size() > sizeof kHiddenRunBase &&
        base.compare(base.size() - (sizeof kHiddenRunBase - 1), std::string::npos,
                     kHiddenRunBase) == 0) {
      RemoveEmptyDirectory(base);
    }
  }
}

uint32_t MakeRunDirectory(const std::string& targetRoot, RunJournal* journal, RunDirectory* run,
                          FailureCause* cause) {
  auto failed = [cause](uint32_t code, FailureCause why) {
    if (cause->empty()) *cause = std::move(why);
    return code;
  };
  // The place itself is not the run's to remove again.
  std::string temp = RunBaseFor(targetRoot, true);
  if (!IsDirectoryPath(temp) && ShellMakeDirs(temp) != 0) {
    return failed(kErrorPathNotFound, CauseOf("IDS_CAUSE_MAKE_DIRECTORY", temp, errno));
  }
  temp = WithTrailingSlash(temp);
  const bool registered = temp == WithTrailingSlash(TempDirectory()) ||
                          temp == WithTrailingSlash(StateDirectory() + "runs") ||
                          !RunBaseForTests().empty();
  // The first free one, taken with an exclusive mkdir so that two installers
  // running at once never share a run directory. Only the user may read the
  // backups of the user's files.
  int lost = 0;
  for (int32_t n = 0;; ++n) {
    std::string candidate = temp + kRunDirectoryPrefix + std::to_string(n);
    if (MakeDirectory(candidate, 0700)) {
      std::string root = WithTrailingSlash(candidate);
      // Found again after a crash: a run elsewhere than the places every
      // start looks in is entered in the registry first.
      if (FailureCause why; !registered && !RegisterLiveRun(root, &why)) {
        RemoveEmptyDirectory(root);
        RemoveEmptyDirectory(temp);  // a hidden place made for this run
        return failed(kErrorWriteFault, std::move(why));
      }
      // The journal and its target are on disk before anything changes.
      if (!journal->Create(root, targetRoot)) {
        // Another installer starting at this moment may have taken the
        // fresh directory for a dead run's and emptied it: then another one
        // will do. A full disk fails every time.
        int error = errno;
        RemoveRunDirectory(root);
        if (++lost < 8) continue;
        return failed(kErrorWriteFault, JournalFailure(root, error));
      }
      run->root = root;
      run->backupRoot = root + kBackupDirectoryName;
      return kErrorNone;
    }
    if (errno == ENOENT && ++lost < 8) {
      // The place went, emptied by a start that pruned it: made again.
      RunBaseFor(targetRoot, true);
      --n;
      continue;
    }
    if (errno != EEXIST || n == INT32_MAX) {
      return failed(kErrorPathNotFound, CauseOf("IDS_CAUSE_MAKE_DIRECTORY", candidate, errno));
    }
  }
}

}  // namespace qorv
