// Speed of unpacking a kit against the floor set by zlib itself: a bare
// raw-inflate loop writing the same output to the same disk. Two kits: many
// small text-like files, and a few large ones.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#ifdef QORV_BENCH_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "base/text_convert.h"
#include "bench/bench_trees.h"
#include "fs/file_util.h"
#include "kit/kit_crypto.h"
#include "kit/kit_reader.h"
#include "kit/kit_writer.h"

namespace {

using namespace qorv;
using namespace qorv::bench;
using Clock = std::chrono::steady_clock;

// zlib alone: inflate the mapped kit into a 1 MiB buffer and write it out.
double BareInflate(const std::string& kit, const std::string& out) {
  auto start = Clock::now();
  int in = ::open(kit.c_str(), O_RDONLY);
  struct stat st;
  ::fstat(in, &st);
  void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, in, 0);
  ::close(in);
  int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  z_stream s;
  std::memset(&s, 0, sizeof(s));
  inflateInit2(&s, -15);
  s.next_in = static_cast<unsigned char*>(map);
  s.avail_in = static_cast<uInt>(st.st_size);
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[1 << 20]);
  int result;
  do {
    s.next_out = buffer.get();
    s.avail_out = 1 << 20;
    result = inflate(&s, Z_NO_FLUSH);
    if (::write(fd, buffer.get(), (1 << 20) - s.avail_out) < 0) break;
  } while (result == Z_OK);
  inflateEnd(&s);
  ::munmap(map, static_cast<size_t>(st.st_size));
  ::close(fd);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Unpack(const std::string& kit, const std::string& out) {
  ::close(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
  auto start = Clock::now();
  uint32_t code = UnpackKit(kit, out);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (code != 0) std::fprintf(stderr, "UnpackKit failed with %u\n", code);
  return seconds;
}

// Unpacking into memory, so that the disk's noise does not hide the cost
// of the digest: with `checked`, as the installer does (the trailer read,
// the digest taken from the same bytes as they are inflated), else the way
// a reader without the check does.
double UnpackIntoMemory(const std::string& kit, bool checked) {
  ScopedFd fd(::memfd_create("unpacked", MFD_CLOEXEC));
  KitCheck check;
  auto start = Clock::now();
  uint32_t code = UnpackKitInto(kit, fd.Get(), nullptr, checked ? &check : nullptr);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (code != 0 || (checked && !check.hasTrailer)) {
    std::fprintf(stderr, "unpack failed with %u: %s\n", code, check.problem.c_str());
  }
  return seconds;
}

// Inflate alone, into one reused buffer, for the choice of inflater: zlib
// (what the installer uses) and, where it is installed, ISA-L.
double InflateOnly(const std::string& bytes, bool isal) {
  std::unique_ptr<unsigned char[]> out(new unsigned char[1 << 20]);
  auto start = Clock::now();
  if (!isal) {
    z_stream s;
    std::memset(&s, 0, sizeof(s));
    inflateInit2(&s, -15);
    s.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
    s.avail_in = static_cast<uInt>(bytes.size());
    int result;
    do {
      s.next_out = out.get();
      s.avail_out = 1 << 20;
      result = inflate(&s, Z_NO_FLUSH);
    } while (result == Z_OK);
    inflateEnd(&s);
  }
#ifdef QORV_BENCH_ISAL
  if (isal) {
    inflate_state state;
    isal_inflate_init(&state);
    state.crc_flag = 0;  // raw DEFLATE
    state.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data()));
    state.avail_in = static_cast<uint32_t>(bytes.size());
    do {
      state.next_out = out.get();
      state.avail_out = 1 << 20;
      if (isal_inflate(&state) != ISAL_DECOMP_OK) break;
    } while (state.block_state != ISAL_BLOCK_FINISH);
  }
#endif
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The digest alone, over the kit in memory.
double DigestOnly(const std::string& kit) {
  std::string bytes;
  ReadFileToString(kit, &bytes, nullptr, SIZE_MAX);
  auto start = Clock::now();
  volatile unsigned char first = Sha256Of(bytes.data(), bytes.size())[0];
  (void)first;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Measure(const char* label, const std::string& work, const KitContent& content) {
  std::string kit = work + "/" + label + ".vkt";
  std::string error;
  auto packStart = Clock::now();
  if (!WriteKit(content, kit, &error)) {
    std::fprintf(stderr, "pack failed: %s\n", error.c_str());
    return;
  }
  double pack = std::chrono::duration<double>(Clock::now() - packStart).count();
  std::string out = work + "/unpacked.bin";
  double bare = 1e9;
  double ours = 1e9;
  double plain = 1e9;
  double checked = 1e9;
  for (int round = 0; round < 3; ++round) {  // best of three, alternating
    // Each timing starts with no dirty pages of the previous one pending.
    std::system("sync");
    bare = std::min(bare, BareInflate(kit, out));
    std::system("sync");
    ours = std::min(ours, Unpack(kit, out));
    plain = std::min(plain, UnpackIntoMemory(kit, false));
    checked = std::min(checked, UnpackIntoMemory(kit, true));
  }
  uintmax_t unpacked = std::filesystem::file_size(out);
  std::printf("%-22s kit %7.1f MiB, unpacked %7.1f MiB, packed in %5.2f s\n", label,
              std::filesystem::file_size(kit) / 1048576.0, unpacked / 1048576.0, pack);
  std::printf("%-22s bare inflate %6.3f s, UnpackKit %6.3f s, ratio %.3f (goal <= 1.1)\n", "", bare,
              ours, ours / bare);
  std::printf(
      "%-22s into memory: unchecked %6.3f s, digest checked %6.3f s (+%.3f s); "
      "SHA-256 alone %6.3f s\n",
      "", plain, checked, checked - plain, DigestOnly(kit));
  std::string bytes;
  ReadFileToString(kit, &bytes, nullptr, SIZE_MAX);
  double zlib = 1e9;
  double isal = 1e9;
  for (int round = 0; round < 3; ++round) {
    zlib = std::min(zlib, InflateOnly(bytes, false));
#ifdef QORV_BENCH_ISAL
    isal = std::min(isal, InflateOnly(bytes, true));
#endif
  }
  if (isal < 1e9) {
    std::printf("%-22s inflate alone, in memory: zlib %6.3f s, ISA-L %6.3f s\n", "", zlib, isal);
  } else {
    std::printf("%-22s inflate alone, in memory: zlib %6.3f s (ISA-L not installed)\n", "", zlib);
  }
  std::filesystem::remove(out);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  std::string work = argc > 1 ? argv[1] : "bench-work";
  std::filesystem::create_directories(work);
  Measure("10000-small-files", work, MakeTree(work + "/small", 10000, 4096));
  Measure("4-files-of-128MiB", work, MakeTree(work + "/large", 4, 128u << 20));
  return 0;
}
