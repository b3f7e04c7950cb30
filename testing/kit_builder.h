// Kits for tests, built in memory: the unpacked bytes (head and data) that a
// test may tamper with, and the file the installer reads (those bytes as one
// raw-DEFLATE stream).
#ifndef QORV_TESTING_KIT_BUILDER_H_
#define QORV_TESTING_KIT_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit_writer.h"

namespace qorv::testing {

struct TestEntry {
  std::u16string name;  // backslash separators
  std::string content;
  uint64_t ticks = 116444736000000000ull + 10000000ull * 1600000000;  // FileTime
};

struct TestKit {
  bool languageTable = true;
  // With a trailer, as `vkt pack` writes it: the installer then reads the
  // kit in place instead of unpacking it.
  bool trailer = false;
  std::vector<KitDescription> descriptions;
  std::vector<TestEntry> entries;

  // Head followed by the data area, offsets in entry order.
  std::string Unpacked() const;
  // Unpacked() compressed, written to `path`.
  void WriteTo(const std::string& path) const;
};

// `unpacked` compressed into a kit at `path`, followed by a trailer that
// matches it and says the entries hold `entryBytes`.
void WriteWithTrailer(const std::string& path, const std::string& unpacked, uint64_t entryBytes);

// Where the offset field of the entry named `name` lies in `unpacked` (a
// kit's head as TestKit writes it), for tests that move entries about.
size_t EntryOffsetField(const std::string& unpacked, const std::u16string& name);

// An entry time (FileTime ticks) for a time in Unix seconds.
constexpr uint64_t Ticks(int64_t unixSeconds) {
  return 116444736000000000ull + 10000000ull * static_cast<uint64_t>(unixSeconds);
}

KitDescription Description(const char16_t* language, const char16_t* product,
                           const char16_t* provider, const char16_t* path);

// Little-endian helpers for crafting heads by hand.
void PutU32(std::string* out, uint32_t value);
void SetU32(std::string* bytes, size_t at, uint32_t value);
void PutText(std::string* out, const std::u16string& text);

}  // namespace qorv::testing

#endif  // QORV_TESTING_KIT_BUILDER_H_
