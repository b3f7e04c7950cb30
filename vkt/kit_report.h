// What a kit holds, said for people and for tools: `vkt list` (text or
// JSON) and `vkt diff`.
#ifndef QORV_VKT_KIT_REPORT_H_
#define QORV_VKT_KIT_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit_reader.h"

namespace qorv {

// "13 B", "293.0 KiB", "1.5 GiB".
std::string ReadableSize(uint64_t bytes);
// "2021-03-04 05:06:07" (UTC), or "?" for a time out of range.
std::string ReadableTime(const FileTime& time);
// An entry's name as the tree has it: "/" separators.
std::string TreeName(const WideString& name);

// The SHA-256 of the bytes of the entries of `reader` marked in `wanted`
// (the others all zero), read in one pass in entry order. 0, or the
// reader's code (its Problem() says why).
uint32_t ReadEntryDigests(KitReader& reader, const std::vector<bool>& wanted,
                          std::vector<Digest>* digests);

// Whether the kit is verified and by which keys, in one line.
std::string TrailerSummary(const KitReader& reader);
// The summary, the descriptions, one line per entry (size, time, name),
// and the totals.
std::string ListText(const KitReader& reader);
// The same as one JSON object.
std::string ListJson(const KitReader& reader);

// How `vkt diff` says it: as lines or JSON objects, the differences or
// the plan of what an install of the first kit, unchanged since, gets from
// the second (the installer's words: write, replace, keep, remove).
struct DiffOptions {
  bool json = false;
  bool plan = false;
};
struct DiffVerdict {
  size_t differences = 0;
  // Entries whose bytes changed under the same time: an installed copy
  // hides them from installers that do not read entry digests.
  size_t sameTimeChanges = 0;
};

// What changes from kit `a` to kit `b`, one line each: entries added,
// removed, newer (with or without a change of content), older, and changed
// under the same time, then the descriptions added, removed and changed,
// then the trailers' differences (checkable, signatures, entry digests).
// Both readers are read through unless both carry entry digests. Returns
// 0, or the code of a kit that cannot be read, with `*problem`.
uint32_t DiffKits(KitReader& a, KitReader& b, const DiffOptions& options, std::string* out,
                  DiffVerdict* verdict, std::string* problem);

}  // namespace qorv

#endif  // QORV_VKT_KIT_REPORT_H_
