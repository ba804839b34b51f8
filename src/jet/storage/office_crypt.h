// SPDX-License-Identifier: Apache-2.0
// Encrypted .accdb files: what Access 2007 and later do to a database given
// a password (File > Info > Encrypt with Password). Unlike the password of
// an Access 97-2003 database, this is encryption: without the password the
// pages cannot be read. docs/password.md has the evidence for what follows.
//
// An encrypted .accdb has a non-zero encoding key at 0x3E of its header
// (inside the masked region, as in an encoded Jet 4 file), and at 0x299,
// outside it, a 16-bit length and that many bytes: the encryption
// provider, which starts with its version (two 16-bit numbers):
//
//   4.4          "agile": 4 bytes (0x40), then an XML descriptor naming the
//                cipher (AES, CBC), hash, salts, spin count and the
//                password verifier. Access 2010 and later use it.
//   2.2 3.2 4.2  "RC4 CryptoAPI" when its flags (the next 4 bytes) have
//                0x04 without 0x20: then the header's size (4 bytes), the
//                header (algorithm 0x6801 RC4 at +8, hash 0x8004 SHA-1 at
//                +12, key size in bits at +16, provider name in UTF-16 from
//                +32) and the verifier (salt size 16, salt, encrypted
//                verifier (16), verifier hash size, encrypted verifier hash
//                (20)). Access 2007 uses it, and so do some Access 2010 files.
//
// Others (standard AES, extensible, 1.1) are described but not read.
//
// Every page but page 0 is encrypted whole, from its first byte; blank
// pages too. Each page's key (RC4) or IV (agile) comes from its 4-byte block
// key: encoding key XOR page number, little-endian, as for Jet's RC4 page
// encoding. The password is taken as UTF-16LE.
//
// RC4 CryptoAPI: H0 = SHA-1(salt, password); a block's key is
// SHA-1(H0, block key) cut to the key size (a 40-bit key is then padded
// with zeros to 128 bits), and RC4 runs over the page with it. The password
// is right when, with the key of block 0 (the number 0, without the encoding
// key), one RC4 stream decrypts the verifier and then the verifier hash, and
// the latter is SHA-1 of the former.
//
// Agile: from the password encryptor's hash H, salt and spin count n:
// H0 = H(salt, password), Hi+1 = H(LE32(i), Hi) for i < n, and for a block
// b the key H(Hn, b), cut to the key size or padded with 0x36. Three fixed
// blocks give the keys that decrypt (AES-CBC, IV the salt) the verifier
// input, the verifier hash (right password: H of the input) and the key
// value, the data key. A page is AES-CBC decrypted with the data key and IV
// H'(keyData salt, block key) cut to the block size, H' the keyData hash.

#ifndef JET_STORAGE_OFFICE_CRYPT_H_
#define JET_STORAGE_OFFICE_CRYPT_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "base/status.h"
#include "jet/storage/bytes.h"

namespace jet {

// Where the provider's length lies in page 0.
constexpr uint32_t kOfficeProviderOffset = 0x299;

// How a file is encrypted, for people: "agile AES-256, SHA-512", "RC4
// CryptoAPI, 40-bit key", or a description of one the engine cannot read.
std::string DescribeOfficeEncryption(ByteView provider);

// Decrypts the pages of one encrypted file.
class OfficeCipher {
 public:
  virtual ~OfficeCipher() = default;
  // Stored bytes to plain bytes, in place. Page 0 is left as it is.
  virtual Status Decode(uint32_t page_number, std::span<uint8_t> page) const = 0;
};

// Checks `password` (UTF-8) against the provider and returns the pages'
// cipher. A wrong password is kPasswordProtected; a provider this engine
// does not read, kUnsupported; a damaged one, kCorrupt.
Result<std::shared_ptr<const OfficeCipher>> OpenOfficeCipher(ByteView provider,
                                                             uint32_t encoding_key,
                                                             const std::string& password);

}  // namespace jet

#endif  // JET_STORAGE_OFFICE_CRYPT_H_
