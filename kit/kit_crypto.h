// The cryptography of verified kits: SHA-256 digests and Ed25519 keys and
// signatures (OpenSSL's libcrypto), and the text form of key files. Safe on
// any thread.
#ifndef QORV_KIT_KIT_CRYPTO_H_
#define QORV_KIT_KIT_CRYPTO_H_

#include <array>
#include <cstddef>
#include <string>

namespace qorv {

using Digest = std::array<unsigned char, 32>;
using Signature = std::array<unsigned char, 64>;
// The first eight bytes of the SHA-256 of a public key: how a kit names the
// key that made a signature.
using KeyId = std::array<unsigned char, 8>;

struct PublicKey {
  std::array<unsigned char, 32> bytes{};
  KeyId Id() const;
  friend bool operator==(const PublicKey& a, const PublicKey& b) = default;
};

struct SecretKey {
  std::array<unsigned char, 32> seed{};
  PublicKey publicKey;
};

// SHA-256 fed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, size_t size);
  Digest Final();

 private:
  void* context_;
};

Digest Sha256Of(const void* data, size_t size);

// A new key pair from the system's random source; false when there is none.
bool GenerateKeyPair(SecretKey* key);
bool SignDigest(const SecretKey& key, const Digest& digest, Signature* signature);
bool VerifyDigest(const PublicKey& key, const Digest& digest, const Signature& signature);

// Lower-case hexadecimal.
std::string Hex(const unsigned char* bytes, size_t size);
template <size_t N>
std::string Hex(const std::array<unsigned char, N>& bytes) {
  return Hex(bytes.data(), N);
}

// Key files: one line, "qorv-kit-secret-key-1 <hex seed>" or
// "qorv-kit-public-key-1 <hex key>". Parsing takes the line with or without
// its line feed; false for anything else.
std::string SecretKeyText(const SecretKey& key);
std::string PublicKeyText(const PublicKey& key);
bool ParseSecretKey(const std::string& text, SecretKey* key);
bool ParsePublicKey(const std::string& text, PublicKey* key);

}  // namespace qorv

#endif  // QORV_KIT_KIT_CRYPTO_H_
