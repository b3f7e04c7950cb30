#include "kit/kit_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "kit/kit_names.h"
#include "kit/kit_writer.h"
#include "testing/fault_injection.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ReadFile;
using testing::TestKit;
using testing::WriteFile;

// Unpacked kits go to a temporary directory of the test's own, so a test can
// see that none is left behind.
class KitReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeDirs(dir_ / "tmp"); }
  size_t TempFiles() const {
    size_t n = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir_ / "tmp")) {
      (void)entry;
      ++n;
    }
    return n;
  }
  uint32_t OpenKit(KitReader& reader, const TestKit& kit) {
    kit.WriteTo(dir_ / "qorv.vkt");
    return reader.Open(dir_ / "qorv.vkt");
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
};

TestKit ThreeFiles() {
  TestKit kit;
  kit.descriptions = {testing::Description(u"en", u"Trade", u"Acme", u"doc\\readme.html"),
                      testing::Description(u"RU", u"Торговля", u"Акме", u""),
                      testing::Description(u"de", u"Handel", u"Acme GmbH", u"doc\\liesmich.html")};
  kit.entries = {
      {u"1\\tmplt.cf", "template one", 116444736000000000ull + 10000000ull * 1500000000 + 1234567},
      {u"1\\empty.txt", "", 116444736000000000ull},
      {u"2\\deep\\data.bin", std::string("\0\1\2\3binary", 10)}};
  return kit;
}

TEST_F(KitReaderTest, ReadsHeadAndExtractsEveryEntry) {
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, ThreeFiles()), 0u) << reader.Problem();
  // The unpacked kit is read through its descriptor and has no name: it
  // goes with the process, however the process ends.
  EXPECT_EQ(TempFiles(), 0u);
  ASSERT_EQ(reader.EntryCount(), 3u);
  EXPECT_TRUE(reader.Entry(0).name.equals(u"1\\tmplt.cf"));
  EXPECT_EQ(reader.Entry(0).size, 12u);

  // Offsets are absolute after Open: entry 0 starts right after the table.
  std::string unpacked = ThreeFiles().Unpacked();
  size_t dataStart = unpacked.size() - (12 + 0 + 10);
  EXPECT_EQ(reader.Entry(0).offset, dataStart);
  EXPECT_EQ(reader.Entry(2).offset, dataStart + 12);

  const std::string expected[] = {"template one", "", std::string("\0\1\2\3binary", 10)};
  const int64_t times[] = {1500000000, 0, 1600000000};
  for (size_t i = 0; i < 3; ++i) {
    std::string out = dir_ / ("out" + std::to_string(i));
    ASSERT_EQ(reader.ExtractEntry(i, out), 0u);
    EXPECT_EQ(ReadFile(out), expected[i]);
    EXPECT_EQ(testing::MTime(out), times[i]);  // sub-second part dropped
  }
  reader.Close();
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(KitReaderTest, ExtractCutsALongerFile) {
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, ThreeFiles()), 0u);
  WriteFile(dir_ / "long", std::string(100000, 'x'));
  ASSERT_EQ(reader.ExtractEntry(0, dir_ / "long"), 0u);
  EXPECT_EQ(ReadFile(dir_ / "long"), "template one");
}

TEST_F(KitReaderTest, DescriptionLookups) {
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, ThreeFiles()), 0u);
  WideString product, provider;
  reader.GetProductAndProvider(WideString(u"ru"), &product, &provider);  // key in capitals
  EXPECT_TRUE(product.equals(u"Торговля"));
  EXPECT_TRUE(provider.equals(u"Акме"));
  reader.GetProductAndProvider(WideString(u"it"), &product, &provider);
  EXPECT_TRUE(product.empty());
  EXPECT_TRUE(provider.empty());

  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"de")).equals(u"doc\\liesmich.html"));
  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"ru")).equals(u"doc\\readme.html"));
  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"it")).equals(u"doc\\readme.html"));
}

TEST_F(KitReaderTest, HeadWithoutLanguageTable) {
  TestKit kit;
  kit.languageTable = false;
  kit.descriptions = {testing::Description(u"", u"Product", u"Vendor", u"read.txt")};
  kit.entries = {{u"a", "A"}};
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, kit), 0u) << reader.Problem();
  ASSERT_EQ(reader.descriptions().size(), 1u);
  EXPECT_TRUE(reader.descriptions()[0].language.equals(u"en"));
  WideString product, provider;
  reader.GetProductAndProvider(WideString(u"EN"), &product, &provider);
  EXPECT_TRUE(product.equals(u"Product"));
  EXPECT_TRUE(provider.equals(u"Vendor"));
  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"kk")).equals(u"read.txt"));
  ASSERT_EQ(reader.ExtractEntry(0, dir_ / "a"), 0u);
  EXPECT_EQ(ReadFile(dir_ / "a"), "A");
}

TEST_F(KitReaderTest, EmptyEntryTableAndNoDescriptions) {
  TestKit kit;
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, kit), 0u);
  EXPECT_EQ(reader.EntryCount(), 0u);
  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"en")).empty());
}

TEST_F(KitReaderTest, UnsafeDescriptionPathIsTreatedAsEmpty) {
  TestKit kit;
  kit.descriptions = {testing::Description(u"en", u"P", u"V", u"..\\..\\etc\\passwd"),
                      testing::Description(u"de", u"P", u"V", u"\\abs")};
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, kit), 0u);
  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"de")).empty());
  EXPECT_TRUE(reader.GetDescriptionPath(WideString(u"en")).empty());
}

TEST_F(KitReaderTest, CancelBetweenBlocksOfALargeEntry) {
  TestKit kit;
  kit.entries = {{u"big", std::string(3 * KitReader::kCopyBufferSize + 5, 'b')}};
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, kit), 0u);
  int asked = 0;
  EXPECT_EQ(reader.ExtractEntry(0, dir_ / "big", [&] { return ++asked == 2; }), kErrorCancelled);
  EXPECT_EQ(asked, 2);
  ASSERT_EQ(reader.ExtractEntry(0, dir_ / "big", [] { return false; }), 0u);
  EXPECT_EQ(ReadFile(dir_ / "big").size(), 3 * KitReader::kCopyBufferSize + 5);
}

// --- Failures ------------------------------------------------------------

TEST_F(KitReaderTest, MissingKitAndInvalidStream) {
  KitReader reader;
  EXPECT_EQ(reader.Open(dir_ / "absent.vkt"), kErrorNotFound);
  EXPECT_EQ(TempFiles(), 0u);

  WriteFile(dir_ / "text.vkt", "this is not a deflate stream at all, just some text\n");
  EXPECT_EQ(reader.Open(dir_ / "text.vkt"), kErrorInvalidData);
  EXPECT_EQ(reader.EntryCount(), 0u);
  EXPECT_EQ(TempFiles(), 0u);

  WriteFile(dir_ / "empty.vkt", "");
  EXPECT_NE(reader.Open(dir_ / "empty.vkt"), 0u);
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(KitReaderTest, FullTemporaryDiskWhileUnpacking) {
  KitReader reader;
  ThreeFiles().WriteTo(dir_ / "qorv.vkt");
  testing::FaultInjector full(testing::SysCall::kWrite, 0, ENOSPC);
  // A full disk, never a damaged kit.
  EXPECT_EQ(reader.Open(dir_ / "qorv.vkt"), kErrorDiskFull);
  EXPECT_EQ(reader.Problem(), "the temporary directory " + dir_ / "tmp/" + " is full");
  EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(KitReaderTest, TemporaryFileCannotBeMade) {
  KitReader reader;
  ThreeFiles().WriteTo(dir_ / "qorv.vkt");
  // The kit itself opens; the temporary file does not.
  testing::FaultInjector denied(testing::SysCall::kOpen, 1, EACCES, 1000);
  EXPECT_EQ(reader.Open(dir_ / "qorv.vkt"), kErrorCannotMakeTemp);
}

TEST_F(KitReaderTest, ExtractionFailuresCloseTheDestination) {
  KitReader reader;
  ASSERT_EQ(OpenKit(reader, ThreeFiles()), 0u);
  EXPECT_EQ(reader.ExtractEntry(0, dir_ / "no/such/dir/f"), kErrorNotFound);
  {
    testing::FaultInjector full(testing::SysCall::kWrite, 0, ENOSPC);
    EXPECT_EQ(reader.ExtractEntry(0, dir_ / "f"), kErrorInvalidParameter);
  }
  // Still usable afterwards.
  ASSERT_EQ(reader.ExtractEntry(0, dir_ / "f"), 0u);
  EXPECT_EQ(ReadFile(dir_ / "f"), "template one");
}

TEST(KitWriterTest, RefusesWhatTheFormatCannotHold) {
  KitContent content;
  KitSourceFile file;
  file.name = WideString(u"a");
  file.size = 0x100000000ull;
  file.diskPath = "huge";
  content.files = {file};
  std::string error;
  EXPECT_TRUE(BuildKitHead(content, &error).empty());
  EXPECT_EQ(error, "huge is larger than 4 GiB, which a kit cannot hold");

  file.size = 0x80000000u;
  KitSourceFile second = file;
  second.name = WideString(u"b");
  second.diskPath = "second";
  content.files = {file, second};
  EXPECT_TRUE(BuildKitHead(content, &error).empty());
  EXPECT_EQ(
      error,
      "second would start beyond 2 GiB in the unpacked kit, which the installer cannot reach");

  file.size = 1;
  file.name = WideString(u"..\\x");
  content.files = {file};
  EXPECT_TRUE(BuildKitHead(content, &error).empty());
  EXPECT_EQ(error, "the name \"..\\x\" has a \"..\" component");
}

// The writer through the file layer: what it packs reads back, and a failure
// at any step leaves neither the kit nor a partial file.
TEST_F(KitReaderTest, WrittenKitReadsBackAndFailedWritesLeaveNothing) {
  WriteFile(dir_ / "src/a", "alpha");
  WriteFile(dir_ / "src/b", std::string(3 << 20, 'b'));
  KitContent content;
  content.languageTable = true;
  content.descriptions = {testing::Description(u"en", u"P", u"V", u"a")};
  content.files = {{u"a", dir_ / "src/a", FileTimeFromUnix(1600000000), 5},
                   {u"d\\b", dir_ / "src/b", FileTimeFromUnix(1600000001), 3 << 20}};
  std::string error;
  ASSERT_TRUE(WriteKit(content, dir_ / "out.vkt", &error)) << error;
  KitReader reader;
  ASSERT_EQ(reader.Open(dir_ / "out.vkt", KitReader::Strictness::kVerify), 0u) << reader.Problem();
  ASSERT_EQ(reader.EntryCount(), 2u);
  ASSERT_EQ(reader.ExtractEntry(1, dir_ / "b"), 0u);
  EXPECT_EQ(ReadFile(dir_ / "b"), ReadFile(dir_ / "src/b"));
  EXPECT_EQ(reader.Entry(1).time, FileTimeFromUnix(1600000001));
  reader.Close();

  using testing::SysCall;
  // The kit's own close is the third: the two sources' come first.
  const std::pair<SysCall, int> faults[] = {{SysCall::kOpen, 0},  {SysCall::kRead, 0},
                                            {SysCall::kWrite, 0}, {SysCall::kFsync, 0},
                                            {SysCall::kClose, 2}, {SysCall::kRename, 0}};
  for (const auto& [call, nth] : faults) {
    SCOPED_TRACE(static_cast<int>(call));
    std::filesystem::remove(dir_ / "fail.vkt");
    {
      testing::FaultInjector fault(call, nth, ENOSPC);
      EXPECT_FALSE(WriteKit(content, dir_ / "fail.vkt", &error));
      EXPECT_TRUE(fault.Fired());
    }
    EXPECT_FALSE(error.empty());
    for (auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      EXPECT_EQ(entry.path().filename().string().rfind("fail.vkt", 0), std::string::npos)
          << entry.path();
    }
  }
}

// A dry run reads the head and writes nothing, not even the unpacked kit a
// real run needs: the same entries and texts, a damaged stream refused the
// same way; with a trailer, the kit is read in place either way.
TEST_F(KitReaderTest, TheHeadAloneIsReadWithoutWritingAnything) {
  for (bool trailer : {false, true}) {
    SCOPED_TRACE(trailer ? "with a trailer" : "without one");
    TestKit kit = ThreeFiles();
    kit.trailer = trailer;
    KitReader full;
    ASSERT_EQ(OpenKit(full, kit), 0u) << full.Problem();
    KitReader head;
    {
      testing::FaultInjector writes(testing::SysCall::kWrite, -1, 0);
      ASSERT_EQ(head.OpenHeadOnly(dir_ / "qorv.vkt"), 0u) << head.Problem();
      EXPECT_EQ(writes.Count(), 0);
    }
    ASSERT_EQ(head.EntryCount(), full.EntryCount());
    for (size_t i = 0; i < full.EntryCount(); ++i) {
      EXPECT_TRUE(head.Entry(i).name == full.Entry(i).name);
      EXPECT_EQ(head.Entry(i).size, full.Entry(i).size);
      EXPECT_EQ(head.Entry(i).time, full.Entry(i).time);
    }
    WideString product;
    WideString provider;
    head.GetProductAndProvider(WideString(u"ru"), &product, &provider);
    EXPECT_TRUE(product == WideString(u"Торговля"));
    EXPECT_EQ(TempFiles(), 0u);
  }
  WriteFile(dir_ / "qorv.vkt", "not a compressed stream at all");
  KitReader damaged;
  EXPECT_EQ(damaged.OpenHeadOnly(dir_ / "qorv.vkt"), kErrorInvalidData);
  EXPECT_EQ(damaged.EntryCount(), 0u);
}

}  // namespace
}  // namespace qorv
