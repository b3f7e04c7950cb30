// Entry of qorv-setup.
#include <gdk/gdk.h>
#include <glib.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "app/installer_app.h"
#include "app/toolkit_choice.h"
#include "base/text_convert.h"
#include "copy/run_log.h"
#include "install/interrupts.h"
#include "ui/toolkit_loader.h"

namespace {

// Loads the toolkit the desktop calls for (app/toolkit_choice.h), unless
// the run shows no window at all.
qorv::ToolkitStart StartToolkit(int argc, char** argv) {
  using namespace qorv;
  ToolkitStart start;
  const CommandLine line = ScanCommandLine(argc, argv, nullptr);
  start.requested = line.toolkit;
  if (!line.toolkitProblem.empty()) {
    start.problem = line.toolkitProblem;
    return start;
  }
  const char* variable = std::getenv("QORV_TOOLKIT");
  if (start.requested.empty() && variable != nullptr && *variable != '\0') {
    start.requested = variable;
    if (!IsToolkitName(start.requested)) {
      start.problem =
          "QORV_TOOLKIT=" + EscapeControls(start.requested) + ": expected gtk2, gtk3 or text";
      return start;
    }
  }
  if (line.help || line.version || line.text || line.dryRun || line.json ||
      !line.optionProblem.empty() || start.requested == "text") {
    return start;
  }
  const ToolkitPlan plan = PlanToolkits(ReadDesktopFacts(start.requested));
  for (Toolkit toolkit : plan.tries) {
    std::string problem;
    if (LoadToolkit(toolkit, &problem)) {
      // A desktop that says its scale by its DPI alone: GTK 3 is told, and
      // since it also reads that DPI for its fonts, they are drawn at the
      // DPI once, not scaled a second time.
      if (toolkit == Toolkit::kGtk3 && plan.scaleToSet >= 2) {
        ::setenv("GDK_SCALE", std::to_string(plan.scaleToSet).c_str(), 0);
        ::setenv("GDK_DPI_SCALE", std::to_string(1.0 / plan.scaleToSet).c_str(), 0);
      }
      start.missing.clear();
      return start;
    }
    if (!start.missing.empty()) start.missing += "; ";
    start.missing += problem;
  }
  return start;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists: interrupts become events every thread leaves
  // to the front end, so that a copy is rolled back before the process ends.
  qorv::InterruptWatch::Start();
  // A window toolkit where the machine has one; the terminal otherwise.
  const qorv::ToolkitStart toolkit = StartToolkit(argc, argv);
  if (qorv::ToolkitLoaded()) {
    // Thread support first: the copy runs on a second thread.
    g_thread_init(nullptr);
    // The installer chooses the locale itself (a plain C character type
    // becomes C.UTF-8); the toolkit must not choose it again.
    gtk_disable_setlocale();
    gdk_threads_init();
  }
  qorv::CInstallerApp app(argc, argv, toolkit);
  const int status = app.Run();
  qorv::CloseRunLog();
  return status;
}
