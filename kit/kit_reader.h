// Reads an installation kit: one raw-DEFLATE stream which, inflated, holds a
// head (descriptions per language, then the entry table) and a data area
// with the files' bytes.
//
// A kit with a trailer whose entries lie in the data area in order, without
// overlap (what `vkt pack` writes), is read in place: Open() checks its
// digest and inflates the head alone, and the entries are later inflated in
// one pass straight from the kit file (kit/kit_stream.h). Any other kit is
// inflated once by Open() into a temporary file (the unpacked kit), and its
// entries are copied out of that by position.
//
// The kit cannot be trusted: every count, size, offset and name is checked
// before it is used, so a damaged or hostile kit fails Open() with a nonzero
// code, allocates no more than its size calls for, and writes nothing
// outside the places asked for.
//
// Open() and the description lookups run on the UI thread; BeginStream(),
// ExtractEntry() and EndStream() only on the copy thread, which is then the
// sole user of the descriptors and the copy buffer. The unpacked kit is
// removed, and the kit file closed, when the reader is closed or destroyed.
#ifndef QORV_KIT_KIT_READER_H_
#define QORV_KIT_KIT_READER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/text_string.h"
#include "fs/file_io.h"
#include "fs/file_util.h"
#include "kit/kit_crypto.h"
#include "kit/kit_format.h"
#include "kit/kit_head.h"
#include "kit/kit_stream.h"
#include "kit/kit_trailer.h"

namespace qorv {

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
// The same, each block of the unpacked kit handed to `sink` in order (false,
// with errno set, stops the unpacking).
using UnpackedSink = std::function<bool(const unsigned char* bytes, size_t size)>;
uint32_t UnpackKitTo(const std::string& kitPath, const UnpackedSink& sink, bool* complete = nullptr,
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

  // Checks the kit and reads its head; a kit that cannot be read in place
  // is first unpacked into a file without a name in the temporary directory
  // (112 at once when its trailer says it will not fit, with the figures). Returns 0; 1013 when
  // the temporary file cannot be made; 2 or 87 when a file cannot be opened or read; 112 when the
  // temporary directory fills up; 13 when the stream is not raw DEFLATE, the
  // head is damaged, or the kit's trailer does not match it (see Problem()).
  // A kit with a trailer is checked against its digest. On failure the
  // unpacked kit is gone and the entry table is empty; descriptions read so
  // far stay. The unpacked kit never has a name, so it goes with the process
  // however and whenever the process ends.
  uint32_t Open(const std::string& kitPath, Strictness strictness = Strictness::kInstaller);
  // For a dry run: the head only, and nothing written anywhere. A kit read
  // in place opens as with Open(); one that Open() would unpack is inflated
  // without being stored (its first kMaxKeptHead bytes kept in memory for
  // the head, the most a head may have; the rest only counted). The
  // entries cannot be read then.
  static constexpr size_t kMaxKeptHead = kit_format::kMaxHeadBytes;
  uint32_t OpenHeadOnly(const std::string& kitPath);
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

  // Whether the entries are read in place, in one pass (see above): then
  // ExtractEntry() takes them in increasing order only, and no unpacked kit
  // exists.
  bool Streams() const { return streams_; }
  // Starts the pass over the data area for the entries whose flag in
  // `wanted` (one per entry) is set: only their bytes are handed out, and
  // nothing is inflated past the last of them. Returns 0, or 87 when the
  // reader does not stream.
  uint32_t BeginStream(std::vector<bool> wanted);
  // Ends the pass, if one runs. With `verify`, first reads the rest of the
  // kit and checks the digest of all of it: 13 when the kit file changed
  // after Open() (Problem() says so), or the pass's own failure.
  uint32_t EndStream(bool verify);
  // Whether the pass inflates on a thread of its own while the copy thread
  // writes (the default), for the benchmarks.
  void SetStreamThreaded(bool threaded) { streamThreaded_ = threaded; }

  // Writes entry `index` to `destination`: created when missing (0666 less
  // the umask, or exactly `permissions` when that is not -1: the bits of
  // the file it replaces), cut to the entry's length, its times set to the
  // entry's (whole seconds). Returns 0, a file-layer code, 13 when the
  // unpacked kit or the stream ends early (Problem() says why), or 1223 when `cancelled` answers
  // true between two 1 MiB blocks. A failure leaves a partly written destination; undoing it is the
  // caller's business. With `digest` given, it receives the SHA-256 of the bytes written. Reading
  // in place, a call for an entry the pass was not started for, or one before the last, gives 87;
  // without a pass, one starts for this entry and all that follow.
  uint32_t ExtractEntry(size_t index, const std::string& destination,
                        const std::function<bool()>& cancelled = {}, int permissions = -1,
                        Digest* digest = nullptr);

  // Entry `index`'s bytes into `*bytes`, or block by block to `sink`, under
  // the same rules and with the same codes as ExtractEntry().
  uint32_t ReadEntry(size_t index, std::string* bytes);
  uint32_t ReadEntryTo(size_t index, const std::function<void(const unsigned char*, size_t)>& sink);

  const std::vector<KitDescription>& descriptions() const { return head_.descriptions; }
  const std::vector<KitEntry>& entries() const { return head_.entries; }
  size_t EntryCount() const { return head_.entries.size(); }
  const KitEntry& Entry(size_t index) const { return head_.entries[index]; }
  // The unpacked kit's name while it has one (OpenUnpacked); empty after a
  // successful Open().
  const std::string& UnpackedPath() const { return unpackedPath_; }
  // The kit file Open() read.
  const std::string& KitPath() const { return kitPath_; }
  // After Open(): whether the kit carries a trailer, and the trailer.
  bool HasTrailer() const { return check_.hasTrailer; }
  const KitTrailer& Trailer() const { return check_.trailer; }

 private:
  uint32_t ParseHead(Strictness strictness);
  // Open() for a kit with a trailer: the digest, then the head alone.
  // `*inPlace` is false when the kit must be unpacked after all (no
  // trailer, entries out of order).
  uint32_t OpenInPlace(const std::string& kitPath, bool* inPlace);
  // A kit with a trailer: its entries' sizes add up to what it says.
  uint32_t CheckEntryBytes();
  // Where the next bytes of entry `index` come from: a block of the
  // unpacked kit, or the stream's next chunk.
  uint32_t NextBlock(size_t index, uint64_t position, uint32_t remaining,
                     const unsigned char** data, size_t* size);
  // Checks that entry `index` may be taken from the pass now, starting one
  // when none runs.
  uint32_t TakeFromStream(size_t index);
  uint32_t FailOpen(uint32_t code);

  KitHead head_;
  std::string unpackedPath_;
  std::string kitPath_;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  size_t bufferSize_ = kCopyBufferSize;
  std::string problem_;
  KitCheck check_;
  // Reading in place: the kit file, where its stream lies, the pass.
  bool streams_ = false;
  uint64_t knownUnpackedSize_ = 0;  // from a trailer whose digest matched
  bool streamThreaded_ = true;
  ScopedFd kit_;
  uint64_t streamOffset_ = 0;
  uint64_t streamSize_ = 0;
  std::unique_ptr<KitStream> stream_;
  size_t streamNext_ = 0;  // the first entry ExtractEntry() may still take
  bool chunkHeld_ = false;
  KitStream::Chunk chunk_;
};

}  // namespace qorv

#endif  // QORV_KIT_KIT_READER_H_
