#include "config/launcher_settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/text_convert.h"
#include "testing/fault_injection.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }
std::string N(const WideString& s) { return toNarrow(s).c_str(); }

// Every test runs against a HOME of its own.
class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override { SetHome(scratch_.path()); }

  void SetHome(const std::string& home) {
    home_ = home;
    testing::MakeDirs(home_);
    homeVariable_.Set(home_);
  }
  std::string UserFile() const { return home_ + "/.Vexa/vexalaunch/vexalaunch.cfg"; }
  std::string AltFile() const { return home_ + "/.Vexa/vexalauncht/vexalaunch.cfg"; }
  std::string SecondaryFile() const { return home_ + "/.qorv//.Vexa/vexalaunch/vexalaunch.cfg"; }

  // Preparation, then a successful installation into `target` (or into the
  // proposed directory when empty). Returns the target used.
  std::string Install(const std::string& target = "") {
    KnownLocations known = ReadKnownLocations();
    WideString dir = target.empty() ? ProposeTargetDirectory(known) : W(target);
    EXPECT_TRUE(RecordInstalledLocation(dir));
    return N(dir);
  }

  testing::ScratchDir scratch_;
  std::string home_;
  testing::ScopedEnv homeVariable_{"HOME", scratch_.path()};
};

TEST_F(LauncherTest, PathsFollowHome) {
  EXPECT_EQ(N(HomeDirectory()), home_);
  EXPECT_EQ(N(PlatformUserDirectory()), home_ + "/.qorv/");
  EXPECT_EQ(N(UserLauncherFile()), UserFile());
  EXPECT_EQ(N(SecondaryLauncherFile()), SecondaryFile());
  EXPECT_EQ(N(AltLauncherFile()), AltFile());
  EXPECT_EQ(N(DefaultTemplateBase()), home_ + "/.qorv/Vexa/vexa8/");
}

TEST_F(LauncherTest, NoLauncherFileAtAll) {
  KnownLocations known = ReadKnownLocations();
  EXPECT_TRUE(known.list.empty());
  EXPECT_EQ(N(ProposeTargetDirectory(known)), home_ + "/.qorv/Vexa/vexa8/tmplts/");
  Install();
  EXPECT_EQ(ReadFile(UserFile()),
            "ConfigurationTemplatesLocation=" + home_ + "/.qorv/Vexa/vexa8/tmplts\n");
  EXPECT_FALSE(Exists(AltFile()));
}

TEST_F(LauncherTest, BackslashesBecomeSlashes) {
  testing::MakeDirs(home_ + "/t");
  WriteFile(UserFile(), "ConfigurationTemplatesLocation=\\srv\\tpl\n");
  KnownLocations known = ReadKnownLocations();
  ASSERT_EQ(known.list.size(), 1u);
  EXPECT_EQ(N(known.list[0]), "/srv/tpl");
  Install(home_ + "/t/");
  EXPECT_EQ(ReadFile(UserFile()), "ConfigurationTemplatesLocation=" + home_ +
                                      "/t\n"
                                      "ConfigurationTemplatesLocation=/srv/tpl\n");
}

TEST_F(LauncherTest, CaseDuplicatesAndTrailingSlashes) {
  WriteFile(UserFile(),
            "ConfigurationTemplatesLocation=/A/tmplts/\n"
            "configurationtemplateslocation=/a/TMPLTS/\n"
            "ConfigurationTemplatesLocation=/B/x\n"
            "ConfigurationTemplatesLocation=/b/X/\n");
  WriteFile(SecondaryFile(), "ConfigurationTemplatesLocation=/b/x\nOther=1\n");
  KnownLocations known = ReadKnownLocations();
  ASSERT_EQ(known.list.size(), 3u);
  EXPECT_EQ(N(known.list[0]), "/A/tmplts/");
  EXPECT_EQ(N(known.list[1]), "/B/x");
  EXPECT_EQ(N(known.list[2]), "/b/X/");
  Install("/A/tmplts");  // the same place without its slash: both are kept
  EXPECT_EQ(ReadFile(UserFile()),
            "ConfigurationTemplatesLocation=/A/tmplts\n"
            "ConfigurationTemplatesLocation=/A/tmplts/\n"
            "ConfigurationTemplatesLocation=/B/x\n"
            "ConfigurationTemplatesLocation=/b/X/\n");
  EXPECT_EQ(ReadFile(SecondaryFile()), "ConfigurationTemplatesLocation=/b/x\nOther=1\n");
}

TEST_F(LauncherTest, ReinstallIntoFirstLocationKeepsOrder) {
  const std::string content =
      "ConfigurationTemplatesLocation=/one\nConfigurationTemplatesLocation=/two\n";
  WriteFile(UserFile(), content);
  Install("/one");
  EXPECT_EQ(ReadFile(UserFile()), content);
}

TEST_F(LauncherTest, OtherKeysKeepTheirPlaces) {
  WriteFile(UserFile(),
            "CommonInfoBases=/srv/a.v8i\n"
            "ConfigurationTemplatesLocation=/old\n"
            "InstalledLocation=/opt/x\n"
            "CommonInfoBases=/srv/b.v8i\n");
  Install("/new/");
  EXPECT_EQ(ReadFile(UserFile()),
            "CommonInfoBases=/srv/a.v8i\n"
            "CommonInfoBases=/srv/b.v8i\n"
            "ConfigurationTemplatesLocation=/new\n"
            "ConfigurationTemplatesLocation=/old\n"
            "InstalledLocation=/opt/x\n");

  WriteFile(UserFile(), "InstallComponents=DESIGNER\n");
  Install("/x");
  EXPECT_EQ(ReadFile(UserFile()),
            "InstallComponents=DESIGNER\nConfigurationTemplatesLocation=/x\n");
}

TEST_F(LauncherTest, OnlyTheAlternativeFile) {
  WriteFile(AltFile(), "ConfigurationTemplatesLocation=/alt\nKeep=me\n");
  KnownLocations known = ReadKnownLocations();
  EXPECT_TRUE(known.altFileExists);
  EXPECT_TRUE(known.fromAltFile);
  ASSERT_EQ(known.list.size(), 1u);
  Install("/t");
  EXPECT_EQ(ReadFile(AltFile()),
            "ConfigurationTemplatesLocation=/t\nConfigurationTemplatesLocation=/alt\nKeep=me\n");
  EXPECT_FALSE(Exists(UserFile()));
}

TEST_F(LauncherTest, BothFilesAreWrittenWithOneList) {
  WriteFile(UserFile(), "ConfigurationTemplatesLocation=/user\n");
  WriteFile(AltFile(), "ConfigurationTemplatesLocation=/alt\nKeep=me\n");
  KnownLocations known = ReadKnownLocations();
  EXPECT_FALSE(known.fromAltFile);
  ASSERT_EQ(known.list.size(), 1u);
  Install("/t");
  EXPECT_EQ(ReadFile(UserFile()),
            "ConfigurationTemplatesLocation=/t\nConfigurationTemplatesLocation=/user\n");
  // The alternative file's own location is replaced by the list.
  EXPECT_EQ(ReadFile(AltFile()),
            "ConfigurationTemplatesLocation=/t\nConfigurationTemplatesLocation=/user\nKeep=me\n");
}

TEST_F(LauncherTest, AlternativeFileWithoutLocations) {
  WriteFile(AltFile(), "Keep=me\n");
  KnownLocations known = ReadKnownLocations();
  EXPECT_TRUE(known.altFileExists);
  EXPECT_FALSE(known.fromAltFile);
  std::string target = Install();
  EXPECT_EQ(target, home_ + "/.qorv/Vexa/vexa8/tmplts/");
  const std::string line = "ConfigurationTemplatesLocation=" + home_ + "/.qorv/Vexa/vexa8/tmplts\n";
  EXPECT_EQ(ReadFile(UserFile()), line);
  EXPECT_EQ(ReadFile(AltFile()), "Keep=me\n" + line);
}

TEST_F(LauncherTest, FirstWritableLocationIsProposed) {
  testing::MakeDirs(home_ + "/second");
  WriteFile(home_ + "/plain", "");
  WriteFile(UserFile(), "ConfigurationTemplatesLocation=" + home_ +
                            "/plain\nConfigurationTemplatesLocation=" + home_ + "/second\n");
  EXPECT_EQ(N(ProposeTargetDirectory(ReadKnownLocations())), home_ + "/second");
}

TEST_F(LauncherTest, HomeWithBlanksAndShellCharacters) {
  SetHome(scratch_.path() + "/my home $USER `id` \"q\" 'a'");
  EXPECT_EQ(N(HomeDirectory()), home_);
  Install();
  EXPECT_EQ(ReadFile(UserFile()),
            "ConfigurationTemplatesLocation=" + home_ + "/.qorv/Vexa/vexa8/tmplts\n");
}

// An uninstalled location goes from the list however it is spelled; other
// lines stay where they were.
TEST_F(LauncherTest, ForgettingRemovesEverySpellingOfTheLocation) {
  for (const char* spelling :
       {"/srv/tpl", "/srv/tpl/", "/srv//tpl/./", "\\srv\\tpl\\", "/SRV/Tpl", "/srv/./tpl"}) {
    SCOPED_TRACE(spelling);
    WriteFile(UserFile(),
              "Other=1\nConfigurationTemplatesLocation=/srv/tpl\n"
              "ConfigurationTemplatesLocation=/srv/other\nLast=2\n");
    EXPECT_TRUE(ForgetInstalledLocation(W(spelling)));
    EXPECT_EQ(ReadFile(UserFile()), "Other=1\nConfigurationTemplatesLocation=/srv/other\nLast=2\n");
  }
}

// --- Failures lose nothing --------------------------------------------------

TEST_F(LauncherTest, UnreadableUserFileIsNeverOverwritten) {
  const std::string content = "CommonInfoBases=/srv/a.v8i\nConfigurationTemplatesLocation=/old\n";
  WriteFile(UserFile(), content);
  KnownLocations known = ReadKnownLocations();
  {
    // Reads: secondary file (missing, no read), then the user file.
    testing::FaultInjector failing(testing::SysCall::kRead, 0, EIO);
    EXPECT_FALSE(RecordInstalledLocation(W("/new")));
    EXPECT_TRUE(failing.Fired());
  }
  EXPECT_EQ(ReadFile(UserFile()), content);
}

TEST_F(LauncherTest, FailedWritesAreRetriedOnceThenSwallowed) {
  const std::string content = "ConfigurationTemplatesLocation=/old\n";
  WriteFile(UserFile(), content);
  KnownLocations known = ReadKnownLocations();
  {
    testing::FaultInjector twice(testing::SysCall::kRename, 0, EIO, 2);
    std::string problem;
    EXPECT_FALSE(RecordInstalledLocation(W("/new"), &problem));
    EXPECT_EQ(twice.Count(), 2);
    // Which file, and the system's reason.
    EXPECT_EQ(problem, UserFile() + ": Input/output error");
  }
  {
    // Forgetting a location fails the same way, and says so the same way.
    testing::FaultInjector twice(testing::SysCall::kRename, 0, EIO, 2);
    std::string problem;
    EXPECT_FALSE(ForgetInstalledLocation(W("/old"), &problem));
    EXPECT_EQ(problem, UserFile() + ": Input/output error");
  }
  EXPECT_EQ(ReadFile(UserFile()), content);
  {
    testing::FaultInjector once(testing::SysCall::kRename, 0, EIO);
    EXPECT_TRUE(RecordInstalledLocation(W("/new")));
  }
  EXPECT_EQ(ReadFile(UserFile()),
            "ConfigurationTemplatesLocation=/new\nConfigurationTemplatesLocation=/old\n");
}

}  // namespace
}  // namespace qorv
