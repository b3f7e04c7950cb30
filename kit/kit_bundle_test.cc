#include "kit/kit_bundle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "kit/kit_reader.h"
#include "kit/kit_trailer.h"
#include "kit/kit_writer.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ReadFile;
using testing::WriteFile;

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(KitBundleTest, ExtentFromTheFooter) {
  struct Case {
    const char* what;
    uint64_t fileSize;
    std::string footer;
    KitExtent expected;
  };
  const std::string magic = EncodeBundleFooter(0, 0).substr(16);
  const std::vector<Case> cases = {
      {"a kit inside", 1000, EncodeBundleFooter(600, 376), {600, 376, true}},
      {"an empty kit right after the installer", 624, EncodeBundleFooter(600, 0), {600, 0, true}},
      {"no footer", 1000, std::string(24, 'x'), {0, 1000, false}},
      {"a kit reaching into the footer", 1000, EncodeBundleFooter(600, 377), {0, 1000, false}},
      {"a kit ending before the footer", 1000, EncodeBundleFooter(600, 375), {0, 1000, false}},
      {"an offset past the end", 1000, EncodeBundleFooter(977, 0), {0, 1000, false}},
      {"sizes that wrap", 1000, EncodeBundleFooter(~0ull, 977), {0, 1000, false}},
      {"a bare footer", 24, EncodeBundleFooter(0, 0), {0, 0, true}},
      {"a file shorter than a footer", 10, std::string(24, '\0'), {0, 10, false}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.footer.size(), kBundleFooterSize) << c.what;
    KitExtent got = KitExtentFrom(Bytes(c.footer), c.fileSize);
    EXPECT_EQ(got.offset, c.expected.offset) << c.what;
    EXPECT_EQ(got.size, c.expected.size) << c.what;
    EXPECT_EQ(got.bundled, c.expected.bundled) << c.what;
  }
}

class KitBundleFileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(installer_, std::string("\177ELF") + std::string(5000, 'p')); }

  std::string MakeKit(const std::string& name, size_t entries, bool trailer) {
    KitContent content;
    content.languageTable = true;
    content.descriptions = {{u"en", u"Product", u"Vendor", u""}};
    for (size_t i = 0; i < entries; ++i) {
      std::string source = dir_ / (name + "-src" + std::to_string(i));
      WriteFile(source, std::string(1000 + i, static_cast<char>('a' + i)));
      content.files.push_back(
          {Wide("f" + std::to_string(i)), source, FileTimeFromUnix(1600000000), 1000 + i});
    }
    std::string error;
    std::string kit = dir_ / name;
    EXPECT_TRUE(WriteKit(content, kit, &error, trailer)) << error;
    return kit;
  }

  testing::ScratchDir dir_;
  const std::string installer_ = dir_ / "qorv-setup";
};

// The reader takes an installer carrying a kit as that kit: the same
// entries, the same trailer and the same damage found.
TEST_F(KitBundleFileTest, KitsInsideInstallersReadAsTheKits) {
  for (bool trailer : {true, false}) {
    SCOPED_TRACE(trailer ? "with trailer" : "bare");
    const std::string kit = MakeKit(trailer ? "signed.vkt" : "bare.vkt", 3, trailer);
    const std::string bundle = dir_ / "bundle";
    std::string error;
    ASSERT_TRUE(WriteBundle(installer_, kit, bundle, &error)) << error;
    EXPECT_EQ(ReadFile(bundle), ReadFile(installer_) + ReadFile(kit) +
                                    EncodeBundleFooter(5004, ReadFile(kit).size()));
    struct stat st;
    ASSERT_EQ(::stat(bundle.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    KitReader reader;
    ASSERT_EQ(reader.Open(bundle, KitReader::Strictness::kVerify), 0u) << reader.Problem();
    ASSERT_EQ(reader.EntryCount(), 3u);
    EXPECT_EQ(reader.Entry(2).size, 1002u);
    EXPECT_EQ(reader.HasTrailer(), trailer);
    KitTrailer found;
    std::string problem;
    EXPECT_EQ(ReadTrailerOf(bundle, &found, &problem),
              trailer ? TrailerState::kPresent : TrailerState::kAbsent);
    reader.Close();

    // One byte of the carried kit flipped: refused when the kit can tell.
    std::string damaged = ReadFile(bundle);
    damaged[5004 + ReadFile(kit).size() / 2] ^= 0x10;
    WriteFile(bundle, damaged);
    if (trailer) {
      EXPECT_EQ(reader.Open(bundle), kErrorInvalidData);
    }

    // Bundling again replaces the kit carried, never stacks a second one.
    const std::string other = MakeKit("other.vkt", 1, trailer);
    ASSERT_TRUE(WriteBundle(bundle, other, bundle, &error)) << error;
    EXPECT_EQ(ReadFile(bundle), ReadFile(installer_) + ReadFile(other) +
                                    EncodeBundleFooter(5004, ReadFile(other).size()));
  }
}

TEST_F(KitBundleFileTest, RefusesWhatCannotMakeAnInstaller) {
  const std::string kit = MakeKit("k.vkt", 1, true);
  const std::string bundle = dir_ / "bundle";
  std::string error;
  ASSERT_TRUE(WriteBundle(installer_, kit, bundle, &error)) << error;
  const std::string before = ReadFile(bundle);
  struct Case {
    std::string installer;
    std::string kit;
    std::string error;
  };
  const std::vector<Case> cases = {
      {kit, kit, kit + ": not an executable file (give the installer with --installer)"},
      {installer_, bundle, bundle + ": an installer with a kit inside; give the kit itself"},
      {dir_ / "missing", kit, dir_ / "missing: cannot be read: No such file or directory"},
      {installer_, dir_ / "missing", dir_ / "missing: cannot be read: No such file or directory"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(WriteBundle(c.installer, c.kit, bundle, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(ReadFile(bundle), before) << c.error;
  }
  // No partial file left: the installer, the kit, its source, the bundle.
  auto files = std::filesystem::directory_iterator(dir_.path());
  EXPECT_EQ(std::distance(files, std::filesystem::directory_iterator()), 4);
}

// A real program carrying a kit, then cut short or with its footer
// damaged: what follows the program is found, so the installer can say its
// kit is damaged rather than missing.
TEST_F(KitBundleFileTest, StrayBytesAfterAProgramAreFound) {
  const std::string self = "/bin/true";
  const std::string program = ReadFile(self);
  const std::string kit = MakeKit("k.vkt", 2, true);
  const std::string bundle = dir_ / "bundle";
  std::string error;
  ASSERT_TRUE(WriteBundle(self, kit, bundle, &error)) << error;
  const std::string whole = ReadFile(bundle);
  std::string badFooter = whole;
  badFooter[badFooter.size() - 1] ^= 1;
  struct Case {
    const char* name;
    std::string bytes;
    uint64_t stray;
  };
  const uint64_t kitSize = ReadFile(kit).size();
  const std::vector<Case> cases = {
      {"the program alone", program, 0},
      {"with its whole kit", whole, 0},
      {"cut by one byte", whole.substr(0, whole.size() - 1), kitSize + kBundleFooterSize - 1},
      {"cut to half the kit", whole.substr(0, program.size() + kitSize / 2), kitSize / 2},
      {"footer damaged", badFooter, kitSize + kBundleFooterSize},
      {"a kit, not a program", ReadFile(kit), 0},
      {"a program cut inside itself", program.substr(0, program.size() / 2), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ / "file", c.bytes);
    EXPECT_EQ(StrayBytesAfterProgram(dir_ / "file"), c.stray);
  }
  EXPECT_EQ(StrayBytesAfterProgram(dir_ / "missing"), 0u);
}

}  // namespace
}  // namespace qorv
