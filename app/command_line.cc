#include "app/command_line.h"

#include <cstring>

#include "base/text_convert.h"
#include "res/string_table.h"

namespace qorv {

namespace {

constexpr int kEnglish = 3;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

CommandLine ScanCommandLine(int argc, const char* const* argv, const char* localeName) {
  CommandLine result;
  result.usecwd = argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "usecwd") == 0;
  result.firstOptionIndex = result.usecwd ? 2 : 1;
  result.languageName = u"en";

  for (int i = result.firstOptionIndex; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || (arg[0] != '-' && arg[0] != '/')) continue;
    char option = Upper(arg[1]);
    if (option == 'S') {
      result.silent = true;
    } else if (option == 'L') {
      NarrowString code(arg + 2);
      result.languageNumber = LanguageNumberOf(code);
      if (result.languageNumber != 0) result.languageName = toWide(code);
      break;  // the first language option ends the scan, known or not
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

}  // namespace qorv
