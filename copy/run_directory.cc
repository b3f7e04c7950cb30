#include "copy/run_directory.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "copy/manifest.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "fs/trusted_path.h"
#include "kit/kit_crypto.h"

namespace qorv {

bool IsRunDirectoryName(const std::string& name) {
  const size_t prefix = sizeof(kRunDirectoryPrefix) - 1;
  return name.size() == prefix + kRunNameLetters &&
         name.compare(0, prefix, kRunDirectoryPrefix) == 0 &&
         name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789", prefix) ==
             std::string::npos;
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

// The registry entry's format, in the journal's records.
constexpr char kLiveFormat[] = "qorv-run 1";
constexpr char kLiveVersion = 'V';
constexpr char kLiveRunRoot = 'R';
constexpr char kLiveTarget = 'T';
constexpr char kLiveIdentity = 'I';  // "<device> <inode>", once made

std::string& RunBaseForTests() {
  static std::string base;
  return base;
}

std::string RunsDirectory() {
  const std::string state = StateDirectory();
  return state.empty() ? state : state + "runs";
}

// The entry of a run in the registry: named by its path's digest.
std::string LiveEntryOf(const std::string& runRoot) {
  const std::string live = LiveDirectory();
  if (live.empty()) return live;
  const std::string key = StripTrailingSlashes(runRoot);
  return live + "/" + Hex(Sha256Of(key.data(), key.size())).substr(0, 32);
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

// A directory of the user's own, closed to others, on file system
// `device`; made when missing and `make`.
bool OwnClosedDirectory(const std::string& directory, dev_t device, bool make) {
  struct stat st;
  if (!Lstat(directory, &st)) {
    if (!make || (!MakeDirectory(directory, 0700) && errno != EEXIST) || !Lstat(directory, &st)) {
      return false;
    }
    SyncDirectoryOf(directory);
  }
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
         st.st_dev == device;
}

// Whether the user may make a directory in `place`.
bool CanMakeIn(const std::string& place) { return CanCreateFileIn(place); }

// Flushes the file system holding `path`, when it can be opened.
bool SyncFileSystemAt(const std::string& path) {
  ScopedFd fd = OpenFile(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd.IsValid() && SyncFileSystemOf(fd.Get());
}

}  // namespace

void SetRunBaseForTests(const std::string& base) { RunBaseForTests() = base; }

std::string LiveDirectory() {
  const std::string state = StateDirectory();
  return state.empty() ? state : state + "live";
}

bool IsOwnRegistry(std::string* problem) {
  const std::string live = LiveDirectory();
  if (live.empty()) {
    *problem = "no home directory for the state of the installer's runs";
    return false;
  }
  return IsSafeOwnPath(live, problem);
}

std::vector<std::string> RunPlacesFor(const std::string& targetRoot, bool make) {
  if (!RunBaseForTests().empty()) return {WithTrailingSlash(RunBaseForTests())};
  std::vector<std::string> places;
  const std::string target = StripTrailingSlashes(targetRoot);
  struct stat near;
  const std::string nearest = NearestExisting(target, &near);
  if (nearest.empty()) return places;
  const std::string runs = RunsDirectory();
  std::string problem;
  if (!runs.empty() && IsSafeOwnPath(runs, &problem)) {
    struct stat state;
    const std::string existing = NearestExisting(runs, &state);
    if (!existing.empty() && state.st_dev == near.st_dev) {
      if (make && existing != runs) ShellMakeDirs(StateDirectory());
      if (OwnClosedDirectory(runs, near.st_dev, make) || (!make && existing != runs)) {
        places.push_back(WithTrailingSlash(runs));
      }
    }
  }
  // Beside the target rather than inside it, where the launcher and
  // people look for templates; inside only when the target is a file
  // system of its own.
  if (nearest == target) {
    struct stat above;
    const std::string parent = ParentOf(target);
    if (!parent.empty() && Stat(parent, &above) && above.st_dev == near.st_dev &&
        CanMakeIn(parent)) {
      places.push_back(WithTrailingSlash(parent));
    }
  }
  if (CanMakeIn(nearest)) places.push_back(WithTrailingSlash(nearest));
  return places;
}

namespace {

// The registry's directory, made when missing; false with `*cause` set
// when it is not one of the user's own, closed to others.
bool OwnLiveDirectory(const std::string& runRoot, FailureCause* cause) {
  const std::string live = LiveDirectory();
  std::string problem;
  if (!IsOwnRegistry(&problem)) {
    *cause = FailureCause{"IDS_CAUSE_JOURNAL", live.empty() ? runRoot : live, problem};
    return false;
  }
  struct stat st;
  if (!Lstat(live, &st)) {
    ShellMakeDirs(StripTrailingSlashes(StateDirectory()));
    if (!MakeDirectory(live, 0700) && errno != EEXIST) {
      *cause = CauseOf("IDS_CAUSE_MAKE_DIRECTORY", live, errno);
      return false;
    }
    SyncDirectoryOf(live);
    if (!Lstat(live, &st)) {
      *cause = CauseOf("IDS_CAUSE_MAKE_DIRECTORY", live, errno);
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    *cause =
        FailureCause{"IDS_CAUSE_JOURNAL", live, "not a folder of the user's own, closed to others"};
    return false;
  }
  return true;
}

}  // namespace

bool RegisterRun(const LiveRun& run, FailureCause* cause) {
  if (!OwnLiveDirectory(run.runRoot, cause)) return false;
  std::string bytes = EncodeRecord(kLiveVersion, kLiveFormat) +
                      EncodeRecord(kLiveRunRoot, WithTrailingSlash(run.runRoot)) +
                      EncodeRecord(kLiveTarget, run.target);
  if (run.made) {
    bytes +=
        EncodeRecord(kLiveIdentity, std::to_string(run.device) + " " + std::to_string(run.inode));
  }
  const std::string entry = LiveEntryOf(run.runRoot);
  if (ReplaceFileDurably(entry, NewFileMode::kExact, 0600, [&bytes](int fd) {
        return WriteFully(fd, bytes);
      }) != ReplaceResult::kDone) {
    *cause = CauseOf("IDS_CAUSE_JOURNAL", entry, errno);
    return false;
  }
  return true;
}

std::vector<LiveRun> ListLiveRuns(std::vector<std::string>* problems) {
  std::vector<LiveRun> runs;
  const std::string live = LiveDirectory();
  std::vector<std::string> names;
  if (live.empty() || !ListNames(live, &names)) return runs;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    // An entry being replaced at this moment, or one a crash cut short.
    if (name.find('.') != std::string::npos) continue;
    LiveRun run;
    run.entry = live + "/" + name;
    ScopedFd fd = OpenFile(run.entry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (!fd.IsValid() || !StatOf(fd.Get(), &st) || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
      problems->push_back(run.entry + ": not a registry entry of the user's own");
      continue;
    }
    std::vector<JournalRecord> records = ReadJournal(fd.Get());
    bool version = false;
    for (const JournalRecord& record : records) {
      const char kind = static_cast<char>(record.kind);
      if (kind == kLiveVersion) version = record.path == kLiveFormat;
      if (kind == kLiveRunRoot) run.runRoot = record.path;
      if (kind == kLiveTarget) run.target = record.path;
      if (kind == kLiveIdentity) {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        if (std::sscanf(record.path.c_str(), "%llu %llu", &device, &inode) == 2) {
          run.made = true;
          run.device = static_cast<dev_t>(device);
          run.inode = static_cast<ino_t>(inode);
        }
      }
    }
    if (!version || run.runRoot.empty() || run.runRoot.back() != '/' ||
        !IsPlainAbsolute(StripTrailingSlashes(run.runRoot)) ||
        !IsRunDirectoryName(BaseName(StripTrailingSlashes(run.runRoot))) || run.target.empty() ||
        run.target.back() != '/' || !IsPlainAbsolute(StripTrailingSlashes(run.target)) ||
        LiveEntryOf(run.runRoot) != run.entry) {
      problems->push_back(run.entry + ": not a registry entry this installer wrote");
      continue;
    }
    runs.push_back(std::move(run));
  }
  return runs;
}

void ForgetRun(const std::string& runRoot) {
  const std::string entry = LiveEntryOf(runRoot);
  if (!entry.empty()) RemoveFile(entry);
}

ScopedFd LockRegistry() {
  const std::string live = LiveDirectory();
  ScopedFd fd;
  if (live.empty()) return fd;
  fd = OpenFile(live, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd.IsValid() && !LockExclusive(fd.Get(), true)) fd.Close();
  return fd;
}

void RemoveUnfinishedEntries() {
  const std::string live = LiveDirectory();
  std::vector<std::string> names;
  if (live.empty() || !ListNames(live, &names)) return;
  // Not flushed: every start removes them again, and nothing depends on
  // their being gone.
  for (const std::string& name : names) {
    if (name.find(kReplacementInfix) != std::string::npos) RemoveFile(live + "/" + name);
  }
}

FailureCause NoRunPlaceForRoot(const std::string& target) {
  return FailureCause{"IDS_CAUSE_MAKE_DIRECTORY", StripTrailingSlashes(target),
                      "no folder on its file system can hold the run's backups, and a run as "
                      "root does not copy them to another"};
}

uint32_t MakeRunDirectory(const std::string& targetRoot, RunJournal* journal, RunDirectory* run,
                          FailureCause* cause) {
  auto failed = [cause](uint32_t code, FailureCause why) {
    if (cause->empty()) *cause = std::move(why);
    return code;
  };
  // Found again after a crash only through the registry: no registry, no
  // run.
  if (std::string problem; !IsOwnRegistry(&problem)) {
    const std::string live = LiveDirectory();
    return failed(kErrorWriteFault,
                  FailureCause{"IDS_CAUSE_JOURNAL", live.empty() ? targetRoot : live, problem});
  }
  std::vector<std::string> places = RunPlacesFor(targetRoot, true);
  bool copies = false;
  // A folder the run cannot make anything in is named as the run would
  // meet it: the target, when it is still to be made.
  struct stat near;
  const std::string nearest = NearestExisting(targetRoot, &near);
  const std::string target = StripTrailingSlashes(targetRoot);
  if (places.empty() && !nearest.empty() && !CanMakeIn(nearest)) {
    return failed(kErrorPathNotFound, CauseOf("IDS_CAUSE_MAKE_DIRECTORY", target, errno));
  }
  if (places.empty()) {
    // Copies made as root would be root's files and links: never.
    if (::geteuid() == 0) return failed(kErrorPathNotFound, NoRunPlaceForRoot(targetRoot));
    places.push_back(WithTrailingSlash(TempDirectory()));
    copies = true;
  }
  if (FailureCause why; !OwnLiveDirectory(targetRoot, &why)) {
    return failed(kErrorWriteFault, std::move(why));
  }
  // Released once the journal is locked: from then on a recovery can tell
  // the run is alive.
  ScopedFd registry = LockRegistry();
  FailureCause last;
  for (const std::string& place : places) {
    for (int attempt = 0; attempt < 16; ++attempt) {
      LiveRun live;
      live.runRoot = place + kRunDirectoryPrefix + RandomLetters(kRunNameLetters) + "/";
      live.target = targetRoot;
      // Entered before it is made: a crash right after the mkdir leaves
      // nothing the next start does not know of.
      if (FailureCause why; !RegisterRun(live, &why))
        return failed(kErrorWriteFault, std::move(why));
      struct stat made;
      if (!MakeDirectoryTrusted(StripTrailingSlashes(live.runRoot), 0700, &made)) {
        const int error = errno;
        ForgetRun(live.runRoot);
        last = CauseOf("IDS_CAUSE_MAKE_DIRECTORY",
                       nearest == target ? StripTrailingSlashes(live.runRoot) : target, error);
        if (error == EEXIST) continue;
        break;
      }
      // Its name durable on the target's file system before the registry
      // says it was made.
      SyncDirectory(place);
      live.made = true;
      live.device = made.st_dev;
      live.inode = made.st_ino;
      if (FailureCause why; !RegisterRun(live, &why)) {
        RemoveEmptyDirectory(live.runRoot);
        ForgetRun(live.runRoot);
        return failed(kErrorWriteFault, std::move(why));
      }
      // The journal and its target are on disk before anything changes.
      if (!journal->Create(live.runRoot, targetRoot)) {
        // Another installer starting at this moment may have taken the
        // fresh directory for a dead run's and removed it: then another
        // one will do. A full disk fails every time.
        const int error = errno;
        RemoveRunDirectory(live.runRoot, std::string());
        if (error == ENOENT && attempt + 1 < 16) continue;
        return failed(kErrorWriteFault, JournalFailure(live.runRoot, error));
      }
      run->root = live.runRoot;
      run->backupRoot = live.runRoot + kBackupDirectoryName;
      run->copies = copies || nearest.empty() || near.st_dev != made.st_dev;
      return kErrorNone;
    }
  }
  return failed(kErrorPathNotFound, std::move(last));
}

bool RemoveRunDirectory(const std::string& runDirectory, const std::string& flushFirst) {
  // What the run changed elsewhere is on disk before its records go.
  if (!flushFirst.empty() && !SyncFileSystemAt(flushFirst)) return false;
  ShellRemoveTree(runDirectory + kBackupDirectoryName);
  // The old manifest's copy, and the one a killed run was writing.
  std::vector<std::string> names;
  ListNames(runDirectory, &names);
  for (const std::string& name : names) {
    if (name.compare(0, sizeof kOldManifestName - 1, kOldManifestName) == 0) {
      RemoveFile(runDirectory + name);
    }
  }
  RemoveFile(runDirectory + kNewJournalName);
  RemoveFile(runDirectory + kJournalName);
  if (!RemoveEmptyDirectory(runDirectory) && errno != ENOENT) return false;
  // The registry forgets it only once its directory is gone for good: a
  // cut in between leaves an entry whose directory is gone, which the next
  // start removes, never a run that no start can find.
  SyncDirectoryOf(StripTrailingSlashes(runDirectory));
  ForgetRun(runDirectory);
  return true;
}

}  // namespace qorv
