// The application object: reads the command line, chooses the language,
// builds the installer window and runs it. Lives in main() for the whole run.
#ifndef QORV_APP_INSTALLER_APP_H_
#define QORV_APP_INSTALLER_APP_H_

#include "base/text_string.h"

namespace qorv {

class CInstallerApp {
 public:
  CInstallerApp(int argc, char** argv) : argc_(argc), argv_(argv) {}
  // Returns the exit status: 0 in every case of the wizard.
  int Run();

 private:
  int argc_;
  char** argv_;
  int languageNumber_ = 0;
  WideString title_;
};

}  // namespace qorv

#endif  // QORV_APP_INSTALLER_APP_H_
