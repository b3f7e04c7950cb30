// The wizard's pages: sets of widgets placed at fixed positions in the
// dialog's fixed container. The dialog shows one page at a time by walking
// its widget list, and fills and reads the pages through the operations
// below. UI thread only.
#ifndef QORV_UI_WIZARD_PAGES_H_
#define QORV_UI_WIZARD_PAGES_H_

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "base/text_string.h"

namespace qorv {

class WizardDialogPage {
 public:
  explicit WizardDialogPage(GtkWidget* container) : container_(container) {}
  virtual void OnShow() {}

  const std::vector<GtkWidget*>& widgets() const { return widgets_; }

 protected:
  // Adds the side picture at the container's origin.
  GtkWidget* AddPicture(GdkPixbuf* picture);
  // The wrapping label at (170, 10), 330 x 250, top-left aligned.
  GtkWidget* CreateTextLabel();
  GtkWidget* Put(GtkWidget* widget, int x, int y);

  GtkWidget* container_;
  std::vector<GtkWidget*> widgets_;
};

// The welcome, error and cancel pages: the side picture and a message.
class MessagePage : public WizardDialogPage {
 public:
  MessagePage(GtkWidget* container, GdkPixbuf* picture, const WideString& message);
  void SetText(const WideString& message);
  GtkWidget* label() const { return label_; }

 protected:
  GtkWidget* picture_;
  GtkWidget* label_;
};

// The page after a successful copy, with the "open the description" check.
class SuccessFinalPage : public MessagePage {
 public:
  SuccessFinalPage(GtkWidget* container, GdkPixbuf* picture, const WideString& message);
  bool GetOpenDescr() const;
  GtkWidget* checkButton() const { return check_; }

 private:
  GtkWidget* check_;
};

// The choice of the template directory: prompt, caption, entry and "...".
class DirSelectPage : public WizardDialogPage {
 public:
  DirSelectPage(GtkWidget* container, GdkPixbuf* picture);
  // Keys go to the entry: typing replaces the directory, Enter goes on.
  void OnShow() override;
  void SetPath(const WideString& path);
  // As typed: no trimming, no check.
  WideString GetPath() const;
  GtkWidget* entry() const { return entry_; }
  GtkWidget* browseButton() const { return browse_; }
  GtkWidget* caption() const { return caption_; }

  // The folder chooser: an accepted folder goes into the entry unchanged.
  static void OnBrowse(GtkWidget* button, gpointer page);

 private:
  GtkWidget* picture_;
  GtkWidget* entry_;
  GtkWidget* prompt_;
  GtkWidget* caption_;
  GtkWidget* browse_;
};

// The copying page: a status line and the progress bar.
class ProgressPage : public WizardDialogPage {
 public:
  ProgressPage(GtkWidget* container, int barWidth);
  // "Copying complete..." at exactly 100, else "Files being copied...";
  // the bar shows percent / 100.
  void SetProgress(int percent);
  // A text shown instead of "Files being copied..." while it is not empty.
  void SetNotice(const WideString& notice);
  GtkWidget* statusLabel() const { return status_; }
  GtkWidget* progressBar() const { return bar_; }

 private:
  GtkWidget* status_;
  GtkWidget* bar_;
  NarrowString progressText_;
  NarrowString finishText_;
  NarrowString notice_;
};

// A modal message box of `type` with `text` and Yes and No buttons in the
// current language (with their keyboard shortcuts), whatever the process
// locale, or with an OK button.
GtkWidget* NewMessageBox(GtkMessageType type, const std::string& text, bool yesNo);

}  // namespace qorv

#endif  // QORV_UI_WIZARD_PAGES_H_
