// Makes kits: the head (descriptions and entry table) followed by the files'
// bytes, compressed as one raw-DEFLATE stream. File contents are streamed
// through the compressor block by block, so a kit of many gigabytes needs
// only a few megabytes of memory. Used by the kit tool and by tests.
#ifndef QORV_KIT_KIT_WRITER_H_
#define QORV_KIT_KIT_WRITER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kit/kit_crypto.h"
#include "kit/kit_reader.h"

namespace qorv {

struct KitSourceFile {
  WideString name;       // relative, backslash separators
  std::string diskPath;  // where the bytes are read from
  FileTime time;
  uint64_t size = 0;
};

struct KitContent {
  // false: the head without a language table; descriptions[0] (if any)
  // gives its product, provider and description path.
  bool languageTable = false;
  std::vector<KitDescription> descriptions;
  std::vector<KitSourceFile> files;
};

// The head exactly as the reader parses it, with data offsets assigned in
// file order. Empty with `*error` set when the content cannot be held by the
// format (an entry starting at or beyond 2 GiB, a size beyond 32 bits, an
// unsafe name).
std::string BuildKitHead(const KitContent& content, std::string* error);
// The head's bytes for `content` as given, without those checks: for tests
// that need a hostile kit. The format is in kit/kit_format.h.
std::string EncodeKitHead(const KitContent& content);

// Compresses `bytes` as one raw-DEFLATE stream.
std::string DeflateRaw(const std::string& bytes, int level = 6);

// Writes the kit to `outPath` (through a temporary file beside it, renamed
// into place at the end), followed by a trailer without signatures
// (kit/kit_trailer.h) unless `trailer` is false. Returns false with `*error`
// set on any failure, including a source file whose size changed while it
// was packed.
bool WriteKit(const KitContent& content, const std::string& outPath, std::string* error,
              bool trailer = true);

// How a kit is written: with or without its trailer (and the table of
// entry digests before it), the deflate level
// (0-9), and a callback told now and then how many of the entries' bytes
// are packed.
struct KitWriteOptions {
  bool trailer = true;
  // With the trailer: the table of the entries' SHA-256 before it.
  bool entryDigests = true;
  int level = 6;
  std::function<void(uint64_t packed, uint64_t total)> progress;
};
bool WriteKit(const KitContent& content, const std::string& outPath, std::string* error,
              const KitWriteOptions& options);
// The same straight into the open descriptor `fd` (standard output, say),
// which stays open; on failure part of the kit may have been written.
bool WriteKitTo(const KitContent& content, int fd, std::string* error,
                const KitWriteOptions& options);

// Adds a signature by `key` to the trailer of the kit at `kitPath` (one by
// the same key is replaced), through a file beside it renamed into place.
// A kit without a trailer, or whose digest does not match, is not signed.
// In an installer that carries its kit (kit/kit_bundle.h) both are signed:
// the kit, and program and kit together in the program's seal
// (kit/program_seal.h); a program that no longer matches its digest is not.
bool SignKit(const std::string& kitPath, const SecretKey& key, std::string* error);

}  // namespace qorv

#endif  // QORV_KIT_KIT_WRITER_H_
