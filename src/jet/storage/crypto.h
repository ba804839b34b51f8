// SPDX-License-Identifier: Apache-2.0
// The few cryptographic primitives that reading an encrypted .accdb needs:
// message digests and AES-CBC decryption. RC4 is Rc4Apply (page_codec.h).
//
// They come from the platform's own, maintained implementations, never
// from code of ours:
//   - Linux: OpenSSL's libcrypto (crypto_openssl.cc). Every distribution
//     ships it, security fixes arrive with the system's updates, and the
//     Apache-2.0 licence of OpenSSL 3 matches ours.
//   - Windows: CNG, bcrypt.dll (crypto_win32.cc), part of Windows since
//     Vista. The statically linked .exe thus carries no crypto library, has
//     nothing more to ship or keep up to date, and takes on no licence
//     terms: libgcrypt, the one library that would serve both systems, is
//     LGPL, which asks a static .exe for relinkable objects or a DLL
//     beside it.
// The cost is two small backends behind this one interface; the tests run
// both, the Windows one under Wine.

#ifndef JET_STORAGE_CRYPTO_H_
#define JET_STORAGE_CRYPTO_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "base/status.h"
#include "jet/storage/bytes.h"

namespace jet {

enum class HashAlgorithm { kSha1, kSha256, kSha384, kSha512 };

// The digest of the concatenation of `parts`.
Result<std::vector<uint8_t>> Hash(HashAlgorithm algorithm, std::initializer_list<ByteView> parts);

// Decrypts `data` in place with AES in CBC mode, without padding. `key` is
// 16, 24 or 32 bytes, `iv` 16, and `data` a whole number of 16-byte blocks.
Status AesCbcDecrypt(ByteView key, ByteView iv, std::span<uint8_t> data);

}  // namespace jet

#endif  // JET_STORAGE_CRYPTO_H_
