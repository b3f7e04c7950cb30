// Fuzz target for the kit head parser and the trailer parser: the input is
// an unpacked kit (head and data area), the part of a kit an attacker
// controls once the stream inflates, and also the end of a kit file. Built
// for libFuzzer by `make fuzz`; the corpus in fuzz_corpus/ is replayed by an
// ordinary test in `make check`.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text_convert.h"
#include "fs/file_util.h"
#include "kit/kit_reader.h"
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
  ScopedFd fd(::memfd_create("kit", MFD_CLOEXEC));
  if (!fd.IsValid() ||
      !WriteFully(fd.Get(), std::string_view(reinterpret_cast<const char*>(data), size))) {
    return 0;
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd.Get());
  {
    KitReader reader;
    if (reader.OpenUnpacked(path, KitReader::Strictness::kInstaller) == 0) {
      WideString product, provider;
      reader.GetProductAndProvider(WideString(u"en"), &product, &provider);
      reader.GetDescriptionPath(WideString(u"ru"));
      for (size_t i = 0; i < reader.EntryCount() && i < 8; ++i) {
        reader.ExtractEntry(i, "/dev/null");
      }
    }
  }
  return 0;
}
