#include "app/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/toolkit_choice.h"
#include "base/text_convert.h"
#include "res/string_table.h"

namespace qorv {

namespace {

constexpr int kEnglish = 3;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The toolkit's own options, which it takes from the command line itself:
// "--display=:1" or "--display :1".
bool IsToolkitOption(const char* arg) {
  for (const char* name : {"--display", "--screen", "--sync", "--class", "--name", "--gtk-module",
                           "--g-fatal-warnings", "--gdk-debug", "--gdk-no-debug", "--gtk-debug",
                           "--gtk-no-debug", "--gxid-host", "--gxid-port"}) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '=')) return true;
  }
  return false;
}

// A toolkit option whose value may follow as the next argument
// ("--display :1"): that argument is the toolkit's, not a stray one.
bool TakesToolkitValue(const char* arg) {
  return IsToolkitOption(arg) && std::strchr(arg, '=') == nullptr &&
         std::strcmp(arg, "--sync") != 0 && std::strcmp(arg, "--g-fatal-warnings") != 0;
}

bool IsHelp(const char* arg) {
  for (const char* help : {"-h", "-H", "/h", "/H", "-?", "/?", "--help"}) {
    if (std::strcmp(arg, help) == 0) return true;
  }
  return false;
}

}  // namespace

CommandLine ScanCommandLine(int argc, const char* const* argv, const char* localeName) {
  CommandLine result;
  result.usecwd = argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "usecwd") == 0;
  result.firstOptionIndex = result.usecwd ? 2 : 1;
  result.languageName = u"en";

  const char* languageOption = nullptr;  // the first -L, once seen
  std::string joined;                    // "--target DIR" read as "--target=DIR"
  for (int i = result.firstOptionIndex; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg != nullptr && std::strcmp(arg, "usecwd") == 0) {
      result.problems.push_back("usecwd counts only as the first argument");
      continue;
    }
    if (arg != nullptr && (std::strcmp(arg, "--target") == 0 || std::strcmp(arg, "--lang") == 0)) {
      // A required argument, GNU-style, either way.
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        result.problems.push_back(std::string(arg) + " needs " +
                                  (arg[2] == 't' ? "a directory" : "a language code"));
        continue;
      }
      joined = std::string(arg) + "=" + argv[++i];
      arg = joined.c_str();
    }
    if (arg == nullptr) continue;
    if (arg[0] != '-' && arg[0] != '/') {
      if (i > result.firstOptionIndex && argv[i - 1] != nullptr && TakesToolkitValue(argv[i - 1])) {
        continue;
      }
      result.warnings.push_back("ignoring argument \"" + EscapeControls(std::string(arg)) +
                                "\"; the target is given with -D DIR");
      continue;
    }
    if (arg[0] == '/' && arg[1] != '\0' && std::strchr(arg + 2, '/') != nullptr && !IsHelp(arg)) {
      // An option may begin with "/": a path does, and is read as one.
      result.warnings.push_back(
          "reading \"" + EscapeControls(std::string(arg)) + "\" as the option /" +
          std::string(1, arg[1]) +
          " (an option may begin with \"/\"); the target is given with -D DIR");
    }
    if (IsHelp(arg)) {
      result.help = true;
      continue;
    }
    if (std::strcmp(arg, "--text") == 0) {
      result.text = true;
      continue;
    }
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      result.version = true;
      continue;
    }
    if (std::strcmp(arg, "--uninstall") == 0) {
      result.uninstall = true;
      continue;
    }
    if (std::strcmp(arg, "--dry-run") == 0) {
      result.dryRun = true;
      continue;
    }
    if (std::strcmp(arg, "--json") == 0) {
      result.json = true;
      continue;
    }
    if (std::strncmp(arg, "--wait=", 7) == 0) {
      char* end = nullptr;
      errno = 0;
      long seconds = std::strtol(arg + 7, &end, 10);
      if (arg[7] < '0' || arg[7] > '9' || *end != '\0' || errno != 0 || seconds > 86400 * 365) {
        result.problems.push_back(std::string(arg) + ": expected a number of seconds");
      } else {
        result.waitSeconds = static_cast<int>(seconds);
      }
      continue;
    }
    if (std::strncmp(arg, "--umask=", 8) == 0) {
      char* end = nullptr;
      long mask = std::strtol(arg + 8, &end, 8);
      if (arg[8] < '0' || arg[8] > '7' || *end != '\0' || mask > 0777) {
        if (result.optionProblem.empty()) {
          result.optionProblem =
              EscapeControls(std::string(arg)) + ": expected an octal umask (022)";
        }
      } else {
        result.umask = static_cast<int>(mask);
      }
      continue;
    }
    if (std::strncmp(arg, "--toolkit=", 10) == 0) {
      // Wrong here is wrong everywhere: the window could not be chosen.
      result.toolkit = arg + 10;
      if (!IsToolkitName(result.toolkit)) {
        result.toolkitProblem = EscapeControls(std::string(arg)) + ": expected gtk2, gtk3 or text";
      }
      continue;
    }
    // GNU-style spellings: --target=DIR as -D, --lang=CODE as -L (without
    // ending the reading of the others), --silent as -S.
    if (std::strcmp(arg, "--silent") == 0) {
      result.silent = true;
      continue;
    }
    if (std::strncmp(arg, "--lang=", 7) == 0) {
      NarrowString code(arg + 7);
      const int number = LanguageNumberOf(code);
      if (number == 0) {
        result.problems.push_back(std::string("unknown language code in ") + arg);
      } else if (languageOption == nullptr) {
        result.languageNumber = number;
        result.languageName = toWide(code);
      }
      continue;
    }
    const bool longTarget = std::strncmp(arg, "--target=", 9) == 0;
    if (arg[0] == '-' && arg[1] == '-' && !longTarget) {
      // Any other long option is a mistake to say at once, not to guess at:
      // --dir=/srv/z must not install into the proposed directory.
      if (!IsToolkitOption(arg) && result.optionProblem.empty()) {
        result.optionProblem = "unknown option " + EscapeControls(std::string(arg));
      }
      continue;
    }
    char option = longTarget ? 'D' : Upper(arg[1]);
    if (option == 'D') {
      const char* directory = longTarget ? arg + 9 : arg + 2;
      result.hasTarget = true;
      result.target = toWide(NarrowString(directory));
      if (!(toNarrow(result.target) == NarrowString(directory))) {
        result.targetProblem = EscapeControls(std::string(arg)) +
                               ": the directory's name is not valid text in the current "
                               "locale's encoding; no directory of that name is used";
      }
      if (*directory == '\0')
        result.problems.push_back(std::string(arg) + " needs a directory: -D<dir>");
      continue;
    }
    if (option == 'S' || option == 'L') {
      if (languageOption != nullptr) {
        // The first language option ends the reading of S and L.
        result.problems.push_back(std::string(arg) + " after " + languageOption +
                                  " is not read: put -L<code> last");
      } else if (option == 'S') {
        result.silent = true;
      } else {
        languageOption = arg;
        NarrowString code(arg + 2);
        result.languageNumber = LanguageNumberOf(code);
        if (result.languageNumber != 0) {
          result.languageName = toWide(code);
        } else {
          result.problems.push_back(std::string("unknown language code in ") + arg);
        }
      }
      continue;
    }
    // A path may begin with '/'.
    if (arg[0] == '-') {
      result.problems.push_back(std::string("unknown option ") + arg);
    }
  }

  if (result.languageNumber == 0 && localeName != nullptr) {
    size_t n = std::strlen(localeName);
    NarrowString code(localeName, n > 2 ? 2 : n);
    result.languageNumber = LanguageNumberOf(code);
    if (result.languageNumber != 0) result.languageName = toWide(code);
  }
  if (result.languageNumber == 0) {
    result.languageNumber = kEnglish;
    result.languageName = u"en";
  }
  return result;
}

namespace {

void ReplaceEvery(std::string& text, const std::string& what, const std::string& by) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + by.size())) {
    text.replace(at, what.size(), by);
  }
}

}  // namespace

std::string UsageText(const std::string& program, bool bundled) {
  std::string text =
      "Usage: qorv-setup [usecwd] [-S] [-D<dir>] [--wait=SECONDS] [--text] [--dry-run]\n"
      "                  [--json] [--toolkit=gtk2|gtk3|text] [-L<code>]\n"
      "       qorv-setup --uninstall [-S] [-D<dir>] [--dry-run] [--json] [-L<code>]\n"
      "       qorv-setup -V | --version\n"
      "       qorv-setup -h | -? | --help\n"
      "\n"
      "Installs the templates of qorv.vkt into a template directory and adds\n"
      "that directory to the launcher's list. With a display it runs a wizard;\n"
      "without one it asks on the terminal.\n"
      "\n"
      "  usecwd     (first argument only) take qorv.vkt from the current\n"
      "             directory instead of the executable's directory\n"
      "  -S         silent: ask nothing, install into the proposed directory\n"
      "             or the one -D gives, end when the copy ends\n"
      "  -D<dir>    install into <dir> (the wizard shows it on its directory\n"
      "             page; the terminal question offers it as the answer)\n"
      "  --wait=SECONDS  when another installation into the same directory\n"
      "             is running, wait at most this long for it (0: not at\n"
      "             all), then fail; without it, wait as long as it takes\n"
      "  -L<code>   language: ru uk en lv lt bg de ro ka kk vi tr el es hy it;\n"
      "             ends the reading of -S and -L (put it last). Default:\n"
      "             the locale's language, else English\n"
      "  --text     run on the terminal even with a display; with -S nothing\n"
      "             is shown and nothing asked\n"
      "  --toolkit=gtk2|gtk3|text  the window toolkit to use, or the terminal\n"
      "             (also QORV_TOOLKIT; the option wins). Without either:\n"
      "             GTK+ 2 on an X display, GTK 3 when GTK+ 2 is missing,\n"
      "             when the desktop draws at scale 2 or more (GDK_SCALE,\n"
      "             or Xft.dpi of 144 and more) or on Wayland without X;\n"
      "             the terminal when no window can be opened\n"
      "  --umask=OCTAL  the umask for the folders and files the run makes\n"
      "             (0777 and 0666 less it; files it replaces keep their\n"
      "             modes), e.g. --umask=022 when root installs for everyone\n"
      "  --uninstall  remove what the installs put into <dir> (default: the\n"
      "             head of the launcher's list) and its place in the list;\n"
      "             files changed since they were installed are kept\n"
      "  --dry-run  print what the run would do, file by file (write,\n"
      "             replace, keep, remove, keep-changed), and the totals;\n"
      "             change nothing\n"
      "  --json     on the terminal, print the plan (--dry-run) or what the\n"
      "             run did as one JSON object per line\n"
      "  -V, --version   print the version and end\n"
      "  -h, -?, --help  print this text and end\n"
      "\n"
      "Options may also begin with '/' (/S, /D<dir>, /L<code>), or be spelled\n"
      "--silent, --target[=]DIR and --lang[=]CODE (which does not end the\n"
      "reading of the others). Other arguments are no target: the terminal\n"
      "says so. A directory may begin with ~/ (the home directory); a\n"
      "relative one is taken from the current directory, in the wizard too.\n"
      "Another long option is refused (status 3), but for the toolkit's own\n"
      "(--display, --screen, --sync, --class, --name, --gtk-module, ...).\n"
      "Exit status without a display: 0 installed (or removed, or nothing to\n"
      "do), 1 failed, 2 cancelled, 3 wrong command line, no terminal to ask\n"
      "on (use -S), or nothing to uninstall. With a display the status is 0.\n"
      "--dry-run and --json always run on the terminal.\n";
  if (bundled) {
    ReplaceEvery(
        text,
        std::string("Installs the templates of qorv.vkt into a template directory and adds\n"
                    "that directory to the launcher's list. With a display it runs a wizard;\n"
                    "without one it asks on the terminal.\n"),
        "Installs the templates of the kit inside this program into a template\n"
        "directory and adds that directory to the launcher's list. With a display\n"
        "it runs a wizard; without one it asks on the terminal.\n");
    ReplaceEvery(text,
                 std::string("take qorv.vkt from the current\n"
                             "             directory instead of the executable's directory"),
                 "no effect: the kit inside this\n             program is installed");
  }
  // Under the name it was started as, aligned as before.
  ReplaceEvery(text, std::string("\n                  ["),
               "\n" + std::string(program.size() + 8, ' ') + "[");
  ReplaceEvery(text, std::string("qorv-setup"), program);
  return text;
}

}  // namespace qorv
