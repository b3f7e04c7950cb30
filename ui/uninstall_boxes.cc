#include "ui/uninstall_boxes.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <string>

#include "base/text_convert.h"
#include "config/launcher_settings.h"
#include "copy/copy_session.h"
#include "copy/manifest.h"
#include "fs/path.h"
#include "install/interrupts.h"
#include "install/preparation.h"
#include "res/string_table.h"
#include "ui/toolkit_loader.h"
#include "ui/wizard_pages.h"

namespace qorv {

namespace {

// True for Yes (question) or OK.
bool Box(GtkMessageType type, const std::string& text, const NarrowString& title) {
  GtkWidget* box = NewMessageBox(type, text, type == GTK_MESSAGE_QUESTION);
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  gint response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  return response == GTK_RESPONSE_YES || response == GTK_RESPONSE_OK;
}

}  // namespace

bool UninstallWithMessageBoxes(int argc, char** argv, const WideString& given, bool silent,
                               const NarrowString& title, int* interruptedBy) {
  *interruptedBy = 0;
  if (!ToolkitLoaded() || !gtk_init_check(&argc, &argv)) return false;
  WideString target = given;
  if (target.empty()) {
    KnownLocations known = ReadKnownLocations();
    if (!known.list.empty()) target = ResolveTypedDirectory(known.list.front());
  }
  Manifest manifest;
  const std::string shown = Narrow(target);
  if (target.empty() || LoadManifest(WithTrailingSlash(shown), &manifest) != ManifestState::kRead) {
    Box(GTK_MESSAGE_INFO, Narrow(LookupText("IDS_NOTHING_INSTALLED")) + "\n" + shown, title);
    return true;
  }
  if (!silent && !Box(GTK_MESSAGE_QUESTION,
                      Narrow(LookupText("IDS_UNINSTALL_CONFIRM")) + "\n" + shown, title)) {
    return true;
  }
  CopySession session;
  session.SetFinishPauseMs(0);
  session.StartUninstall(target);
  RunReport report = session.Poll();
  // The boxes before and after are modal; while the files go, the toolkit
  // keeps drawing and an interrupt asks the run to stop.
  while (!report.IsFinal()) {
    while (gtk_events_pending()) gtk_main_iteration();
    if (int signal = InterruptWatch::Take(); signal != 0) {
      *interruptedBy = signal;
      session.RequestStop();
    }
    ::usleep(50 * 1000);
    report = session.Poll();
  }
  session.Join();
  std::string result;
  GtkMessageType type = GTK_MESSAGE_INFO;
  switch (report.Outcome()) {
    case RunOutcome::kInstalled: {
      result = Narrow(LookupText("IDS_UNINSTALL_FINISH"));
      std::string kept;
      for (const PlanItem& item : session.Summary().items) {
        if (item.action == PlanAction::kKeepChanged) kept += "\n" + item.path;
      }
      if (!kept.empty()) result += "\n\n" + Narrow(LookupText("IDS_KEPT_CHANGED")) + kept;
      break;
    }
    case RunOutcome::kCancelled:
      result = Narrow(LookupText("IDS_CANCEL_FINISH"));
      break;
    default:
      type = GTK_MESSAGE_ERROR;
      result = Narrow(LookupText("IDS_UNINSTALL_ERROR"));
      break;
  }
  if (!session.Unrestored().empty()) {
    type = GTK_MESSAGE_ERROR;
    result = Narrow(LookupText("IDS_ROLLBACK_INCOMPLETE"));
    for (const UnrestoredFile& file : session.Unrestored()) {
      result += "\n" + Narrow(file.path) + " \u2190 " + Narrow(file.backup);
    }
  }
  // Interrupted: the process ends as the signal would have, with no box.
  if (*interruptedBy == 0) Box(type, result, title);
  return true;
}

}  // namespace qorv
