// Where a copy run keeps what it needs to be undone: its run directory
// (mode 0700, see copy/run_journal.h for what it holds), made with its
// journal before the run changes anything, under a name nobody can guess
// (".qorv-run-" and twelve random letters) with an exclusive mkdir, so
// that nobody else can have made it or have put anything in it first. It
// lives on the target's file system, so that a file the run replaces is
// renamed into the backup tree, never copied, and the backups outlive a
// reboot that empties /tmp:
//
//   1. $XDG_STATE_HOME/qorv/runs/, when that is on the target's file system;
//   2. else beside the target when the target exists (in it when it is a
//      file system of its own), or in the nearest existing directory above
//      a target still to be made.
//
// Where neither can take it, a run of root's refuses before its first
// change; another user's run falls back to the temporary directory, and
// its backups are then copies (never with set-user bits, links only when
// the user's own).
//
// Every run is entered in the user's registry of live runs,
// $XDG_STATE_HOME/qorv/live/, before its directory is made and again, with
// the directory's device and inode, before its journal exists. A start
// recovers only the runs the registry names (copy/run_recovery.h); no
// directory is ever searched for run directories by name.
#ifndef QORV_COPY_RUN_DIRECTORY_H_
#define QORV_COPY_RUN_DIRECTORY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "copy/progress_channel.h"
#include "copy/run_journal.h"
#include "fs/file_util.h"
#include "fs/trusted_path.h"

namespace qorv {

// A run directory's name is this prefix and kRunNameLetters letters.
inline constexpr char kRunDirectoryPrefix[] = ".qorv-run-";
inline constexpr size_t kRunNameLetters = 12;

// Whether `name` (no path) is a run directory's.
bool IsRunDirectoryName(const std::string& name);

// The directories (ending with "/") a run into `targetRoot` may make its
// run directory in, in the order above; each on the target's file system.
// With `make`, the state directory's runs/ is made when missing.
std::vector<std::string> RunPlacesFor(const std::string& targetRoot, bool make);

// For tests of what does not depend on the place: every run directory
// goes to `base` (ending with "/"; empty: the choice above again).
void SetRunBaseForTests(const std::string& base);

// A run as the registry has it.
struct LiveRun {
  std::string entry;    // the registry entry's path
  std::string runRoot;  // the run directory, ending with "/"
  std::string target;   // the run's target root, ending with "/"
  bool made = false;    // the directory was made: device and inode are known
  dev_t device = 0;
  ino_t inode = 0;
};

// The registry's directory, $XDG_STATE_HOME/qorv/live (empty without a
// home), and whether only the user controls it (fs/trusted_path.h
// IsSafeOwnPath): when not, `*problem` says why, and nothing in it may be
// read or changed.
std::string LiveDirectory();
bool IsOwnRegistry(std::string* problem);

// Enters `run` in the registry, durably (written, flushed, renamed, the
// directory flushed). False with `*cause` set.
bool RegisterRun(const LiveRun& run, FailureCause* cause);
// The registered runs, oldest name first. An entry that is not the user's
// own plain file, or cannot be read, is named in `problems` and left.
std::vector<LiveRun> ListLiveRuns(std::vector<std::string>* problems);
// Removes the entry of `runRoot`.
void ForgetRun(const std::string& runRoot);
// Holds the registry against the user's other installers: a run holds it
// from its first entry until its journal is locked, a recovery while it
// reads and acts on the entries, so that neither takes the other's
// half-made run for a dead one. Invalid (nothing held) when the registry
// does not exist; blocks while another holds it.
ScopedFd LockRegistry();
// Removes the temporaries of entries a crash left (under LockRegistry).
void RemoveUnfinishedEntries();

struct RunDirectory {
  std::string root;        // ends with "/"
  std::string backupRoot;  // root + kBackupDirectoryName
  bool copies = false;     // on another file system than the target
};

// Why a run of root's into `target` cannot start: no folder on its file
// system can hold the run directory.
FailureCause NoRunPlaceForRoot(const std::string& target);

// Makes the run directory of a run into `targetRoot` (ending with "/") and
// its `journal`, on disk and registered before it returns. Returns 0, or 3
// (no place for it, or none that root may use) or 29 (the journal or the
// registry cannot be written) with `*cause` set when it is still empty.
uint32_t MakeRunDirectory(const std::string& targetRoot, RunJournal* journal, RunDirectory* run,
                          FailureCause* cause);

// Why a run fails when its journal in `runRoot` cannot be written; `error`
// is the errno of the failure.
FailureCause JournalFailure(const std::string& runRoot, int error);

// The cause of a failed system call: what the run was doing, on which
// path, and the system's reason for `error` (none for 0). A link that was
// not followed (fs/trusted_path.h) is named in place of `path`.
FailureCause CauseOf(const char* what, const std::string& path, int error);
// Why a run stops at `link`: "a link owned by user 65534 (nobody), not followed".
FailureCause LinkRefusal(const char* what, const RefusedLink& link);

}  // namespace qorv

#endif  // QORV_COPY_RUN_DIRECTORY_H_
