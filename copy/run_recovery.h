// Undoing the runs that did not live to finish: what a start of the
// installer does first (copy/run_journal.h has the journal's format).
//
// The in-process rollback (CopyJob::Rollback) removes the directories its
// run created with everything in them: it holds the target's lock, so
// nothing in them can be anybody else's. Recovery runs later, without that
// knowledge: another run, or the user, may have put files into a directory
// the dead run created, so it removes such directories only when they are
// empty.
#ifndef QORV_COPY_RUN_RECOVERY_H_
#define QORV_COPY_RUN_RECOVERY_H_

#include <string>
#include <vector>

#include "base/text_string.h"
#include "copy/run_journal.h"

namespace qorv {

struct RecoveredRun {
  WideString target;         // the interrupted run's target root
  std::string runDirectory;  // its run directory
  bool restored = false;     // target as before the run; directory removed
  std::string problem;       // not acted on, and why (a registry or a run
                             // directory that is not what it must be)
};

// For every run the user's registry names (copy/run_directory.h) whose
// directory is in `base` (ending with "/"; empty: all of them) and whose
// journal no process holds: when the run had not succeeded, puts the files
// it moved to the backup tree back, removes the files and directories it
// created, then removes the run directory and its entry. A run whose files
// cannot all be put back keeps its directory, for the next start to try
// again. The launcher file is not touched: a run records its location only
// after it has succeeded. A run that died after its commit record is
// complete: `onCommitted` gets its target root (it may not have recorded
// its location yet), then the run directory goes.
//
// Only what the user recorded is acted on: the registry must be the user's
// alone all the way up (else nothing in it is read), the run directory the
// very one registered (device and inode, the user's, mode 0700), and every
// record of its journal a place inside the registered target. Anything
// else is answered with its `problem` and left as it is. Each step may be
// cut by a kill or a power cut: done again, it does nothing twice, and the
// journal goes last. Answers the runs that were undone, kept or refused.
std::vector<RecoveredRun> RecoverInterruptedRuns(const std::string& base,
                                                 const CommittedAction& onCommitted = {});

// The runs RecoverInterruptedRuns() would undo, and those it would refuse,
// found without changing anything (for a dry run): each with `restored`
// false.
std::vector<RecoveredRun> FindInterruptedRuns(const std::string& base);

// The same for every registered run.
std::vector<RecoveredRun> RecoverAllInterruptedRuns(const CommittedAction& onCommitted = {});
std::vector<RecoveredRun> FindAllInterruptedRuns();

}  // namespace qorv

#endif  // QORV_COPY_RUN_RECOVERY_H_
