// One installation run as a front end drives it: the progress channel, the
// copy thread and the recording of the location once the run is committed,
// behind start / poll / stop / join. The front ends only render what Poll()
// reports; what a report means is decided here, once. UI thread only.
#ifndef QORV_COPY_COPY_SESSION_H_
#define QORV_COPY_COPY_SESSION_H_

#include <atomic>
#include <cstdint>
#include <vector>

#include "base/text_string.h"
#include "copy/copy_worker.h"
#include "copy/progress_channel.h"

namespace qorv {

class KitReader;

enum class RunOutcome {
  kRunning,    // no final report yet
  kInstalled,  // committed and recorded (or recording failed: see Recorded)
  kFailed,     // rolled back after a failure (or stopped before it began)
  kCancelled,  // rolled back after a cancel
};

// The run's latest report, read whole.
struct RunReport {
  uint32_t code = 0;
  WideString message;  // the file being written, or the final text
  int percent = 0;
  WideString notice;  // shown beside the progress while set

  RunOutcome Outcome() const;
  bool IsFinal() const { return Outcome() != RunOutcome::kRunning; }
};

class CopySession {
 public:
  // Ready to start; the first report is "preparing".
  CopySession();
  CopySession(const CopySession&) = delete;
  CopySession& operator=(const CopySession&) = delete;
  // Waits for a running copy: the process never ends in the middle of one.
  ~CopySession() { Join(); }

  // Before Start(): how long to wait for another run into the same
  // directory (seconds; negative: as long as it takes), and the pause a
  // successful run makes before its thread ends (ms).
  void SetLockWaitSeconds(int seconds);
  void SetFinishPauseMs(int ms) { worker_.SetFinishPauseMs(ms); }

  // Copies `reader`'s entries into `target` on the copy thread, and records
  // `target` in the launcher's list once the run is committed. When no
  // thread can be started the run ends at once with a failure report.
  void Start(KitReader* reader, const WideString& target);
  // Removes what the installs into `target` put there (see CopyJob), and
  // its location from the launcher's list once the run is committed.
  void StartUninstall(const WideString& target);
  RunReport Poll();
  // Readable once the run's thread has finished (see ProgressChannel).
  int EndedFd() const { return channel_.EndedFd(); }
  // Asks the run to stop; it rolls back, then reports the cancel.
  void RequestStop();
  // Waits for the copy thread, if one runs.
  void Join();
  // After a final report: the files the rollback could not put back.
  std::vector<UnrestoredFile> Unrestored() { return channel_.Unrestored(); }
  // After the join of a committed run: whether the location was recorded
  // (or, uninstalling, removed).
  bool Recorded() const { return recorded_.load(); }
  // After the join of a run whose location was not recorded: why.
  const std::string& RecordProblem() const { return recordProblem_; }
  // After a final report: what the run did to each file.
  RunPlan Summary() { return channel_.Summary(); }
  // After a failure: why.
  FailureCause Cause() { return channel_.Cause(); }

  ProgressChannel& TEST_channel() { return channel_; }

 private:
  void Launch();

  ProgressChannel channel_;
  std::atomic<bool> recorded_{false};
  std::string recordProblem_;  // written by the copy thread before its final report
  // Last: destroyed first, so the thread ends before the channel goes.
  CopyWorker worker_;
};

}  // namespace qorv

#endif  // QORV_COPY_COPY_SESSION_H_
