#include "app/installer_app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "base/text_convert.h"
#include "config/launcher_settings.h"
#include "copy/run_journal.h"
#include "copy/run_log.h"
#include "copy/run_recovery.h"
#include "fs/file_ops.h"
#include "fs/fs_queries.h"
#include "install/interrupts.h"
#include "install/preparation.h"
#include "res/string_table.h"
#include "term/text_installer.h"
#include "ui/installer_dlg.h"
#include "ui/toolkit_loader.h"
#include "ui/uninstall_boxes.h"

namespace qorv {

namespace {

// Rolls back the runs an earlier installer left unfinished (it was killed,
// or the machine went down) before anything else touches their targets, and
// finishes the recording of a run that died right after it had succeeded.
void RecoverEarlierRuns() {
  auto record = [](const WideString& target, bool uninstalled) {
    try {
      if (uninstalled) {
        ForgetInstalledLocation(target);
      } else {
        RecordInstalledLocation(target);
      }
    } catch (...) {
      // As after a run: the templates are installed either way.
    }
  };
  RemoveOrphanedNamelessFiles(TempDirectory().c_str());
  for (const RecoveredRun& run : RecoverAllInterruptedRuns(record)) {
    std::string line = "qorv-setup: ";
    if (!run.problem.empty()) {
      // Not the user's record, or not a run the user made: left alone.
      line += EscapeControls(run.runDirectory) + ": " + EscapeControls(run.problem) +
              "; not acted on\n";
      std::fputs(line.c_str(), stderr);
      LogLine(line.substr(12, line.size() - 13));
      continue;
    }
    line += EscapeControls(Narrow(run.target));
    line += ": ";
    if (run.restored) {
      line += Narrow(LookupText("IDS_CANCEL_FINISH"));
    } else {
      line += Narrow(LookupText("IDS_RECOVERY_INCOMPLETE"));
      line += " " + run.runDirectory;
    }
    line += "\n";
    std::fputs(line.c_str(), stderr);
  }
}

}  // namespace

int CInstallerApp::Run() {
  languageNumber_ = 0;
  // The locale is chosen once, here, before the copy thread exists; every
  // text conversion of the run uses it.
  const char* locale = SelectEnvironmentLocale();
  CommandLine line = ScanCommandLine(argc_, argv_, locale);
  if (line.help) {
    const std::string name = argc_ > 0 && argv_[0] != nullptr ? argv_[0] : "qorv-setup";
    std::fputs(UsageText(name.substr(name.rfind('/') + 1), CarriesItsKit()).c_str(), stdout);
    return 0;
  }
  if (line.version) {
    std::puts("qorv-setup " QORV_VERSION);
    return 0;
  }
  if (!line.targetProblem.empty()) {
    // Never another directory than the one named: not even by the wizard.
    std::fprintf(stderr, "qorv-setup: %s\n", line.targetProblem.c_str());
    return kTextWrongCommandLine;
  }
  if (!line.optionProblem.empty()) {
    std::fprintf(stderr, "qorv-setup: %s\nTry 'qorv-setup --help'.\n", line.optionProblem.c_str());
    return kTextWrongCommandLine;
  }
  // Before anything is made: what the run creates gets these modes.
  if (line.umask >= 0) ::umask(static_cast<mode_t>(line.umask));
  if (!toolkit_.problem.empty()) {
    std::fprintf(stderr, "qorv-setup: %s\n", toolkit_.problem.c_str());
    return kTextWrongCommandLine;
  }
  if (toolkit_.requested == "text") line.text = true;
  languageNumber_ = line.languageNumber;
  SetCurrentLanguage(languageNumber_);
  title_ = LookupText("IDR_MAINFRAME");
  if (line.dryRun) {
    // A dry run changes nothing at all: no log, no recovery. What the next
    // real run will undo first is said.
    for (const RecoveredRun& run : FindAllInterruptedRuns()) {
      if (!run.problem.empty()) {
        std::fprintf(stderr, "qorv-setup: %s: %s; not acted on\n",
                     EscapeControls(run.runDirectory).c_str(), EscapeControls(run.problem).c_str());
        continue;
      }
      std::fprintf(stderr, "qorv-setup: %s: %s\n", EscapeControls(Narrow(run.target)).c_str(),
                   "an interrupted run there is undone by the next run that is not a dry run");
    }
  } else {
    // Every run that may change something has its log; the path is said on
    // failure.
    OpenRunLog(argc_, argv_);
    RecoverEarlierRuns();
  }

  int interruptedBy = 0;
  bool wizard = false;
  if (!toolkit_.missing.empty()) {
    // Someone at a desktop expected a window: say why there is none.
    const std::string why =
        "no window toolkit could be loaded (" + toolkit_.missing + "); continuing on the terminal";
    std::fprintf(stderr, "qorv-setup: %s\n", EscapeControls(why).c_str());
    LogLine(why);
  } else if (line.text || line.dryRun || line.json) {
    // Asked for, or a plan or JSON lines: the terminal, whatever the display.
  } else if (line.uninstall) {
    wizard = UninstallWithMessageBoxes(
        argc_, argv_, line.hasTarget ? ResolveTypedDirectory(line.target) : WideString(),
        line.silent, toNarrow(LookupText("IDS_UNINSTALL_TITLE")), &interruptedBy);
  } else {
    CInstallerDlg dialog(argc_, argv_, line.silent, toNarrow(title_), line.languageName,
                         line.usecwd);
    if (dialog.ToolkitReady()) {
      wizard = true;
      LogLine(std::string("the wizard runs on ") + ToolkitTitle(LoadedToolkit()));
      if (line.hasTarget) dialog.SetRequestedTarget(ResolveTypedDirectory(line.target));
      dialog.SetLockWaitSeconds(line.waitSeconds);
      dialog.Run();
      interruptedBy = dialog.interruptedBy();
    }
  }
  if (!wizard && toolkit_.missing.empty() && !line.text && !line.dryRun && !line.json) {
    // A display was named but could not be opened: say so once, then the
    // terminal takes over.
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
      const std::string why =
          "cannot open display " + std::string(display) + "; continuing on the terminal";
      std::fprintf(stderr, "qorv-setup: %s\n", EscapeControls(why).c_str());
      LogLine(why);
    }
  }
  // The dialog is gone, and with it the unpacked kit; the process ends as
  // the signal would have ended it.
  if (interruptedBy != 0) {
    LogLine("ended by signal " + std::to_string(interruptedBy));
    CloseRunLog();
    InterruptWatch::EndBySignal(interruptedBy);
  }
  if (wizard) {
    LogLine("the wizard ended");
    return 0;
  }

  // No display: the same installation on the terminal.
  if (!line.problems.empty()) {
    for (const std::string& problem : line.problems) {
      std::fprintf(stderr, "qorv-setup: %s\n", EscapeControls(problem).c_str());
    }
    std::fputs("Try 'qorv-setup --help'.\n", stderr);
    return kTextWrongCommandLine;
  }
  // What the command line holds that does not do what it may look like.
  for (const std::string& warning : line.warnings) {
    if (line.json) {
      std::printf("{\"type\":\"warning\",\"message\":%s}\n", JsonString(warning).c_str());
    } else {
      std::fprintf(stderr, "qorv-setup: %s\n", warning.c_str());
    }
    LogLine(warning);
  }
  std::fflush(stdout);
  TextOptions options;
  options.silent = line.silent;
  options.usecwd = line.usecwd;
  options.hasTarget = line.hasTarget;
  options.target = line.target;
  options.language = line.languageName;
  options.waitSeconds = line.waitSeconds;
  options.uninstall = line.uninstall;
  options.dryRun = line.dryRun;
  options.json = line.json;
  if (!toolkit_.missing.empty()) options.noWindow = "cannot load " + toolkit_.missing;
  TextInstaller installer(options, STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO,
                          InterruptWatch::fd());
  LogLine("on the terminal");
  const int status = installer.Run();
  LogLine("exit status " + std::to_string(status));
  return status;
}

}  // namespace qorv
