#include "ui/installer_dlg.h"

#include <gdk/gdkkeysyms.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "copy/run_log.h"
#include "fs/error_codes.h"
#include "res/string_table.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"
#include "ui/toolkit_loader.h"

namespace qorv {
namespace {

using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }
std::string N(const WideString& s) { return toNarrow(s).c_str(); }

std::string LabelOf(GtkWidget* widget) {
  if (GTK_IS_BUTTON(widget)) return gtk_button_get_label(GTK_BUTTON(widget));
  return gtk_label_get_text(GTK_LABEL(widget));
}

bool Visible(GtkWidget* w) { return gtk_widget_get_visible(w) != FALSE; }
bool Sensitive(GtkWidget* w) { return gtk_widget_get_sensitive(w) != FALSE; }

// Answers the next modal box (message box or folder chooser) from inside its
// own loop: `answer` gets the box and returns the response to give, or 0 to
// look again at the next tick.
class ModalAnswerer {
 public:
  explicit ModalAnswerer(std::function<gint(GtkWidget*)> answer) : answer_(std::move(answer)) {
    source_ = g_timeout_add(100, &ModalAnswerer::Tick, this);
  }
  ~ModalAnswerer() {
    if (source_ != 0) g_source_remove(source_);
  }
  const std::vector<std::string>& texts() const { return texts_; }
  const std::vector<std::string>& secondaryTexts() const { return secondary_; }

 private:
  static gboolean Tick(gpointer data) {
    auto* self = static_cast<ModalAnswerer*>(data);
    GList* windows = gtk_window_list_toplevels();
    for (GList* it = windows; it != nullptr; it = it->next) {
      GtkWidget* w = GTK_WIDGET(it->data);
      if (!GTK_IS_DIALOG(w) || !gtk_widget_get_mapped(w)) continue;
      if (GTK_IS_MESSAGE_DIALOG(w)) {
        gchar* text = nullptr;
        g_object_get(w, "text", &text, nullptr);
        self->texts_.push_back(text != nullptr ? text : "");
        g_free(text);
        gchar* secondary = nullptr;
        g_object_get(w, "secondary-text", &secondary, nullptr);
        self->secondary_.push_back(secondary != nullptr ? secondary : "");
        g_free(secondary);
      }
      gint response = self->answer_(w);
      if (response != 0) gtk_dialog_response(GTK_DIALOG(w), response);
      break;
    }
    g_list_free(windows);
    return TRUE;  // again: a folder chooser still loading may ignore one
  }

  std::function<gint(GtkWidget*)> answer_;
  guint source_ = 0;
  std::vector<std::string> texts_;
  std::vector<std::string> secondary_;
};

class InstallerDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::MakeDirs(dir_ / "home");
    testing::MakeDirs(dir_ / "tmp");
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    testing::TestKit kit;
    kit.descriptions = {testing::Description(u"en", u"Trade", u"Acme", u"doc\\readme.txt"),
                        testing::Description(u"ru", u"Торговля", u"Акме", u"")};
    kit.entries = {{u"a.cf", "A"}, {u"doc\\readme.txt", "read me"}};
    kit.WriteTo(dir_ / "qorv.vkt");
  }
  void TearDown() override {
    if (dialog_ && destroyed_ == false && dialog_->window() != nullptr) {
      gtk_widget_destroy(dialog_->window());
    }
    dialog_.reset();
    SetCurrentLanguage(0);
  }

  // The dialog after preparation, its window built and the welcome shown.
  CInstallerDlg& Open(int language = 3, const char16_t* code = u"en", bool silent = false,
                      const std::string& requested = std::string()) {
    SetCurrentLanguage(language);
    dialog_ = std::make_unique<CInstallerDlg>(
        0, nullptr, silent, toNarrow(LookupText("IDR_MAINFRAME")), WideString(code), false);
    dialog_->SetKitPath(W(dir_ / "qorv.vkt"));
    dialog_->TEST_SetFinishPauseMs(0);
    dialog_->SetRequestedTarget(W(requested));
    EXPECT_TRUE(dialog_->Prepare());
    dialog_->CreateMainWindow();
    g_signal_connect(dialog_->window(), "destroy", G_CALLBACK(+[](GtkWidget*, gpointer flag) {
                       *static_cast<bool*>(flag) = true;
                     }),
                     &destroyed_);
    dialog_->ShowWelcomePage();
    return *dialog_;
  }
  void Click(GtkWidget* button) { gtk_button_clicked(GTK_BUTTON(button)); }
  void PressEscape() {
    GdkEventKey event{};
    event.type = GDK_KEY_PRESS;
    event.keyval = GDK_Escape;
    gboolean handled = FALSE;
    g_signal_emit_by_name(dialog_->window(), "key_press_event", &event, &handled);
    EXPECT_TRUE(handled);
  }

  testing::ScratchDir dir_;
  std::unique_ptr<CInstallerDlg> dialog_;
  bool destroyed_ = false;
};

TEST_F(InstallerDlgTest, WizardHappyPathButtonStatesAndTexts) {
  CInstallerDlg& d = Open();
  // Welcome: Back visible and insensitive, Next "Next >", Cancel sensitive.
  EXPECT_EQ(d.state(), kWelcome);
  EXPECT_TRUE(Visible(d.backButton()));
  EXPECT_FALSE(Sensitive(d.backButton()));
  EXPECT_EQ(LabelOf(d.nextButton()), "Next >");
  EXPECT_TRUE(Sensitive(d.nextButton()));
  EXPECT_TRUE(Sensitive(d.cancelButton()));
  EXPECT_EQ(LabelOf(d.welcomePage()->label()),
            "Welcome to the product installation program Trade (Acme).");
  std::string proposed = dir_ / "home/.qorv/Vexa/vexa8/tmplts/";

  Click(d.nextButton());  // directory page
  EXPECT_EQ(d.state(), kDirectory);
  EXPECT_TRUE(Sensitive(d.backButton()));
  EXPECT_TRUE(Sensitive(d.nextButton()));
  EXPECT_EQ(N(d.dirPage()->GetPath()), proposed);
  EXPECT_TRUE(Visible(d.dirPage()->entry()));
  EXPECT_FALSE(Visible(d.welcomePage()->label()));

  // Back loses an edit; Next shows the target again.
  d.dirPage()->SetPath(W("/elsewhere"));
  Click(d.backButton());
  EXPECT_EQ(d.state(), kWelcome);
  Click(d.nextButton());
  EXPECT_EQ(N(d.dirPage()->GetPath()), proposed);

  // An empty directory is refused with a plain notice.
  d.dirPage()->SetPath(WideString());
  {
    ModalAnswerer ok([](GtkWidget*) { return GTK_RESPONSE_OK; });
    Click(d.nextButton());
    ASSERT_EQ(ok.texts().size(), 1u);
    EXPECT_EQ(ok.texts()[0], "Specify correct path to template directory.");
  }
  EXPECT_EQ(d.state(), kDirectory);

  // Backslashes become slashes; the copy runs and the success page follows.
  std::string target = dir_ / "my templates\\Шаблоны";
  d.dirPage()->SetPath(W(target));
  Click(d.nextButton());
  EXPECT_EQ(d.state(), kSucceeded);
  EXPECT_EQ(N(d.target()), dir_ / "my templates/Шаблоны");
  EXPECT_EQ(testing::ReadFile(dir_ / "my templates/Шаблоны/a.cf"), "A");
  EXPECT_FALSE(Visible(d.backButton()));
  EXPECT_TRUE(Visible(d.nextButton()));
  EXPECT_TRUE(Sensitive(d.nextButton()));
  EXPECT_EQ(LabelOf(d.nextButton()), "Finish");
  EXPECT_FALSE(Sensitive(d.cancelButton()));
  EXPECT_TRUE(gtk_widget_has_default(d.nextButton()));
  EXPECT_EQ(LabelOf(d.successPage()->label()), "Configuration installed successfully.");
  EXPECT_TRUE(d.successPage()->GetOpenDescr());
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d.successPage()->checkButton()), FALSE);
  EXPECT_FALSE(d.successPage()->GetOpenDescr());
  EXPECT_EQ(testing::ReadFile(dir_ / "home/.Vexa/vexalaunch/vexalaunch.cfg"),
            "ConfigurationTemplatesLocation=" + dir_ / "my templates/Шаблоны\n");

  Click(d.nextButton());  // Finish
  EXPECT_TRUE(destroyed_);
}

// "Open description" where no xdg-open can be found: nothing to show (the
// window goes), and the log says why the document did not open.
TEST_F(InstallerDlgTest, ADescriptionThatCannotBeOpenedIsLogged) {
  testing::ScopedEnv state("XDG_STATE_HOME", dir_ / "state");
  testing::ScopedEnv path("PATH", dir_ / "tmp");
  const char* args[] = {"qorv-setup"};
  const std::string log = OpenRunLog(1, args);
  ASSERT_FALSE(log.empty());
  CInstallerDlg& d = Open();
  Click(d.nextButton());
  d.dirPage()->SetPath(W(dir_ / "t"));
  Click(d.nextButton());
  ASSERT_EQ(d.state(), kSucceeded);
  ASSERT_TRUE(d.successPage()->GetOpenDescr());
  Click(d.nextButton());  // Finish
  CloseRunLog();
  EXPECT_NE(testing::ReadFile(log).find("cannot open the description " +
                                        dir_ / "t/doc/readme.txt with xdg-open: "),
            std::string::npos)
      << testing::ReadFile(log);
}

TEST_F(InstallerDlgTest, RequestedDirectoryIsShownUncleaned) {
  // The command line's directory replaces the proposal, URL-like text and
  // all: the cleaning is for what the launcher's file proposes.
  std::string requested = dir_ / "http://not-a-url\nline";
  CInstallerDlg& d = Open(3, u"en", false, requested);
  Click(d.nextButton());
  EXPECT_EQ(N(d.dirPage()->GetPath()), requested);
  EXPECT_EQ(N(d.target()), requested);
}

TEST_F(InstallerDlgTest, TextsInRussianAndGerman) {
  CInstallerDlg& ru = Open(1, u"ru");
  EXPECT_EQ(LabelOf(ru.backButton()), "< Назад");
  EXPECT_EQ(LabelOf(ru.nextButton()), "Далее >");
  EXPECT_EQ(LabelOf(ru.cancelButton()), "Отмена");
  EXPECT_EQ(LabelOf(ru.welcomePage()->label()),
            "Добро пожаловать в программу установки продукта Торговля (Акме).");
  Click(ru.nextButton());
  EXPECT_EQ(LabelOf(ru.dirPage()->widgets()[2]), "Каталог шаблонов:");
  TearDown();
  destroyed_ = false;

  CInstallerDlg& de = Open(7, u"de");
  EXPECT_EQ(LabelOf(de.nextButton()), "Weiter >");
  // No German description in the kit: the default names.
  EXPECT_EQ(LabelOf(de.welcomePage()->label()),
            "Willkommen beim Installationsprogramm des Produkts <Produkt> (<Lieferant>).");
}

// The widgets of the shown page that ask for more room than they have, or
// that reach beyond the window: "<page>: <text>" each.
std::vector<std::string> CutTexts(GtkWidget* window, const std::string& page) {
  std::vector<std::string> cut;
  GtkAllocation frame{};
  gtk_widget_get_allocation(window, &frame);
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
  for (GList* it = children; it != nullptr; it = it->next) {
    GtkWidget* widget = GTK_WIDGET(it->data);
    if (!gtk_widget_get_visible(widget)) continue;
    GtkAllocation room{};
    gtk_widget_get_allocation(widget, &room);
    bool fits = room.x + room.width <= frame.width && room.y + room.height <= frame.height;
    std::string text;
    if (GTK_IS_LABEL(widget) || GTK_IS_BUTTON(widget)) {
      text = LabelOf(widget);
      if (GTK_IS_LABEL(widget) && gtk_label_get_line_wrap(GTK_LABEL(widget))) {
        fits = fits && Shim().heightForWidth(widget, room.width) <= room.height;
      } else {
        gint width = -1;
        gint height = -1;
        gtk_widget_get_size_request(widget, &width, &height);
        gtk_widget_set_size_request(widget, -1, -1);
        GtkRequisition needed{};
        gtk_widget_size_request(widget, &needed);
        gtk_widget_set_size_request(widget, width, height);
        fits = fits && needed.width <= room.width && needed.height <= room.height;
      }
    }
    if (!fits) cut.push_back(page + ": " + text);
  }
  g_list_free(children);
  return cut;
}

TEST_F(InstallerDlgTest, NoTextIsCutInAnyLanguageAtTheSizesPeopleRead) {
  GtkSettings* settings = gtk_settings_get_default();
  gchar* usual = nullptr;
  g_object_get(settings, "gtk-font-name", &usual, nullptr);
  const std::string usualFont = usual != nullptr ? usual : "Sans 10";
  g_free(usual);
  const char* const codes[] = {"ru", "uk", "en", "lv", "lt", "bg", "de", "ro",
                               "ka", "kk", "vi", "tr", "el", "es", "hy", "it"};
  for (const std::string& font : {usualFont, std::string("Sans 14"), std::string("Sans 18")}) {
    g_object_set(settings, "gtk-font-name", font.c_str(), nullptr);
    int widest = 0;
    for (int language = 1; language <= 16; ++language) {
      const std::string code = codes[language - 1];
      SCOPED_TRACE(font + ", " + code);
      CInstallerDlg& d = Open(language, W(code).c_str());
      // Until every shown widget has its place: GTK 3 places them on its
      // next frame, not among the pending events.
      auto settle = [&d] {
        GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(d.window()));
        for (int round = 0; round < 200; ++round) {
          while (gtk_events_pending()) gtk_main_iteration();
          bool placed = true;
          GList* children = gtk_container_get_children(GTK_CONTAINER(fixed));
          for (GList* it = children; it != nullptr; it = it->next) {
            GtkAllocation room{};
            gtk_widget_get_allocation(GTK_WIDGET(it->data), &room);
            if (gtk_widget_get_visible(GTK_WIDGET(it->data)) && room.x < 0) placed = false;
          }
          g_list_free(children);
          if (placed) return;
          ::usleep(5000);
        }
      };
      std::vector<std::string> cut;
      auto look = [&](const std::string& page) {
        settle();
        for (const std::string& text : CutTexts(d.window(), page)) cut.push_back(text);
      };
      look("welcome");
      Click(d.nextButton());
      look("directory");
      d.dirPage()->SetPath(W(dir_ / ("t-" + code)));
      Click(d.nextButton());
      ASSERT_EQ(d.state(), kSucceeded);
      look("success");
      d.ShowErrorPage();
      look("error");
      EXPECT_EQ(cut, std::vector<std::string>());
      GtkAllocation frame{};
      gtk_widget_get_allocation(d.window(), &frame);
      // At the usual size the window is the usual size.
      if (font == usualFont) {
        EXPECT_EQ(frame.width * 1000 + frame.height, 500360);
      }
      if (frame.width > widest) widest = frame.width;
      TearDown();
      destroyed_ = false;
    }
    // Larger texts need a wider window somewhere.
    if (font != usualFont) {
      EXPECT_GT(widest, 500) << font;
    }
  }
  g_object_set(settings, "gtk-font-name", usualFont.c_str(), nullptr);
}

TEST_F(InstallerDlgTest, ATypedHomeOrRelativeDirectoryIsTakenAsTheTerminalTakesIt) {
  const std::string home = dir_ / "home";
  const std::string cwd = std::filesystem::current_path();
  const std::pair<std::string, std::string> cases[] = {
      {"~/Acme Templates", home + "/Acme Templates"},
      {"~", home},
      {"rel dir/t", cwd + "/rel dir/t"},
      {" /with blank", cwd + "/ /with blank"},  // no trimming
  };
  for (const auto& [typed, expected] : cases) {
    SCOPED_TRACE(typed);
    CInstallerDlg& d = Open();
    Click(d.nextButton());
    d.dirPage()->SetPath(W(typed));
    Click(d.nextButton());
    EXPECT_EQ(d.state(), kSucceeded);
    EXPECT_EQ(N(d.target()), expected);
    EXPECT_TRUE(testing::Exists(expected + "/a.cf"));
    TearDown();
    destroyed_ = false;
    testing::RemoveAll(expected + "/a.cf");
  }
  testing::RemoveAll(cwd + "/rel dir");
  testing::RemoveAll(cwd + "/ ");
}

TEST_F(InstallerDlgTest, ProgressPageAndPaths) {
  CInstallerDlg& d = Open();
  Click(d.nextButton());
  DirSelectPage* page = d.dirPage();
  for (const char* path : {"  /with blanks/  ", "/Шаблоны/テンプレート", "rel\\dir"}) {
    page->SetPath(W(path));
    EXPECT_EQ(N(page->GetPath()), path);
  }
  ProgressPage progress(gtk_bin_get_child(GTK_BIN(d.window())), WizardLayout());
  EXPECT_EQ(LabelOf(progress.statusLabel()), "Files being copied...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progress.progressBar())), 0.0);
  progress.SetProgress(99);
  EXPECT_EQ(LabelOf(progress.statusLabel()), "Files being copied...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progress.progressBar())), 0.99);
  progress.SetProgress(100);
  EXPECT_EQ(LabelOf(progress.statusLabel()), "Copying complete...");
  EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progress.progressBar())), 1.0);
  // Waiting for another installation into the directory: said instead.
  progress.SetNotice(LookupText("IDS_WAITING_FOR_TARGET"));
  progress.SetProgress(0);
  EXPECT_EQ(LabelOf(progress.statusLabel()),
            "Another installation into this directory is running. Waiting for it to finish...");
  progress.SetNotice(WideString());
  progress.SetProgress(0);
  EXPECT_EQ(LabelOf(progress.statusLabel()), "Files being copied...");
}

TEST_F(InstallerDlgTest, FilesARollbackCannotPutBackAreListedNotCalledUnchanged) {
  CInstallerDlg& d = Open();
  std::string target = dir_ / "target";
  WriteFile(target + "/a.cf", "old");
  testing::SetMTime(target + "/a.cf", 1000);
  testing::MakeDirs(target + "/doc/readme.txt");  // fails the run at its last entry
  testing::SetMTime(target + "/doc/readme.txt", 1000);
  Click(d.nextButton());
  d.dirPage()->SetPath(W(target));
  {
    testing::FaultInjector stuck(testing::SysCall::kRename, 4, EIO, 1000);
    ModalAnswerer ok([](GtkWidget*) { return GTK_RESPONSE_OK; });
    Click(d.nextButton());
    ASSERT_EQ(ok.texts().size(), 1u);
    EXPECT_EQ(ok.texts()[0], "Installation error");
    // The cause under it: what, where, and the system's reason.
    EXPECT_EQ(ok.secondaryTexts()[0],
              "Cannot write the file: " + dir_ / "target/doc/readme.txt" + ": Is a directory");
  }
  EXPECT_EQ(d.state(), kFailed);
  ASSERT_NE(d.incompletePage(), nullptr);
  EXPECT_TRUE(Visible(d.incompletePage()->label()));
  EXPECT_EQ(LabelOf(d.incompletePage()->label()),
            "The installation was stopped, but these files could not be put back. Their previous "
            "versions are kept, and the next start of the installer puts them back:\n" +
                target + "/a.cf");
  EXPECT_EQ(d.errorPage(), nullptr);
  EXPECT_EQ(LabelOf(d.nextButton()), "Finish");
}

TEST_F(InstallerDlgTest, ShowMessageMapsResponses) {
  CInstallerDlg& d = Open();
  struct Case {
    gint response;
    int result;
  } cases[] = {{GTK_RESPONSE_YES, 1},
               {GTK_RESPONSE_NO, 2},
               {GTK_RESPONSE_OK, 3},
               {GTK_RESPONSE_DELETE_EVENT, 0}};
  for (const Case& c : cases) {
    ModalAnswerer answer([&](GtkWidget* box) {
      EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(box)), "Installing configuration");
      return c.response;
    });
    EXPECT_EQ(ShowMessage(&d, WideString(u"100% sure?"), kMessageQuestion), c.result);
    EXPECT_EQ(answer.texts().back(), "100% sure?");
  }
}

TEST_F(InstallerDlgTest, EscapeAsksAndNoKeepsTheWizard) {
  CInstallerDlg& d = Open();
  {
    ModalAnswerer no([](GtkWidget*) { return GTK_RESPONSE_NO; });
    PressEscape();
    EXPECT_EQ(no.texts().at(0), "Do you really want to cancel installation?");
  }
  EXPECT_FALSE(destroyed_);
  EXPECT_EQ(d.state(), kWelcome);
  {
    ModalAnswerer yes([](GtkWidget*) { return GTK_RESPONSE_YES; });
    PressEscape();
  }
  EXPECT_TRUE(destroyed_);
}

// For keyboard and screen-reader users: the directory caption names its
// entry, the "..." button has a name, keys go to the entry and Enter there
// is Next; the question's Yes and No follow the chosen language, not the
// process locale.
TEST_F(InstallerDlgTest, DirectoryPageForKeyboardsAndScreenReadersAndLocalYesNo) {
  struct Case {
    int language;
    const char16_t* code;
    const char* choose;
    const char* yes;
    const char* no;
  } cases[] = {{3, u"en", "Choose Directory", "_Yes", "_No"},
               {1, u"ru", nullptr, "_Да", "_Нет"},
               {7, u"de", nullptr, "_Ja", "_Nein"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(N(WideString(c.code)));
    CInstallerDlg& d = Open(c.language, c.code);
    Click(d.nextButton());
    ASSERT_EQ(d.state(), kDirectory);
    DirSelectPage* page = d.dirPage();
    EXPECT_EQ(gtk_label_get_mnemonic_widget(GTK_LABEL(page->caption())), page->entry());
    const std::string choose = N(LookupText("IDS_CHOOSEDIR_TITLE"));
    if (c.choose != nullptr) {
      EXPECT_EQ(choose, c.choose);
    }
    EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(page->browseButton())),
                 choose.c_str());
    gchar* tooltip = gtk_widget_get_tooltip_text(page->browseButton());
    EXPECT_STREQ(tooltip, choose.c_str());
    g_free(tooltip);
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(d.window())), page->entry());
    EXPECT_TRUE(gtk_entry_get_activates_default(GTK_ENTRY(page->entry())));
    EXPECT_TRUE(gtk_widget_has_default(d.nextButton()));
    {
      std::string yes;
      std::string no;
      ModalAnswerer answer([&](GtkWidget* box) {
        yes = gtk_button_get_label(
            GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_YES)));
        no = gtk_button_get_label(
            GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_NO)));
        return GTK_RESPONSE_NO;
      });
      PressEscape();
      EXPECT_EQ(yes, c.yes);
      EXPECT_EQ(no, c.no);
    }
    EXPECT_FALSE(destroyed_);
    TearDown();
    destroyed_ = false;
  }
}

TEST_F(InstallerDlgTest, FolderChooserAcceptedAndCancelled) {
  CInstallerDlg& d = Open();
  Click(d.nextButton());
  testing::MakeDirs(dir_ / "chosen");
  d.dirPage()->SetPath(W("/before"));
  {
    ModalAnswerer cancel([](GtkWidget*) { return GTK_RESPONSE_CANCEL; });
    Click(d.dirPage()->browseButton());
  }
  EXPECT_EQ(N(d.dirPage()->GetPath()), "/before");
  {
    std::string chosen = dir_ / "chosen";
    ModalAnswerer accept([&](GtkWidget* chooser) -> gint {
      gchar* current = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
      bool there = current != nullptr && chosen == current;
      g_free(current);
      if (there) return GTK_RESPONSE_ACCEPT;
      gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), chosen.c_str());
      return 0;
    });
    Click(d.dirPage()->browseButton());
  }
  EXPECT_EQ(N(d.dirPage()->GetPath()), dir_ / "chosen");
}

// Next on the directory page plans the run and checks the room there: a
// directory without it is refused with the figures before anything is
// written, and the page stays for another choice, which then installs.
TEST_F(InstallerDlgTest, ADirectoryWithoutRoomIsRefusedOnItsPage) {
  testing::SmallFileSystem small(dir_ / "small", 2 << 20);
  if (!small.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  testing::TestKit kit;
  kit.entries = {{u"big.bin", std::string(3 << 20, 'b')}, {u"a.cf", "A"}};
  kit.WriteTo(dir_ / "qorv.vkt");
  CInstallerDlg& d = Open();
  Click(d.nextButton());
  const auto before = testing::Snapshot(dir_ / "small");
  d.dirPage()->SetPath(W(dir_ / "small/t"));
  {
    ModalAnswerer ok([](GtkWidget*) { return GTK_RESPONSE_OK; });
    Click(d.nextButton());
    ASSERT_EQ(ok.texts().size(), 1u);
    EXPECT_EQ(ok.texts()[0].rfind("Not enough space: " + dir_ / "small/t" + ": ", 0), 0u)
        << ok.texts()[0];
    EXPECT_NE(ok.texts()[0].find(" bytes needed, "), std::string::npos) << ok.texts()[0];
  }
  EXPECT_EQ(d.state(), kDirectory);
  EXPECT_EQ(testing::Snapshot(dir_ / "small"), before);
  d.dirPage()->SetPath(W(dir_ / "roomy"));
  Click(d.nextButton());
  EXPECT_EQ(d.state(), kSucceeded);
  EXPECT_EQ(testing::ReadFile(dir_ / "roomy/a.cf"), "A");
}

TEST_F(InstallerDlgTest, CopyFailureShowsTheErrorBoxThenTheErrorPage) {
  CInstallerDlg& d = Open();
  WriteFile(dir_ / "blocker", "a file where the target directory should be");
  Click(d.nextButton());
  d.dirPage()->SetPath(W(dir_ / "blocker/sub"));
  {
    ModalAnswerer ok([](GtkWidget*) { return GTK_RESPONSE_OK; });
    Click(d.nextButton());
    ASSERT_EQ(ok.texts().size(), 1u);
    EXPECT_EQ(ok.texts()[0], "Installation error");
    EXPECT_EQ(ok.secondaryTexts()[0],
              "Cannot create the directory: " + dir_ / "blocker" + ": Not a directory");
  }
  EXPECT_EQ(d.state(), kFailed);
  EXPECT_TRUE(Visible(d.errorPage()->label()));
  EXPECT_EQ(LabelOf(d.errorPage()->label()),
            "An error occurred during the installation process. Installation canceled. "
            "Template directory has not been changed.");
  EXPECT_EQ(LabelOf(d.nextButton()), "Finish");
  EXPECT_EQ(testing::ReadFile(dir_ / "blocker"), "a file where the target directory should be");
  Click(d.nextButton());
  EXPECT_TRUE(destroyed_);
}

TEST_F(InstallerDlgTest, CancelDuringTheCopyRollsBackAndSaysSo) {
  testing::TestKit big;
  for (int i = 0; i < 400; ++i) {
    big.entries.push_back({u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                               std::u16string(1, static_cast<char16_t>(u'a' + i / 26)),
                           std::string(200000, 'x')});
  }
  big.WriteTo(dir_ / "qorv.vkt");
  CInstallerDlg& d = Open();
  Click(d.nextButton());
  std::string target = dir_ / "target";
  d.dirPage()->SetPath(W(target));
  // Cancel as soon as the copy runs; then a close request, which must not
  // destroy the window while the copy rolls back.
  struct Hook {
    CInstallerDlg* dialog;
    bool fired = false;
  } hook{&d};
  guint source = g_timeout_add(
      1,
      +[](gpointer data) -> gboolean {
        auto* hook = static_cast<Hook*>(data);
        auto* dialog = hook->dialog;
        if (dialog->state() != kCopying) return TRUE;
        hook->fired = true;
        gtk_button_clicked(GTK_BUTTON(dialog->cancelButton()));
        GdkEvent* close = gdk_event_new(GDK_DELETE);
        close->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog->window())));
        gtk_main_do_event(close);
        gdk_event_free(close);
        return FALSE;
      },
      &hook);
  Click(d.nextButton());
  if (!hook.fired) g_source_remove(source);
  EXPECT_TRUE(hook.fired);
  EXPECT_FALSE(destroyed_);
  EXPECT_EQ(d.state(), kFailed);
  ASSERT_NE(d.cancelPage(), nullptr);
  EXPECT_EQ(LabelOf(d.cancelPage()->label()),
            "Installation canceled. Template directory has not been changed.");
  EXPECT_FALSE(testing::Exists(target));
}

TEST_F(InstallerDlgTest, SilentModeHidesBackAndNext) {
  CInstallerDlg& d = Open(3, u"en", true);
  EXPECT_FALSE(Visible(d.backButton()));
  EXPECT_FALSE(Visible(d.nextButton()));
  d.StartCopying();
  EXPECT_EQ(d.state(), kSucceeded);
  EXPECT_EQ(testing::ReadFile(dir_ / "home/.qorv/Vexa/vexa8/tmplts/a.cf"), "A");
}

}  // namespace
}  // namespace qorv
