// Reading of the installer's command line and choice of its language. Pure:
// it touches neither the toolkit nor the process locale, so the caller
// passes the locale name it selected at start-up.
//
//   qorv-setup [usecwd] [-S | /S] [-L<code> | /L<code>]
//
// "usecwd" counts only as the very first argument. An option begins with '-'
// or '/'; its second byte, in either case, selects it: S makes the run
// silent, L takes the rest of the argument as a language code and ends the
// scan, whatever the code. Everything else is ignored.
#ifndef QORV_APP_COMMAND_LINE_H_
#define QORV_APP_COMMAND_LINE_H_

#include "base/text_string.h"

namespace qorv {

struct CommandLine {
  bool usecwd = false;      // look for the kit in the current directory
  bool silent = false;      // unattended run
  int languageNumber = 0;   // never 0 once scanned: English is the default
  WideString languageName;  // the code of that language, e.g. "en"
  int firstOptionIndex = 1;
};

// `localeName` is what setlocale(LC_ALL, "") answered (may be null); its
// first two bytes choose the language when no -L option chose one.
CommandLine ScanCommandLine(int argc, const char* const* argv, const char* localeName);

}  // namespace qorv

#endif  // QORV_APP_COMMAND_LINE_H_
