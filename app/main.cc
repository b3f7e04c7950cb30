// Entry of qorv-setup.
#include <gdk/gdk.h>
#include <glib.h>
#include <gtk/gtk.h>

#include "app/installer_app.h"
#include "install/interrupts.h"
#include "ui/toolkit_loader.h"

int main(int argc, char** argv) {
  // Before any thread exists: interrupts become events every thread leaves
  // to the front end, so that a copy is rolled back before the process ends.
  qorv::InterruptWatch::Start();
  // The toolkit where the machine has it; the terminal otherwise.
  std::string missing;
  if (qorv::LoadToolkit(&missing)) {
    // Thread support first: the copy runs on a second thread.
    g_thread_init(nullptr);
    // The installer chooses the locale itself (a plain C character type
    // becomes C.UTF-8); the toolkit must not choose it again.
    gtk_disable_setlocale();
    gdk_threads_init();
  }
  qorv::CInstallerApp app(argc, argv, missing);
  return app.Run();
}
