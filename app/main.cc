// Entry of qorv-setup.
#include <cstdio>

#include "app/command_line.h"
#include "base/text_convert.h"
#include "res/string_table.h"

int main(int argc, char** argv) {
  using namespace qorv;
  // The locale is chosen once, here, before any other thread exists; every
  // text conversion of the run uses it.
  const char* locale = SelectEnvironmentLocale();
  CommandLine line = ScanCommandLine(argc, argv, locale);
  SetCurrentLanguage(line.languageNumber);
  NarrowString title = toNarrow(LookupText(NarrowString("IDR_MAINFRAME")));
  std::fprintf(stderr, "%s: the installation wizard is not part of this build yet.\n",
               title.c_str());
  return 0;
}
