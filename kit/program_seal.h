// What a bundle (kit/kit_bundle.h) says about its program: the program's
// digest, and signatures over program and kit together, so that a vendor's
// signed kit spliced onto another program is told from the vendor's bundle.
// It lies between the program and the kit, and ends with its own length, so
// that readers that know only the footer find the kit as before
// (docs/kit-format.md):
//
//   32        SHA-256 of the program: every byte of the file before the seal
//   4         signature count n
//   n × 104   signatures: 8 key id, 32 Ed25519 public key, 64 signature of
//             BundleDigest(program digest, kit digest)
//   4         the seal's length, all of it
//   8         "qvkt-prg"
#ifndef QORV_KIT_PROGRAM_SEAL_H_
#define QORV_KIT_PROGRAM_SEAL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "kit/kit_bundle.h"
#include "kit/kit_trailer.h"

namespace qorv {

struct ProgramSeal {
  uint64_t offset = 0;  // where it starts: the program's size
  Digest programDigest{};
  std::vector<KitSignature> signatures;
};

inline constexpr size_t kMinSealSize = 48;

std::string EncodeProgramSeal(const ProgramSeal& seal);

// The digest a bundle's signatures sign: SHA-256 of "qvkt-bundle-1", the
// program's digest and the kit's (its trailer's).
Digest BundleDigest(const Digest& program, const Digest& kit);

// The seal that ends where the bundled `kit` in the open file `fd` starts.
// kAbsent for a bundle made before programs were sealed, kDamaged (with
// `*problem`) for one that does not hold together.
TrailerState ReadProgramSeal(int fd, const KitExtent& kit, ProgramSeal* seal, std::string* problem);

// SHA-256 of the first `size` bytes of `fd`; false when they cannot be read.
bool DigestOfRange(int fd, uint64_t size, Digest* digest);

// The seal's signature by `key` that holds for its program and `kitDigest`;
// null when there is none.
const KitSignature* ValidProgramSignatureBy(const ProgramSeal& seal, const Digest& kitDigest,
                                            const PublicKey& key);

}  // namespace qorv

#endif  // QORV_KIT_PROGRAM_SEAL_H_
