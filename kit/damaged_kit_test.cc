// Damaged and hostile kits: each must be refused with a nonzero code, leave
// no temporary file, and never crash or allocate without bound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "kit/kit_format.h"
#include "kit/kit_reader.h"
#include "kit/kit_writer.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::PutText;
using testing::PutU32;
using testing::SetU32;
using testing::TestKit;

// A well-formed kit of two entries with one description, and the positions
// of its fields in the unpacked bytes.
struct Layout {
  static constexpr size_t kFlag = 0;
  static constexpr size_t kDescriptionCount = 4;
  static constexpr size_t kDescriptionSize = 8;
  static constexpr size_t kLanguageCount = 12;
  // description: size(4) + 4 texts "en"(4+4) "P"(4+2) "V"(4+2) "d"(4+2) = 30
  static constexpr size_t kEntryCount = 8 + 30;
  static constexpr size_t kEntry1 = kEntryCount + 4;  // record size of entry 1
  static constexpr size_t kName1Count = kEntry1 + 4;
  // entry 1 "a\b": 24 + 6 = 30 bytes
  static constexpr size_t kOffset1 = kEntry1 + 4 + 4 + 6 + 8;
  static constexpr size_t kSize1 = kOffset1 + 4;
  static constexpr size_t kEntry2 = kEntry1 + 30;
};

TestKit SoundKit() {
  TestKit kit;
  kit.descriptions = {testing::Description(u"en", u"P", u"V", u"d")};
  kit.entries = {{u"a\\b", "first file"}, {u"c", "second"}};
  return kit;
}

class DamagedKitTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeDirs(dir_ / "tmp"); }

  // Opens a kit whose unpacked form is `unpacked`; the code, and checks
  // that a failure left nothing behind.
  uint32_t OpenUnpacked(const std::string& unpacked, std::string* problem = nullptr) {
    return OpenCompressed(DeflateRaw(unpacked), problem);
  }
  uint32_t OpenCompressed(const std::string& compressed, std::string* problem = nullptr) {
    testing::WriteFile(dir_ / "qorv.vkt", compressed);
    KitReader reader;
    uint32_t code = reader.Open(dir_ / "qorv.vkt");
    if (problem != nullptr) *problem = reader.Problem();
    if (code != 0) {
      EXPECT_EQ(reader.EntryCount(), 0u);
      EXPECT_TRUE(std::filesystem::is_empty(dir_ / "tmp")) << "unpacked kit left behind";
    } else {
      // Whatever was accepted lies inside the unpacked kit (which the
      // reader holds without a name: unpack it once more to measure it).
      bool complete = false;
      EXPECT_EQ(UnpackKit(dir_ / "qorv.vkt", dir_ / "unpacked.bin", &complete), 0u);
      uint64_t size = std::filesystem::file_size(dir_ / "unpacked.bin");
      for (const KitEntry& entry : reader.entries()) {
        EXPECT_LE(uint64_t{entry.offset} + entry.size, size);
      }
    }
    return code;
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
};

TEST_F(DamagedKitTest, SoundKitLayoutIsAsAssumed) {
  std::string unpacked = SoundKit().Unpacked();
  ASSERT_EQ(OpenUnpacked(unpacked), 0u);
  // The offsets used below point where they should.
  EXPECT_EQ(static_cast<unsigned char>(unpacked[Layout::kEntryCount]), 2);
  EXPECT_EQ(static_cast<unsigned char>(unpacked[Layout::kEntry1]), 30);
  EXPECT_EQ(static_cast<unsigned char>(unpacked[Layout::kSize1]), 10);
  EXPECT_EQ(static_cast<unsigned char>(unpacked[Layout::kEntry2]), 26);
}

TEST_F(DamagedKitTest, TruncatedAtEveryHeadPositionAndInTheData) {
  std::string unpacked = SoundKit().Unpacked();
  for (size_t cut = 0; cut < unpacked.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_NE(OpenUnpacked(unpacked.substr(0, cut)), 0u);
  }
  // The compressed stream cut short: refused as well, wherever the cut falls
  // (the head or the data then run past the end).
  std::string compressed = DeflateRaw(unpacked);
  for (size_t cut = 0; cut + 1 < compressed.size(); ++cut) {
    SCOPED_TRACE(cut);
    EXPECT_NE(OpenCompressed(compressed.substr(0, cut)), 0u);
  }
}

TEST_F(DamagedKitTest, OversizedCountsAndRecordSizes) {
  struct Case {
    size_t at;
    uint32_t value;
    const char* problem;
  } cases[] = {
      {Layout::kDescriptionCount, 0xFFFFFFFFu, "the description count is larger than the kit"},
      {Layout::kEntryCount, 0xFFFFFFFFu, "the entry count is larger than the kit"},
      {Layout::kEntryCount, 3, "entry 3 runs past the end of the kit"},
      {Layout::kDescriptionSize, 0xFFFFFFFFu, "description 1 runs past the end of the kit"},
      {Layout::kDescriptionSize, 3, "description 1 is shorter than its fields"},
      {Layout::kDescriptionSize, 0, "description 1 is shorter than its fields"},
      {Layout::kDescriptionSize, 24, "description 1: the description path runs past its record"},
      {Layout::kLanguageCount, 0x80000000u, "description 1: the language has a negative length"},
      {Layout::kLanguageCount, 0xFFFFFFFFu, "description 1: the language has a negative length"},
      {Layout::kLanguageCount, 100, "description 1: the language runs past its record"},
      {Layout::kEntry1, 0xFFFFFFFFu, "entry 1 runs past the end of the kit"},
      {Layout::kEntry1, 23, "entry 1 is shorter than its fields"},
      {Layout::kEntry1, 29, "entry 1: the record is shorter than its fields"},
      {Layout::kName1Count, 0xFFFFFFFFu, "entry 1: the name has a negative length"},
      {Layout::kName1Count, 12, "entry 1: the name runs past its record"},
      {Layout::kOffset1, 0xFFFFFFFFu, "entry 1 (\"a/b\") reaches past the end of the kit"},
      {Layout::kOffset1, 7, "entry 1 (\"a/b\") reaches past the end of the kit"},
      {Layout::kSize1, 0xFFFFFFFFu, "entry 1 (\"a/b\") reaches past the end of the kit"},
      {Layout::kSize1, 17, "entry 1 (\"a/b\") reaches past the end of the kit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    std::string unpacked = SoundKit().Unpacked();
    SetU32(&unpacked, c.at, c.value);
    std::string problem;
    EXPECT_NE(OpenUnpacked(unpacked, &problem), 0u);
    EXPECT_EQ(problem, c.problem);
  }
}

TEST_F(DamagedKitTest, AppendedBytesAndHeadBitFlips) {
  // Bytes after the end of the stream do not change what is installed.
  std::string compressed = DeflateRaw(SoundKit().Unpacked());
  EXPECT_EQ(OpenCompressed(compressed + "garbage"), 0u);
  // Bytes appended to the data area are ignored, as a larger data area is.
  EXPECT_EQ(OpenUnpacked(SoundKit().Unpacked() + "tail"), 0u);

  // Every single-bit flip of the head: refused, or accepted only with
  // entries that stay inside the kit (checked by OpenUnpacked).
  std::string unpacked = SoundKit().Unpacked();
  for (size_t at = 0; at < Layout::kEntry2 + 26; ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string flipped = unpacked;
      flipped[at] = static_cast<char>(flipped[at] ^ (1 << bit));
      OpenUnpacked(flipped);
    }
  }
  // Flips in the compressed stream never crash the reader.
  for (size_t at = 0; at < compressed.size(); ++at) {
    std::string flipped = compressed;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    OpenCompressed(flipped);
  }
}

TEST_F(DamagedKitTest, EscapingNames) {
  const std::u16string names[] = {
      u"\\etc\\cron.d\\x",
      u"/etc/passwd",
      u"C:\\boot.ini",
      u"",
      u"a\\\\b",
      u"..\\outside",
      u"a\\..\\..\\x",
      u".",
      u"a\\.",
      std::u16string(u"a\0b", 3),
      u"new\nline",
      u"tab\tname",
  };
  for (const std::u16string& name : names) {
    TestKit kit = SoundKit();
    kit.entries[1].name = name;
    std::string problem;
    EXPECT_NE(OpenUnpacked(kit.Unpacked(), &problem), 0u);
    EXPECT_EQ(problem.rfind("entry 2: the name \"", 0), 0u) << problem;
  }
}

TEST_F(DamagedKitTest, HugeCountsAllocateNothing) {
  // A head claiming a four-gigabyte name in a tiny kit.
  std::string unpacked;
  PutU32(&unpacked, 0);
  PutU32(&unpacked, 0x7FFFFFFF);  // product length
  std::string problem;
  EXPECT_NE(OpenUnpacked(unpacked, &problem), 0u);
  EXPECT_EQ(problem, "the kit ends inside the product name");
}

// A small kit whose head inflates to more entries, or more head, than a
// kit may have is refused before the head is held; one at the limits is
// read. Both the installer's reader and its dry run's.
TEST_F(DamagedKitTest, HeadsBeyondTheLimitsAreRefusedBeforeTheyAreHeld) {
  auto head = [](uint32_t entries, size_t nameUnits) {
    std::string unpacked;
    PutU32(&unpacked, 0);
    for (int i = 0; i < 3; ++i) testing::PutText(&unpacked, u"x");
    PutU32(&unpacked, entries);
    for (uint32_t i = 0; i < entries; ++i) {
      std::u16string name = u"f" + std::u16string(nameUnits, u'a') + u"\\";
      for (uint32_t n = i; n != 0 || name.back() == u'\\'; n /= 10) {
        name.push_back(static_cast<char16_t>(u'0' + n % 10));
      }
      PutU32(&unpacked, static_cast<uint32_t>(kit_format::EntryRecordSize(name.size())));
      testing::PutText(&unpacked, name);
      for (int w = 0; w < 4; ++w) PutU32(&unpacked, 0);
    }
    return unpacked;
  };
  struct Case {
    const char* what;
    uint32_t entries;
    size_t nameUnits;
    const char* problem;  // nullptr: read
  };
  const Case cases[] = {
      {"as many entries as a kit may hold", kit_format::kMaxEntries, 0, nullptr},
      {"one more", kit_format::kMaxEntries + 1, 0,
       "it lists 100001 files, more than the 100000 a kit may hold"},
      {"long names, a head over 8 MiB", 1100, 4000,
       "its head is larger than 8 MiB, the most a kit may have"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string unpacked = head(c.entries, c.nameUnits);
    std::string problem;
    EXPECT_EQ(OpenUnpacked(unpacked, &problem) == 0, c.problem == nullptr) << problem;
    if (c.problem != nullptr) {
      EXPECT_EQ(problem, c.problem);
    }
    KitReader dry;
    testing::WriteFile(dir_ / "qorv.vkt", DeflateRaw(unpacked));
    EXPECT_EQ(dry.OpenHeadOnly(dir_ / "qorv.vkt") == 0, c.problem == nullptr) << dry.Problem();
  }
}

TEST_F(DamagedKitTest, EntryStartingBeyondTwoGibibytes) {
  // Checked on the head alone: the data area of such a kit is not needed to
  // see that the entry cannot be reached.
  std::string unpacked = SoundKit().Unpacked();
  SetU32(&unpacked, Layout::kOffset1, 0x80000000u);
  std::string problem;
  EXPECT_NE(OpenUnpacked(unpacked, &problem), 0u);
  EXPECT_EQ(problem, "entry 1 (\"a/b\") reaches past the end of the kit");
}

}  // namespace
}  // namespace qorv
