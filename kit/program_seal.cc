#include "kit/program_seal.h"

#include <cstring>

#include "fs/file_util.h"
#include "kit/kit_format.h"

namespace qorv {

namespace {

constexpr char kSealMagic[] = "qvkt-prg";
constexpr size_t kMagicSize = 8;

}  // namespace

std::string EncodeProgramSeal(const ProgramSeal& seal) {
  std::string out;
  out.append(reinterpret_cast<const char*>(seal.programDigest.data()), seal.programDigest.size());
  kit_format::PutU32(&out, static_cast<uint32_t>(seal.signatures.size()));
  for (const KitSignature& s : seal.signatures) AppendSignatureRecord(&out, s);
  kit_format::PutU32(&out, static_cast<uint32_t>(out.size() + 4 + kMagicSize));
  out.append(kSealMagic, kMagicSize);
  return out;
}

Digest BundleDigest(const Digest& program, const Digest& kit) {
  static const char kDomain[] = "qvkt-bundle-1";
  Sha256 hash;
  hash.Update(kDomain, sizeof kDomain - 1);
  hash.Update(program.data(), program.size());
  hash.Update(kit.data(), kit.size());
  return hash.Final();
}

TrailerState ReadProgramSeal(int fd, const KitExtent& kit, ProgramSeal* seal,
                             std::string* problem) {
  unsigned char end[4 + kMagicSize];
  if (!kit.bundled || kit.offset < sizeof end ||
      ReadAt(fd, end, sizeof end, static_cast<off64_t>(kit.offset - sizeof end)) !=
          static_cast<ssize_t>(sizeof end) ||
      std::memcmp(end + 4, kSealMagic, kMagicSize) != 0) {
    return TrailerState::kAbsent;
  }
  const uint32_t length = kit_format::GetU32(end);
  if (length < kMinSealSize || length > kit.offset ||
      (length - kMinSealSize) % kSignatureRecordSize != 0) {
    *problem = "the program's seal has an impossible length";
    return TrailerState::kDamaged;
  }
  std::string bytes(length, '\0');
  if (ReadAt(fd, bytes.data(), length, static_cast<off64_t>(kit.offset - length)) !=
      static_cast<ssize_t>(length)) {
    *problem = "the program's seal cannot be read";
    return TrailerState::kDamaged;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const uint32_t count = kit_format::GetU32(p + 32);
  if (kMinSealSize + uint64_t{count} * kSignatureRecordSize != length) {
    *problem = "the program's seal has a signature count that disagrees with its length";
    return TrailerState::kDamaged;
  }
  seal->offset = kit.offset - length;
  std::memcpy(seal->programDigest.data(), p, seal->programDigest.size());
  seal->signatures.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    seal->signatures[i] = SignatureRecordAt(p + 36 + i * kSignatureRecordSize);
  }
  return TrailerState::kPresent;
}

bool DigestOfRange(int fd, uint64_t size, Digest* digest) {
  Sha256 hash;
  std::string buffer(1 << 20, '\0');
  for (uint64_t at = 0; at < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - at));
    const ssize_t n = ReadAt(fd, buffer.data(), want, static_cast<off64_t>(at));
    if (n <= 0) return false;
    hash.Update(buffer.data(), static_cast<size_t>(n));
    at += static_cast<uint64_t>(n);
  }
  *digest = hash.Final();
  return true;
}

const KitSignature* ValidProgramSignatureBy(const ProgramSeal& seal, const Digest& kitDigest,
                                            const PublicKey& key) {
  const Digest signedDigest = BundleDigest(seal.programDigest, kitDigest);
  for (const KitSignature& s : seal.signatures) {
    if (s.publicKey == key && s.keyId == key.Id() && VerifyDigest(key, signedDigest, s.signature)) {
      return &s;
    }
  }
  return nullptr;
}

}  // namespace qorv
