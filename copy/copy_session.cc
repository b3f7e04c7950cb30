#include "copy/copy_session.h"

#include "config/launcher_settings.h"
#include "fs/error_codes.h"
#include "res/string_table.h"

namespace qorv {

RunOutcome RunReport::Outcome() const {
  if (code == kErrorCancelled) return RunOutcome::kCancelled;
  if (code != kErrorNone) return RunOutcome::kFailed;
  return percent > 99 ? RunOutcome::kInstalled : RunOutcome::kRunning;
}

CopySession::CopySession() {
  channel_.Init();
  worker_.Reset();
  channel_.Post(kErrorNone, LookupText("IDS_PREPARECOPY"), 0);
}

void CopySession::SetLockWaitSeconds(int seconds) {
  worker_.SetLockWaitMs(seconds < 0 ? -1 : seconds * 1000);
}

void CopySession::Start(KitReader* reader, const WideString& target) {
  channel_.SetJob(reader, target);
  recorded_ = false;
  // Recorded as part of the run, before its journal goes: a crash right
  // after the commit cannot leave the templates installed but unrecorded.
  worker_.SetUninstall(false);
  worker_.SetOnCommitted([this, target](const WideString&, bool) {
    recorded_ = RecordInstalledLocation(target, &recordProblem_);
  });
  Launch();
}

void CopySession::StartUninstall(const WideString& target) {
  channel_.SetJob(nullptr, target);
  recorded_ = false;
  worker_.SetUninstall(true);
  worker_.SetOnCommitted([this, target](const WideString&, bool) {
    recorded_ = ForgetInstalledLocation(target, &recordProblem_);
  });
  Launch();
}

void CopySession::Launch() {
  if (worker_.Start(channel_) != 0) {
    channel_.Post(kErrorInvalidParameter, LookupText("IDS_INSTALL_ERROR"), 0);
  }
}

RunReport CopySession::Poll() {
  RunReport report;
  channel_.Read(&report.code, &report.message, &report.percent);
  report.notice = channel_.Notice();
  return report;
}

void CopySession::RequestStop() {
  worker_.RequestStop();
  channel_.RequestCancel();
}

void CopySession::Join() { worker_.Join(); }

}  // namespace qorv
