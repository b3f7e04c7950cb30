#include "kit/kit_crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

namespace qorv {

namespace {

constexpr char kSecretPrefix[] = "qorv-kit-secret-key-1 ";
constexpr char kPublicPrefix[] = "qorv-kit-public-key-1 ";

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

bool PublicOf(EVP_PKEY* key, PublicKey* out) {
  size_t size = out->bytes.size();
  return EVP_PKEY_get_raw_public_key(key, out->bytes.data(), &size) == 1 &&
         size == out->bytes.size();
}

template <size_t N>
bool ParseHex(const std::string& text, const char* prefix, std::array<unsigned char, N>* out) {
  std::string line = text;
  if (!line.empty() && line.back() == '\n') line.pop_back();
  size_t start = std::strlen(prefix);
  if (line.compare(0, start, prefix) != 0 || line.size() != start + 2 * N) return false;
  for (size_t i = 0; i < N; ++i) {
    unsigned value = 0;
    for (size_t j = 0; j < 2; ++j) {
      char c = line[start + 2 * i + j];
      unsigned digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 16;
      if (digit > 15) return false;
      value = value * 16 + digit;
    }
    (*out)[i] = static_cast<unsigned char>(value);
  }
  return true;
}

}  // namespace

KeyId PublicKey::Id() const {
  Digest digest = Sha256Of(bytes.data(), bytes.size());
  KeyId id;
  std::memcpy(id.data(), digest.data(), id.size());
  return id;
}

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha256(), nullptr);
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void Sha256::Update(const void* data, size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, size);
}

Digest Sha256::Final() {
  Digest digest{};
  unsigned int size = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest.data(), &size);
  return digest;
}

Digest Sha256Of(const void* data, size_t size) {
  Sha256 hash;
  hash.Update(data, size);
  return hash.Final();
}

bool GenerateKeyPair(SecretKey* key) {
  if (RAND_bytes(key->seed.data(), static_cast<int>(key->seed.size())) != 1) return false;
  Pkey pkey(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key->seed.data(), key->seed.size()));
  return pkey && PublicOf(pkey.get(), &key->publicKey);
}

bool SignDigest(const SecretKey& key, const Digest& digest, Signature* signature) {
  Pkey pkey(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed.data(), key.seed.size()));
  MdCtx context(EVP_MD_CTX_new());
  size_t size = signature->size();
  return pkey && context &&
         EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
         EVP_DigestSign(context.get(), signature->data(), &size, digest.data(), digest.size()) ==
             1 &&
         size == signature->size();
}

bool VerifyDigest(const PublicKey& key, const Digest& digest, const Signature& signature) {
  Pkey pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.bytes.data(), key.bytes.size()));
  MdCtx context(EVP_MD_CTX_new());
  return pkey && context &&
         EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) == 1 &&
         EVP_DigestVerify(context.get(), signature.data(), signature.size(), digest.data(),
                          digest.size()) == 1;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

std::string SecretKeyText(const SecretKey& key) { return kSecretPrefix + Hex(key.seed) + "\n"; }

std::string PublicKeyText(const PublicKey& key) { return kPublicPrefix + Hex(key.bytes) + "\n"; }

bool ParseSecretKey(const std::string& text, SecretKey* key) {
  if (!ParseHex(text, kSecretPrefix, &key->seed)) return false;
  Pkey pkey(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key->seed.data(), key->seed.size()));
  return pkey && PublicOf(pkey.get(), &key->publicKey);
}

bool ParsePublicKey(const std::string& text, PublicKey* key) {
  return ParseHex(text, kPublicPrefix, &key->bytes);
}

}  // namespace qorv
