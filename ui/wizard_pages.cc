#include "ui/wizard_pages.h"

#include "base/text_convert.h"
#include "res/string_table.h"

namespace qorv {

GtkWidget* WizardDialogPage::AddPicture(GdkPixbuf* picture) {
  GtkWidget* image = gtk_image_new_from_pixbuf(picture);
  gtk_container_add(GTK_CONTAINER(container_), image);
  widgets_.push_back(image);
  return image;
}

GtkWidget* WizardDialogPage::CreateTextLabel() {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_widget_set_size_request(label, 330, 250);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  return Put(label, 170, 10);
}

GtkWidget* WizardDialogPage::Put(GtkWidget* widget, int x, int y) {
  gtk_fixed_put(GTK_FIXED(container_), widget, x, y);
  widgets_.push_back(widget);
  return widget;
}

MessagePage::MessagePage(GtkWidget* container, GdkPixbuf* picture, const WideString& message)
    : WizardDialogPage(container) {
  picture_ = AddPicture(picture);
  label_ = CreateTextLabel();
  SetText(message);
}

void MessagePage::SetText(const WideString& message) {
  gtk_label_set_text(GTK_LABEL(label_), toNarrow(message).c_str());
}

SuccessFinalPage::SuccessFinalPage(GtkWidget* container, GdkPixbuf* picture,
                                   const WideString& message)
    : MessagePage(container, picture, message) {
  check_ = gtk_check_button_new_with_label(toNarrow(LookupText("IDS_SUCCESS_OPENDESCR")).c_str());
  widgets_.push_back(check_);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check_), TRUE);
  gtk_fixed_put(GTK_FIXED(container_), check_, 170, 170);
}

bool SuccessFinalPage::GetOpenDescr() const {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check_)) != 0;
}

DirSelectPage::DirSelectPage(GtkWidget* container, GdkPixbuf* picture)
    : WizardDialogPage(container) {
  picture_ = AddPicture(picture);
  prompt_ = CreateTextLabel();
  gtk_label_set_text(GTK_LABEL(prompt_), toNarrow(LookupText("IDS_DESTINATION_PROMPT")).c_str());
  caption_ = Put(gtk_label_new(toNarrow(LookupText("IDS_TEMPLATE_CATALOG")).c_str()), 170, 255);
  entry_ = gtk_entry_new();
  gtk_widget_set_size_request(entry_, 280, 30);
  Put(entry_, 170, 275);
  browse_ = gtk_button_new_with_label("...");
  gtk_widget_set_size_request(browse_, 30, 30);
  Put(browse_, 460, 275);
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

ProgressPage::ProgressPage(GtkWidget* container, int barWidth) : WizardDialogPage(container) {
  status_ = Put(gtk_label_new(nullptr), 10, 130);
  bar_ = gtk_progress_bar_new();
  gtk_widget_set_size_request(bar_, barWidth, 20);
  Put(bar_, 10, 150);
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
