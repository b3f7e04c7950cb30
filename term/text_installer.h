// The installer without a display: the same preparation, copy and recording
// of the location as the wizard, on a terminal. Messages go to the error
// output in the chosen language; the progress line (percent and current
// file) goes to the standard output, redrawn in place on a terminal and one
// line per tenth otherwise. The template directory is asked on the input
// with the proposed one as the answer Enter gives; an interrupt asks before
// it cancels. Silent, nothing is asked. The exit status tells the outcome.
#ifndef QORV_TERM_TEXT_INSTALLER_H_
#define QORV_TERM_TEXT_INSTALLER_H_

#include <string>

#include "base/text_string.h"
#include "config/launcher_settings.h"
#include "copy/run_plan.h"
#include "kit/kit_reader.h"
#include "term/plan_output.h"

namespace qorv {

enum TextOutcome : int {
  kTextInstalled = 0,
  kTextFailed = 1,
  kTextCancelled = 2,
  kTextWrongCommandLine = 3,  // also: nobody to ask and no -S
};

struct TextOptions {
  bool silent = false;
  bool usecwd = false;
  WideString kitPath;      // empty: found as the wizard finds it
  bool hasTarget = false;  // -D given
  WideString target;       // -D's directory, as given
  WideString language;     // the chosen language's code, for the kit's texts
  int waitSeconds = -1;    // for another run into the target; -1: no bound
  bool uninstall = false;  // remove what the installs into the target put there
  bool dryRun = false;     // print the plan; change nothing
  bool json = false;       // the plan or the outcome as JSON lines on the output
  // Why no window opened although a display may exist (a toolkit that
  // could not be loaded, with the loader's reason): said instead of "no
  // display" when there is no terminal to ask on either.
  std::string noWindow;
};

class TextInstaller {
 public:
  // `in`, `out` and `err` are the terminal's three descriptors; `interrupts`
  // is the interrupt watch's pipe (-1: none). None of them is closed.
  TextInstaller(const TextOptions& options, int in, int out, int err, int interrupts);
  TextInstaller(const TextInstaller&) = delete;
  TextInstaller& operator=(const TextInstaller&) = delete;

  // The whole run; answers a TextOutcome.
  int Run();

 private:
  enum class Input { kLine, kEnd, kInterrupt };

  bool AskTarget(WideString* target);
  bool ConfirmCancel();
  int Copy(const WideString& target);
  int Uninstall();
  // Asks the yes/no question `key`; `unanswered` on end of input or an
  // interrupt.
  bool AskYesNo(const char* key, bool unanswered);
  // After a run's final report: the files kept because they changed since
  // they were installed, and the JSON lines.
  // `description`: the installed description document, or empty.
  // Says so when root's umask leaves what the run makes unreadable to
  // the users the templates are for.
  void WarnOfClosedModes(const WideString& target);
  void ReportDone(const char* outcome, int status, const WideString& target,
                  const WideString& description = WideString());
  void Output(const std::string& text);
  Input ReadLine(std::string* line, int* signal);
  int TakeInterrupt();
  void Say(const WideString& text);
  void SayKey(const char* key);
  // "Log of this run: <path>", when the run has a log.
  void SayLogPath();
  // "<our words for `key`>: <problem>", said and logged.
  void SayCause(const char* key, const std::string& problem);
  void Prompt(const WideString& text);
  void DrawProgress(int percent, const WideString& path, const WideString& target);
  void EndProgressLine();
  bool IsYes(const std::string& answer) const;

  TextOptions options_;
  int in_;
  int out_;
  int err_;
  int interrupts_;
  bool outIsTerminal_;
  std::string pending_;  // input read past the last line
  KitReader reader_;
  // Whether an installed run's location was recorded.
  bool recorded_ = false;
  std::string recordProblem_;
  ResultWords failure_;
  // The -D target, resolved as the run resolves it; empty without -D.
  WideString GivenTarget() const;
  bool busy_ = false;  // the run met another one holding the directory  // what the terminal said
                       // of the last failure
  // What the last run did (on failure, what it had done before it rolled
  // back).
  RunPlan done_;
  // The progress line on a terminal: its text and length in characters.
  WideString drawn_;
  int lastTenth_ = -1;
};

}  // namespace qorv

#endif  // QORV_TERM_TEXT_INSTALLER_H_
