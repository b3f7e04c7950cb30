// The wizard's pages: sets of widgets placed at fixed positions in the
// dialog's fixed container. The dialog shows one page at a time by walking
// its widget list, and fills and reads the pages through the operations
// below. UI thread only.
//
// The positions come from a WizardLayout: 500 x 360 with 80 x 30 buttons,
// the text column 330 pixels wide at x = 170. A desktop font too large for
// those sizes makes the column wider and the page taller, only as far as
// the texts need (MeasureLayout()).
#ifndef QORV_UI_WIZARD_PAGES_H_
#define QORV_UI_WIZARD_PAGES_H_

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "base/text_string.h"
#include "ui/pictures.h"

namespace qorv {

struct WizardLayout {
  int width = 500;
  int height = 360;
  int textWidth = 330;   // the text column at x = 170
  int textHeight = 250;  // its message labels, from y = 10
  int checkY = 170;      // the final page's check box
  int captionY = 255;    // the directory page's caption,
  int entryY = 275;      // its entry and "..." button,
  int entryHeight = 30;
  int browseWidth = 30;   // the "..." button at the column's end
  int statusY = 130;      // the copying page's status line
  int barY = 150;         // and its bar
  int buttonHeight = 30;  // Back, Next, Cancel
  int buttonsY = 320;
  int separatorY = 310;  // 5 pixels high
};

// The texts whose size decides the layout.
struct LayoutTexts {
  std::vector<WideString> messages;  // the pages' wrapped texts
  WideString successMessage;         // the one above the check box
  // The rows of buttons the pages show (Back, Next, Cancel; Finish, Cancel).
  std::vector<std::vector<WideString>> buttonRows;
};

// Measures the texts with widgets put into `container` (a fixed container
// in the window, for the desktop's font and theme) and removed again.
WizardLayout MeasureLayout(GtkWidget* container, const LayoutTexts& texts);

class WizardDialogPage {
 public:
  WizardDialogPage(GtkWidget* container, const WizardLayout& layout)
      : container_(container), layout_(layout) {}
  virtual void OnShow() {}

  const std::vector<GtkWidget*>& widgets() const { return widgets_; }

 protected:
  // Adds the side picture at the container's origin.
  GtkWidget* AddPicture(const Picture& picture);
  // The wrapping label at (170, 10), 330 x 250 (as the layout says),
  // top-left aligned.
  GtkWidget* CreateTextLabel();
  GtkWidget* Put(GtkWidget* widget, int x, int y);

  GtkWidget* container_;
  WizardLayout layout_;
  std::vector<GtkWidget*> widgets_;
};

// The welcome, error and cancel pages: the side picture and a message.
class MessagePage : public WizardDialogPage {
 public:
  MessagePage(GtkWidget* container, const WizardLayout& layout, const Picture& picture,
              const WideString& message);
  void SetText(const WideString& message);
  GtkWidget* label() const { return label_; }

 protected:
  GtkWidget* picture_;
  GtkWidget* label_;
};

// The page after a successful copy, with the "open the description" check.
class SuccessFinalPage : public MessagePage {
 public:
  SuccessFinalPage(GtkWidget* container, const WizardLayout& layout, const Picture& picture,
                   const WideString& message);
  bool GetOpenDescr() const;
  GtkWidget* checkButton() const { return check_; }

 private:
  GtkWidget* check_;
};

// The choice of the template directory: prompt, caption, entry and "...".
class DirSelectPage : public WizardDialogPage {
 public:
  DirSelectPage(GtkWidget* container, const WizardLayout& layout, const Picture& picture);
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
  ProgressPage(GtkWidget* container, const WizardLayout& layout);
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
