// SPDX-License-Identifier: Apache-2.0
#include "jet/storage/office_crypt.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

#include "jet/storage/crypto.h"
#include "jet/storage/page_codec.h"
#include "jet/storage/text.h"

namespace jet {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagAes = 0x20;
constexpr uint32_t kAlgRc4 = 0x6801;
constexpr uint32_t kAlgSha1 = 0x8004;

// The fixed block keys of the agile password encryptor.
constexpr uint8_t kVerifierInputBlock[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr uint8_t kVerifierHashBlock[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr uint8_t kKeyValueBlock[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

Status Damaged(const std::string& what) {
  return Status::Corrupt("The database's encryption description is damaged: " + what);
}

Status NotRead(const std::string& how) {
  return Status::Unsupported("The database is encrypted with " + how +
                             ", which this engine cannot read");
}

// The 4 bytes a page's key or IV is made from.
std::array<uint8_t, 4> BlockKey(uint32_t encoding_key, uint32_t page_number) {
  const uint32_t k = encoding_key ^ page_number;
  return {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
}

// `bytes` cut or padded with `pad` to `size`.
Bytes Fit(Bytes bytes, size_t size, uint8_t pad) {
  bytes.resize(size, pad);
  return bytes;
}

// The password as Office takes it: UTF-16LE.
std::optional<Bytes> PasswordBytes(const std::string& password) {
  std::u16string units;
  if (!Utf8ToUtf16(password, &units)) return std::nullopt;
  Bytes out;
  for (char16_t u : units) {
    out.push_back(uint8_t(u & 0xFF));
    out.push_back(uint8_t(u >> 8));
  }
  return out;
}

// --- RC4 CryptoAPI ---

struct Rc4Params {
  uint32_t key_bits = 0;
  Bytes salt, verifier, verifier_hash;
  uint32_t verifier_hash_size = 0;
};

// Parses an RC4 CryptoAPI provider; `how` says what it is when it is not.
Status ParseRc4(ByteView p, Rc4Params* out, std::string* how) {
  *how = "RC4 CryptoAPI";
  if (p.size() < 12) return Damaged("the provider is too short");
  const uint32_t flags = Le32(&p[4]);
  const uint32_t header_size = Le32(&p[8]);
  if (header_size < 32 || p.size() - 12 < header_size) return Damaged("a header of a wrong size");
  const uint8_t* h = &p[12];
  const uint32_t alg = Le32(h + 8), hash = Le32(h + 12);
  uint32_t bits = Le32(h + 16);
  if (flags & kFlagAes || (alg != kAlgRc4 && alg != 0)) {
    // Standard encryption says AES in its flags; Access has also written
    // AES without that flag (non-standard).
    const bool aes = alg >= 0x660E && alg <= 0x6610;
    *how = !aes ? "a CryptoAPI cipher (algorithm " + std::to_string(alg) + ")"
                : std::string(flags & kFlagAes ? "standard" : "non-standard") + " AES-" +
                      std::to_string(128 + 64 * (alg - 0x660E)) + " encryption";
    return NotRead(*how);
  }
  if (hash != kAlgSha1 && hash != 0) return NotRead("RC4 with a hash other than SHA-1");
  if (bits == 0) {
    // Unstated: 40 bits for the Base provider (or none named), else 128.
    std::string name;
    for (uint32_t i = 32; i + 1 < header_size && h[i] != 0; i += 2) {
      name += char(std::tolower(h[i]));
    }
    bits = (name.empty() || name.find(" base ") != std::string::npos) ? 40 : 128;
  }
  if (bits < 40 || bits > 512 || bits % 8 != 0)
    return Damaged("an RC4 key size of " + std::to_string(bits) + " bits");
  *how = "RC4 CryptoAPI, " + std::to_string(bits) + "-bit key";
  const size_t v = 12 + size_t(header_size);
  if (p.size() < v + 60) return Damaged("the password verifier is cut short");
  if (Le32(&p[v]) != 16) return Damaged("a salt that is not 16 bytes");
  out->key_bits = bits;
  out->salt.assign(&p[v + 4], &p[v + 20]);
  out->verifier.assign(&p[v + 20], &p[v + 36]);
  out->verifier_hash_size = std::min<uint32_t>(Le32(&p[v + 36]), 20);
  out->verifier_hash.assign(&p[v + 40], &p[v + 60]);
  return Status::Ok();
}

class Rc4CryptoApiCipher : public OfficeCipher {
 public:
  Rc4CryptoApiCipher(Bytes base, uint32_t key_bits, uint32_t encoding_key)
      : base_(std::move(base)), key_bits_(key_bits), encoding_key_(encoding_key) {}

  Result<Bytes> Key(ByteView block) const {
    JET_ASSIGN_OR_RETURN(Bytes h, Hash(HashAlgorithm::kSha1, {base_, block}));
    Bytes key = Fit(std::move(h), key_bits_ / 8, 0);
    if (key_bits_ == 40) key.resize(16, 0);
    return key;
  }

  Status Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    if (page_number == 0) return Status::Ok();
    const auto block = BlockKey(encoding_key_, page_number);
    JET_ASSIGN_OR_RETURN(Bytes key, Key(block));
    Rc4Apply(key, page);
    return Status::Ok();
  }

 private:
  Bytes base_;
  uint32_t key_bits_;
  uint32_t encoding_key_;
};

Result<std::shared_ptr<const OfficeCipher>> OpenRc4(ByteView p, uint32_t encoding_key,
                                                    const Bytes& password) {
  Rc4Params params;
  std::string how;
  JET_RETURN_IF_ERROR(ParseRc4(p, &params, &how));
  JET_ASSIGN_OR_RETURN(Bytes base, Hash(HashAlgorithm::kSha1, {params.salt, password}));
  auto cipher =
      std::make_shared<Rc4CryptoApiCipher>(std::move(base), params.key_bits, encoding_key);
  const uint8_t zero[4] = {0, 0, 0, 0};
  JET_ASSIGN_OR_RETURN(Bytes key, cipher->Key(zero));
  // One stream over the verifier and its hash.
  Bytes both = params.verifier;
  both.insert(both.end(), params.verifier_hash.begin(), params.verifier_hash.end());
  Rc4Apply(key, both);
  JET_ASSIGN_OR_RETURN(Bytes check, Hash(HashAlgorithm::kSha1, {ByteView(both).first(16)}));
  if (!std::equal(check.begin(), check.begin() + params.verifier_hash_size, both.begin() + 16)) {
    return Status::Error(ErrorKind::kPasswordProtected, "wrong password");
  }
  return std::shared_ptr<const OfficeCipher>(std::move(cipher));
}

// --- Agile ---

// The value of attribute `name` of the first element `tag` in `xml`.
std::optional<std::string> Attribute(const std::string& xml, const std::string& tag,
                                     const std::string& name) {
  const size_t start = xml.find("<" + tag + " ");
  if (start == std::string::npos) return std::nullopt;
  const size_t end = xml.find('>', start);
  const size_t at = xml.find(" " + name + "=\"", start);
  if (at == std::string::npos || at > end) return std::nullopt;
  const size_t from = at + name.size() + 3;
  const size_t to = xml.find('"', from);
  if (to == std::string::npos || to > end) return std::nullopt;
  return xml.substr(from, to - from);
}

std::optional<Bytes> Base64(const std::string& text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const size_t d = kDigits.find(c);
    if (d == std::string::npos) return std::nullopt;
    bits = (bits << 6) | uint32_t(d);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(uint8_t(bits >> count));
    }
  }
  return out;
}

std::optional<HashAlgorithm> HashNamed(const std::string& name) {
  if (name == "SHA1") return HashAlgorithm::kSha1;
  if (name == "SHA256") return HashAlgorithm::kSha256;
  if (name == "SHA384") return HashAlgorithm::kSha384;
  if (name == "SHA512") return HashAlgorithm::kSha512;
  return std::nullopt;
}

// One of the descriptor's two parts: keyData (the pages) or the password's
// encryptedKey.
struct AgilePart {
  HashAlgorithm hash = HashAlgorithm::kSha1;
  std::string hash_name;
  uint32_t key_bits = 0;
  uint32_t block_size = 0;
  Bytes salt;
};

Status ParsePart(const std::string& xml, const std::string& tag, AgilePart* out) {
  auto cipher = Attribute(xml, tag, "cipherAlgorithm");
  auto chaining = Attribute(xml, tag, "cipherChaining");
  auto hash = Attribute(xml, tag, "hashAlgorithm");
  auto bits = Attribute(xml, tag, "keyBits");
  auto block = Attribute(xml, tag, "blockSize");
  auto salt = Attribute(xml, tag, "saltValue");
  if (!cipher || !chaining || !hash || !bits || !block || !salt) {
    return Damaged("the XML descriptor lacks a part of <" + tag + ">");
  }
  if (*cipher != "AES" || *chaining != "ChainingModeCBC") {
    return NotRead(*cipher + " (" + *chaining + ")");
  }
  auto algorithm = HashNamed(*hash);
  if (!algorithm) return NotRead("the hash " + *hash);
  out->hash = *algorithm;
  out->hash_name = hash->substr(0, 3) + "-" + hash->substr(3);
  out->key_bits = uint32_t(std::atoi(bits->c_str()));
  out->block_size = uint32_t(std::atoi(block->c_str()));
  if ((out->key_bits != 128 && out->key_bits != 192 && out->key_bits != 256) ||
      out->block_size != 16) {
    return Damaged("an AES key of " + *bits + " bits or blocks of " + *block + " bytes");
  }
  auto bytes = Base64(*salt);
  if (!bytes) return Damaged("a salt that is not base64");
  out->salt = std::move(*bytes);
  return Status::Ok();
}

struct AgileParams {
  AgilePart data, password;
  uint32_t spin_count = 0;
  Bytes verifier_input, verifier_hash, key_value;
};

Status ParseAgile(ByteView p, AgileParams* out) {
  if (p.size() < 8 || Le32(&p[4]) != 0x40) return Damaged("the agile descriptor's reserved value");
  const std::string xml(p.begin() + 8, p.end());
  if (xml.find("keyEncryptor/password") == std::string::npos) {
    return NotRead("a certificate instead of a password");
  }
  JET_RETURN_IF_ERROR(ParsePart(xml, "keyData", &out->data));
  JET_RETURN_IF_ERROR(ParsePart(xml, "p:encryptedKey", &out->password));
  auto spin = Attribute(xml, "p:encryptedKey", "spinCount");
  if (!spin || std::atol(spin->c_str()) <= 0 || std::atol(spin->c_str()) > 10000000) {
    return Damaged("the spin count");
  }
  out->spin_count = uint32_t(std::atol(spin->c_str()));
  const std::pair<const char*, Bytes*> values[] = {
      {"encryptedVerifierHashInput", &out->verifier_input},
      {"encryptedVerifierHashValue", &out->verifier_hash},
      {"encryptedKeyValue", &out->key_value}};
  for (const auto& [name, to] : values) {
    auto text = Attribute(xml, "p:encryptedKey", name);
    auto bytes = text ? Base64(*text) : std::nullopt;
    if (!bytes || bytes->empty() || bytes->size() % 16 != 0) {
      return Damaged(std::string("the value ") + name);
    }
    *to = std::move(*bytes);
  }
  return Status::Ok();
}

class AgileCipher : public OfficeCipher {
 public:
  AgileCipher(AgilePart data, Bytes key, uint32_t encoding_key)
      : data_(std::move(data)), key_(std::move(key)), encoding_key_(encoding_key) {}

  Status Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    if (page_number == 0) return Status::Ok();
    const auto block = BlockKey(encoding_key_, page_number);
    JET_ASSIGN_OR_RETURN(Bytes iv, Hash(data_.hash, {data_.salt, block}));
    return AesCbcDecrypt(key_, Fit(std::move(iv), data_.block_size, 0x36), page);
  }

 private:
  AgilePart data_;
  Bytes key_;
  uint32_t encoding_key_;
};

Result<std::shared_ptr<const OfficeCipher>> OpenAgile(ByteView p, uint32_t encoding_key,
                                                      const Bytes& password) {
  AgileParams a;
  JET_RETURN_IF_ERROR(ParseAgile(p, &a));
  const HashAlgorithm h = a.password.hash;
  JET_ASSIGN_OR_RETURN(Bytes spun, Hash(h, {a.password.salt, password}));
  for (uint32_t i = 0; i < a.spin_count; ++i) {
    const uint8_t n[4] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), uint8_t(i >> 24)};
    JET_ASSIGN_OR_RETURN(spun, Hash(h, {n, spun}));
  }
  const Bytes iv = Fit(a.password.salt, a.password.block_size, 0x36);
  // Decrypts `value` in place with the key of `block`.
  auto decrypt = [&](const uint8_t(&block)[8], Bytes& value) -> Status {
    JET_ASSIGN_OR_RETURN(Bytes key, Hash(h, {spun, block}));
    return AesCbcDecrypt(Fit(std::move(key), a.password.key_bits / 8, 0x36), iv, value);
  };
  JET_RETURN_IF_ERROR(decrypt(kVerifierInputBlock, a.verifier_input));
  JET_RETURN_IF_ERROR(decrypt(kVerifierHashBlock, a.verifier_hash));
  JET_ASSIGN_OR_RETURN(Bytes check, Hash(h, {a.verifier_input}));
  if (a.verifier_hash.size() < check.size() ||
      !std::equal(check.begin(), check.end(), a.verifier_hash.begin())) {
    return Status::Error(ErrorKind::kPasswordProtected, "wrong password");
  }
  JET_RETURN_IF_ERROR(decrypt(kKeyValueBlock, a.key_value));
  if (a.key_value.size() < a.data.key_bits / 8) return Damaged("a data key cut short");
  a.key_value.resize(a.data.key_bits / 8);
  return std::shared_ptr<const OfficeCipher>(
      std::make_shared<AgileCipher>(std::move(a.data), std::move(a.key_value), encoding_key));
}

enum class Provider { kAgile, kRc4CryptoApi, kOther, kDamaged };

Provider Kind(ByteView p, std::string* how) {
  if (p.size() < 4) return Provider::kDamaged;
  const uint16_t major = Le16(&p[0]), minor = Le16(&p[2]);
  if (major == 4 && minor == 4) return Provider::kAgile;
  if (major >= 2 && major <= 4 && minor == 2) {
    if (p.size() >= 8 && (Le32(&p[4]) & kFlagCryptoApi)) return Provider::kRc4CryptoApi;
  }
  if ((major == 3 || major == 4) && minor == 3) {
    *how = "extensible encryption";
  } else if (major == 1 && minor == 1) {
    *how = "RC4 (Office binary documents)";
  } else {
    *how = "encryption version " + std::to_string(major) + "." + std::to_string(minor);
  }
  return Provider::kOther;
}

}  // namespace

std::string DescribeOfficeEncryption(ByteView p) {
  std::string how;
  switch (Kind(p, &how)) {
    case Provider::kAgile: {
      AgileParams a;
      Status s = ParseAgile(p, &a);
      if (s.kind() == ErrorKind::kCorrupt) return "agile, with a damaged description";
      if (!s.ok()) return "agile: " + s.message();
      return "agile AES-" + std::to_string(a.data.key_bits) + ", " + a.data.hash_name;
    }
    case Provider::kRc4CryptoApi: {
      Rc4Params r;
      Status s = ParseRc4(p, &r, &how);
      if (s.kind() == ErrorKind::kCorrupt) return how + ", with a damaged description";
      return s.ok() ? how : how + ", which this engine cannot read";
    }
    case Provider::kOther:
      break;
    case Provider::kDamaged:
      return "unknown: the description is missing or cut short";
  }
  return how + ", which this engine cannot read";
}

Result<std::shared_ptr<const OfficeCipher>> OpenOfficeCipher(ByteView provider,
                                                             uint32_t encoding_key,
                                                             const std::string& password) {
  std::optional<Bytes> bytes = PasswordBytes(password);
  if (!bytes) return Status::Error(ErrorKind::kPasswordProtected, "wrong password");
  std::string how;
  switch (Kind(provider, &how)) {
    case Provider::kAgile:
      return OpenAgile(provider, encoding_key, *bytes);
    case Provider::kRc4CryptoApi:
      return OpenRc4(provider, encoding_key, *bytes);
    case Provider::kOther:
      break;
    case Provider::kDamaged:
      return Damaged("it is missing or cut short");
  }
  return NotRead(how);
}

}  // namespace jet
