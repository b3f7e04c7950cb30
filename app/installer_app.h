// The application object: reads the command line, chooses the language,
// builds the installer window and runs it. Lives in main() for the whole run.
#ifndef QORV_APP_INSTALLER_APP_H_
#define QORV_APP_INSTALLER_APP_H_

#include <string>

#include "base/text_string.h"

namespace qorv {

class CInstallerApp {
 public:
  // `toolkitMissing`: why GTK+ 2 could not be loaded, empty when it was.
  CInstallerApp(int argc, char** argv, const std::string& toolkitMissing)
      : argc_(argc), argv_(argv), toolkitMissing_(toolkitMissing) {}
  // Returns the exit status: 0 in every case of the wizard.
  int Run();

 private:
  int argc_;
  char** argv_;
  int languageNumber_ = 0;
  WideString title_;
  std::string toolkitMissing_;
};

}  // namespace qorv

#endif  // QORV_APP_INSTALLER_APP_H_
