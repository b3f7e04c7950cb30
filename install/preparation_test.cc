#include "install/preparation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/text_convert.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }
std::string N(const WideString& s) { return toNarrow(s).c_str(); }

class PreparationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::MakeDirs(home_);
    testing::MakeDirs(dir_ / "tmp");
    testing::TestKit kit;
    kit.entries = {{u"a.cf", "a"}};
    kit.WriteTo(dir_ / "qorv.vkt");
  }
  std::string UserFile() const { return home_ + "/.Vexa/vexalaunch/vexalaunch.cfg"; }

  testing::ScratchDir dir_;
  std::string home_ = dir_ / "home";
  testing::ScopedEnv homeVariable_{"HOME", home_};
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
};

TEST_F(PreparationTest, DefaultTargetWithoutLauncherFiles) {
  KitReader reader;
  Preparation prepared;
  ASSERT_EQ(Prepare(false, W(dir_ / "qorv.vkt"), reader, &prepared), PrepareFailure::kNone);
  EXPECT_EQ(N(prepared.target), home_ + "/.qorv/Vexa/vexa8/tmplts/");
  EXPECT_EQ(reader.EntryCount(), 1u);
}

TEST_F(PreparationTest, FirstUsableLocationIsTheTarget) {
  WriteFile(dir_ / "plain", "");
  testing::MakeDirs(dir_ / "usable");
  WriteFile(UserFile(), "ConfigurationTemplatesLocation=" + dir_ / "plain/sub" +
                            "\nConfigurationTemplatesLocation=" + dir_ / "usable" + "\n");
  KitReader reader;
  Preparation prepared;
  ASSERT_EQ(Prepare(false, W(dir_ / "qorv.vkt"), reader, &prepared), PrepareFailure::kNone);
  EXPECT_EQ(N(prepared.target), dir_ / "usable");
  EXPECT_EQ(prepared.locations.list.size(), 2u);
}

TEST_F(PreparationTest, Failures) {
  KitReader reader;
  Preparation prepared;
  EXPECT_EQ(Prepare(false, W(dir_ / "absent.vkt"), reader, &prepared), PrepareFailure::kNoSource);
  {
    testing::FaultInjector noRoom(testing::SysCall::kStatvfs, 0, EIO);
    EXPECT_EQ(Prepare(false, W(dir_ / "qorv.vkt"), reader, &prepared), PrepareFailure::kNoSpace);
  }
  WriteFile(dir_ / "bad.vkt", "not a kit");
  EXPECT_EQ(Prepare(false, W(dir_ / "bad.vkt"), reader, &prepared), PrepareFailure::kDamagedSource);
  EXPECT_STREQ(MessageKeyOf(PrepareFailure::kNoSource), "IDS_ERROR_NOSOURCE");
  EXPECT_STREQ(MessageKeyOf(PrepareFailure::kNoSpace), "IDS_ERROR_NOSPACE");
  EXPECT_STREQ(MessageKeyOf(PrepareFailure::kDamagedSource), "IDS_ERROR_DAMAGEDSOURCE");
  // An empty kit passes the space check even when the free space is unknown.
  WriteFile(dir_ / "empty.vkt", "");
  testing::FaultInjector noRoom(testing::SysCall::kStatvfs, 0, EIO);
  EXPECT_EQ(Prepare(false, W(dir_ / "empty.vkt"), reader, &prepared),
            PrepareFailure::kDamagedSource);
}

TEST_F(PreparationTest, LocateKitInTheCurrentDirectoryOrBesideTheProgram) {
  std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  EXPECT_EQ(N(LocateKit(true)), dir_ / "qorv.vkt");
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  std::string self = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  EXPECT_EQ(N(LocateKit(false)), self + "/qorv.vkt");
}

TEST(CleanTargetTest, UrlsAndLineBreaks) {
  struct Case {
    const char16_t* given;
    const char16_t* cleaned;
  } cases[] = {
      {u"ftp://host/t", u""},
      {u"/x/http://y", u""},
      {u"https://h", u""},
      {u"/a/ftp://b", u""},
      {u"file:///opt/t", u"/opt/t"},
      {u"/a\n/b\r/c", u"/a/b/c"},
      {u"file://file:///x", u"file:///x"},
      {u"/plain/dir/", u"/plain/dir/"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(CleanTarget(WideString(c.given)).equals(c.cleaned)) << N(WideString(c.given));
  }
}

}  // namespace
}  // namespace qorv
