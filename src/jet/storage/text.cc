// SPDX-License-Identifier: Apache-2.0
#include "jet/storage/text.h"

#include <cstring>

namespace jet {

namespace {

struct CodePageTable {
  uint16_t code_page;
  uint16_t upper[128];  // bytes 0x80..0xFF
};

// Bytes 0x00..0x7F are ASCII in every one of these.
constexpr CodePageTable kCodePages[] = {
#include "jet/storage/code_pages_data.inc"
};

const CodePageTable* FindCodePage(uint16_t code_page) {
  for (const CodePageTable& t : kCodePages) {
    if (t.code_page == code_page) return &t;
  }
  return nullptr;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    char b[2] = {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
    out.append(b, 2);
  } else if (c < 0x10000) {
    char b[3] = {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    out.append(b, 3);
  } else {
    char b[4] = {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)),
                 char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    out.append(b, 4);
  }
}

namespace {

// Decodes UTF-16 code units one at a time into a buffer with room enough,
// pairing surrogates; an unpaired one becomes U+FFFD.
class Utf16Writer {
 public:
  explicit Utf16Writer(char* p) : p_(p) {}

  void Put(uint16_t u) {
    if (pending_) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        Put4(0x10000 + ((uint32_t(pending_) - 0xD800) << 10) + (u - 0xDC00));
        pending_ = 0;
        return;
      }
      Flush();
    }
    if (u < 0x80) {
      *p_++ = char(u);
    } else if (u < 0x800) {
      p_[0] = char(0xC0 | (u >> 6));
      p_[1] = char(0x80 | (u & 0x3F));
      p_ += 2;
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      pending_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      Put3(0xFFFD);
    } else {
      Put3(u);
    }
  }

  bool pending() const { return pending_ != 0; }

  void Flush() {
    if (pending_) Put3(0xFFFD);
    pending_ = 0;
  }

  char* end() {
    Flush();
    return p_;
  }

 private:
  void Put3(uint32_t c) {
    p_[0] = char(0xE0 | (c >> 12));
    p_[1] = char(0x80 | ((c >> 6) & 0x3F));
    p_[2] = char(0x80 | (c & 0x3F));
    p_ += 3;
  }
  void Put4(uint32_t c) {
    p_[0] = char(0xF0 | (c >> 18));
    p_[1] = char(0x80 | ((c >> 12) & 0x3F));
    p_[2] = char(0x80 | ((c >> 6) & 0x3F));
    p_[3] = char(0x80 | (c & 0x3F));
    p_ += 4;
  }

  char* p_;
  uint16_t pending_ = 0;
};

// Writes the UTF-8 of `bytes` (UTF-16LE) at `out`, which has room for
// 2 * bytes.size() bytes; returns the end.
char* DecodeUtf16LeTo(char* out, ByteView bytes) {
  const size_t n = bytes.size() / 2;
  const uint8_t* p = bytes.data();
  Utf16Writer w(out);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t lo = p[2 * i], hi = p[2 * i + 1];
    if (hi == 0 && lo < 0x80 && !w.pending()) {
      // Most text is ASCII: copy runs of it straight through, four units
      // at a time while they last.
      char* o = w.end();
      size_t k = i;
      while (k + 4 <= n) {
        uint64_t v;
        std::memcpy(&v, p + 2 * k, 8);
        if ((v & 0xFF80FF80FF80FF80ull) != 0) break;
        o[0] = char(p[2 * k]);
        o[1] = char(p[2 * k + 2]);
        o[2] = char(p[2 * k + 4]);
        o[3] = char(p[2 * k + 6]);
        o += 4;
        k += 4;
      }
      while (k < n && p[2 * k + 1] == 0 && p[2 * k] < 0x80) *o++ = char(p[2 * k++]);
      w = Utf16Writer(o);
      i = k - 1;
      continue;
    }
    w.Put(uint16_t(lo | (hi << 8)));
  }
  return w.end();
}

}  // namespace

char* DecodeJet4TextTo(char* out, ByteView bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    return DecodeUtf16LeTo(out, bytes);
  }
  // Compressed: single bytes are Latin-1 characters; a 00 byte switches to
  // two-byte units, and the next 00 switches back.
  Utf16Writer w(out);
  const uint8_t* p = bytes.data();
  const size_t n = bytes.size();
  size_t i = 2;
  while (i < n) {
    // A run of one-byte characters.
    while (i < n && p[i] != 0) {
      if (p[i] < 0x80) {
        // ASCII, eight bytes at a time while none is 00 or above 7F.
        char* o = w.end();
        while (i + 8 <= n) {
          uint64_t v;
          std::memcpy(&v, p + i, 8);
          constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = kOnes * 0x80;
          if (((v | ((v - kOnes) & ~v)) & kHigh) != 0) break;
          std::memcpy(o, &v, 8);
          o += 8;
          i += 8;
        }
        while (i < n && p[i] != 0 && p[i] < 0x80) *o++ = char(p[i++]);
        w = Utf16Writer(o);
      } else {
        w.Put(p[i++]);
      }
    }
    if (i >= n) break;
    ++i;  // the switch to two-byte units
    while (i + 1 < n && p[i] != 0) {
      w.Put(Le16(p + i));
      i += 2;
    }
    if (i + 1 == n && p[i] != 0) break;  // a dangling half unit
    ++i;                                 // the switch back
  }
  return w.end();
}

void AppendUtf16Le(std::string& out, ByteView bytes) {
  const size_t at = out.size();
  out.resize(at + 2 * bytes.size());
  out.resize(size_t(DecodeUtf16LeTo(out.data() + at, bytes) - out.data()));
}

std::string Utf16LeToUtf8(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  AppendUtf16Le(out, bytes);
  return out;
}

void AppendJet4Text(std::string& out, ByteView bytes) {
  const size_t at = out.size();
  out.resize(at + 2 * bytes.size());
  out.resize(size_t(DecodeJet4TextTo(out.data() + at, bytes) - out.data()));
}

std::string DecodeJet4Text(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendJet4Text(out, bytes);
  return out;
}

char* DecodeCodePageTextTo(char* out, ByteView bytes, uint16_t code_page) {
  const CodePageTable* table = FindCodePage(code_page);
  for (uint8_t b : bytes) {
    if (b < 0x80) {
      *out++ = char(b);
      continue;
    }
    const uint32_t c = table != nullptr ? table->upper[b - 0x80] : 0xFFFD;
    if (c < 0x80) {
      *out++ = char(c);
    } else if (c < 0x800) {
      out[0] = char(0xC0 | (c >> 6));
      out[1] = char(0x80 | (c & 0x3F));
      out += 2;
    } else {
      out[0] = char(0xE0 | (c >> 12));
      out[1] = char(0x80 | ((c >> 6) & 0x3F));
      out[2] = char(0x80 | (c & 0x3F));
      out += 3;
    }
  }
  return out;
}

void AppendCodePageText(std::string& out, ByteView bytes, uint16_t code_page) {
  const size_t at = out.size();
  out.resize(at + 3 * bytes.size());
  out.resize(size_t(DecodeCodePageTextTo(out.data() + at, bytes, code_page) - out.data()));
}

bool CodePageKnown(uint16_t code_page) { return FindCodePage(code_page) != nullptr; }

bool EncodeCodePageChar(uint32_t c, uint16_t code_page, uint8_t* out) {
  if (c < 0x80) {
    *out = uint8_t(c);
    return true;
  }
  const CodePageTable* table = FindCodePage(code_page);
  if (table == nullptr || c == 0xFFFD) return false;
  for (int i = 0; i < 128; ++i) {
    if (table->upper[i] == c) {
      *out = uint8_t(0x80 + i);
      return true;
    }
  }
  return false;
}

std::string DecodeCodePageText(ByteView bytes, uint16_t code_page) {
  std::string out;
  out.reserve(bytes.size());
  AppendCodePageText(out, bytes, code_page);
  return out;
}

uint16_t Jet3TextCodePage(uint16_t header_code_page, uint16_t sort_lcid) {
  if (header_code_page != 0) return header_code_page;
  switch (sort_lcid & 0x3FF) {  // the locale's primary language
    case 0x01:
    case 0x20:
    case 0x29:
      return 1256;  // Arabic, Urdu, Farsi
    case 0x02:
    case 0x19:
    case 0x22:
    case 0x23:
    case 0x2F:
      return 1251;
    case 0x04:
      return (sort_lcid == 0x0804 || sort_lcid == 0x1004) ? 936 : 950;
    case 0x05:
    case 0x0E:
    case 0x15:
    case 0x18:
    case 0x1B:
    case 0x1C:
    case 0x24:
      return 1250;
    case 0x1A:
      return sort_lcid == 0x0C1A ? 1251 : 1250;  // Serbian Cyrillic, Croatian
    case 0x08:
      return 1253;
    case 0x0D:
      return 1255;
    case 0x11:
      return 932;
    case 0x12:
      return 949;
    case 0x1E:
      return 874;
    case 0x1F:
    case 0x2C:
      return 1254;  // Turkish, Azeri (Latin)
    case 0x25:
    case 0x26:
    case 0x27:
      return 1257;
    case 0x2A:
      return 1258;
    default:
      return 1252;
  }
}

bool Utf8ToUtf16(const std::string& s, std::u16string* out) {
  out->clear();
  size_t i = 0;
  while (i < s.size()) {
    uint8_t b = uint8_t(s[i]);
    uint32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + size_t(extra) >= s.size() && extra > 0) return false;
    for (int k = 1; k <= extra; ++k) {
      uint8_t cb = uint8_t(s[i + k]);
      if ((cb & 0xC0) != 0x80) return false;
      c = (c << 6) | (cb & 0x3F);
    }
    i += size_t(extra) + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back(char16_t(0xD800 + (c >> 10)));
      out->push_back(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
      out->push_back(char16_t(c));
    }
  }
  return true;
}

}  // namespace jet
