// SPDX-License-Identifier: Apache-2.0
#include "jet/storage/header.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "jet/storage/office_crypt.h"
#include "jet/storage/page_codec.h"
#include "jet/storage/text.h"

namespace jet {

namespace {

constexpr uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
constexpr char kJetEngine[] = "Standard Jet DB";
constexpr char kAceEngine[] = "Standard ACE DB";
constexpr char kMsisamEngine[] = "MSISAM Database";
constexpr uint32_t kVersionOffset = 0x14;

// The RC4 key stream that masks the header, computed once.
const std::array<uint8_t, 128>& HeaderMask() {
  static const std::array<uint8_t, 128> mask = [] {
    const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    std::array<uint8_t, 128> out{};
    Rc4Apply(key, out);
    return out;
  }();
  return mask;
}

}  // namespace

void ApplyHeaderMask(uint8_t* page, const Format& format) {
  const auto& mask = HeaderMask();
  for (uint32_t i = 0; i < format.masked_header_length; ++i) {
    page[format.masked_header_offset + i] ^= mask[i];
  }
}

Result<DatabaseHeader> DecodeHeader(ByteView raw) {
  if (raw.size() < 0x20 || std::memcmp(raw.data(), kMagic, 4) != 0) {
    return Status::NotADatabase("The file is not a Microsoft Access database");
  }
  const char* engine = reinterpret_cast<const char*>(raw.data() + 4);
  if (std::memcmp(engine, kMsisamEngine, sizeof kMsisamEngine - 1) == 0) {
    return Status::Unsupported("The file is a Microsoft Money (MSISAM) database, not Access");
  }
  const bool ace = std::memcmp(engine, kAceEngine, sizeof kAceEngine) == 0;
  if (!ace && std::memcmp(engine, kJetEngine, sizeof kJetEngine) != 0) {
    return Status::NotADatabase("The file is not a Microsoft Access database");
  }
  // One byte: Access 2010 and later set the byte after it (0x15) as well.
  const uint32_t version = raw[kVersionOffset];
  const Format* format;
  if (!ace && version == 0) {
    format = &Jet3Format();
  } else if (!ace && version == 1) {
    format = &Jet4Format();
  } else if (ace && version >= uint32_t(FileVersion::kAce12) &&
             version <= uint32_t(FileVersion::kAce17)) {
    format = &AceFormat();
  } else {
    return Status::Unsupported("The file's format version " + std::to_string(version) +
                               " is not one this engine knows (Access 97 to Access 2019 are)");
  }
  if (raw.size() < format->page_size) {
    return Status::Corrupt("The file is shorter than one database page");
  }

  std::vector<uint8_t> page(raw.begin(), raw.begin() + format->page_size);
  ApplyHeaderMask(page.data(), *format);

  DatabaseHeader h;
  h.format = format;
  h.file_version = FileVersion(version);
  h.code_page = Le16(&page[format->header_code_page]);
  h.sort_order.lcid = Le16(&page[format->header_sort_order]);
  h.sort_order.version =
      format->header_sort_version >= 0 ? page[uint32_t(format->header_sort_version)] : -1;
  h.encoding_key = Le32(&page[format->header_encoding_key]);
  h.stored_code_page = h.code_page;
  if (format->version == JetVersion::kJet3) {
    h.code_page = Jet3TextCodePage(h.stored_code_page, h.sort_order.lcid);
  }

  const uint8_t* field = &page[format->header_password];
  uint8_t mask[4] = {0, 0, 0, 0};
  if (format->header_creation_date >= 0) {
    // Jet 4 additionally XORs the password with the integer part of the
    // creation date, as a little-endian 32-bit value.
    double date = BitsToDouble(Le64(&page[uint32_t(format->header_creation_date)]));
    if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0) {
      PutLe32(mask, uint32_t(int32_t(date)));
    }
  }
  for (uint32_t i = 0; i < format->header_password_size; ++i) {
    h.password[i] = field[i] ^ mask[i % 4];
    if (h.password[i] != 0) h.has_password = true;
  }
  if (ace && h.encoding_key != 0) {
    // Outside the masked region. A length past the page leaves the
    // provider empty, which reads as one of no known kind.
    h.office_encrypted = true;
    h.has_password = true;
    h.password.fill(0);
    const uint32_t at = kOfficeProviderOffset;
    const uint32_t size = Le16(&raw[at]);
    if (at + 2 + size <= format->page_size) {
      h.encryption_provider.assign(raw.begin() + at + 2, raw.begin() + at + 2 + size);
    }
  }
  return h;
}

bool PasswordMatches(const DatabaseHeader& header, const std::string& password) {
  // A zero would end the password early in the field: "a\0" is not "a".
  std::u16string units;
  if (password.find('\0') != std::string::npos || !Utf8ToUtf16(password, &units)) return false;
  std::vector<uint8_t> bytes;  // the password as the field holds it
  for (char16_t u : units) {
    if (header.format->version == JetVersion::kJet4) {
      bytes.push_back(uint8_t(u & 0xFF));
      bytes.push_back(uint8_t(u >> 8));
      continue;
    }
    uint8_t b = 0;
    const bool surrogate = u >= 0xD800 && u < 0xE000;  // in no code page
    if (surrogate || !EncodeCodePageChar(u, header.code_page, &b)) return false;
    bytes.push_back(b);
  }
  const uint32_t size = header.format->header_password_size;
  if (bytes.size() > size) return false;
  bytes.resize(size, 0);
  return std::equal(bytes.begin(), bytes.end(), header.password.begin());
}

const char* FileVersionId(FileVersion v) {
  static const char* const kIds[] = {"jet3", "jet4", "ace12", "ace14", "ace15", "ace16", "ace17"};
  return kIds[int(v)];
}

const char* FileVersionName(FileVersion v) {
  static const char* const kNames[] = {"Access 97",   "Access 2000/2002/2003", "Access 2007",
                                       "Access 2010", "Access 2013",           "Access 2016",
                                       "Access 2019"};
  return kNames[int(v)];
}

std::string SortOrderName(const SortOrder& order, JetVersion version) {
  if (order.lcid == 0x409 || order.lcid == 0) {
    if (version == JetVersion::kJet3) return "General";
    if (order.version == 0) return "General (legacy)";
    if (order.version == 1) return "General";
    return "General, version " + std::to_string(order.version);
  }
  std::string name = "locale " + std::to_string(order.lcid);
  if (order.version > 0) name += ", version " + std::to_string(order.version);
  return name;
}

std::string CodePageName(uint16_t code_page) {
  switch (code_page) {
    case 1250:
      return "1250 (Central European)";
    case 1251:
      return "1251 (Cyrillic)";
    case 1252:
      return "1252 (Western European)";
    case 1253:
      return "1253 (Greek)";
    case 1254:
      return "1254 (Turkish)";
    case 1255:
      return "1255 (Hebrew)";
    case 1256:
      return "1256 (Arabic)";
    case 1257:
      return "1257 (Baltic)";
    case 1258:
      return "1258 (Vietnamese)";
    case 874:
      return "874 (Thai)";
    case 932:
      return "932 (Japanese)";
    case 936:
      return "936 (Chinese, simplified)";
    case 949:
      return "949 (Korean)";
    case 950:
      return "950 (Chinese, traditional)";
    case 0:
      return "0 (default)";
    default:
      return std::to_string(code_page);
  }
}

}  // namespace jet
