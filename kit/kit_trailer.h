// The kit trailer: what follows the compressed stream of a verified kit, so
// that a damaged or forged kit is refused before anything is installed. It
// is found from the end of the file, and readers that stop at the end of the
// stream never see it. Layout (little-endian; docs/kit-format.md):
//
//   8   "qvkt-trl"
//   4   version, 1
//   8   unpacked size: the bytes the stream inflates to
//   8   entry bytes: the sum of the entries' sizes
//   32  SHA-256 of every byte of the file before the trailer
//   4   signature count n
//   n × 104  signatures: 8 key id, 32 Ed25519 public key, 64 signature of
//            the 32 digest bytes
//   4   the trailer's length, all of it
//   8   "qvkt-end"
//
// Right before the trailer a kit may carry a table of entry digests, found
// from the trailer's start; the kit's digest covers it, and readers that do
// not know it take it for bytes after the stream:
//
//   8   "qvkt-dgs"
//   4   entry count n
//   n × 32  SHA-256 of each entry's bytes, in entry order
//   4   the table's length, all of it (24 + 32 n)
//   8   "qvkt-dge"
#ifndef QORV_KIT_KIT_TRAILER_H_
#define QORV_KIT_KIT_TRAILER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit_bundle.h"
#include "kit/kit_crypto.h"

namespace qorv {

struct KitSignature {
  KeyId keyId{};
  PublicKey publicKey;
  Signature signature{};
};

struct KitTrailer {
  uint64_t unpackedSize = 0;
  uint64_t entryBytes = 0;
  Digest digest{};
  std::vector<KitSignature> signatures;
  // From the table before the trailer: each entry's SHA-256, in entry
  // order, and the table's size; empty and 0 when the kit has none.
  std::vector<Digest> entryDigests;
  uint64_t tableSize = 0;
  bool HasEntryDigests() const { return tableSize != 0; }
};

inline constexpr uint32_t kTrailerVersion = 1;
// The trailer without signatures.
inline constexpr size_t kMinTrailerSize = 76;
inline constexpr size_t kSignatureRecordSize = 104;

std::string EncodeTrailer(const KitTrailer& trailer);
// The table of entry digests that goes right before the trailer.
std::string EncodeEntryDigests(const std::vector<Digest>& digests);

// One signature record (kSignatureRecordSize bytes: key id, public key,
// signature), as trailers and bundles' program seals hold them.
void AppendSignatureRecord(std::string* out, const KitSignature& signature);
KitSignature SignatureRecordAt(const unsigned char* record);

enum class TrailerState {
  kAbsent,   // the file does not end with a trailer: a kit without one
  kPresent,  // *trailer and *streamEnd are set
  kDamaged,  // it ends like one, but the rest does not hold together
};

// Looks for a trailer at the end of the `size` bytes of a kit file, and
// for the table of entry digests before it. `*streamEnd` receives where the
// stream ends: where the table starts, else the trailer (the kit's digest
// covers the bytes before streamEnd + tableSize); `*problem` says what is
// wrong with a damaged one.
TrailerState FindTrailer(const unsigned char* data, size_t size, KitTrailer* trailer,
                         size_t* streamEnd, std::string* problem);

// The same for the kit file at `path`, reading only its end: for the space
// check before the kit is unpacked. kAbsent also when it cannot be read.
TrailerState ReadTrailerOf(const std::string& path, KitTrailer* trailer, std::string* problem);
// The same for the kit at `kit` in the open file `fd`; `*streamEnd` is where
// the stream ends, from the kit's start.
TrailerState ReadTrailerAt(int fd, const KitExtent& kit, KitTrailer* trailer, uint64_t* streamEnd,
                           std::string* problem);

// Whether `bytes` (what follows a kit's stream) start like a trailer or the
// table of entry digests: then a kit whose end does not hold a trailer has a
// damaged one, not none.
bool StartsLikeTrailer(const unsigned char* bytes, size_t size);

// The signature of `trailer` that `key` made and that verifies against its
// digest; null when there is none.
const KitSignature* ValidSignatureBy(const KitTrailer& trailer, const PublicKey& key);

// Whether the kit's bytes have `digest`, the trailer's, and every signature
// the trailer carries holds for it: 0, or 13 with `*problem` set.
uint32_t CheckKitDigest(const KitTrailer& trailer, const Digest& digest, std::string* problem);

}  // namespace qorv

#endif  // QORV_KIT_KIT_TRAILER_H_
