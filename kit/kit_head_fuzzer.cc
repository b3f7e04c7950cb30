// Fuzz target for the kit head parser and the trailer parser: the input is
// an unpacked kit (head and data area), the part of a kit an attacker
// controls once the stream inflates, and also the end of a kit file. Built
// for libFuzzer by `make fuzz`; the corpus in fuzz_corpus/ is replayed by an
// ordinary test in `make check`.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kit/kit_head.h"
#include "kit/kit_names.h"
#include "kit/kit_trailer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qorv;
  // The same bytes as the end of a kit file: the trailer parser.
  {
    KitTrailer trailer;
    size_t streamEnd = 0;
    std::string problem;
    if (FindTrailer(data, size, &trailer, &streamEnd, &problem) == TrailerState::kPresent &&
        (streamEnd > size || trailer.signatures.size() > size)) {
      __builtin_trap();
    }
  }
  // The same bytes as an unpacked kit: the head parser, as the installer
  // and as the kit tool read it. Whatever it accepts lies inside the kit.
  for (bool strict : {false, true}) {
    KitHead head;
    std::string problem;
    if (ParseKitHead(data, size, strict, &head, &problem) != 0) {
      if (problem.empty()) __builtin_trap();
      continue;
    }
    if (head.dataStart > size) __builtin_trap();
    for (const KitEntry& entry : head.entries) {
      if (entry.offset < head.dataStart || uint64_t{entry.offset} + entry.size > size ||
          !IsSafeEntryName(entry.name)) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
