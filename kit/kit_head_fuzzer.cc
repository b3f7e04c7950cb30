// Fuzz target for the kit head parser: the input is an unpacked kit (head
// and data area), the part of a kit an attacker controls once the stream
// inflates. Built for libFuzzer by `make fuzz`; the corpus in fuzz_corpus/
// is replayed by an ordinary test in `make check`.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text_convert.h"
#include "kit/kit_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qorv;
  int fd = ::memfd_create("kit", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (size_t done = 0; done < size;) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      ::close(fd);
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  {
    KitReader reader;
    if (reader.OpenUnpacked(toWide(NarrowString(path.c_str())),
                            KitReader::Strictness::kInstaller) == 0) {
      WideString product, provider;
      reader.GetProductAndProvider(WideString(u"en"), &product, &provider);
      reader.GetDescriptionPath(WideString(u"ru"));
      for (size_t i = 0; i < reader.EntryCount() && i < 8; ++i) {
        reader.ExtractEntry(i, WideString(u"/dev/null"));
      }
    }
  }
  ::close(fd);
  return 0;
}
