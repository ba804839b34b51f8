// SPDX-License-Identifier: Apache-2.0
// Page encoding: what Access 97 to 2003 do to a database they "encode" (in
// some versions "encrypt") under Tools > Security. docs/encoding.md has the
// evidence for what follows.
//
// An encoded database keeps a non-zero 32-bit encoding key in its header
// (page 0, offset 0x3E, inside the masked region: see header.h). Every other
// page is stored XORed with an RC4 key stream whose key is the 4 bytes, in
// little-endian order, of
//
//   encoding key XOR page number
//
// run over the whole page from its first byte. Jet 3 (2 KiB pages) and Jet 4
// (4 KiB pages) encode alike. Page 0 is never encoded: only its own fixed
// mask applies. A key of 0 means the file is not encoded.
//
// A page whose stored bytes are all zero is a blank page, not an encoded one:
// Access leaves pages it has not filled as plain zeros in an
// encoded file. Decoding leaves such a page zero, and encoding writes a page
// of zeros as zeros, so that for every page p, Decode(Encode(p)) == p and a
// blank page reads as blank, as in a plain file. (An encoded page is all
// zero only if its plain bytes equal the key stream: a 2^-16384 chance.)
//
// RC4 is no protection against anyone who has the file: the key is in it.
// This is an obfuscation that Access applies, and the engine keeps it so
// that a file it changes stays as Access would leave it.
//
// An encrypted .accdb (office_crypt.h) is decoded here too, by the cipher
// its password opened; such a file is only read, so Encode is never asked
// of it.

#ifndef JET_STORAGE_PAGE_CODEC_H_
#define JET_STORAGE_PAGE_CODEC_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <memory>
#include <span>

#include "base/status.h"

namespace jet {

// XORs `data` with the RC4 key stream of `key` (which must not be empty).
// Applying it twice gives the data back.
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

class OfficeCipher;

class PageCodec {
 public:
  // `key` is the header's encoding key; 0 makes both directions no-ops.
  explicit PageCodec(uint32_t key = 0) : key_(key) {}
  // An encrypted .accdb's pages, read with `cipher`.
  explicit PageCodec(std::shared_ptr<const OfficeCipher> cipher) : key_(0), office_(cipher) {}

  bool encoded() const { return key_ != 0 || office_ != nullptr; }
  uint32_t key() const { return key_; }

  // Stored bytes to plain bytes, in place. Only decryption can fail.
  Status Decode(uint32_t page_number, std::span<uint8_t> page) const;
  // Plain bytes to stored bytes, in place.
  void Encode(uint32_t page_number, std::span<uint8_t> page) const;

 private:
  void Apply(uint32_t page_number, std::span<uint8_t> page) const;

  uint32_t key_;
  std::shared_ptr<const OfficeCipher> office_;
};

}  // namespace jet

#endif  // JET_STORAGE_PAGE_CODEC_H_
