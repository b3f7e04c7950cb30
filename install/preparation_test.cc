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
#include "kit/kit_writer.h"
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

// Kits made by the writer, with or without a trailer and signatures.
std::string WriteTestKit(const std::string& dir, const std::string& name, bool trailer,
                         const SecretKey* key = nullptr, size_t size = 1000) {
  WriteFile(dir + "/src-" + name, std::string(size, 'z'));
  KitContent content;
  content.files = {{u"a.cf", dir + "/src-" + name, FileTimeFromUnix(1600000000), size}};
  std::string error;
  std::string kit = dir + "/" + name;
  EXPECT_TRUE(WriteKit(content, kit, &error, trailer)) << error;
  if (key != nullptr) {
    EXPECT_TRUE(SignKit(kit, *key, &error)) << error;
  }
  return kit;
}

TEST_F(PreparationTest, DigestsSignaturesAndTrustedKeys) {
  SecretKey vendor;
  SecretKey stranger;
  ASSERT_TRUE(GenerateKeyPair(&vendor) && GenerateKeyPair(&stranger));
  const std::string bare = WriteTestKit(dir_.path(), "bare.vkt", false);
  const std::string plain = WriteTestKit(dir_.path(), "plain.vkt", true);
  const std::string byVendor = WriteTestKit(dir_.path(), "vendor.vkt", true, &vendor);
  const std::string byStranger = WriteTestKit(dir_.path(), "stranger.vkt", true, &stranger);
  const std::vector<PublicKey> none;
  const std::vector<PublicKey> vendorOnly{vendor.publicKey};
  struct Case {
    std::string kit;
    const std::vector<PublicKey>* trusted;
    PrepareFailure failure;
    bool checked;
    size_t signatures;
  } cases[] = {
      {bare, &none, PrepareFailure::kNone, false, 0},
      {plain, &none, PrepareFailure::kNone, true, 0},
      {byVendor, &none, PrepareFailure::kNone, true, 1},
      {byStranger, &none, PrepareFailure::kNone, true, 1},
      {bare, &vendorOnly, PrepareFailure::kUntrusted, false, 0},
      {plain, &vendorOnly, PrepareFailure::kUntrusted, true, 0},
      {byVendor, &vendorOnly, PrepareFailure::kNone, true, 1},
      {byStranger, &vendorOnly, PrepareFailure::kUntrusted, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kit + (c.trusted->empty() ? "" : ", vendor key trusted"));
    KitReader reader;
    Preparation prepared;
    EXPECT_EQ(Prepare(false, W(c.kit), reader, &prepared, *c.trusted), c.failure);
    EXPECT_EQ(prepared.checked, c.checked);
    EXPECT_EQ(prepared.signedBy.size(), c.signatures);
    EXPECT_EQ(prepared.problem.empty(), c.failure == PrepareFailure::kNone);
    if (c.failure == PrepareFailure::kNone) {
      EXPECT_EQ(reader.EntryCount(), 1u);
    }
  }
  EXPECT_STREQ(MessageKeyOf(PrepareFailure::kUntrusted), "IDS_ERROR_UNTRUSTED");

  // Damage says its cause.
  std::string bytes = testing::ReadFile(plain);
  bytes[bytes.size() / 3] ^= 4;
  WriteFile(dir_ / "flipped.vkt", bytes);
  KitReader reader;
  Preparation prepared;
  EXPECT_EQ(Prepare(false, W(dir_ / "flipped.vkt"), reader, &prepared, none),
            PrepareFailure::kDamagedSource);
  EXPECT_FALSE(prepared.problem.empty());
}

// A kit read in place needs no room in the temporary directory. One that
// must be unpacked needs room for all of it: known before unpacking from
// the trailer, found out while unpacking without one. Either way a lack of
// room names the directory, never damage, and leaves nothing there.
TEST_F(PreparationTest, TemporarySpaceOnlyForKitsThatAreUnpacked) {
  std::string mount = dir_ / "small";
  testing::SmallFileSystem small(mount, 2 << 20);
  if (!small.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root";
  testing::MakeDirs(mount + "/tmp");
  testing::ScopedEnv tmpdir("TMPDIR", mount + "/tmp");
  // 8 MiB of one letter: a tiny kit, three times which fits easily.
  const std::string inPlace = WriteTestKit(dir_.path(), "big.vkt", true, nullptr, 8 << 20);
  const std::string without = WriteTestKit(dir_.path(), "big-bare.vkt", false, nullptr, 8 << 20);
  // With a trailer, but its entries out of order: the second read from
  // where the first is.
  testing::TestKit twoParts;
  twoParts.entries = {{u"first", std::string(4 << 20, 'a')},
                      {u"second", std::string(4 << 20, 'b')}};
  std::string unpacked = twoParts.Unpacked();
  testing::SetU32(&unpacked, testing::EntryOffsetField(unpacked, u"second"), 0);
  const std::string outOfOrder = dir_ / "out-of-order.vkt";
  testing::WriteWithTrailer(outOfOrder, unpacked, 8 << 20);
  for (const std::string& kit : {inPlace, without, outOfOrder}) {
    SCOPED_TRACE(kit);
    KitReader reader;
    Preparation prepared;
    if (kit == inPlace) {
      EXPECT_EQ(Prepare(false, W(kit), reader, &prepared), PrepareFailure::kNone);
      EXPECT_TRUE(reader.Streams());
      continue;
    }
    EXPECT_EQ(Prepare(false, W(kit), reader, &prepared), PrepareFailure::kNoSpace);
    EXPECT_NE(prepared.problem.find(mount + "/tmp"), std::string::npos) << prepared.problem;
    if (kit == outOfOrder) {
      EXPECT_NE(prepared.problem.find("bytes needed for the unpacked kit"), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::is_empty(mount + "/tmp"));
  }
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
