// Reading of the installer's command line and choice of its language. Pure:
// it touches neither the toolkit nor the process locale, so the caller
// passes the locale name it selected at start-up.
//
//   qorv-setup [usecwd] [-S] [-D<dir>] [--wait=SECONDS] [--dry-run] [--json] [-L<code>]
//   qorv-setup --uninstall [-S] [-D<dir>] [--dry-run] [--json] [-L<code>]
//   qorv-setup -h | -? | --help
//
// "usecwd" counts only as the very first argument. An option begins with '-'
// or '/'; its second byte, in either case, selects it: S makes the run
// silent, L takes the rest of the argument as a language code and ends the
// scan for S and L, whatever the code. D takes the rest of the argument as
// the target directory and, like the help options, is read wherever it
// stands (the last -D counts). The wizard ignores everything else; the text
// front end, which reports a wrong command line by its exit status, refuses
// what `problems` lists, and says what `warnings` lists. GNU spellings:
// --target=DIR or --target DIR as -D, --lang=CODE or --lang CODE as -L
// (without ending the scan), --silent as -S.
#ifndef QORV_APP_COMMAND_LINE_H_
#define QORV_APP_COMMAND_LINE_H_

#include <string>
#include <vector>

#include "base/text_string.h"

namespace qorv {

struct CommandLine {
  bool usecwd = false;      // look for the kit in the current directory
  bool silent = false;      // unattended run
  int languageNumber = 0;   // never 0 once scanned: English is the default
  WideString languageName;  // the code of that language, e.g. "en"
  int firstOptionIndex = 1;
  bool help = false;       // -h, -?, --help: print the usage and end
  bool hasTarget = false;  // -D<dir> given
  WideString target;       // its directory, as written
  // The directory's bytes are not text in the locale's encoding: it could
  // only be read cut short, so there is no target to install into. Why, to
  // say before anything else happens (the wizard too).
  std::string targetProblem;
  // --wait=SECONDS: how long to wait for another installation into the same
  // directory to end; -1 (no option): as long as it takes.
  int waitSeconds = -1;
  bool text = false;       // --text: the terminal front end, display or not
  bool version = false;    // -V, --version: print the version and end
  bool uninstall = false;  // --uninstall
  bool dryRun = false;     // --dry-run: print the plan, change nothing
  bool json = false;       // --json: the plan or the outcome as JSON lines
  // --toolkit=NAME: gtk2, gtk3 or text; empty when not given (the last
  // counts). Another name: why, to say before anything else happens.
  std::string toolkit;
  std::string toolkitProblem;
  // A long option that is neither the installer's nor the toolkit's
  // ("unknown option --dir=/srv/z"): the run ends before anything happens.
  std::string optionProblem;
  // --umask=OCTAL: the umask of the run; -1 when not given.
  int umask = -1;
  // What a strict reading refuses, one English sentence each: an unknown
  // option, an empty -D, an unknown language code, S or L after the first
  // language option. Toolkit options ("--display" and the like) pass.
  std::vector<std::string> problems;
  // Arguments that are no option, or a path read as one ("/srv/t" is /s):
  // one English line each, for the terminal front end to say. The wizard
  // ignores them, as it always has.
  std::vector<std::string> warnings;
};

// `localeName` is what setlocale(LC_ALL, "") answered (may be null); its
// first two bytes choose the language when no -L option chose one.
CommandLine ScanCommandLine(int argc, const char* const* argv, const char* localeName);

// The usage text, one option per line, ending with a line feed.
// The --help text, under the name `program` runs as ("acme-setup"), for a
// program that carries its kit when `bundled`.
std::string UsageText(const std::string& program = "qorv-setup", bool bundled = false);

}  // namespace qorv

#endif  // QORV_APP_COMMAND_LINE_H_
