#include "term/text_installer.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text_convert.h"
#include "config/launcher_settings.h"
#include "copy/copy_session.h"
#include "copy/manifest.h"
#include "copy/run_directory.h"
#include "copy/run_log.h"
#include "copy/run_plan.h"
#include "fs/error_codes.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "install/interrupts.h"
#include "install/preparation.h"
#include "res/string_table.h"
#include "term/plan_output.h"

namespace qorv {

namespace {

// What an install into `target` does to the launcher's list, when it
// changes it: the `record` line of the plan, with the list before and after.
void PlanRecording(const WideString& target, RunPlan* plan) {
  const std::string recorded = StripTrailingSlashes(Narrow(target));
  const ListChange list = RecordingChange(Wide(recorded));
  if (!list.changes) return;
  plan->record = recorded;
  for (const WideString& place : list.before) plan->listBefore.push_back(Narrow(place));
  for (const WideString& place : list.after) plan->listAfter.push_back(Narrow(place));
}

// When the output is gone, the run goes on.
void WriteText(int fd, const WideString& text) {
  NarrowString narrow = toNarrow(text);
  WriteFully(fd, std::string_view(narrow.c_str(), narrow.size()));
}

void WriteText(int fd, const char* text) { WriteFully(fd, text); }

// How often the copy's report is read when nothing else happens.
constexpr int kPollMs = 50;

int TerminalColumns(int fd) {
  struct winsize size {};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
  return 80;
}

}  // namespace

TextInstaller::TextInstaller(const TextOptions& options, int in, int out, int err, int interrupts)
    : options_(options),
      in_(in),
      out_(out),
      err_(err),
      interrupts_(interrupts),
      outIsTerminal_(::isatty(out) == 1) {}

int TextInstaller::TakeInterrupt() { return InterruptWatch::TakeFrom(interrupts_); }

void TextInstaller::Say(const WideString& text) {
  EndProgressLine();
  WriteText(err_, EscapeControls(text));
  WriteText(err_, "\n");
}

void TextInstaller::SayKey(const char* key) { Say(LookupText(key)); }

void TextInstaller::SayCause(const char* key, const std::string& problem) {
  WideString line = LookupText(key);
  line.append(Wide(": " + problem));
  Say(line);
  LogLine(Narrow(line));
}

void TextInstaller::SayLogPath() {
  const std::string path = RunLogPath();
  if (path.empty()) return;
  WideString line = LookupText("IDS_LOG_AT");
  line.append(Wide(": " + path));
  Say(line);
}

void TextInstaller::Prompt(const WideString& text) {
  EndProgressLine();
  WriteText(err_, EscapeControls(text));
}

TextInstaller::Input TextInstaller::ReadLine(std::string* line, int* signal) {
  *signal = 0;
  for (;;) {
    size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      *line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return Input::kLine;
    }
    struct pollfd fds[2] = {{in_, POLLIN, 0}, {interrupts_, POLLIN, 0}};
    int count = interrupts_ >= 0 ? 2 : 1;
    if (::poll(fds, static_cast<nfds_t>(count), -1) < 0) {
      if (errno == EINTR) continue;
      return Input::kEnd;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) {
      if ((*signal = TakeInterrupt()) != 0) {
        pending_.clear();  // the terminal drops the half-typed line too
        return Input::kInterrupt;
      }
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[4096];
    ssize_t n = ::read(in_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (pending_.empty()) return Input::kEnd;
      *line = pending_;  // a last line without its line feed
      pending_.clear();
      return Input::kLine;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool TextInstaller::IsYes(const std::string& answer) const {
  WideString wide = toWide(NarrowString(answer.c_str(), answer.size()));
  size_t i = 0;
  while (i < wide.size() && (wide[i] == u' ' || wide[i] == u'\t')) ++i;
  if (i == wide.size()) return false;
  // The first letters of "yes" in the chosen language, y and Y among them.
  WideString letters = LookupText("IDS_YES_LETTERS");
  return std::u16string_view(letters.c_str(), letters.size()).find(wide[i]) !=
         std::u16string_view::npos;
}

bool TextInstaller::AskYesNo(const char* key, bool unanswered) {
  WideString question = LookupText(key);
  question.push_back(u' ');
  question.append(LookupText("IDS_ANSWER_YES_NO"));
  question.push_back(u' ');
  Prompt(question);
  std::string answer;
  int signal = 0;
  if (ReadLine(&answer, &signal) != Input::kLine) {
    WriteText(err_, "\n");
    return unanswered;
  }
  return IsYes(answer);
}

// A second interrupt, or nobody left to answer: cancel.
bool TextInstaller::ConfirmCancel() { return AskYesNo("IDS_ACCEPT_CANCEL", true); }

bool TextInstaller::AskTarget(WideString* target) {
  SayKey("IDS_DESTINATION_PROMPT");
  for (;;) {
    WideString prompt = LookupText("IDS_TEMPLATE_CATALOG");
    prompt.append(WideString(u" ["));
    prompt.append(*target);
    prompt.append(WideString(u"] "));
    Prompt(prompt);
    std::string line;
    int signal = 0;
    Input input = ReadLine(&line, &signal);
    if (input == Input::kEnd) {
      WriteText(err_, "\n");
      return false;
    }
    if (input == Input::kInterrupt) {
      WriteText(err_, "\n");
      if (signal != SIGINT || ConfirmCancel()) return false;
      continue;
    }
    WideString answer = toWide(NarrowString(line.c_str(), line.size()));
    bool blank = true;
    for (size_t i = 0; i < answer.size(); ++i)
      blank = blank && (answer[i] == u' ' || answer[i] == u'\t');
    if (!blank) {
      *target = ResolveTypedDirectory(answer);
      return true;
    }
    if (!target->empty()) return true;
    SayKey("IDS_SETUP_EMPTYTARGET");
  }
}

void TextInstaller::DrawProgress(int percent, const WideString& path, const WideString& target) {
  WideString name = path;
  if (name.size() > target.size() &&
      std::memcmp(name.c_str(), target.c_str(), target.size() * sizeof(char16_t)) == 0) {
    size_t skip = target.size();
    if (skip < path.size() && path[skip] == u'/') ++skip;
    name = WideString(path.c_str() + skip, path.size() - skip);
  }
  WideString line = fromInteger(percent, 10);
  while (line.size() < 3) {
    const char16_t* blank = u" ";
    line.insert(0, blank, blank + 1);
  }
  line.push_back(u'%');
  if (!name.empty()) line.push_back(u' ');
  if (!outIsTerminal_) {
    if (percent / 10 <= lastTenth_) return;
    lastTenth_ = percent / 10;
    line.append(name);
    line.push_back(u'\n');
    WriteText(out_, line);
    return;
  }
  // One line that never wraps, so that "\r" finds its start again: a long
  // name keeps its end.
  size_t room = static_cast<size_t>(TerminalColumns(out_) - 1);
  if (line.size() + name.size() > room) {
    size_t keep = room > line.size() + 1 ? room - line.size() - 1 : 0;
    // Never half a character: a kept tail does not start inside a pair.
    if (keep > 0 && keep < name.size() && name[name.size() - keep] >= 0xDC00 &&
        name[name.size() - keep] <= 0xDFFF) {
      --keep;
    }
    line.append(WideString(u"…"));
    line.append(WideString(name.c_str() + name.size() - keep, keep));
  } else {
    line.append(name);
  }
  if (line == drawn_) return;
  WideString shown = WideString(u"\r");
  shown.append(line);
  for (size_t i = line.size(); i < drawn_.size(); ++i) shown.push_back(u' ');
  WriteText(out_, shown);
  drawn_ = line;
}

void TextInstaller::EndProgressLine() {
  if (!drawn_.empty()) WriteText(out_, "\n");
  drawn_ = WideString();
}

void TextInstaller::Output(const std::string& text) {
  EndProgressLine();
  WriteFully(out_, text);
}

void TextInstaller::ReportDone(const char* outcome, int status, const WideString& target,
                               const WideString& description) {
  const bool done = status == kTextInstalled;
  std::vector<const PlanItem*> kept;
  for (const PlanItem& item : done_.items) {
    if (item.action == PlanAction::kKeepChanged) kept.push_back(&item);
  }
  if (done && !kept.empty()) {
    SayKey("IDS_KEPT_CHANGED");
    for (const PlanItem* item : kept) Say(Wide("  " + item->path));
  }
  if (!options_.json) return;
  // A run that was rolled back did nothing, whatever it had begun.
  RunPlan none;
  if (done) Output(PlanJson(done_, "file"));
  ResultWords words;
  if (!done) {
    words = failure_;
    words.log = RunLogPath();
  }
  words.description = Narrow(description);
  Output(ResultJson(outcome, status, Narrow(target), done ? done_ : none, words));
}

void TextInstaller::WarnOfClosedModes(const WideString& target) {
  // Root installing for others with a hardened umask (077) would leave
  // folders and files only root can read, silently.
  if (::geteuid() != 0) return;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if ((mask & 0044) == 0) return;
  const char* home = std::getenv("HOME");
  const std::string path = Narrow(target);
  if (home != nullptr && *home != '\0' && path.compare(0, std::strlen(home), home) == 0) {
    return;  // root's own templates
  }
  char octal[16];
  std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(mask));
  WriteText(err_, Wide(std::string("qorv-setup: warning: with umask ") + octal +
                       " the folders and files made in " + EscapeControls(path) +
                       " are not readable by other users; --umask=022 makes them so\n"));
}

int TextInstaller::Copy(const WideString& target) {
  CopySession session;  // joined on every way out
  session.SetFinishPauseMs(0);
  session.SetLockWaitSeconds(options_.waitSeconds);
  if (!options_.uninstall) {
    WarnOfClosedModes(target);
    SayKey("IDS_PROGRESS_START");
  }
  // The launcher's list is part of what a run changes: a re-run that puts
  // its folder back at the head of the list has changed something.
  RunPlan recording;
  if (!options_.uninstall) PlanRecording(target, &recording);
  if (options_.uninstall) {
    session.StartUninstall(target);
  } else {
    session.Start(&reader_, target);
  }
  WideString shownNotice;
  for (;;) {
    // Woken by a signal, by the end of the run, or to draw the progress.
    struct pollfd fds[2] = {{interrupts_, POLLIN, 0}, {session.EndedFd(), POLLIN, 0}};
    ::poll(fds, 2, kPollMs);
    if (int signal = TakeInterrupt(); signal != 0) {
      // The copy goes on while the question waits for its answer.
      if (signal != SIGINT || options_.silent || ConfirmCancel()) session.RequestStop();
    }
    RunReport report = session.Poll();
    if (!report.notice.empty() && !(report.notice == shownNotice)) {
      Say(report.notice);
      shownNotice = report.notice;
    }
    RunOutcome outcome = report.Outcome();
    if (outcome == RunOutcome::kRunning) {
      if (!options_.json) DrawProgress(report.percent, report.message, target);
      continue;
    }
    session.Join();
    done_ = session.Summary();
    if (outcome == RunOutcome::kInstalled) {
      if (!options_.json) DrawProgress(100, WideString(), target);
      EndProgressLine();
      recorded_ = session.Recorded();
      recordProblem_ = session.RecordProblem();
      if (recorded_) {
        done_.record = recording.record;
        done_.listBefore = recording.listBefore;
        done_.listAfter = recording.listAfter;
      }
      return kTextInstalled;
    }
    std::vector<UnrestoredFile> unrestored = session.Unrestored();
    // A cancel's text says the directory has not been changed.
    if ((outcome != RunOutcome::kCancelled || unrestored.empty()) &&
        !(options_.uninstall && outcome == RunOutcome::kFailed)) {
      Say(report.message);
    }
    // The cause, on a line of its own.
    const FailureCause cause = session.Cause();
    failure_.message = Narrow(report.message);
    if (outcome == RunOutcome::kFailed && !cause.empty()) {
      const WideString described = DescribeCause(cause);
      Say(described);
      failure_.cause = Narrow(described);
    }
    // Not as it was: say so, and where the old files are.
    if (!unrestored.empty()) {
      SayKey("IDS_ROLLBACK_INCOMPLETE");
      for (const UnrestoredFile& file : unrestored) {
        WideString line(u"  ");
        line.append(file.path);
        line.append(WideString(u" ← "));
        line.append(file.backup);
        Say(line);
      }
      SayLogPath();
      return kTextFailed;
    }
    if (outcome == RunOutcome::kCancelled) return kTextCancelled;
    // Another run holds the directory: nothing failed, a retry may do.
    busy_ = report.code == kErrorBusy;
    if (report.code != kErrorBusy)
      SayKey(options_.uninstall ? "IDS_UNINSTALL_ERROR" : "IDS_ERROR_FINISH");
    SayLogPath();
    return kTextFailed;
  }
}

namespace {

// The target root as the copy job keys it: absolute, one final "/".
std::string RootOf(const WideString& target) { return WithTrailingSlash(Narrow(target)); }

const char* OutcomeWord(int status, bool uninstall) {
  switch (status) {
    case kTextInstalled:
      return uninstall ? "removed" : "installed";
    case kTextCancelled:
      return "cancelled";
    default:
      return "failed";
  }
}

}  // namespace

int TextInstaller::Uninstall() {
  SayKey("IDS_UNINSTALL_TITLE");
  WideString target;
  if (options_.hasTarget) {
    target = ResolveTypedDirectory(options_.target);
  } else {
    KnownLocations known = ReadKnownLocations();
    if (!known.list.empty()) target = ResolveTypedDirectory(known.list.front());
  }
  Manifest manifest;
  if (target.empty() || LoadManifest(RootOf(target), &manifest) != ManifestState::kRead) {
    WideString line = LookupText("IDS_NOTHING_INSTALLED");
    if (!target.empty()) line.append(Wide(" " + Narrow(target)));
    Say(line);
    if (options_.json) Output(ResultJson("nothing", kTextWrongCommandLine, Narrow(target), {}));
    return kTextWrongCommandLine;
  }
  if (options_.dryRun) {
    RunPlan plan = PlanUninstall(RootOf(target), manifest);
    Output(options_.json ? PlanJson(plan, "plan") : PlanText(plan));
    return kTextInstalled;
  }
  if (!options_.silent) {
    Say(target);
    if (!AskYesNo("IDS_UNINSTALL_CONFIRM", false)) {
      SayKey("IDS_CANCEL_FINISH");
      return kTextCancelled;
    }
  }
  int outcome = Copy(target);
  ReportDone(busy_ ? "busy" : OutcomeWord(outcome, true), outcome, target);
  if (outcome != kTextInstalled) return outcome;
  if (!recorded_) {
    WriteText(err_, "qorv-setup: ");
    SayKey("IDS_LOCATION_NOT_RECORDED");
    if (!recordProblem_.empty()) SayCause("IDS_CAUSE_LAUNCHER", recordProblem_);
  }
  SayKey("IDS_UNINSTALL_FINISH");
  return kTextInstalled;
}

WideString TextInstaller::GivenTarget() const {
  return options_.hasTarget ? ResolveTypedDirectory(options_.target) : WideString();
}

int TextInstaller::Run() {
  if (!options_.silent && !options_.dryRun && ::isatty(in_) != 1) {
    WriteText(err_, "qorv-setup: ");
    WideString why = LookupText("IDS_NO_TERMINAL");
    if (!options_.noWindow.empty()) {
      // There may well be a display: what failed is the window's toolkit.
      why = Wide("no window: " + options_.noWindow +
                 "; and no terminal on the input to ask where to install; run it with -S to "
                 "install without questions (into -D<dir> or the proposed directory).");
    }
    Say(why);
    // Started from a file manager, nobody reads standard error: the log
    // keeps the reason.
    LogLine("ended: " + Narrow(why));
    SayLogPath();
    return kTextWrongCommandLine;
  }
  if (options_.uninstall) return Uninstall();
  SayKey("IDR_MAINFRAME");
  Preparation prepared;
  PrepareFailure failure = Prepare(options_.usecwd, options_.kitPath, reader_, &prepared,
                                   TrustedKeys(), options_.dryRun);
  if (failure != PrepareFailure::kNone) {
    SayKey(MessageKeyOf(failure));
    if (!prepared.problem.empty()) Say(Wide(prepared.problem));
    SayLogPath();
    if (options_.json) {
      Output(ResultJson(
          "failed", kTextFailed, Narrow(GivenTarget()), {},
          {Narrow(LookupText(MessageKeyOf(failure))), prepared.problem, RunLogPath(), ""}));
    }
    return kTextFailed;
  }
  if (!prepared.checked) SayKey("IDS_KIT_UNCHECKED");
  for (const std::string& key : prepared.signedBy) {
    WideString line = LookupText("IDS_KIT_SIGNED");
    line.append(WideString(u" "));
    line.append(Wide(key));
    Say(line);
  }

  Say(WelcomeText(reader_, options_.language));

  WideString target = options_.hasTarget ? GivenTarget() : prepared.target;
  // An interrupt while the kit was unpacked: nothing has changed yet.
  if (int signal = TakeInterrupt(); signal != 0) {
    if (signal != SIGINT || options_.silent || ConfirmCancel()) {
      SayKey("IDS_CANCEL_FINISH");
      ReportDone("cancelled", kTextCancelled, target);
      return kTextCancelled;
    }
  }

  if (!options_.silent && !options_.dryRun && !AskTarget(&target)) {
    SayKey("IDS_CANCEL_FINISH");
    ReportDone("cancelled", kTextCancelled, target);
    return kTextCancelled;
  }
  if (target.empty()) {
    SayKey("IDS_SETUP_EMPTYTARGET");
    return kTextFailed;
  }

  // Said as the copy would say it, and nothing is written.
  auto refuse = [this, &target](const FailureCause& cause) {
    const WideString described = DescribeCause(cause);
    LogLine(Narrow(described));
    SayKey("IDS_INSTALL_ERROR");
    Say(described);
    failure_.message = Narrow(LookupText("IDS_INSTALL_ERROR"));
    failure_.cause = Narrow(described);
    SayKey("IDS_ERROR_FINISH");
    SayLogPath();
    ReportDone("failed", kTextFailed, target);
    return kTextFailed;
  };

  if (options_.dryRun) {
    Manifest previous;
    LoadManifest(RootOf(target), &previous);
    RunPlan plan = PlanInstall(reader_, RootOf(target), previous);
    PlanRecording(target, &plan);
    // What the real run finds before its first change fails the dry run
    // the same way, so that a check mode never says "changed" where the
    // run fails.
    const std::string root = Narrow(ResolveTypedDirectory(target));
    if (RefusedLink link; FindRefusedLink(WithTrailingSlash(root), plan, &link)) {
      return refuse(LinkRefusal("IDS_CAUSE_WRITE", link));
    }
    if (FailureCause cause; !TargetWritable(plan, root, &cause) || !PlanFits(plan, root, &cause)) {
      return refuse(cause);
    }
    Output(options_.json ? PlanJson(plan, "plan") : PlanText(plan));
    return kTextInstalled;
  }

  // Room is checked before the copy says it starts: a directory without it
  // is refused with the figures, and nothing is written.
  if (FailureCause cause; !InstallFits(reader_, Narrow(ResolveTypedDirectory(target)), &cause)) {
    return refuse(cause);
  }
  int outcome = Copy(target);
  const bool changed = done_.Changes();
  // With --json every line of standard output is one JSON object: the
  // description's path goes into the result.
  const WideString description = outcome == kTextInstalled
                                     ? InstalledDescription(reader_, options_.language, target)
                                     : WideString();
  ReportDone(busy_                       ? "busy"
             : outcome != kTextInstalled ? OutcomeWord(outcome, false)
             : changed                   ? "installed"
                                         : "unchanged",
             outcome, target, description);
  if (outcome != kTextInstalled) return outcome;
  if (!recorded_) {
    WriteText(err_, "qorv-setup: ");
    SayKey("IDS_LOCATION_NOT_RECORDED");
    if (!recordProblem_.empty()) SayCause("IDS_CAUSE_LAUNCHER", recordProblem_);
  }
  if (!changed) SayKey("IDS_NOTHING_TO_DO");
  SayKey("IDS_SUCCESS_FINISH");
  if (!description.empty() && !options_.json) {
    WideString line = LookupText("IDS_SUCCESS_OPENDESCR");
    line.append(WideString(u": "));
    line.append(EscapeControls(description));
    line.push_back(u'\n');
    WriteText(out_, line);
  }
  return kTextInstalled;
}

}  // namespace qorv
