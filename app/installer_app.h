// The application object: reads the command line, chooses the language,
// builds the installer window and runs it. Lives in main() for the whole run.
#ifndef QORV_APP_INSTALLER_APP_H_
#define QORV_APP_INSTALLER_APP_H_

#include <string>

#include "app/toolkit_choice.h"
#include "base/text_string.h"

namespace qorv {

class CInstallerApp {
 public:
  // `toolkit`: how the start of the window toolkit went.
  CInstallerApp(int argc, char** argv, const ToolkitStart& toolkit)
      : argc_(argc), argv_(argv), toolkit_(toolkit) {}
  // Returns the exit status: 0 in every case of the wizard.
  int Run();

 private:
  int argc_;
  char** argv_;
  int languageNumber_ = 0;
  WideString title_;
  ToolkitStart toolkit_;
};

}  // namespace qorv

#endif  // QORV_APP_INSTALLER_APP_H_
