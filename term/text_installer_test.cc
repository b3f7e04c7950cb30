#include "term/text_installer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "base/text_convert.h"
#include "copy/run_directory.h"
#include "copy/target_lock.h"
#include "res/string_table.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

namespace fs = std::filesystem;
using testing::TestKit;
using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }

// A terminal the installer reads its answers from: what the test types is
// waiting in the terminal's input before the run starts.
class TextInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentLanguage(3);
    testing::MakeDirs(dir_ / "home");
    testing::MakeDirs(dir_ / "tmp");
    SetRunBaseForTests(dir_ / "tmp");
    ASSERT_EQ(::openpty(&master_, &terminal_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::pipe(interrupts_), 0);
    ::fcntl(interrupts_[0], F_SETFL, O_NONBLOCK);
    TestKit kit;
    kit.descriptions = {testing::Description(u"en", u"Trade", u"Vendor", u"doc\\about.html")};
    for (int i = 0; i < 30; ++i) {
      kit.entries.push_back({u"lib\\part" + std::u16string(1, u'a' + i % 26) +
                                 std::u16string(1, u'0' + i / 26) + u".cf",
                             std::string(20000, static_cast<char>('a' + i))});
    }
    kit.entries.push_back({u"doc\\about.html", "<p>about</p>"});
    kit.WriteTo(dir_ / "qorv.vkt");
    options_.kitPath = W(dir_ / "qorv.vkt");
    options_.language = u"en";
  }
  void TearDown() override {
    ::close(master_);
    ::close(terminal_);
    ::close(interrupts_[0]);
    ::close(interrupts_[1]);
    SetCurrentLanguage(0);
    SetRunBaseForTests("");
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  void Interrupt(int signal) {
    unsigned char byte = static_cast<unsigned char>(signal);
    ASSERT_EQ(::write(interrupts_[1], &byte, 1), 1);
  }

  // Runs the installer with the terminal as its input; its two outputs go to
  // files, read into out_ and err_.
  int Run(int in = -1) {
    std::string outPath = dir_ / "out.txt";
    std::string errPath = dir_ / "err.txt";
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    TextInstaller installer(options_, in < 0 ? terminal_ : in, out, err, interrupts_[0]);
    int status = installer.Run();
    ::close(out);
    ::close(err);
    out_ = testing::ReadFile(outPath);
    err_ = testing::ReadFile(errPath);
    return status;
  }

  std::string Launcher() const {
    std::string path = dir_ / "home/.Vexa/vexalaunch/vexalaunch.cfg";
    return testing::Exists(path) ? testing::ReadFile(path) : std::string();
  }
  size_t TempEntries() const {
    size_t n = 0;
    for (auto it = fs::directory_iterator(dir_ / "tmp"); it != fs::directory_iterator(); ++it) ++n;
    return n;
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv home_{"HOME", dir_ / "home"};
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
  int master_ = -1;
  int terminal_ = -1;
  int interrupts_[2] = {-1, -1};
  TextOptions options_;
  std::string out_;
  std::string err_;
};

TEST_F(TextInstallerTest, TypedDirectoryIsInstalledAndRecorded) {
  std::string target = dir_ / "typed dir/ш";
  Type(target + "\n");
  ASSERT_EQ(Run(), kTextInstalled) << err_;
  EXPECT_NE(err_.find("Welcome to the product installation program Trade (Vendor)."),
            std::string::npos);
  // The proposed directory is the default the prompt shows.
  EXPECT_NE(err_.find("Template directory: [" + (dir_ / "home/.qorv/Vexa/vexa8/tmplts/") + "] "),
            std::string::npos)
      << err_;
  EXPECT_NE(err_.find("Configuration installed successfully.\n"), std::string::npos);
  EXPECT_EQ(testing::ReadFile(target + "/doc/about.html"), "<p>about</p>");
  EXPECT_NE(Launcher().find("ConfigurationTemplatesLocation=" + target), std::string::npos)
      << Launcher();
  EXPECT_NE(out_.find("Open description of distribution package: " + target + "/doc/about.html"),
            std::string::npos);
  // The output is no terminal: a line per tenth at most, the last at 100 %.
  EXPECT_EQ(out_.find('\r'), std::string::npos);
  EXPECT_NE(out_.find("100%\n"), std::string::npos) << out_;
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(TextInstallerTest, EnterTakesTheDefaultAndRelativeAnswersTakeTheCurrentDirectory) {
  options_.hasTarget = true;
  options_.target = W(dir_ / "from-option");
  Type("\n");
  ASSERT_EQ(Run(), kTextInstalled) << err_;
  EXPECT_NE(err_.find("[" + (dir_ / "from-option") + "]"), std::string::npos);
  EXPECT_TRUE(testing::Exists(dir_ / "from-option/doc/about.html"));

  std::string cwd = fs::current_path();
  fs::current_path(dir_.path());
  Type("  \nrelative\n");  // blanks only count as Enter
  int status = Run();
  fs::current_path(cwd);
  ASSERT_EQ(status, kTextInstalled) << err_;
  EXPECT_FALSE(testing::Exists(dir_ / "relative"));  // the blank line took the default
  options_.hasTarget = false;
  fs::current_path(dir_.path());
  Type("relative\n");
  status = Run();
  fs::current_path(cwd);
  ASSERT_EQ(status, kTextInstalled) << err_;
  EXPECT_TRUE(testing::Exists(dir_ / "relative/doc/about.html"));
  EXPECT_NE(Launcher().find("ConfigurationTemplatesLocation=" + (dir_ / "relative")),
            std::string::npos);
}

TEST_F(TextInstallerTest, InterruptAtTheQuestionAsksFirst) {
  std::string target = dir_ / "t";
  // Ctrl-C, "no", then the directory.
  Interrupt(SIGINT);
  Type("n\n" + target + "\n");
  ASSERT_EQ(Run(), kTextInstalled) << err_;
  EXPECT_NE(err_.find("Do you really want to cancel installation? [y/N] "), std::string::npos);
  EXPECT_TRUE(testing::Exists(target + "/doc/about.html"));

  // Ctrl-C and a yes in Russian: nothing is installed.
  SetCurrentLanguage(1);
  options_.language = u"ru";
  fs::remove_all(target);
  Interrupt(SIGINT);
  Type("д\n" + target + "\n");
  EXPECT_EQ(Run(), kTextCancelled);
  EXPECT_NE(err_.find("Установка отменена."), std::string::npos) << err_;
  EXPECT_FALSE(testing::Exists(target));
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(TextInstallerTest, EndOfInputAndTerminationCancelWithoutAsking) {
  Type("\x04");  // Ctrl-D: the input has ended
  EXPECT_EQ(Run(), kTextCancelled);
  EXPECT_NE(err_.find("Installation canceled. Template directory has not been changed."),
            std::string::npos);

  Interrupt(SIGTERM);
  EXPECT_EQ(Run(), kTextCancelled);
  EXPECT_EQ(err_.find("Do you really"), std::string::npos);
  EXPECT_EQ(Launcher(), "");
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(TextInstallerTest, WithoutATerminalOnlySilentRuns) {
  int devnull = ::open("/dev/null", O_RDONLY);
  EXPECT_EQ(Run(devnull), kTextWrongCommandLine);
  EXPECT_NE(err_.find("run it with -S"), std::string::npos);
  EXPECT_EQ(TempEntries(), 0u);  // the kit was not even unpacked

  options_.silent = true;
  options_.hasTarget = true;
  options_.target = W(dir_ / "silent");
  EXPECT_EQ(Run(devnull), kTextInstalled) << err_;
  ::close(devnull);
  EXPECT_TRUE(testing::Exists(dir_ / "silent/doc/about.html"));
  EXPECT_EQ(err_.find("Template directory:"), std::string::npos);
  // One line per tenth, in order, the last at 100 %.
  int lastTenth = -1;
  size_t lines = 0;
  for (size_t at = 0; at < out_.size();) {
    size_t end = out_.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    int percent = std::atoi(out_.c_str() + at);
    if (out_.compare(at, 4, "Open") != 0) {
      EXPECT_GT(percent / 10, lastTenth) << out_;
      lastTenth = percent / 10;
      ++lines;
    }
    at = end + 1;
  }
  EXPECT_EQ(lastTenth, 10);
  EXPECT_LE(lines, 11u);
}

TEST_F(TextInstallerTest, FailuresSayWhyAndLeaveTheTargetAlone) {
  options_.silent = true;
  options_.hasTarget = true;
  std::string target = dir_ / "busy";
  options_.target = W(target);
  // An old directory where the kit has a newer file.
  testing::MakeDirs(target + "/doc/about.html");
  testing::SetMTime(target + "/doc/about.html", 1000000000);
  WriteFile(target + "/keep", "mine");
  EXPECT_EQ(Run(), kTextFailed);
  // The fixed text, the cause on a line of its own, the fixed ending.
  EXPECT_NE(err_.find("Installation error\nCannot write the file: " + target +
                      "/doc/about.html: Is a directory\nAn error occurred during the "
                      "installation process."),
            std::string::npos)
      << err_;
  EXPECT_FALSE(testing::Exists(target + "/lib"));
  EXPECT_EQ(testing::ReadFile(target + "/keep"), "mine");
  EXPECT_EQ(Launcher(), "");

  options_.kitPath = W(dir_ / "missing.vkt");
  EXPECT_EQ(Run(), kTextFailed);
  EXPECT_NE(err_.find("Distribution kit file qorv.vkt not found.\nNo kit found; looked for: " +
                      dir_ / "missing.vkt\n"),
            std::string::npos)
      << err_;
}

// Every way out of a run with --json ends with one result line, naming the
// target as -D gave it (resolved as the run resolves it, without a final
// "/"): installed, a kit that is missing, a SIGTERM while the kit is
// checked, and another run holding the directory past --wait ("busy", not
// "failed": a retry may do; the status stays 1).
TEST_F(TextInstallerTest, EveryWayOutEndsWithOneResultLine) {
  options_.silent = true;
  options_.json = true;
  options_.hasTarget = true;
  options_.waitSeconds = 0;
  const std::string target = dir_ / "held";
  testing::MakeDirs(target);
  TargetLock other;
  struct Case {
    const char* what;
    std::function<void()> before;
    int status;
    const char* outcome;
  };
  const Case cases[] = {
      {"installed", [] {}, kTextInstalled, "installed"},
      {"the kit missing", [this] { options_.kitPath = W(dir_ / "missing.vkt"); }, kTextFailed,
       "failed"},
      {"SIGTERM while the kit is checked", [this] { Interrupt(SIGTERM); }, kTextCancelled,
       "cancelled"},
      {"another run holds the directory", [&] { ASSERT_EQ(other.Acquire(target, 0, {}, {}), 0u); },
       kTextFailed, "busy"},
  };
  const WideString kit = options_.kitPath;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    options_.kitPath = kit;
    options_.target = W(target + "/");
    c.before();
    EXPECT_EQ(Run(), c.status);
    other.Release();
    size_t results = 0;
    for (size_t at = out_.find("\"type\":\"result\""); at != std::string::npos;
         at = out_.find("\"type\":\"result\"", at + 1)) {
      ++results;
    }
    EXPECT_EQ(results, 1u) << out_;
    EXPECT_NE(
        out_.find("{\"type\":\"result\",\"outcome\":\"" + std::string(c.outcome) +
                  "\",\"status\":" + std::to_string(c.status) + ",\"target\":\"" + target + "\""),
        std::string::npos)
        << out_;
  }
}

TEST_F(TextInstallerTest, FilesARollbackCannotPutBackAreNamedNotCalledUnchanged) {
  options_.silent = true;
  options_.hasTarget = true;
  std::string target = dir_ / "stuck";
  options_.target = W(target);
  WriteFile(target + "/lib/parta0.cf", "old");
  testing::SetMTime(target + "/lib/parta0.cf", 1000);
  testing::MakeDirs(target + "/doc/about.html");  // fails the run at its last entry
  testing::SetMTime(target + "/doc/about.html", 1000000000);
  {
    // The registry's, the journal's and the backup's renames work; the
    // restore's fails.
    testing::FaultInjector stuck(testing::SysCall::kRename, 4, EIO, 1000);
    EXPECT_EQ(Run(), kTextFailed);
  }
  std::string backup;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "tmp")) {
    if (IsRunDirectoryName(entry.path().filename())) backup = entry.path() / "files/lib/parta0.cf";
  }
  EXPECT_NE(err_.find("Installation error\nCannot write the file: " + target +
                      "/doc/about.html: Is a directory\n"
                      "The installation was stopped, but these files could "
                      "not be put back. Their previous versions are kept, and the next start of "
                      "the installer puts them back:\n  " +
                      target + "/lib/parta0.cf \u2190 " + backup + "\n"),
            std::string::npos)
      << err_;
  EXPECT_EQ(err_.find("has not been changed"), std::string::npos) << err_;
  EXPECT_EQ(testing::ReadFile(backup), "old");
  EXPECT_EQ(Launcher(), "");
}

TEST_F(TextInstallerTest, InterruptDuringTheCopyRollsBack) {
  options_.silent = true;
  options_.hasTarget = true;
  std::string target = dir_ / "target";
  WriteFile(target + "/keep", "mine");
  // SIGHUP arrives while the tenth entry is written, and the copy is slow
  // enough there for the front end to see it before the end.
  testing::FaultInjector hangup(testing::SysCall::kWrite, 12, [this] {
    Interrupt(SIGHUP);
    ::usleep(300 * 1000);
  });
  options_.target = W(target);
  EXPECT_EQ(Run(), kTextCancelled);
  EXPECT_TRUE(hangup.Fired());
  EXPECT_NE(err_.find("Installation canceled."), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
  EXPECT_EQ(TempEntries(), 0u);
  EXPECT_EQ(Launcher(), "");
}

TEST_F(TextInstallerTest, ProgressIsRedrawnInPlaceOnATerminal) {
  options_.silent = true;
  options_.hasTarget = true;
  options_.target = W(dir_ / "t");
  TextInstaller installer(options_, terminal_, terminal_, terminal_, interrupts_[0]);
  ASSERT_EQ(installer.Run(), kTextInstalled);
  std::string shown;
  char buffer[4096];
  ::fcntl(master_, F_SETFL, O_NONBLOCK);
  for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  EXPECT_NE(shown.find("\r100%"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Configuration installed successfully."), std::string::npos);
  // The line never wraps: nothing between two redraws is wider than the
  // terminal.
  for (size_t at = shown.find('\r'); at != std::string::npos; at = shown.find('\r', at + 1)) {
    size_t end = shown.find_first_of("\r\n", at + 1);
    EXPECT_LT(toWide(NarrowString(shown.substr(at + 1, end - at - 1).c_str())).size(), 80u);
  }
}

}  // namespace
}  // namespace qorv
