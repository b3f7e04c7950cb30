// Where a copy run keeps what it needs to be undone: its run directory,
// kvinsN in the temporary directory (mode 0700, see copy/run_journal.h for
// what it holds), made with its journal before the run changes anything.
// The copy thread of one run; the recovery at a later start finds the same
// directories by their names.
#ifndef QORV_COPY_RUN_DIRECTORY_H_
#define QORV_COPY_RUN_DIRECTORY_H_

#include <cstdint>
#include <string>

#include "copy/progress_channel.h"
#include "copy/run_journal.h"
#include "fs/trusted_path.h"

namespace qorv {

// A run directory's name is this prefix and a decimal number.
inline constexpr char kRunDirectoryPrefix[] = "kvins";

// Whether `name` (no path) is a run directory's: the prefix and digits.
bool IsRunDirectoryName(const std::string& name);

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
