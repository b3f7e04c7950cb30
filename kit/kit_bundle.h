// An installer that carries its kit: the installer's bytes, then the kit's
// bytes unchanged (trailer and signatures included), then a footer found
// from the end of the file (docs/kit-format.md):
//
//   kit offset   u64   where the kit starts in the file
//   kit size     u64   its length
//   magic        8     "qvkt-bnd"
//
// Everything that reads a kit by its path reads the kit inside such a file,
// so `vkt list`, `vkt verify` and the installer take either.
#ifndef QORV_KIT_KIT_BUNDLE_H_
#define QORV_KIT_KIT_BUNDLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorv {

inline constexpr size_t kBundleFooterSize = 24;

// Where the kit lies in a file: the whole file, or the part a footer names.
struct KitExtent {
  uint64_t offset = 0;
  uint64_t size = 0;
  bool bundled = false;
};

std::string EncodeBundleFooter(uint64_t kitOffset, uint64_t kitSize);

// The kit's extent in `size` bytes whose last kBundleFooterSize bytes are
// `footer` (the whole file when it ends with no footer, or with one naming
// bytes that are not the file's: the kit reader then finds no kit there).
KitExtent KitExtentFrom(const unsigned char* footer, uint64_t size);
// The same for the open file `fd` of `size` bytes; false when its end
// cannot be read (errno set).
bool KitExtentOf(int fd, uint64_t size, KitExtent* extent);
// The same for the file at `path`; false when it cannot be opened or read.
bool KitExtentOfPath(const std::string& path, KitExtent* extent);

// The bytes that follow the executable program at the start of the file
// at `path` (a 64-bit ELF file ends with its section header table) when no
// kit ends there: what is left of an installer whose carried kit lost its
// end, as a download cut short does. 0 when the file is the program alone,
// carries a whole kit, is not such a program, or cannot be read.
uint64_t StrayBytesAfterProgram(const std::string& path);

// Writes `out`: the installer at `installer` (without the kit it may carry
// already), the kit at `kit`, and the footer; executable, replacing `out`
// only once it is complete. The kit is copied as it is: check it first.
// False with `error` in words when the installer is not an executable
// file, the kit is itself inside an installer, or a file cannot be read or
// written.
bool WriteBundle(const std::string& installer, const std::string& kit, const std::string& out,
                 std::string* error);

}  // namespace qorv

#endif  // QORV_KIT_KIT_BUNDLE_H_
