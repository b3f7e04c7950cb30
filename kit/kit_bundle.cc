#include "kit/kit_bundle.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "fs/file_util.h"
#include "kit/kit_format.h"
#include "kit/program_seal.h"

namespace qorv {

namespace {

constexpr char kMagic[] = "qvkt-bnd";
constexpr size_t kMagicSize = 8;

}  // namespace

std::string EncodeBundleFooter(uint64_t kitOffset, uint64_t kitSize) {
  std::string footer;
  kit_format::PutU64(&footer, kitOffset);
  kit_format::PutU64(&footer, kitSize);
  footer.append(kMagic, kMagicSize);
  return footer;
}

KitExtent KitExtentFrom(const unsigned char* footer, uint64_t size) {
  KitExtent whole;
  whole.size = size;
  if (size < kBundleFooterSize || std::memcmp(footer + 16, kMagic, kMagicSize) != 0) return whole;
  KitExtent inside;
  inside.offset = kit_format::GetU64(footer);
  inside.size = kit_format::GetU64(footer + 8);
  inside.bundled = true;
  // The kit ends where the footer starts; anything else is not a bundle
  // this tool made, and is read as it is (and refused as no kit).
  const uint64_t end = size - kBundleFooterSize;
  if (inside.offset > end || inside.size != end - inside.offset) return whole;
  return inside;
}

bool KitExtentOf(int fd, uint64_t size, KitExtent* extent) {
  unsigned char footer[kBundleFooterSize] = {};
  if (size >= kBundleFooterSize &&
      ReadAt(fd, footer, sizeof footer, static_cast<off64_t>(size - sizeof footer)) !=
          static_cast<ssize_t>(sizeof footer)) {
    return false;
  }
  *extent = KitExtentFrom(footer, size);
  return true;
}

bool KitExtentOfPath(const std::string& path, KitExtent* extent) {
  ScopedFd fd = OpenFile(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  return fd.IsValid() && StatOf(fd.Get(), &st) &&
         KitExtentOf(fd.Get(), static_cast<uint64_t>(st.st_size), extent);
}

uint64_t StrayBytesAfterProgram(const std::string& path) {
  ScopedFd fd = OpenFile(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  KitExtent extent;
  if (!fd.IsValid() || !StatOf(fd.Get(), &st) ||
      !KitExtentOf(fd.Get(), static_cast<uint64_t>(st.st_size), &extent) || extent.bundled) {
    return 0;
  }
  Elf64_Ehdr header;
  if (ReadAt(fd.Get(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_shoff == 0) {
    return 0;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (header.e_shoff > size) return 0;  // cut inside the program, or not one
  const uint64_t end = header.e_shoff + uint64_t{header.e_shnum} * header.e_shentsize;
  return end < size ? size - end : 0;
}

namespace {

// A file opened for reading with its size and the extent of a kit in it.
struct Source {
  ScopedFd fd;
  uint64_t size = 0;
  KitExtent kit;
};

bool OpenSource(const std::string& path, Source* source, std::string* error) {
  source->fd = OpenFile(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (!source->fd.IsValid() || !StatOf(source->fd.Get(), &st) ||
      !KitExtentOf(source->fd.Get(), static_cast<uint64_t>(st.st_size), &source->kit)) {
    *error = path + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  source->size = static_cast<uint64_t>(st.st_size);
  return true;
}

// Copies `length` bytes from `offset` of `from` to the end of `to`.
bool CopyRange(int from, uint64_t offset, uint64_t length, int to) {
  std::string buffer(1 << 20, '\0');
  while (length != 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    const ssize_t n = ReadAt(from, buffer.data(), piece, static_cast<off64_t>(offset));
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the file got shorter while we read it
      return false;
    }
    if (!WriteFully(to, std::string_view(buffer.data(), static_cast<size_t>(n)))) return false;
    offset += static_cast<uint64_t>(n);
    length -= static_cast<uint64_t>(n);
  }
  return true;
}

}  // namespace

bool WriteBundle(const std::string& installer, const std::string& kit, const std::string& out,
                 std::string* error) {
  Source program;
  Source kitFile;
  if (!OpenSource(installer, &program, error) || !OpenSource(kit, &kitFile, error)) return false;
  char magic[4] = {};
  if (ReadAt(program.fd.Get(), magic, sizeof magic, 0) != 4 || std::memcmp(magic, "\177ELF", 4)) {
    *error = installer + ": not an executable file (give the installer with --installer)";
    return false;
  }
  if (kitFile.kit.bundled) {
    *error = kit + ": an installer with a kit inside; give the kit itself";
    return false;
  }
  // An installer that carries a kit already gives only its own bytes.
  uint64_t programSize = program.kit.bundled ? program.kit.offset : program.size;
  ProgramSeal seal;
  std::string problem;
  if (program.kit.bundled &&
      ReadProgramSeal(program.fd.Get(), program.kit, &seal, &problem) == TrailerState::kPresent) {
    programSize = seal.offset;
  }
  // The program's digest goes with it, for `vkt verify` and for the
  // signatures `vkt sign` adds over program and kit.
  seal = ProgramSeal{};
  if (!DigestOfRange(program.fd.Get(), programSize, &seal.programDigest)) {
    *error = installer + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  const std::string sealBytes = EncodeProgramSeal(seal);

  const ReplaceResult result = ReplaceFileDurably(out, NewFileMode::kExact, 0755, [&](int file) {
    return CopyRange(program.fd.Get(), 0, programSize, file) && WriteFully(file, sealBytes) &&
           CopyRange(kitFile.fd.Get(), 0, kitFile.size, file) &&
           WriteFully(file, EncodeBundleFooter(programSize + sealBytes.size(), kitFile.size));
  });
  if (result != ReplaceResult::kDone) {
    *error = out + ": cannot be written: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace qorv
