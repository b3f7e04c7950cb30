// Where a copy run keeps what it needs to be undone: its run directory,
// kvinsN (mode 0700, see copy/run_journal.h for what it holds), made with
// its journal before the run changes anything. It lives on the target's
// file system, so that a file the run replaces is renamed into the backup
// tree, not copied, and the backups outlive a reboot that empties /tmp:
//
//   1. $XDG_STATE_HOME/qorv/runs/, when that is on the target's file system;
//   2. else .qorv-runs/ in the nearest existing directory of the target, or
//      beside the target when the target exists (a file system of its own
//      mounted there: inside it);
//   3. else, where neither can be made, the temporary directory.
//
// A run outside the first place is entered in the registry of live runs,
// $XDG_STATE_HOME/qorv/live/, before its journal exists; the recovery at a
// later start looks in the three places and in every registered one.
#ifndef QORV_COPY_RUN_DIRECTORY_H_
#define QORV_COPY_RUN_DIRECTORY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "copy/progress_channel.h"
#include "copy/run_journal.h"
#include "fs/trusted_path.h"

namespace qorv {

// A run directory's name is this prefix and a decimal number.
inline constexpr char kRunDirectoryPrefix[] = "kvins";

// Whether `name` (no path) is a run directory's: the prefix and digits.
bool IsRunDirectoryName(const std::string& name);

// The hidden directory that holds run directories outside the state
// directory.
inline constexpr char kHiddenRunBase[] = ".qorv-runs";

// The directory (ending with "/") to make the run directories of
// `targetRoot` in, chosen as above. With `make`, a missing one is made
// (and its entry flushed); without, nothing is made and the answer is where
// it would be.
std::string RunBaseFor(const std::string& targetRoot, bool make);

// For tests of what does not depend on the place: every run directory
// goes to `base` (ending with "/"; empty: the choice above again).
void SetRunBaseForTests(const std::string& base);

// Every directory that may hold run directories of this user: the
// temporary directory, $XDG_STATE_HOME/qorv/runs/, and the places of the
// registered runs.
std::vector<std::string> RunBases();

// The registry: an entry naming `runRoot`, on disk when it returns true;
// else `cause` says why (another user's state directory among the causes).
bool RegisterLiveRun(const std::string& runRoot, FailureCause* cause);
// Removes the entries whose run directories are gone, and hidden bases
// left empty.
void PruneLiveRuns();

struct RunDirectory {
  std::string root;        // ends with "/"
  std::string backupRoot;  // root + kBackupDirectoryName
};

// Takes the first free run directory in the temporary directory and
// creates `journal` there for `targetRoot` (ending with "/"), on disk before
// it returns. Returns 0, or 3 (cannot make the directory) or 29 (cannot
// write the journal) with `*cause` set when it is still empty.
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
