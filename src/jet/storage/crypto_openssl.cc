// SPDX-License-Identifier: Apache-2.0
// crypto.h on OpenSSL's libcrypto (the EVP interface).
#include "jet/storage/crypto.h"

#include <openssl/evp.h>

#include <memory>

namespace jet {

namespace {

const EVP_MD* Md(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return EVP_sha1();
    case HashAlgorithm::kSha256:
      return EVP_sha256();
    case HashAlgorithm::kSha384:
      return EVP_sha384();
    case HashAlgorithm::kSha512:
      return EVP_sha512();
  }
  return nullptr;
}

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

}  // namespace

Result<std::vector<uint8_t>> Hash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts) {
  // One context per thread, reused: key derivation hashes 100 000 times.
  thread_local std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned size = 0;
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), Md(algorithm), nullptr) == 1;
  for (ByteView part : parts) {
    ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
  }
  ok = ok && EVP_DigestFinal_ex(ctx.get(), out.data(), &size) == 1;
  if (!ok) return Status::IoError("The system's cryptography library (OpenSSL) failed to hash");
  out.resize(size);
  return out;
}

Status AesCbcDecrypt(ByteView key, ByteView iv, std::span<uint8_t> data) {
  const EVP_CIPHER* cipher = key.size() == 16   ? EVP_aes_128_cbc()
                             : key.size() == 24 ? EVP_aes_192_cbc()
                             : key.size() == 32 ? EVP_aes_256_cbc()
                                                : nullptr;
  if (!cipher || iv.size() != 16 || data.size() % 16 != 0) {
    return Status::InvalidArgument("AES-CBC: a key, IV or data of the wrong size");
  }
  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  int out = 0, last = 0;
  // In place: OpenSSL allows the output to be the input itself.
  const bool ok =
      ctx && EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data()) == 1 &&
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
      EVP_DecryptUpdate(ctx.get(), data.data(), &out, data.data(), int(data.size())) == 1 &&
      EVP_DecryptFinal_ex(ctx.get(), data.data() + out, &last) == 1;
  if (!ok) return Status::IoError("The system's cryptography library (OpenSSL) failed to decrypt");
  return Status::Ok();
}

}  // namespace jet
