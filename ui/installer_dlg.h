// The installer's window and the owner of the whole installation: the kit
// reader, the launcher's locations, the target, the progress channel and the
// copy thread. A fixed-size 500 x 360 wizard (larger where the desktop's
// font needs it): welcome, template directory, copy,
// then a final page. UI thread only; the copy thread is reached only through
// the progress channel.
#ifndef QORV_UI_INSTALLER_DLG_H_
#define QORV_UI_INSTALLER_DLG_H_

#include <gtk/gtk.h>

#include <memory>

#include "base/text_string.h"
#include "config/launcher_settings.h"
#include "copy/copy_session.h"
#include "kit/kit_reader.h"
#include "ui/wizard_pages.h"

namespace qorv {

class CWnd {
 public:
  virtual ~CWnd() = default;
  virtual WideString GetTitle() const { return WideString(); }
};

enum WizardState {
  kNoPage = 0,
  kWelcome = 1,
  kDirectory = 2,
  kCopying = 3,
  kSucceeded = 4,
  kFailed = 5,
};

// Flag words of ShowMessage.
inline constexpr uint32_t kMessageError = 0x1000001;     // error, OK
inline constexpr uint32_t kMessageQuestion = 0x2000002;  // question, Yes/No
inline constexpr uint32_t kMessagePlain = 1;             // plain, OK

// A modal message box titled with `owner`'s title. Returns 1 for Yes, 2 for
// No, 3 for OK, 0 for anything else (closed, Escape).
// `cause`, then "Log of this run: <path>" when the run has a log.
WideString WithLogPath(const WideString& cause);

// `secondary`: a second, smaller text under `text` (the cause of a failure).
int ShowMessage(const CWnd* owner, const WideString& text, uint32_t flags,
                const WideString& secondary = WideString());

class CInstallerDlg : public CWnd {
 public:
  // Initialises the toolkit; ToolkitReady() tells whether a display opened.
  CInstallerDlg(int argc, char** argv, bool silent, const NarrowString& title,
                const WideString& language, bool usecwd);
  ~CInstallerDlg() override;
  CInstallerDlg(const CInstallerDlg&) = delete;
  CInstallerDlg& operator=(const CInstallerDlg&) = delete;

  bool ToolkitReady() const { return toolkitReady_; }
  WideString GetTitle() const override;

  // The run sequence: preparation, window, welcome page, then the wizard's
  // main loop or, silent, the copy at once.
  void Run();
  // Checks the kit and proposes the target; shows one message and answers
  // false when the installation cannot go on.
  bool Prepare();
  void CreateMainWindow();
  void ShowWelcomePage();
  void ShowDirSelectPage();
  // Copies on the worker thread while the page follows the channel; returns
  // when the copy has ended and its final page is shown.
  void StartCopying();
  void ShowSuccessPage();
  void ShowErrorPage();
  void ShowCancelPage();
  // After a rollback that could not put every file back: says so and names
  // them, instead of the error or cancel page's "has not been changed".
  void ShowIncompletePage(const std::vector<UnrestoredFile>& unrestored);
  void OnFinish();
  void RequestCancel();
  // Cancel or Escape: stops a running copy, else asks and closes.
  void StopOrCancel();

  static void OnBackClicked(GtkWidget* button, gpointer dialog);
  static void OnNextClicked(GtkWidget* button, gpointer dialog);
  static void OnCancelClicked(GtkWidget* button, gpointer dialog);
  static gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer dialog);
  static gboolean OnDeleteEvent(GtkWidget* window, GdkEvent* event, gpointer dialog);
  static gboolean OnInterrupt(GIOChannel* source, GIOCondition condition, gpointer dialog);

  // For the preparation, tools and tests.
  void SetKitPath(const WideString& path) { kitPath_ = path; }
  void SetTarget(const WideString& target) { target_ = target; }
  // The directory the command line asked for; Prepare() takes it instead of
  // the proposed one when it is not empty.
  void SetRequestedTarget(const WideString& target) { requestedTarget_ = target; }
  // How long the copy waits for another installation into the same
  // directory (seconds; negative: as long as it takes).
  void SetLockWaitSeconds(int seconds) { session_.SetLockWaitSeconds(seconds); }
  // The interrupt (SIGINT, SIGTERM, SIGHUP) that ended the run, 0 if none.
  // During the copy it asks the job to roll back; Run() returns once it has.
  int interruptedBy() const { return interruptedBy_; }
  const WideString& target() const { return target_; }
  int state() const { return state_; }
  GtkWidget* window() const { return window_; }
  GtkWidget* backButton() const { return back_; }
  GtkWidget* nextButton() const { return next_; }
  GtkWidget* cancelButton() const { return cancel_; }
  MessagePage* welcomePage() const { return welcome_.get(); }
  DirSelectPage* dirPage() const { return dirPage_.get(); }
  ProgressPage* progressPage() const { return progress_.get(); }
  SuccessFinalPage* successPage() const { return success_.get(); }
  MessagePage* errorPage() const { return error_.get(); }
  MessagePage* cancelPage() const { return cancelled_.get(); }
  MessagePage* incompletePage() const { return incomplete_.get(); }
  KitReader& reader() { return reader_; }
  ProgressChannel& TEST_channel() { return session_.TEST_channel(); }
  void TEST_SetFinishPauseMs(int ms) { session_.SetFinishPauseMs(ms); }

 private:
  void InitWindow();
  void ShowPage(WizardDialogPage* page);
  void SetFinishButtons();
  void LayoutButtons();
  // The window's size and the pages' positions for the texts at the
  // desktop's font.
  void MeasureWindow();

  bool silent_;
  WideString target_;
  WideString requestedTarget_;
  WideString kitPath_;
  KitReader reader_;
  WideString language_;
  int state_ = kNoPage;
  std::unique_ptr<MessagePage> welcome_;
  std::unique_ptr<DirSelectPage> dirPage_;
  WizardDialogPage* current_ = nullptr;
  std::unique_ptr<ProgressPage> progress_;
  std::unique_ptr<SuccessFinalPage> success_;
  std::unique_ptr<MessagePage> error_;
  std::unique_ptr<MessagePage> cancelled_;
  std::unique_ptr<MessagePage> incomplete_;
  bool usecwd_;
  Picture sidePicture_;
  WizardLayout layout_;
  GtkWidget* back_ = nullptr;
  GtkWidget* next_ = nullptr;
  GtkWidget* cancel_ = nullptr;
  bool confirmCancel_ = true;
  int argc_;
  char** argv_;
  int width_ = 500;  // as the layout says
  int height_ = 360;
  NarrowString title_;
  GtkWidget* window_ = nullptr;
  GtkWidget* fixed_ = nullptr;
  GdkPixbuf* icon_ = nullptr;
  bool toolkitReady_ = false;
  bool copyRunning_ = false;  // from the start of the copy to its final report
  int interruptedBy_ = 0;
  guint interruptWatch_ = 0;
  // Last: destroyed first, so a running copy ends before the reader it
  // reads from goes away.
  CopySession session_;
};

}  // namespace qorv

#endif  // QORV_UI_INSTALLER_DLG_H_
