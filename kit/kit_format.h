// The kit format, for the reader, the writer and the tools: one raw-DEFLATE
// stream (RFC 1951, no zlib or gzip wrapper; window 2^15) which, inflated,
// is the "unpacked kit":
//
//   head
//     u32  language table flag: 0 or 1
//     flag 0: text product, text provider, text description path (English)
//     flag 1: u32 description count, then per description a record:
//             u32 record size (itself included), text language, text product,
//             text provider, text description path
//     u32  entry count, then per entry a record:
//             u32 record size (itself included), text name, u32 time low,
//             u32 time high, u32 offset, u32 size
//   data area
//     the entries' bytes, at their offsets from the data area's start
//
// u32 is little-endian. A text is a u32 count of UTF-16 units (as a signed
// number: negative is damage) followed by the units, little-endian. Names
// and description paths are relative, with backslash separators. Times are
// 100-nanosecond ticks since 1601-01-01 UTC. A record may be longer than its
// fields (the installer skips the rest; `vkt verify` refuses it). An entry
// must start below 2 GiB of the unpacked kit. docs/kit-format.md says the
// same for people who write their own tools.
#ifndef QORV_KIT_KIT_FORMAT_H_
#define QORV_KIT_KIT_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text_string.h"

namespace qorv::kit_format {

// zlib's windowBits for a raw stream with a 32 KiB window.
inline constexpr int kRawDeflateWindowBits = -15;
// The smallest description record: size and four text counts.
inline constexpr uint32_t kMinDescriptionRecord = 20;
// The smallest entry record: size, name count and four words; a name adds
// two bytes per unit.
inline constexpr uint32_t kMinEntryRecord = 24;
inline constexpr uint64_t EntryRecordSize(size_t nameUnits) {
  return kMinEntryRecord + 2 * nameUnits;
}
// Entries must start below this position of the unpacked kit.
inline constexpr uint64_t kMaxEntryStart = 0x80000000u;
// What a reader holds of a head at most, so that a hostile one (a few
// hundred kilobytes that inflate to millions of entries) is refused before
// it costs memory: entries, and bytes of head.
inline constexpr uint32_t kMaxEntries = 100000;
inline constexpr uint64_t kMaxHeadBytes = uint64_t{8} << 20;

inline uint32_t GetU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}
inline uint64_t GetU64(const unsigned char* p) {
  return GetU32(p) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU64(std::string* out, uint64_t value) {
  PutU32(out, static_cast<uint32_t>(value));
  PutU32(out, static_cast<uint32_t>(value >> 32));
}
inline void PutText(std::string* out, const WideString& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  for (size_t i = 0; i < text.size(); ++i) {
    out->push_back(static_cast<char>(text[i] & 0xFF));
    out->push_back(static_cast<char>(text[i] >> 8));
  }
}

}  // namespace qorv::kit_format

#endif  // QORV_KIT_KIT_FORMAT_H_
