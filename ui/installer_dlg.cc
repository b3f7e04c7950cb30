#include "ui/installer_dlg.h"

#include <gdk/gdkkeysyms.h>

#include "base/text_convert.h"
#include "copy/run_log.h"
#include "copy/run_plan.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "install/interrupts.h"
#include "install/preparation.h"
#include "kit/kit_names.h"
#include "res/string_table.h"
#include "ui/pictures.h"
#include "ui/toolkit_loader.h"

namespace qorv {

namespace {

// Keeps the poll loop moving when nothing else happens, without spinning:
// gtk_main_iteration() sleeps until this fires or an event arrives.
constexpr guint kPollIntervalMs = 15;

gboolean KeepPolling(gpointer) { return TRUE; }

// Every toolkit callback runs its body through this: an exception must never
// unwind through the toolkit's C code. `fallback` is answered instead.
template <typename Result, typename Body>
Result Guarded(Result fallback, Body body) {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

void QuitMainLoop(GtkWidget*, gpointer) {
  if (gtk_main_level() > 0) gtk_main_quit();
}

}  // namespace

WideString WithLogPath(const WideString& cause) {
  WideString text = cause;
  const std::string path = RunLogPath();
  if (path.empty()) return text;
  if (!text.empty()) text.append(WideString(u"\n\n"));
  text.append(LookupText("IDS_LOG_AT"));
  text.append(Wide(": " + path));
  return text;
}

int ShowMessage(const CWnd* owner, const WideString& text, uint32_t flags,
                const WideString& secondary) {
  GtkMessageType type = GTK_MESSAGE_OTHER;
  if ((flags >> 24) == 1) type = GTK_MESSAGE_ERROR;
  if ((flags >> 24) == 2) type = GTK_MESSAGE_QUESTION;
  GtkWidget* box = NewMessageBox(type, toNarrow(text).c_str(), (flags & 0xFF) == 2);
  if (!secondary.empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s",
                                             toNarrow(secondary).c_str());
  }
  if (owner != nullptr) {
    gtk_window_set_title(GTK_WINDOW(box), toNarrow(owner->GetTitle()).c_str());
  }
  gint response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  switch (response) {
    case GTK_RESPONSE_YES:
      return 1;
    case GTK_RESPONSE_NO:
      return 2;
    case GTK_RESPONSE_OK:
      return 3;
    default:
      return 0;
  }
}

CInstallerDlg::CInstallerDlg(int argc, char** argv, bool silent, const NarrowString& title,
                             const WideString& language, bool usecwd)
    : silent_(silent),
      language_(language),
      usecwd_(usecwd),
      argc_(argc),
      argv_(argv),
      title_(title) {
  // Without the toolkit or a display the caller runs the installation on
  // the terminal.
  toolkitReady_ = ToolkitLoaded() && gtk_init_check(&argc_, &argv_) != FALSE;
  if (toolkitReady_ && InterruptWatch::fd() >= 0) {
    GIOChannel* interrupts = g_io_channel_unix_new(InterruptWatch::fd());
    interruptWatch_ = g_io_add_watch(interrupts, G_IO_IN, &CInstallerDlg::OnInterrupt, this);
    g_io_channel_unref(interrupts);
  }
}

CInstallerDlg::~CInstallerDlg() {
  if (interruptWatch_ != 0) g_source_remove(interruptWatch_);
  session_.RequestStop();
  session_.Join();
  reader_.Close();  // the unpacked kit goes on every way out
  if (sidePicture_.pixels != nullptr) g_object_unref(sidePicture_.pixels);
  if (icon_ != nullptr) g_object_unref(icon_);
}

WideString CInstallerDlg::GetTitle() const { return toWide(title_); }

void CInstallerDlg::Run() {
  if (!Prepare()) return;
  CreateMainWindow();
  ShowWelcomePage();
  if (silent_) {
    StartCopying();
  } else {
    gtk_main();
  }
}

bool CInstallerDlg::Prepare() {
  Preparation prepared;
  PrepareFailure failure = qorv::Prepare(usecwd_, kitPath_, reader_, &prepared);
  kitPath_ = prepared.kitPath;
  if (failure != PrepareFailure::kNone) {
    ShowMessage(this, LookupText(MessageKeyOf(failure)), kMessageError,
                WithLogPath(Wide(prepared.problem)));
    return false;
  }
  // A directory given on the command line is taken as it is, uncleaned.
  target_ = requestedTarget_.empty() ? prepared.target : requestedTarget_;
  return true;
}

void CInstallerDlg::InitWindow() {
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_MENU);
  icon_ = LoadIconPicture();
  gtk_window_set_icon(GTK_WINDOW(window_), icon_);
  fixed_ = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(window_), fixed_);
  g_signal_connect(window_, "destroy", G_CALLBACK(QuitMainLoop), nullptr);
  g_signal_connect(window_, "key_press_event", G_CALLBACK(&CInstallerDlg::OnKeyPress), this);
  g_signal_connect(window_, "delete_event", G_CALLBACK(&CInstallerDlg::OnDeleteEvent), this);
}

void CInstallerDlg::MeasureWindow() {
  LayoutTexts texts;
  texts.successMessage = LookupText("IDS_SUCCESS_FINISH");
  // The page after an incomplete rollback, with as many lines as it shows.
  WideString incomplete = LookupText("IDS_ROLLBACK_INCOMPLETE");
  for (int i = 0; i < 5; ++i) incomplete.append(WideString(u"\n/"));
  texts.messages = {
      WelcomeText(reader_, language_), LookupText("IDS_DESTINATION_PROMPT"), texts.successMessage,
      LookupText("IDS_ERROR_FINISH"),  LookupText("IDS_CANCEL_FINISH"),      incomplete};
  // The finish pages show Finish and Cancel only.
  texts.buttonRows = {{LookupText("IDS_WIZARD_BACK"), LookupText("IDS_WIZARD_NEXT"),
                       LookupText("IDS_WIZARD_CANCEL")},
                      {LookupText("IDS_WIZARD_FINISH"), LookupText("IDS_WIZARD_CANCEL")}};
  layout_ = MeasureLayout(fixed_, texts);
  width_ = layout_.width;
  height_ = layout_.height;
  GdkGeometry geometry{};
  geometry.min_width = geometry.max_width = geometry.base_width = width_;
  geometry.min_height = geometry.max_height = geometry.base_height = height_;
  gtk_window_set_geometry_hints(
      GTK_WINDOW(window_), nullptr, &geometry,
      static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE | GDK_HINT_BASE_SIZE));
  gtk_widget_set_size_request(fixed_, width_, height_);
}

void CInstallerDlg::CreateMainWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  InitWindow();
  gtk_window_set_title(GTK_WINDOW(window_), title_.c_str());
  MeasureWindow();

  GtkWidget* separator = gtk_hseparator_new();
  gtk_widget_set_size_request(separator, width_ - 20, 5);
  gtk_fixed_put(GTK_FIXED(fixed_), separator, 10, layout_.separatorY);

  back_ = gtk_button_new_with_label(toNarrow(LookupText("IDS_WIZARD_BACK")).c_str());
  gtk_fixed_put(GTK_FIXED(fixed_), back_, 230, layout_.buttonsY);

  next_ = gtk_button_new_with_label(toNarrow(LookupText("IDS_WIZARD_NEXT")).c_str());
  gtk_widget_set_can_default(next_, TRUE);
  gtk_window_set_default(GTK_WINDOW(window_), next_);
  gtk_fixed_put(GTK_FIXED(fixed_), next_, 310, layout_.buttonsY);

  cancel_ = gtk_button_new_with_label(toNarrow(LookupText("IDS_WIZARD_CANCEL")).c_str());
  gtk_fixed_put(GTK_FIXED(fixed_), cancel_, 410, layout_.buttonsY);

  g_signal_connect(back_, "clicked", G_CALLBACK(&CInstallerDlg::OnBackClicked), this);
  g_signal_connect(next_, "clicked", G_CALLBACK(&CInstallerDlg::OnNextClicked), this);
  g_signal_connect(cancel_, "clicked", G_CALLBACK(&CInstallerDlg::OnCancelClicked), this);

  // Shown first: GTK 3 measures only what is shown.
  gtk_widget_show_all(fixed_);
  LayoutButtons();
  sidePicture_ = LoadSidePicture(Shim().scaleOf(window_));
  gtk_widget_show(window_);
}

void CInstallerDlg::LayoutButtons() {
  // 80 x 30 buttons ending at x = 490, Back beside Next, 20 pixels before
  // Cancel. A label that needs more room widens its button towards the left
  // instead of being cut (Armenian, Vietnamese, German texts need it).
  const int height = layout_.buttonHeight;
  auto widthOf = [height](GtkWidget* button) {
    gtk_widget_set_size_request(button, -1, -1);
    GtkRequisition natural;
    gtk_widget_size_request(button, &natural);
    int width = natural.width > 80 ? natural.width : 80;
    gtk_widget_set_size_request(button, width, height);
    return width;
  };
  const int y = layout_.buttonsY;
  int cancelX = width_ - 10 - widthOf(cancel_);
  int nextX = cancelX - 20 - widthOf(next_);
  int backX = nextX - widthOf(back_);
  gtk_fixed_move(GTK_FIXED(fixed_), cancel_, cancelX, y);
  gtk_fixed_move(GTK_FIXED(fixed_), next_, nextX, y);
  gtk_fixed_move(GTK_FIXED(fixed_), back_, backX, y);
}

void CInstallerDlg::ShowPage(WizardDialogPage* page) {
  if (current_ != nullptr) {
    for (GtkWidget* widget : current_->widgets()) gtk_widget_hide(widget);
  }
  current_ = page;
  if (page == nullptr) return;
  for (GtkWidget* widget : page->widgets()) gtk_widget_show(widget);
  page->OnShow();
}

void CInstallerDlg::ShowWelcomePage() {
  if (!welcome_) {
    welcome_ = std::make_unique<MessagePage>(fixed_, layout_, sidePicture_,
                                             WelcomeText(reader_, language_));
  }
  if (silent_) {
    gtk_widget_set_visible(back_, FALSE);
    gtk_widget_set_visible(next_, FALSE);
  } else {
    gtk_widget_set_sensitive(back_, FALSE);
  }
  state_ = kWelcome;
  ShowPage(welcome_.get());
}

void CInstallerDlg::ShowDirSelectPage() {
  state_ = kDirectory;
  if (!dirPage_) dirPage_ = std::make_unique<DirSelectPage>(fixed_, layout_, sidePicture_);
  dirPage_->SetPath(target_);
  gtk_widget_set_sensitive(back_, TRUE);
  gtk_widget_set_sensitive(next_, TRUE);
  ShowPage(dirPage_.get());
}

void CInstallerDlg::StartCopying() {
  if (!progress_) progress_ = std::make_unique<ProgressPage>(fixed_, layout_);
  gtk_widget_set_sensitive(back_, FALSE);
  gtk_widget_set_sensitive(next_, FALSE);
  ShowPage(progress_.get());
  state_ = kCopying;
  copyRunning_ = true;
  session_.Start(&reader_, target_);

  guint timer = g_timeout_add(kPollIntervalMs, KeepPolling, nullptr);
  for (;;) {
    RunReport report = session_.Poll();
    progress_->SetNotice(report.notice);
    progress_->SetProgress(report.percent);
    gtk_main_iteration();
    RunOutcome outcome = report.Outcome();
    copyRunning_ = outcome == RunOutcome::kRunning;
    if (outcome == RunOutcome::kRunning) continue;
    if (outcome == RunOutcome::kInstalled) {
      ShowSuccessPage();
      break;
    }
    std::vector<UnrestoredFile> unrestored = session_.Unrestored();
    // A cancel's text says the directory has not been changed: not shown
    // when that is untrue.
    if (outcome != RunOutcome::kCancelled) {
      ShowMessage(this, report.message, kMessageError,
                  WithLogPath(DescribeCause(session_.Cause())));
    }
    if (!unrestored.empty()) {
      ShowIncompletePage(unrestored);
    } else if (outcome == RunOutcome::kCancelled) {
      ShowCancelPage();
    } else {
      ShowErrorPage();
    }
    break;
  }
  g_source_remove(timer);
  copyRunning_ = false;
  if (interruptedBy_ != 0) {
    // Rolled back (or, when the signal came too late, installed and
    // recorded): the run ends without waiting for Finish.
    session_.Join();
    if (gtk_main_level() > 0) gtk_main_quit();
  }
}

void CInstallerDlg::SetFinishButtons() {
  gtk_widget_set_sensitive(next_, TRUE);
  gtk_widget_set_sensitive(cancel_, FALSE);
  gtk_widget_set_visible(back_, FALSE);
  gtk_widget_set_visible(next_, TRUE);
  gtk_button_set_label(GTK_BUTTON(next_), toNarrow(LookupText("IDS_WIZARD_FINISH")).c_str());
  LayoutButtons();
  gtk_widget_set_can_default(next_, TRUE);
  gtk_window_set_default(GTK_WINDOW(window_), next_);
}

void CInstallerDlg::ShowErrorPage() {
  if (!error_)
    error_ = std::make_unique<MessagePage>(fixed_, layout_, sidePicture_,
                                           LookupText("IDS_ERROR_FINISH"));
  state_ = kFailed;
  SetFinishButtons();
  ShowPage(error_.get());
}

void CInstallerDlg::ShowIncompletePage(const std::vector<UnrestoredFile>& unrestored) {
  // The page has room for a few lines; the terminal and the next start's
  // recovery name them all.
  constexpr size_t kShown = 4;
  WideString text = LookupText("IDS_ROLLBACK_INCOMPLETE");
  for (size_t i = 0; i < unrestored.size() && i < kShown; ++i) {
    text.push_back(u'\n');
    text.append(unrestored[i].path);
  }
  if (unrestored.size() > kShown) {
    text.append(WideString(u"\n(+"));
    text.append(fromInteger(static_cast<int32_t>(unrestored.size() - kShown), 10));
    text.push_back(u')');
  }
  if (!incomplete_) {
    incomplete_ = std::make_unique<MessagePage>(fixed_, layout_, sidePicture_, text);
  } else {
    incomplete_->SetText(text);
  }
  state_ = kFailed;
  SetFinishButtons();
  ShowPage(incomplete_.get());
}

void CInstallerDlg::ShowCancelPage() {
  if (!cancelled_) {
    cancelled_ = std::make_unique<MessagePage>(fixed_, layout_, sidePicture_,
                                               LookupText("IDS_CANCEL_FINISH"));
  }
  state_ = kFailed;
  SetFinishButtons();
  ShowPage(cancelled_.get());
}

void CInstallerDlg::ShowSuccessPage() {
  state_ = kSucceeded;
  if (!success_) {
    success_ = std::make_unique<SuccessFinalPage>(fixed_, layout_, sidePicture_,
                                                  LookupText("IDS_SUCCESS_FINISH"));
  }
  SetFinishButtons();
  ShowPage(success_.get());
}

void CInstallerDlg::OnFinish() {
  // The copy thread has reported its end; let it finish its last pause
  // before anything forks (the viewer below) or the window goes.
  session_.Join();
  if (state_ == kSucceeded && success_ && success_->GetOpenDescr()) {
    WideString description = InstalledDescription(reader_, language_, target_);
    if (!description.empty()) {
      // No shell: the path is one argument, whatever characters it holds.
      NarrowString path = toNarrow(description);
      gchar* args[] = {const_cast<gchar*>("xdg-open"), const_cast<gchar*>(path.c_str()), nullptr};
      GError* error = nullptr;
      if (g_spawn_async(
              nullptr, args, nullptr,
              static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                       G_SPAWN_STDERR_TO_DEV_NULL),
              +[](gpointer) { InterruptWatch::UnblockInChild(); }, nullptr, nullptr, &error)) {
        LogLine("opened the description " + std::string(path.c_str()) + " with xdg-open");
      } else {
        // Nothing to show the user at this point (the window goes): the
        // log says why the document did not open.
        LogLine("cannot open the description " + std::string(path.c_str()) +
                " with xdg-open: " + (error != nullptr ? error->message : "unknown reason"));
        if (error != nullptr) g_error_free(error);
      }
    }
  }
  if (state_ == kSucceeded || state_ == kFailed) gtk_widget_destroy(window_);
}

void CInstallerDlg::RequestCancel() {
  if (confirmCancel_ && ShowMessage(this, LookupText("IDS_ACCEPT_CANCEL"), kMessageQuestion) != 1) {
    return;
  }
  gtk_widget_destroy(window_);
}

void CInstallerDlg::StopOrCancel() {
  if (state_ == kCopying) {
    // The page stays until the copy reports that it has rolled back.
    session_.RequestStop();
  } else {
    RequestCancel();
  }
}

void CInstallerDlg::OnBackClicked(GtkWidget*, gpointer data) {
  Guarded(0, [data] {
    auto* dialog = static_cast<CInstallerDlg*>(data);
    if (dialog->state_ == kDirectory) dialog->ShowWelcomePage();
    return 0;
  });
}

void CInstallerDlg::OnNextClicked(GtkWidget*, gpointer data) {
  Guarded(0, [data] {
    auto* dialog = static_cast<CInstallerDlg*>(data);
    switch (dialog->state_) {
      case kWelcome:
        dialog->ShowDirSelectPage();
        break;
      case kDirectory: {
        WideString path = dialog->dirPage_->GetPath();
        replaceAll(path, WideString(u"\\"), WideString(u"/"));
        if (path.empty()) {
          ShowMessage(dialog, LookupText("IDS_SETUP_EMPTYTARGET"), kMessagePlain);
        } else if (FailureCause cause;
                   !InstallFits(dialog->reader_, Narrow(ResolveTypedDirectory(path)), &cause)) {
          // Not enough room there: said now, and the page stays for
          // another choice. Nothing has been written.
          LogLine(Narrow(DescribeCause(cause)));
          ShowMessage(dialog, DescribeCause(cause), kMessageError);
        } else {
          // As typed, but for "~/" (the home directory) and a relative
          // directory (from the working directory), as -D takes them: the
          // launcher, started elsewhere, must find the same folder.
          dialog->target_ = ResolveTypedDirectory(path);
          dialog->StartCopying();
        }
        break;
      }
      case kSucceeded:
      case kFailed:
        dialog->OnFinish();
        break;
      default:
        break;
    }
    return 0;
  });
}

void CInstallerDlg::OnCancelClicked(GtkWidget*, gpointer data) {
  Guarded(0, [data] {
    static_cast<CInstallerDlg*>(data)->StopOrCancel();
    return 0;
  });
}

gboolean CInstallerDlg::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  return Guarded<gboolean>(TRUE, [event, data]() -> gboolean {
    auto* dialog = static_cast<CInstallerDlg*>(data);
    if (event->keyval != GDK_Escape || dialog == nullptr) return FALSE;
    dialog->StopOrCancel();
    return TRUE;
  });
}

gboolean CInstallerDlg::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  return Guarded<gboolean>(TRUE, [data]() -> gboolean {
    auto* dialog = static_cast<CInstallerDlg*>(data);
    if (dialog->state_ != kCopying) return FALSE;  // the toolkit destroys the window
    // During the copy the window stays until the copy has rolled back.
    dialog->session_.RequestStop();
    return TRUE;
  });
}

gboolean CInstallerDlg::OnInterrupt(GIOChannel*, GIOCondition, gpointer data) {
  return Guarded<gboolean>(TRUE, [data]() -> gboolean {
    auto* dialog = static_cast<CInstallerDlg*>(data);
    int signal = InterruptWatch::Take();
    if (signal == 0) return TRUE;
    dialog->interruptedBy_ = signal;
    if (dialog->copyRunning_) {
      // The poll loop ends the run once the job has rolled back.
      dialog->session_.RequestStop();
      return TRUE;
    }
    // Nothing is being changed: end now, as the signal would have, without
    // leaving the unpacked kit behind.
    dialog->reader_.Close();
    InterruptWatch::EndBySignal(signal);
  });
}

}  // namespace qorv
