// What a kit holds, said for people and for tools: `vkt list` (text or
// JSON) and `vkt diff`.
#ifndef QORV_VKT_KIT_REPORT_H_
#define QORV_VKT_KIT_REPORT_H_

#include <cstdint>
#include <string>

#include "kit/kit_reader.h"

namespace qorv {

// "13 B", "293.0 KiB", "1.5 GiB".
std::string ReadableSize(uint64_t bytes);
// "2021-03-04 05:06:07" (UTC), or "?" for a time out of range.
std::string ReadableTime(const FileTime& time);
// An entry's name as the tree has it: "/" separators.
std::string TreeName(const WideString& name);

// Whether the kit is verified and by which keys, in one line.
std::string TrailerSummary(const KitReader& reader);
// The summary, the descriptions, one line per entry (size, time, name),
// and the totals.
std::string ListText(const KitReader& reader);
// The same as one JSON object.
std::string ListJson(const KitReader& reader);

// What changes from kit `a` to kit `b`, one line each: entries added,
// removed, newer, older, and changed (same time, other bytes), then the
// descriptions added, removed and changed. Both readers are read through
// (their entries' digests are compared). Returns 0, or the code of a kit
// that cannot be read, with `*problem`.
uint32_t DiffKits(KitReader& a, KitReader& b, std::string* out, std::string* problem);

}  // namespace qorv

#endif  // QORV_VKT_KIT_REPORT_H_
