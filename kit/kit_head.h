// The head of an unpacked kit: the descriptions per language, then the
// entry table (docs/kit-format.md). The parser reads it record by record,
// checking every count and size against what is left of the unpacked kit
// before reading or allocating anything, so a damaged or hostile head is
// refused with the reason and costs no more memory than its size calls
// for. Any thread; no state between calls.
#ifndef QORV_KIT_KIT_HEAD_H_
#define QORV_KIT_KIT_HEAD_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text_string.h"
#include "fs/file_io.h"

namespace qorv {

struct KitDescription {
  WideString language;
  WideString product;
  WideString provider;
  WideString descriptionPath;  // relative, backslash separators
};

struct KitEntry {
  WideString name;  // relative, backslash separators, as stored
  FileTime time;    // last write
  uint32_t offset;  // in the kit: from the data area; after Open: absolute
  uint32_t size;
};

struct KitHead {
  std::vector<KitDescription> descriptions;
  std::vector<KitEntry> entries;  // offsets from the start of the unpacked kit
  uint64_t dataStart = 0;         // where the parser stopped: the data area, once read
};

// Fills `buffer` with up to `room` next bytes of the unpacked kit and sets
// `*got` (0 at its end); returns 0 or the code of a failed read.
using HeadSource = std::function<uint32_t(char* buffer, size_t room, size_t* got)>;

// Reads the head of an unpacked kit of `size` bytes from `source`,
// appending to `head`. `strict` (the kit tool's check) also refuses records
// longer than their fields and unsafe description paths, which the
// installer only ignores. Returns 0, 13 with `*problem` set (when still
// empty) for a damaged head, or the source's code.
uint32_t ReadKitHead(uint64_t size, bool strict, const HeadSource& source, KitHead* head,
                     std::string* problem);
// The same over `size` bytes in memory.
uint32_t ParseKitHead(const void* bytes, size_t size, bool strict, KitHead* head,
                      std::string* problem);

}  // namespace qorv

#endif  // QORV_KIT_KIT_HEAD_H_
