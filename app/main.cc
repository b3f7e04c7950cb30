// Entry of qorv-setup.
#include <glib.h>
#include <gdk/gdk.h>

#include "app/installer_app.h"

int main(int argc, char** argv) {
  // Thread support first: the copy runs on a second thread.
  g_thread_init(nullptr);
  gdk_threads_init();
  qorv::CInstallerApp app(argc, argv);
  return app.Run();
}
