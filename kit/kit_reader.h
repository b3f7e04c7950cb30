// Reads an installation kit: one raw-DEFLATE stream which, inflated, holds a
// head (descriptions per language, then the entry table) and a data area
// with the files' bytes. Open() inflates the kit once into a temporary file
// (the unpacked kit) and parses the head; entries are then copied out of the
// unpacked kit by position.
//
// The kit cannot be trusted: every count, size, offset and name is checked
// against the unpacked kit before it is used, so a damaged or hostile kit
// fails Open() with a nonzero code, allocates no more than its size calls
// for, and writes nothing outside the places asked for.
//
// Open() and the description lookups run on the UI thread; ExtractEntry()
// only on the copy thread, which is then the sole user of the descriptor and
// the copy buffer. The unpacked kit is removed when the reader is closed or
// destroyed.
#ifndef QORV_KIT_KIT_READER_H_
#define QORV_KIT_KIT_READER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/text_string.h"
#include "fs/file_io.h"
#include "kit/kit_crypto.h"
#include "kit/kit_format.h"
#include "kit/kit_trailer.h"

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

// Inflates the raw-DEFLATE kit at `kitPath` into the existing file
// `unpackedPath`. Returns 0, a file-layer code, or 13 when the stream is not
// raw DEFLATE. With `complete` given, it also tells whether the stream
// reached its end marker and nothing followed it.
uint32_t UnpackKit(const std::string& kitPath, const std::string& unpackedPath,
                   bool* complete = nullptr);
// The same into the open descriptor `out`, at its position; `out` stays open.
// With `check` given, a trailer at the end of the file (kit/kit_trailer.h)
// is read: the stream is taken to end where it starts, its digest is
// computed from the same bytes as they are inflated, and a digest or size
// that disagrees, or a damaged trailer, gives 13 with `check->problem` set.
// Without `check` the file is read the way earlier installers read it, to
// the end of the stream. 112 when the output's disk is full.
struct KitCheck {
  bool hasTrailer = false;
  KitTrailer trailer;
  std::string problem;
};
uint32_t UnpackKitInto(const std::string& kitPath, int out, bool* complete = nullptr,
                       KitCheck* check = nullptr);

class KitReader {
 public:
  static constexpr size_t kCopyBufferSize = 1048576;
  // Entries must start below this position of the unpacked kit.
  static constexpr uint64_t kMaxEntryStart = kit_format::kMaxEntryStart;

  enum class Strictness {
    kInstaller,  // what the installer needs to install safely
    kVerify,     // also: a complete stream, records exactly as long as their fields
  };

  KitReader();
  ~KitReader();
  KitReader(const KitReader&) = delete;
  KitReader& operator=(const KitReader&) = delete;

  // Unpacks the kit into a file without a name in the temporary directory
  // and reads its head. Returns 0; 1013 when the temporary file cannot be
  // made; 2 or 87 when a file cannot be opened or read; 112 when the
  // temporary directory fills up; 13 when the stream is not raw DEFLATE, the
  // head is damaged, or the kit's trailer does not match it (see Problem()).
  // A kit with a trailer is checked against its digest. On failure the
  // unpacked kit is gone and the entry table is empty; descriptions read so
  // far stay. The unpacked kit never has a name, so it goes with the process
  // however and whenever the process ends.
  uint32_t Open(const std::string& kitPath, Strictness strictness = Strictness::kInstaller);
  // Reads the head of an already unpacked kit, which the reader then owns
  // and removes. For tools and the fuzz target.
  uint32_t OpenUnpacked(const std::string& unpackedPath,
                        Strictness strictness = Strictness::kInstaller);
  // Closes and removes the unpacked kit. Safe to call more than once.
  void Close();

  // The first problem Open() met, in words, for the kit tool ("entry 3: ...").
  const std::string& Problem() const { return problem_; }

  // Product and provider of the first description whose language matches
  // (ASCII case ignored); empty texts when none does.
  void GetProductAndProvider(const WideString& language, WideString* product,
                             WideString* provider) const;
  // The matching description's path, or when that is empty or missing, the
  // path of the first "en" description; empty when neither exists.
  WideString GetDescriptionPath(const WideString& language) const;

  // Writes entry `index` to `destination`: created when missing (0666 less
  // the umask, or exactly `permissions` when that is not -1: the bits of
  // the file it replaces), cut to the entry's length, its times set to the
  // entry's (whole seconds). Returns 0, a file-layer code, 13 when the
  // unpacked kit ends early, or 1223 when `cancelled` answers true between
  // two 1 MiB blocks. A failure leaves a partly written destination; undoing
  // it is the caller's business. With `digest` given, it receives the
  // SHA-256 of the bytes written.
  uint32_t ExtractEntry(size_t index, const std::string& destination,
                        const std::function<bool()>& cancelled = {}, int permissions = -1,
                        Digest* digest = nullptr);

  const std::vector<KitDescription>& descriptions() const { return descriptions_; }
  const std::vector<KitEntry>& entries() const { return entries_; }
  size_t EntryCount() const { return entries_.size(); }
  const KitEntry& Entry(size_t index) const { return entries_[index]; }
  // The unpacked kit's name while it has one (OpenUnpacked); empty after a
  // successful Open().
  const std::string& UnpackedPath() const { return unpackedPath_; }
  // After Open(): whether the kit carries a trailer, and the trailer.
  bool HasTrailer() const { return check_.hasTrailer; }
  const KitTrailer& Trailer() const { return check_.trailer; }

 private:
  class HeadParser;
  uint32_t ParseHead(Strictness strictness);
  uint32_t FailOpen(uint32_t code);

  std::vector<KitDescription> descriptions_;
  std::vector<KitEntry> entries_;
  std::string unpackedPath_;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  size_t bufferSize_ = kCopyBufferSize;
  std::string problem_;
  KitCheck check_;
};

}  // namespace qorv

#endif  // QORV_KIT_KIT_READER_H_
