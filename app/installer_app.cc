#include "app/installer_app.h"

#include <cstdio>

#include "app/command_line.h"
#include "base/text_convert.h"
#include "res/string_table.h"
#include "ui/installer_dlg.h"

namespace qorv {

int CInstallerApp::Run() {
  languageNumber_ = 0;
  // The locale is chosen once, here, before the copy thread exists; every
  // text conversion of the run uses it.
  const char* locale = SelectEnvironmentLocale();
  CommandLine line = ScanCommandLine(argc_, argv_, locale);
  languageNumber_ = line.languageNumber;
  SetCurrentLanguage(languageNumber_);
  title_ = LookupText(NarrowString("IDR_MAINFRAME"));

  CInstallerDlg dialog(argc_, argv_, line.silent, toNarrow(title_), line.languageName,
                       line.usecwd);
  if (!dialog.ToolkitReady()) {
    std::fprintf(stderr,
                 "qorv-setup: cannot open the display; start it in a desktop session "
                 "(DISPLAY is not set or not reachable).\n");
    return 0;
  }
  dialog.Run();
  return 0;
}

}  // namespace qorv
