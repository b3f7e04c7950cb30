#include "kit/kit_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fs/error_codes.h"
#include "fs/file_util.h"
#include "kit/kit_reader.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ReadFile;
using testing::TestKit;
using testing::WriteWithTrailer;

// Bytes that do not compress, so that a kit's stream is as long as its data.
std::string Noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TestKit FourFiles() {
  TestKit kit;
  kit.trailer = true;
  kit.entries = {{u"a.txt", "alpha"},
                 {u"empty", ""},
                 {u"dir\\big.bin", Noise(3 << 20, 7)},
                 {u"dir\\z.txt", "zulu"}};
  return kit;
}

class KitStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeDirs(dir_ / "tmp"); }
  // Descriptors open on files in the temporary directory: an unpacked kit.
  size_t TempFilesOpen() const {
    size_t n = 0;
    for (auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (!error && target.rfind(dir_ / "tmp", 0) == 0) ++n;
    }
    return n;
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
};

// Each shape of kit takes its path, and both paths give the entries' bytes.
TEST_F(KitStreamTest, EachKitTakesItsPathAndGivesTheSameBytes) {
  struct Shape {
    const char* name;
    bool inPlace;
    std::function<void(const std::string& path)> write;
  };
  const TestKit kit = FourFiles();
  const std::string unpacked = kit.Unpacked();
  const uint64_t entryBytes = 5 + 0 + (3 << 20) + 4;
  auto withOffset = [&](const std::u16string& name, uint32_t offset) {
    std::string bytes = unpacked;
    testing::SetU32(&bytes, testing::EntryOffsetField(bytes, name), offset);
    return bytes;
  };
  const std::vector<Shape> shapes = {
      {"with a trailer", true, [&](const std::string& p) { kit.WriteTo(p); }},
      {"without a trailer", false,
       [&](const std::string& p) {
         TestKit bare = kit;
         bare.trailer = false;
         bare.WriteTo(p);
       }},
      // "z.txt" read from where "a.txt" is: it overlaps and goes backwards.
      {"entries out of order", false,
       [&](const std::string& p) {
         WriteWithTrailer(p, withOffset(u"dir\\z.txt", 0), entryBytes);
       }},
      // The data area longer than its entries: the trailer's size is not
      // where the last entry ends.
      {"bytes after the last entry", false,
       [&](const std::string& p) { WriteWithTrailer(p, unpacked + "pad", entryBytes); }},
  };
  for (const Shape& shape : shapes) {
    for (bool threaded : {true, false}) {
      SCOPED_TRACE(std::string(shape.name) + (threaded ? ", threaded" : ", inline"));
      const std::string path = dir_ / "kit.vkt";
      shape.write(path);
      KitReader reader;
      reader.SetStreamThreaded(threaded);
      ASSERT_EQ(reader.Open(path), 0u) << reader.Problem();
      EXPECT_EQ(reader.Streams(), shape.inPlace);
      EXPECT_EQ(TempFilesOpen(), shape.inPlace ? 0u : 1u);
      const bool outOfOrder = std::string(shape.name) == "entries out of order";
      for (size_t i = 0; i < kit.entries.size(); ++i) {
        std::string out = dir_ / ("out" + std::to_string(i));
        Digest digest{};
        ASSERT_EQ(reader.ExtractEntry(i, out, {}, -1, &digest), 0u) << reader.Problem();
        const std::string& expected =
            outOfOrder && i == 3 ? std::string("alph") : kit.entries[i].content;
        EXPECT_EQ(ReadFile(out), expected) << i;
        EXPECT_EQ(digest, Sha256Of(expected.data(), expected.size()));
      }
      EXPECT_EQ(reader.EndStream(true), 0u) << reader.Problem();
    }
  }
}

// Only the entries asked for come out, in order; a pass can start again.
TEST_F(KitStreamTest, APassHandsOutWhatItWasAskedForInOrder) {
  for (bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "threaded" : "inline");
    FourFiles().WriteTo(dir_ / "kit.vkt");
    KitReader reader;
    reader.SetStreamThreaded(threaded);
    ASSERT_EQ(reader.Open(dir_ / "kit.vkt"), 0u) << reader.Problem();
    ASSERT_EQ(reader.BeginStream({true, false, true, false}), 0u);
    // Entry 0 is skipped although asked for: its bytes go by unwritten.
    ASSERT_EQ(reader.ExtractEntry(2, dir_ / "big"), 0u) << reader.Problem();
    EXPECT_EQ(ReadFile(dir_ / "big"), FourFiles().entries[2].content);
    EXPECT_EQ(reader.ExtractEntry(3, dir_ / "z"), kErrorInvalidParameter);
    EXPECT_EQ(reader.ExtractEntry(0, dir_ / "a"), kErrorInvalidParameter);
    EXPECT_EQ(reader.EndStream(true), 0u) << reader.Problem();
    // Another pass, from the start.
    ASSERT_EQ(reader.BeginStream({true, true, true, true}), 0u);
    ASSERT_EQ(reader.ExtractEntry(0, dir_ / "a"), 0u);
    EXPECT_EQ(ReadFile(dir_ / "a"), "alpha");
    EXPECT_EQ(reader.EndStream(false), 0u);  // stopped early, nothing checked
    EXPECT_EQ(reader.BeginStream({true}), kErrorInvalidParameter);
  }
}

// The kit file changes after Open() checked it: in bytes a pass inflates,
// in bytes it only reads for the digest, or it loses its end. The pass
// fails with 13 and says why, whichever of its steps meets the change.
TEST_F(KitStreamTest, AKitChangedAfterItsCheckFailsThePass) {
  struct Change {
    const char* name;
    std::function<void(const std::string& path, size_t size)> apply;
  };
  auto flip = [](const std::string& path, size_t at) {
    ScopedFd fd(::open(path.c_str(), O_RDWR));
    char byte = 0;
    ASSERT_EQ(::pread(fd.Get(), &byte, 1, static_cast<off_t>(at)), 1);
    byte = static_cast<char>(byte ^ 0x20);
    ASSERT_EQ(::pwrite(fd.Get(), &byte, 1, static_cast<off_t>(at)), 1);
  };
  const std::vector<Change> changes = {
      {"a byte where the pass inflates", [&](auto& p, size_t size) { flip(p, size / 3); }},
      {"a byte past the last entry taken", [&](auto& p, size_t size) { flip(p, size - 200); }},
      {"cut short", [](auto& p, size_t size) { ASSERT_EQ(::truncate(p.c_str(), size / 2), 0); }},
  };
  for (const Change& change : changes) {
    for (bool threaded : {true, false}) {
      SCOPED_TRACE(std::string(change.name) + (threaded ? ", threaded" : ", inline"));
      const std::string path = dir_ / "kit.vkt";
      FourFiles().WriteTo(path);
      KitReader reader;
      reader.SetStreamThreaded(threaded);
      ASSERT_EQ(reader.Open(path), 0u) << reader.Problem();
      change.apply(path, ReadFile(path).size());
      // Entries 0 and 2: the big one holds the middle of the stream.
      ASSERT_EQ(reader.BeginStream({true, false, true, false}), 0u);
      uint32_t code = reader.ExtractEntry(0, dir_ / "a");
      if (code == 0) code = reader.ExtractEntry(2, dir_ / "big");
      if (code == 0) code = reader.EndStream(true);
      EXPECT_EQ(code, kErrorInvalidData);
      EXPECT_FALSE(reader.Problem().empty());
      reader.EndStream(false);
    }
  }
}

}  // namespace
}  // namespace qorv
