#include "kit/kit_bundle.h"

#include <fcntl.h>
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
#include "kit/program_seal.h"
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

  // The seal a bundle of installer_ carries before any signature.
  std::string Seal() const {
    const std::string program = ReadFile(installer_);
    ProgramSeal seal;
    seal.programDigest = Sha256Of(program.data(), program.size());
    return EncodeProgramSeal(seal);
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
    EXPECT_EQ(ReadFile(bundle), ReadFile(installer_) + Seal() + ReadFile(kit) +
                                    EncodeBundleFooter(5004 + kMinSealSize, ReadFile(kit).size()));
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
    damaged[5004 + kMinSealSize + ReadFile(kit).size() / 2] ^= 0x10;
    WriteFile(bundle, damaged);
    if (trailer) {
      EXPECT_EQ(reader.Open(bundle), kErrorInvalidData);
    }

    // Bundling again replaces the kit carried, never stacks a second one.
    const std::string other = MakeKit("other.vkt", 1, trailer);
    ASSERT_TRUE(WriteBundle(bundle, other, bundle, &error)) << error;
    EXPECT_EQ(ReadFile(bundle),
              ReadFile(installer_) + Seal() + ReadFile(other) +
                  EncodeBundleFooter(5004 + kMinSealSize, ReadFile(other).size()));
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
      // The program's seal and what is left of the kit.
      {"cut by one byte", whole.substr(0, whole.size() - 1),
       kMinSealSize + kitSize + kBundleFooterSize - 1},
      {"cut to half the kit", whole.substr(0, program.size() + kMinSealSize + kitSize / 2),
       kMinSealSize + kitSize / 2},
      {"footer damaged", badFooter, kMinSealSize + kitSize + kBundleFooterSize},
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

// A signed bundle is signed over its program and its kit together: the
// vendor's signed kit around another program, a program changed after
// signing, and a bundle made before programs were sealed all lack a valid
// signature of the program by the vendor's key; the signed bundle has one,
// and still reads as its kit.
TEST_F(KitBundleFileTest, SignaturesOfABundleCoverItsProgram) {
  SecretKey vendor;
  SecretKey other;
  ASSERT_TRUE(GenerateKeyPair(&vendor));
  ASSERT_TRUE(GenerateKeyPair(&other));
  const std::string kit = MakeKit("k.vkt", 2, true);
  std::string error;
  ASSERT_TRUE(SignKit(kit, vendor, &error)) << error;
  const std::string someoneElses = dir_ / "true";
  WriteFile(someoneElses, std::string("\177ELF") + std::string(700, 'x'));

  enum class Make { kSigned, kUnsigned, kOtherProgram, kProgramChanged, kOtherKey, kUnsealed };
  struct Case {
    const char* what;
    Make make;
    TrailerState seal;
    bool programMatches;
    bool signedByVendor;
  } cases[] = {
      {"signed by the vendor", Make::kSigned, TrailerState::kPresent, true, true},
      {"bundled, not signed", Make::kUnsigned, TrailerState::kPresent, true, false},
      {"the signed kit around another program", Make::kOtherProgram, TrailerState::kPresent, true,
       false},
      {"the program changed after signing", Make::kProgramChanged, TrailerState::kPresent, false,
       true},
      {"signed by another key", Make::kOtherKey, TrailerState::kPresent, true, false},
      {"bundled before programs were sealed", Make::kUnsealed, TrailerState::kAbsent, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bundle = dir_ / "bundle";
    const std::string program = c.make == Make::kOtherProgram ? someoneElses : installer_;
    ASSERT_TRUE(WriteBundle(program, kit, bundle, &error)) << error;
    if (c.make == Make::kSigned || c.make == Make::kProgramChanged) {
      ASSERT_TRUE(SignKit(bundle, vendor, &error)) << error;
    }
    if (c.make == Make::kOtherKey) {
      ASSERT_TRUE(SignKit(bundle, other, &error)) << error;
    }
    if (c.make == Make::kProgramChanged) {
      std::string bytes = ReadFile(bundle);
      bytes[100] ^= 1;
      WriteFile(bundle, bytes);
    }
    if (c.make == Make::kUnsealed) {
      WriteFile(bundle, ReadFile(installer_) + ReadFile(kit) +
                            EncodeBundleFooter(5004, ReadFile(kit).size()));
    }
    KitReader reader;
    ASSERT_EQ(reader.Open(bundle, KitReader::Strictness::kVerify), 0u) << reader.Problem();
    EXPECT_EQ(reader.EntryCount(), 2u);
    KitExtent extent;
    ASSERT_TRUE(KitExtentOfPath(bundle, &extent));
    ScopedFd fd = OpenFile(bundle, O_RDONLY);
    ProgramSeal seal;
    std::string problem;
    ASSERT_EQ(ReadProgramSeal(fd.Get(), extent, &seal, &problem), c.seal) << problem;
    Digest digest{};
    ASSERT_TRUE(DigestOfRange(fd.Get(), seal.offset, &digest));
    EXPECT_EQ(c.seal == TrailerState::kPresent && digest == seal.programDigest, c.programMatches);
    EXPECT_EQ(ValidProgramSignatureBy(seal, reader.Trailer().digest, vendor.publicKey) != nullptr,
              c.signedByVendor);
    EXPECT_NE(ValidSignatureBy(reader.Trailer(), vendor.publicKey), nullptr);  // the kit's own
  }
  // A changed program is not signed again over its new bytes.
  const std::string bundle = dir_ / "bundle";
  EXPECT_FALSE(SignKit(bundle, vendor, &error));
  EXPECT_EQ(error, "an installer bundled before programs were sealed: bundle it again");
}

}  // namespace
}  // namespace qorv
