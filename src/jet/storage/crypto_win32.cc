// SPDX-License-Identifier: Apache-2.0
// crypto.h on Windows' CNG (bcrypt.dll).
#include "jet/storage/crypto.h"

#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace jet {

namespace {

// An algorithm provider, opened once for the life of the program (CNG's
// providers are thread-safe and costly to open).
struct Provider {
  BCRYPT_ALG_HANDLE handle = nullptr;
  Provider(LPCWSTR id, bool cbc) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, id, nullptr, 0))) {
      handle = nullptr;
      return;
    }
    if (cbc) {
      const wchar_t mode[] = BCRYPT_CHAIN_MODE_CBC;
      if (!BCRYPT_SUCCESS(
              BCryptSetProperty(handle, BCRYPT_CHAINING_MODE, PUCHAR(mode), sizeof mode, 0))) {
        BCryptCloseAlgorithmProvider(handle, 0);
        handle = nullptr;
      }
    }
  }
  ~Provider() {
    if (handle) BCryptCloseAlgorithmProvider(handle, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
};

BCRYPT_ALG_HANDLE HashProvider(HashAlgorithm algorithm) {
  static Provider sha1(BCRYPT_SHA1_ALGORITHM, false);
  static Provider sha256(BCRYPT_SHA256_ALGORITHM, false);
  static Provider sha384(BCRYPT_SHA384_ALGORITHM, false);
  static Provider sha512(BCRYPT_SHA512_ALGORITHM, false);
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return sha1.handle;
    case HashAlgorithm::kSha256:
      return sha256.handle;
    case HashAlgorithm::kSha384:
      return sha384.handle;
    case HashAlgorithm::kSha512:
      return sha512.handle;
  }
  return nullptr;
}

Status Failed(const char* what, NTSTATUS status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  return Status::IoError(std::string("Windows' cryptography (CNG) failed to ") + what + " (" +
                         code + ")");
}

size_t HashSize(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::kSha1:
      return 20;
    case HashAlgorithm::kSha256:
      return 32;
    case HashAlgorithm::kSha384:
      return 48;
    case HashAlgorithm::kSha512:
      return 64;
  }
  return 0;
}

}  // namespace

Result<std::vector<uint8_t>> Hash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts) {
  BCRYPT_ALG_HANDLE provider = HashProvider(algorithm);
  if (!provider) return Failed("open a hash algorithm", 0);
  BCRYPT_HASH_HANDLE hash = nullptr;
  NTSTATUS s = BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(s)) return Failed("hash", s);
  std::vector<uint8_t> out(HashSize(algorithm));
  for (ByteView part : parts) {
    if (!BCRYPT_SUCCESS(s)) break;
    s = BCryptHashData(hash, PUCHAR(part.data()), ULONG(part.size()), 0);
  }
  if (BCRYPT_SUCCESS(s)) s = BCryptFinishHash(hash, out.data(), ULONG(out.size()), 0);
  BCryptDestroyHash(hash);
  if (!BCRYPT_SUCCESS(s)) return Failed("hash", s);
  return out;
}

Status AesCbcDecrypt(ByteView key, ByteView iv, std::span<uint8_t> data) {
  if ((key.size() != 16 && key.size() != 24 && key.size() != 32) || iv.size() != 16 ||
      data.size() % 16 != 0) {
    return Status::InvalidArgument("AES-CBC: a key, IV or data of the wrong size");
  }
  static Provider aes(BCRYPT_AES_ALGORITHM, true);
  if (!aes.handle) return Failed("open AES", 0);
  BCRYPT_KEY_HANDLE handle = nullptr;
  NTSTATUS s = BCryptGenerateSymmetricKey(aes.handle, &handle, nullptr, 0, PUCHAR(key.data()),
                                          ULONG(key.size()), 0);
  if (!BCRYPT_SUCCESS(s)) return Failed("set an AES key", s);
  // CNG changes the IV it is given; and the input is copied, as decrypting
  // in place is not promised by every version of Windows.
  uint8_t chain[16];
  std::copy(iv.begin(), iv.end(), chain);
  std::vector<uint8_t> input(data.begin(), data.end());
  ULONG written = 0;
  s = BCryptDecrypt(handle, input.data(), ULONG(input.size()), nullptr, chain, sizeof chain,
                    data.data(), ULONG(data.size()), &written, 0);
  BCryptDestroyKey(handle);
  if (!BCRYPT_SUCCESS(s) || written != data.size()) return Failed("decrypt", s);
  return Status::Ok();
}

}  // namespace jet
