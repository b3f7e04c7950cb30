#include "kit/kit_trailer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "fs/error_codes.h"
#include "fs/file_util.h"
#include "kit/kit_bundle.h"
#include "kit/kit_format.h"

namespace qorv {

namespace {

constexpr char kOpeningMagic[] = "qvkt-trl";
constexpr char kClosingMagic[] = "qvkt-end";
constexpr char kTableOpening[] = "qvkt-dgs";
constexpr char kTableClosing[] = "qvkt-dge";
constexpr size_t kMagicSize = 8;
constexpr size_t kTableFrame = kMagicSize + 4 + 4 + kMagicSize;
constexpr size_t kDigestSize = std::tuple_size<Digest>::value;

using kit_format::GetU64;
using kit_format::PutU64;

template <size_t N>
void PutBytes(std::string* out, const std::array<unsigned char, N>& bytes) {
  out->append(reinterpret_cast<const char*>(bytes.data()), N);
}

template <size_t N>
void GetBytes(const unsigned char* p, std::array<unsigned char, N>* bytes) {
  std::memcpy(bytes->data(), p, N);
}

// The table of entry digests that ends the `size` bytes at `data` (what
// precedes a trailer): kAbsent when they do not end like one.
TrailerState FindEntryDigests(const unsigned char* data, size_t size, KitTrailer* trailer,
                              std::string* problem) {
  if (size < 4 + kMagicSize || std::memcmp(data + size - kMagicSize, kTableClosing, kMagicSize)) {
    return TrailerState::kAbsent;
  }
  const uint32_t length = kit_format::GetU32(data + size - kMagicSize - 4);
  const unsigned char* p = data + size - length;
  if (length < kTableFrame || length > size || std::memcmp(p, kTableOpening, kMagicSize) != 0 ||
      (length - kTableFrame) % kDigestSize != 0 ||
      kit_format::GetU32(p + kMagicSize) != (length - kTableFrame) / kDigestSize) {
    *problem = "the table of entry digests is cut or overwritten";
    return TrailerState::kDamaged;
  }
  trailer->entryDigests.resize((length - kTableFrame) / kDigestSize);
  for (size_t i = 0; i < trailer->entryDigests.size(); ++i) {
    GetBytes(p + kMagicSize + 4 + i * kDigestSize, &trailer->entryDigests[i]);
  }
  trailer->tableSize = length;
  return TrailerState::kPresent;
}

}  // namespace

std::string EncodeEntryDigests(const std::vector<Digest>& digests) {
  std::string out(kTableOpening, kMagicSize);
  kit_format::PutU32(&out, static_cast<uint32_t>(digests.size()));
  for (const Digest& d : digests) PutBytes(&out, d);
  kit_format::PutU32(&out, static_cast<uint32_t>(out.size() + 4 + kMagicSize));
  out.append(kTableClosing, kMagicSize);
  return out;
}

void AppendSignatureRecord(std::string* out, const KitSignature& signature) {
  PutBytes(out, signature.keyId);
  PutBytes(out, signature.publicKey.bytes);
  PutBytes(out, signature.signature);
}

KitSignature SignatureRecordAt(const unsigned char* record) {
  KitSignature s;
  GetBytes(record, &s.keyId);
  GetBytes(record + 8, &s.publicKey.bytes);
  GetBytes(record + 40, &s.signature);
  return s;
}

std::string EncodeTrailer(const KitTrailer& trailer) {
  std::string out(kOpeningMagic, kMagicSize);
  kit_format::PutU32(&out, kTrailerVersion);
  PutU64(&out, trailer.unpackedSize);
  PutU64(&out, trailer.entryBytes);
  PutBytes(&out, trailer.digest);
  kit_format::PutU32(&out, static_cast<uint32_t>(trailer.signatures.size()));
  for (const KitSignature& s : trailer.signatures) AppendSignatureRecord(&out, s);
  kit_format::PutU32(&out, static_cast<uint32_t>(out.size() + 4 + kMagicSize));
  out.append(kClosingMagic, kMagicSize);
  return out;
}

TrailerState FindTrailer(const unsigned char* data, size_t size, KitTrailer* trailer,
                         size_t* streamEnd, std::string* problem) {
  if (size < 4 + kMagicSize || std::memcmp(data + size - kMagicSize, kClosingMagic, kMagicSize)) {
    return TrailerState::kAbsent;
  }
  auto damaged = [problem](const std::string& what) {
    *problem = "the trailer " + what;
    return TrailerState::kDamaged;
  };
  uint32_t length = kit_format::GetU32(data + size - kMagicSize - 4);
  if (length < kMinTrailerSize || length > size) return damaged("has an impossible length");
  const unsigned char* p = data + size - length;
  if (std::memcmp(p, kOpeningMagic, kMagicSize) != 0) return damaged("is cut or overwritten");
  uint32_t version = kit_format::GetU32(p + 8);
  if (version != kTrailerVersion) {
    return damaged("has version " + std::to_string(version) + ", which this program cannot read");
  }
  uint32_t count = kit_format::GetU32(p + 60);
  if (count > (length - kMinTrailerSize) / kSignatureRecordSize ||
      kMinTrailerSize + count * kSignatureRecordSize != length) {
    return damaged("has a signature count that disagrees with its length");
  }
  trailer->unpackedSize = GetU64(p + 12);
  trailer->entryBytes = GetU64(p + 20);
  GetBytes(p + 28, &trailer->digest);
  trailer->signatures.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    trailer->signatures[i] = SignatureRecordAt(p + 64 + i * kSignatureRecordSize);
  }
  *streamEnd = size - length;
  trailer->entryDigests.clear();
  trailer->tableSize = 0;
  if (FindEntryDigests(data, *streamEnd, trailer, problem) == TrailerState::kDamaged) {
    return TrailerState::kDamaged;
  }
  *streamEnd -= trailer->tableSize;
  return TrailerState::kPresent;
}

TrailerState ReadTrailerOf(const std::string& path, KitTrailer* trailer, std::string* problem) {
  ScopedFd fd = OpenFile(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  KitExtent kit;  // the file, or the kit an installer carries
  if (!fd.IsValid() || !StatOf(fd.Get(), &st) ||
      !KitExtentOf(fd.Get(), static_cast<uint64_t>(st.st_size), &kit)) {
    return TrailerState::kAbsent;
  }
  uint64_t streamEnd = 0;
  return ReadTrailerAt(fd.Get(), kit, trailer, &streamEnd, problem);
}

TrailerState ReadTrailerAt(int fd, const KitExtent& kit, KitTrailer* trailer, uint64_t* streamEnd,
                           std::string* problem) {
  unsigned char end[4 + kMagicSize];
  if (kit.size < sizeof end ||
      ReadAt(fd, end, sizeof end, static_cast<off64_t>(kit.offset + kit.size - sizeof end)) !=
          static_cast<ssize_t>(sizeof end)) {
    return TrailerState::kAbsent;
  }
  const uint64_t size = kit.size;
  size_t length = kit_format::GetU32(end);
  if (length < sizeof end || length > size) length = sizeof end;  // FindTrailer says why
  std::string bytes(length, '\0');
  if (ReadAt(fd, bytes.data(), length, static_cast<off64_t>(kit.offset + size - length)) !=
      static_cast<ssize_t>(length)) {
    return TrailerState::kAbsent;
  }
  size_t start = 0;
  TrailerState state = FindTrailer(reinterpret_cast<const unsigned char*>(bytes.data()), length,
                                   trailer, &start, problem);
  *streamEnd = size - length + start;
  if (state != TrailerState::kPresent) return state;
  // The table of entry digests, when the bytes before the trailer end like one.
  unsigned char tableEnd[4 + kMagicSize];
  if (*streamEnd < sizeof tableEnd ||
      ReadAt(fd, tableEnd, sizeof tableEnd,
             static_cast<off64_t>(kit.offset + *streamEnd - sizeof tableEnd)) !=
          static_cast<ssize_t>(sizeof tableEnd) ||
      std::memcmp(tableEnd + 4, kTableClosing, kMagicSize) != 0) {
    return state;
  }
  const uint64_t tableLength = std::min<uint64_t>(kit_format::GetU32(tableEnd), *streamEnd);
  std::string table(static_cast<size_t>(std::max<uint64_t>(tableLength, sizeof tableEnd)), '\0');
  if (ReadAt(fd, table.data(), table.size(),
             static_cast<off64_t>(kit.offset + *streamEnd - table.size())) !=
      static_cast<ssize_t>(table.size())) {
    return TrailerState::kAbsent;
  }
  state = FindEntryDigests(reinterpret_cast<const unsigned char*>(table.data()), table.size(),
                           trailer, problem);
  if (state == TrailerState::kPresent) *streamEnd -= trailer->tableSize;
  return state;
}

bool StartsLikeTrailer(const unsigned char* bytes, size_t size) {
  return size >= kMagicSize && (std::memcmp(bytes, kOpeningMagic, kMagicSize) == 0 ||
                                std::memcmp(bytes, kTableOpening, kMagicSize) == 0);
}

const KitSignature* ValidSignatureBy(const KitTrailer& trailer, const PublicKey& key) {
  for (const KitSignature& s : trailer.signatures) {
    if (s.publicKey == key && s.keyId == key.Id() &&
        VerifyDigest(key, trailer.digest, s.signature)) {
      return &s;
    }
  }
  return nullptr;
}

// Whether the kit's bytes have `digest`, the trailer's, and every signature
// the trailer carries holds for it.
uint32_t CheckKitDigest(const KitTrailer& trailer, const Digest& digest, std::string* problem) {
  if (digest != trailer.digest) {
    *problem = "digest mismatch: the kit is damaged or was changed after it was made";
    return kErrorInvalidData;
  }
  // Whoever made a signature, it must hold for this kit: one that does
  // not is damage or forgery, never to be passed over.
  const std::vector<KitSignature>& signatures = trailer.signatures;
  for (size_t i = 0; i < signatures.size(); ++i) {
    const KitSignature& s = signatures[i];
    if (s.keyId != s.publicKey.Id() || !VerifyDigest(s.publicKey, trailer.digest, s.signature)) {
      *problem =
          "signature " + std::to_string(i + 1) + " (key " + Hex(s.keyId) + ") does not verify";
      return kErrorInvalidData;
    }
  }
  return kErrorNone;
}

}  // namespace qorv
