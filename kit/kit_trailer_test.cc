#include "kit/kit_trailer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fs/error_codes.h"
#include "kit/kit_reader.h"
#include "kit/kit_writer.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// Kits of several shapes made by the writer, with their trailers, in a
// scratch directory whose temporary directory the test watches.
class KitTrailerTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeDirs(dir_ / "tmp"); }

  std::string Make(const std::string& name, int shape, bool trailer = true) {
    KitContent content;
    content.languageTable = true;
    content.descriptions = {{u"en", u"Product", u"Vendor", u"doc.txt"},
                            {u"de", u"Produkt", u"Anbieter", u""}};
    std::mt19937 random(7);
    auto add = [&](const std::u16string& entry, size_t size) {
      std::string bytes(size, '\0');
      for (char& c : bytes) c = static_cast<char>('a' + random() % 4);
      std::string path = dir_ / ("src/" + name + std::to_string(content.files.size()));
      WriteFile(path, bytes);
      content.files.push_back(
          {WideString(entry.data(), entry.size()), path, FileTimeFromUnix(1600000000), size});
    };
    if (shape == 0) {
      for (int i = 0; i < 40; ++i) add(u"d" + std::u16string(1, u'a' + i % 26) + u"\\f", 300);
    } else if (shape == 1) {
      add(u"big.bin", 3 << 20);
    }  // shape 2: descriptions only
    std::string error;
    std::string kit = dir_ / name;
    EXPECT_TRUE(WriteKit(content, kit, &error, trailer)) << error;
    return kit;
  }

  uint32_t Open(const std::string& kit, KitReader::Strictness strictness, std::string* problem) {
    KitReader reader;
    uint32_t code = reader.Open(kit, strictness);
    *problem = reader.Problem();
    return code;
  }

  size_t TempFiles() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir_ / "tmp"),
                                             std::filesystem::directory_iterator()));
  }

  testing::ScratchDir dir_;
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "tmp"};
};

TEST_F(KitTrailerTest, WrittenTrailerMatchesAndEarlierReadersStillReadTheKit) {
  std::string kit = Make("a.vkt", 0);
  std::string bare = Make("b.vkt", 0, false);
  std::string bytes = ReadFile(kit);
  ASSERT_EQ(bytes.compare(0, ReadFile(bare).size(), ReadFile(bare)), 0);

  KitReader reader;
  ASSERT_EQ(reader.Open(kit, KitReader::Strictness::kVerify), 0u) << reader.Problem();
  EXPECT_TRUE(reader.HasTrailer());
  EXPECT_EQ(reader.Trailer().entryBytes, 40u * 300);
  EXPECT_TRUE(reader.Trailer().signatures.empty());
  reader.Close();
  ASSERT_EQ(reader.Open(bare, KitReader::Strictness::kVerify), 0u);
  EXPECT_FALSE(reader.HasTrailer());
  reader.Close();

  // The way earlier installers read a kit: inflate to the end of the
  // stream, then parse. The trailer is never seen.
  WriteFile(dir_ / "unpacked", "");
  bool complete = true;
  ASSERT_EQ(UnpackKit(kit, dir_ / "unpacked", &complete), 0u);
  EXPECT_FALSE(complete);  // something follows the stream
  ASSERT_EQ(reader.OpenUnpacked(dir_ / "unpacked"), 0u) << reader.Problem();
  EXPECT_EQ(reader.EntryCount(), 40u);
  WriteFile(dir_ / "unpacked-bare", "");
  ASSERT_EQ(UnpackKit(bare, dir_ / "unpacked-bare"), 0u);
  EXPECT_EQ(ReadFile(dir_ / "unpacked"), ReadFile(dir_ / "unpacked-bare"));
}

// One bit flipped anywhere in a kit, stream or trailer: refused by the
// installer's reading and by verify, with nothing left behind.
TEST_F(KitTrailerTest, EveryBitFlipIsRefused) {
  std::mt19937 random(20261208);
  SecretKey key;
  ASSERT_TRUE(GenerateKeyPair(&key));
  for (int shape = 0; shape < 4; ++shape) {
    // Shape 3: the small-files kit with a signature, whose bytes are
    // flipped too.
    std::string kit = Make("k" + std::to_string(shape) + ".vkt", shape % 3);
    std::string error;
    if (shape == 3) {
      ASSERT_TRUE(SignKit(kit, key, &error)) << error;
    }
    const std::string original = ReadFile(kit);
    std::vector<size_t> positions;
    for (int i = 0; i < 60; ++i) positions.push_back(random() % original.size());
    for (size_t back = 1; back <= 200 && back <= original.size(); ++back) {
      positions.push_back(original.size() - back);  // every byte of the trailer
    }
    for (size_t at : positions) {
      std::string damaged = original;
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << (random() % 8)));
      WriteFile(dir_ / "flipped.vkt", damaged);
      SCOPED_TRACE("shape " + std::to_string(shape) + ", byte " + std::to_string(at) + " of " +
                   std::to_string(original.size()));
      std::string problem;
      EXPECT_NE(Open(dir_ / "flipped.vkt", KitReader::Strictness::kInstaller, &problem), 0u);
      EXPECT_FALSE(problem.empty());
      EXPECT_NE(Open(dir_ / "flipped.vkt", KitReader::Strictness::kVerify, &problem), 0u);
      EXPECT_EQ(TempFiles(), 0u);
    }
  }
}

TEST_F(KitTrailerTest, DamagedTrailersAreRefusedWithTheirReason) {
  std::string kit = Make("a.vkt", 0);
  const std::string bytes = ReadFile(kit);
  const std::string other = ReadFile(Make("o.vkt", 2));
  const size_t trailerSize = kMinTrailerSize;
  const std::string stream = bytes.substr(0, bytes.size() - trailerSize);
  const std::string trailer = bytes.substr(bytes.size() - trailerSize);
  auto withVersion = [&](uint32_t version) {
    std::string t = trailer;
    for (int i = 0; i < 4; ++i) t[8 + i] = static_cast<char>(version >> (8 * i));
    return stream + t;
  };
  auto withUnpackedSize = [&](uint64_t size) {
    std::string t = trailer;
    for (int i = 0; i < 8; ++i) t[12 + i] = static_cast<char>(size >> (8 * i));
    return stream + t;
  };
  struct Case {
    const char* what;
    std::string kit;
    const char* problem;
  } cases[] = {
      {"cut in its middle", stream + trailer.substr(0, 40), "the trailer is cut or overwritten"},
      {"its closing bytes cut", bytes.substr(0, bytes.size() - 3),
       "the trailer is cut or overwritten"},
      {"garbage after the stream", stream + std::string(100, '\x5a') + "qvkt-end",
       "the trailer has an impossible length"},
      {"appended twice", bytes + trailer, "digest mismatch"},
      {"another kit's trailer", stream + other.substr(other.size() - trailerSize),
       "digest mismatch"},
      {"an unknown version", withVersion(2), "the trailer has version 2"},
      {"sizes that disagree", withUnpackedSize(12345), "the trailer's sizes disagree"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir_ / "bad.vkt", c.kit);
    std::string problem;
    EXPECT_EQ(Open(dir_ / "bad.vkt", KitReader::Strictness::kInstaller, &problem),
              kErrorInvalidData);
    EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
    EXPECT_EQ(TempFiles(), 0u);
  }
}

TEST_F(KitTrailerTest, ADamagedTableOfEntryDigestsIsRefused) {
  const std::string bytes = ReadFile(Make("a.vkt", 0));
  const size_t tableSize = 24 + 32 * 40;
  const std::string stream = bytes.substr(0, bytes.size() - kMinTrailerSize - tableSize);
  const std::string table = bytes.substr(stream.size(), tableSize);
  ASSERT_EQ(table.substr(0, 8), "qvkt-dgs");
  // A kit whose table is `t`, with a trailer that matches it: only the
  // table is wrong.
  auto withTable = [&](const std::string& t) {
    KitTrailer trailer;
    std::string found;
    size_t streamEnd = 0;
    FindTrailer(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &trailer,
                &streamEnd, &found);
    const std::string covered = stream + t;
    trailer.digest = Sha256Of(covered.data(), covered.size());
    return stream + t + EncodeTrailer(trailer);
  };
  std::vector<Digest> fewer(39);
  struct Case {
    const char* what;
    std::string kit;
    const char* problem;
  } cases[] = {
      {"its opening overwritten", withTable("qvkt-xxx" + table.substr(8)),
       "the table of entry digests is cut or overwritten"},
      {"a count that disagrees with its length",
       withTable(table.substr(0, 8) + std::string("\x29\0\0\0", 4) + table.substr(12)),
       "the table of entry digests is cut or overwritten"},
      {"cut in its middle", withTable(table.substr(0, 100) + table.substr(tableSize - 12)),
       "the table of entry digests is cut or overwritten"},
      {"fewer digests than entries", withTable(EncodeEntryDigests(fewer)),
       "the table of entry digests disagrees with the entries"},
      {"changed after the kit was made",
       stream + "qvkt-xxx" + table.substr(8) + bytes.substr(bytes.size() - kMinTrailerSize),
       "the table of entry digests is cut"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir_ / "bad.vkt", c.kit);
    for (auto strictness : {KitReader::Strictness::kInstaller, KitReader::Strictness::kVerify}) {
      std::string problem;
      EXPECT_EQ(Open(dir_ / "bad.vkt", strictness, &problem), kErrorInvalidData);
      EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
    }
    EXPECT_EQ(TempFiles(), 0u);
  }
  // Without the table, the same kit is sound, and says it has none.
  KitReader reader;
  WriteFile(dir_ / "bare.vkt", withTable(""));
  ASSERT_EQ(reader.Open(dir_ / "bare.vkt"), 0u) << reader.Problem();
  EXPECT_FALSE(reader.Trailer().HasEntryDigests());
  ASSERT_EQ(reader.Open(dir_ / "a.vkt"), 0u);
  EXPECT_EQ(reader.Trailer().entryDigests.size(), 40u);
}

TEST_F(KitTrailerTest, SignaturesVerifyOnlyForTheirKeyAndDigest) {
  SecretKey key;
  SecretKey stranger;
  ASSERT_TRUE(GenerateKeyPair(&key));
  ASSERT_TRUE(GenerateKeyPair(&stranger));
  SecretKey parsed;
  PublicKey parsedPublic;
  ASSERT_TRUE(ParseSecretKey(SecretKeyText(key), &parsed));
  ASSERT_TRUE(ParsePublicKey(PublicKeyText(key.publicKey), &parsedPublic));
  EXPECT_EQ(parsed.publicKey, key.publicKey);
  EXPECT_EQ(parsedPublic, key.publicKey);
  EXPECT_FALSE(ParsePublicKey(SecretKeyText(key), &parsedPublic));
  EXPECT_FALSE(ParseSecretKey("qorv-kit-secret-key-1 00", &parsed));

  KitTrailer trailer;
  trailer.digest = Sha256Of("kit", 3);
  KitSignature signature;
  signature.keyId = key.publicKey.Id();
  signature.publicKey = key.publicKey;
  ASSERT_TRUE(SignDigest(key, trailer.digest, &signature.signature));
  trailer.signatures.push_back(signature);

  std::string encoded = EncodeTrailer(trailer);
  ASSERT_EQ(encoded.size(), kMinTrailerSize + kSignatureRecordSize);
  std::string file = "stream" + encoded;
  KitTrailer found;
  size_t streamEnd = 0;
  std::string problem;
  ASSERT_EQ(FindTrailer(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &found,
                        &streamEnd, &problem),
            TrailerState::kPresent);
  EXPECT_EQ(streamEnd, 6u);
  EXPECT_NE(ValidSignatureBy(found, key.publicKey), nullptr);
  EXPECT_EQ(ValidSignatureBy(found, stranger.publicKey), nullptr);
  found.digest = Sha256Of("other kit", 9);  // the signature was made over another kit
  EXPECT_EQ(ValidSignatureBy(found, key.publicKey), nullptr);
}

}  // namespace
}  // namespace qorv
