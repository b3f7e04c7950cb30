#include "ui/wizard_pages.h"

#include "base/text_convert.h"
#include "res/string_table.h"
#include "ui/toolkit_loader.h"

namespace qorv {

namespace {

int Larger(int a, int b) { return a > b ? a : b; }

GtkRequisition NaturalSize(GtkWidget* widget) {
  gtk_widget_set_size_request(widget, -1, -1);
  GtkRequisition size{};
  gtk_widget_size_request(widget, &size);
  return size;
}

// A text that runs to more than this many pixels is cut rather than make
// the window taller than most screens.
constexpr int kTallestText = 560;

}  // namespace

WizardLayout MeasureLayout(GtkWidget* container, const LayoutTexts& texts) {
  WizardLayout layout;
  // Shown, as GTK 3 measures only what is shown; the window is not yet.
  auto put = [container](GtkWidget* widget) {
    gtk_fixed_put(GTK_FIXED(container), widget, 0, 0);
    gtk_widget_show(widget);
    return widget;
  };
  GtkWidget* check =
      put(gtk_check_button_new_with_label(toNarrow(LookupText("IDS_SUCCESS_OPENDESCR")).c_str()));
  GtkWidget* caption = put(gtk_label_new(toNarrow(LookupText("IDS_TEMPLATE_CATALOG")).c_str()));
  GtkWidget* status = put(gtk_label_new(toNarrow(LookupText("IDS_PROGRESS_START")).c_str()));
  GtkWidget* entry = put(gtk_entry_new());
  GtkWidget* browse = put(gtk_button_new_with_label("..."));
  GtkWidget* label = put(gtk_label_new(nullptr));
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);

  // Wider: the check box's text and the caption on one line each.
  const GtkRequisition checkSize = NaturalSize(check);
  // The column runs to the window's edge; what is on one line keeps a
  // margin of 10 pixels there.
  layout.textWidth = Larger(layout.textWidth, checkSize.width + 10);
  layout.textWidth = Larger(layout.textWidth, NaturalSize(caption).width + 10);
  auto heightOf = [&](const WideString& text) {
    gtk_label_set_text(GTK_LABEL(label), toNarrow(text).c_str());
    int height = Shim().heightForWidth(label, layout.textWidth);
    return height < kTallestText ? height : kTallestText;
  };
  // Taller: every message in full, the check box under its message, the
  // caption under the prompt and over the entry.
  for (const WideString& text : texts.messages) {
    layout.textHeight = Larger(layout.textHeight, heightOf(text));
  }
  layout.checkY = Larger(layout.checkY, 10 + heightOf(texts.successMessage) + 8);
  const int captionHeight = NaturalSize(caption).height;
  layout.captionY =
      Larger(layout.captionY, 10 + heightOf(LookupText("IDS_DESTINATION_PROMPT")) + 5);
  layout.entryHeight = Larger(layout.entryHeight, NaturalSize(entry).height);
  layout.entryY = layout.captionY + Larger(20, captionHeight + 2);
  layout.barY = layout.statusY + Larger(20, NaturalSize(status).height);
  // Each button row: the margins, a gap before Cancel, and buttons of at
  // least 80 x 30.
  for (const std::vector<WideString>& buttons : texts.buttonRows) {
    int row = 10 + 20 + 10;
    for (const WideString& text : buttons) {
      GtkWidget* button = put(gtk_button_new_with_label(toNarrow(text).c_str()));
      // As Next: a button that can be the default asks for a frame around it.
      gtk_widget_set_can_default(button, TRUE);
      const GtkRequisition size = NaturalSize(button);
      layout.buttonHeight = Larger(layout.buttonHeight, size.height);
      row += Larger(80, size.width);
      gtk_widget_destroy(button);
    }
    layout.width = Larger(layout.width, row);
  }
  const GtkRequisition browseSize = NaturalSize(browse);
  layout.browseWidth = Larger(layout.browseWidth, browseSize.width);
  layout.entryHeight = Larger(layout.entryHeight, browseSize.height);
  for (GtkWidget* widget : {check, caption, status, entry, browse, label}) {
    gtk_widget_destroy(widget);
  }

  int bottom = layout.entryY + layout.entryHeight;  // 305 at the usual sizes
  bottom = Larger(bottom, 10 + layout.textHeight);
  bottom = Larger(bottom, layout.checkY + checkSize.height);
  bottom = Larger(bottom, layout.barY + 20);
  layout.width = Larger(layout.width, 170 + layout.textWidth);
  // Under the pages: a gap, the separator, a gap, the buttons, the margin
  // (5, 5, 5, 30, 10). A theme's taller entry and buttons (GTK 3's are 34
  // pixels) take up to 10 pixels of the gaps and the margin before the
  // window grows.
  const int over = bottom + 5 + 5 + 5 + layout.buttonHeight + 10 - layout.height;
  const int squeeze = over < 0 ? 0 : over > 10 ? 10 : over;
  const int margin = 10 - (squeeze < 4 ? squeeze : 4);
  const int gaps = 10 - (squeeze - (10 - margin));
  if (over > 10) layout.height += over - 10;
  layout.buttonsY = layout.height - margin - layout.buttonHeight;
  layout.separatorY = layout.buttonsY - gaps / 2 - 5;
  return layout;
}

GtkWidget* WizardDialogPage::AddPicture(const Picture& picture) {
  GtkWidget* image = Shim().newScaledImage(picture.pixels, picture.scale);
  gtk_container_add(GTK_CONTAINER(container_), image);
  widgets_.push_back(image);
  return image;
}

GtkWidget* WizardDialogPage::CreateTextLabel() {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_widget_set_size_request(label, layout_.textWidth, layout_.textHeight);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  return Put(label, 170, 10);
}

GtkWidget* WizardDialogPage::Put(GtkWidget* widget, int x, int y) {
  gtk_fixed_put(GTK_FIXED(container_), widget, x, y);
  widgets_.push_back(widget);
  return widget;
}

MessagePage::MessagePage(GtkWidget* container, const WizardLayout& layout, const Picture& picture,
                         const WideString& message)
    : WizardDialogPage(container, layout) {
  picture_ = AddPicture(picture);
  label_ = CreateTextLabel();
  SetText(message);
}

void MessagePage::SetText(const WideString& message) {
  gtk_label_set_text(GTK_LABEL(label_), toNarrow(message).c_str());
}

SuccessFinalPage::SuccessFinalPage(GtkWidget* container, const WizardLayout& layout,
                                   const Picture& picture, const WideString& message)
    : MessagePage(container, layout, picture, message) {
  check_ = gtk_check_button_new_with_label(toNarrow(LookupText("IDS_SUCCESS_OPENDESCR")).c_str());
  widgets_.push_back(check_);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check_), TRUE);
  gtk_fixed_put(GTK_FIXED(container_), check_, 170, layout_.checkY);
}

bool SuccessFinalPage::GetOpenDescr() const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check_)) != 0;
}

DirSelectPage::DirSelectPage(GtkWidget* container, const WizardLayout& layout,
                             const Picture& picture)
    : WizardDialogPage(container, layout) {
  picture_ = AddPicture(picture);
  prompt_ = CreateTextLabel();
  gtk_label_set_text(GTK_LABEL(prompt_), toNarrow(LookupText("IDS_DESTINATION_PROMPT")).c_str());
  caption_ = Put(gtk_label_new(toNarrow(LookupText("IDS_TEMPLATE_CATALOG")).c_str()), 170,
                 layout_.captionY);
  // The entry, then "..." at the end of the text column.
  entry_ = gtk_entry_new();
  gtk_widget_set_size_request(entry_, layout_.textWidth - 20 - layout_.browseWidth,
                              layout_.entryHeight);
  Put(entry_, 170, layout_.entryY);
  browse_ = gtk_button_new_with_label("...");
  gtk_widget_set_size_request(browse_, layout_.browseWidth, layout_.entryHeight);
  Put(browse_, 170 + layout_.textWidth - 10 - layout_.browseWidth, layout_.entryY);
  g_signal_connect(browse_, "clicked", G_CALLBACK(&DirSelectPage::OnBrowse), this);
  // For screen readers: the caption names the entry, and the "..." button
  // says what it does (sighted users get the same as a tooltip).
  gtk_label_set_mnemonic_widget(GTK_LABEL(caption_), entry_);
  const NarrowString choose = toNarrow(LookupText("IDS_CHOOSEDIR_TITLE"));
  atk_object_set_name(gtk_widget_get_accessible(browse_), choose.c_str());
  gtk_widget_set_tooltip_text(browse_, choose.c_str());
  // Enter in the entry is Next.
  gtk_entry_set_activates_default(GTK_ENTRY(entry_), TRUE);
}

void DirSelectPage::OnShow() { gtk_widget_grab_focus(entry_); }

GtkWidget* NewMessageBox(GtkMessageType type, const std::string& text, bool yesNo) {
  GtkWidget* box =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type,
                             yesNo ? GTK_BUTTONS_NONE : GTK_BUTTONS_OK, "%s", text.c_str());
  if (yesNo) {
    gtk_dialog_add_button(GTK_DIALOG(box), toNarrow(LookupText("IDS_BUTTON_YES")).c_str(),
                          GTK_RESPONSE_YES);
    gtk_dialog_add_button(GTK_DIALOG(box), toNarrow(LookupText("IDS_BUTTON_NO")).c_str(),
                          GTK_RESPONSE_NO);
  }
  return box;
}

void DirSelectPage::SetPath(const WideString& path) {
  gtk_entry_set_text(GTK_ENTRY(entry_), toNarrow(path).c_str());
}

WideString DirSelectPage::GetPath() const {
  const gchar* text = gtk_entry_get_text(GTK_ENTRY(entry_));
  if (text == nullptr) return WideString();
  return toWide(NarrowString(text));
}

void DirSelectPage::OnBrowse(GtkWidget* /*button*/, gpointer data) {
  try {
    auto* page = static_cast<DirSelectPage*>(data);
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        nullptr, nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, GTK_STOCK_CANCEL,
        GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
      gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
      if (folder != nullptr) {
        gtk_entry_set_text(GTK_ENTRY(page->entry_), folder);
        g_free(folder);
      }
    }
    gtk_widget_destroy(chooser);
  } catch (...) {
    // Nothing may unwind through the toolkit.
  }
}

ProgressPage::ProgressPage(GtkWidget* container, const WizardLayout& layout)
    : WizardDialogPage(container, layout) {
  status_ = Put(gtk_label_new(nullptr), 10, layout_.statusY);
  bar_ = gtk_progress_bar_new();
  gtk_widget_set_size_request(bar_, layout_.width - 20, 20);
  Put(bar_, 10, layout_.barY);
  progressText_ = toNarrow(LookupText("IDS_PROGRESS_START"));
  finishText_ = toNarrow(LookupText("IDS_INSTALL_FINISH"));
  SetProgress(0);
}

void ProgressPage::SetProgress(int percent) {
  const NarrowString& text = percent == 100     ? finishText_
                             : !notice_.empty() ? notice_
                                                : progressText_;
  gtk_label_set_text(GTK_LABEL(status_), text.c_str());
  double fraction = percent / 100.0;
  // GTK refuses fractions outside 0..1 with a warning; the page never asks.
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), fraction);
}

void ProgressPage::SetNotice(const WideString& notice) { notice_ = toNarrow(notice); }

}  // namespace qorv
