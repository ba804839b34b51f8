#include "text.h"

namespace jet {

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1. The
// five bytes Windows assigns no character (0x81, 0x8D, 0x8F, 0x90, 0x9D) map
// to the C1 controls of the same value, as Windows' own conversion does, so
// that every byte reads back to the byte that was stored.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Decodes UTF-16 code units one at a time, pairing surrogates.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  ~Utf16Sink() { Flush(); }

  void Put(uint16_t u) {
    if (pending_) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUtf8(out_, 0x10000 + ((uint32_t(pending_) - 0xD800) << 10) + (u - 0xDC00));
        pending_ = 0;
        return;
      }
      Flush();
    }
    if (u < 0x80) {
      out_.push_back(char(u));
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      pending_ = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUtf8(out_, 0xFFFD);
    } else {
      AppendUtf8(out_, u);
    }
  }

  void Flush() {
    if (pending_) AppendUtf8(out_, 0xFFFD);
    pending_ = 0;
  }

 private:
  std::string& out_;
  uint16_t pending_ = 0;
};

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

void AppendUtf16Le(std::string& out, ByteView bytes) {
  const size_t n = bytes.size() / 2;
  const uint8_t* p = bytes.data();
  // Most text is ASCII: copy runs of it without going through the sink.
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && p[2 * run + 1] == 0 && p[2 * run] < 0x80) ++run;
    if (run > i) {
      size_t at = out.size();
      out.resize(at + (run - i));
      for (size_t k = i; k < run; ++k) out[at + (k - i)] = char(p[2 * k]);
      i = run;
      if (i == n) break;
    }
    Utf16Sink sink(out);
    for (; i < n; ++i) {
      uint16_t u = Le16(p + 2 * i);
      if (u < 0x80) break;
      sink.Put(u);
    }
  }
}

std::string Utf16LeToUtf8(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  AppendUtf16Le(out, bytes);
  return out;
}

void AppendJet4Text(std::string& out, ByteView bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    AppendUtf16Le(out, bytes);
    return;
  }
  // Compressed: single bytes are Latin-1 characters; a 00 byte switches to
  // two-byte units, and the next 00 switches back.
  Utf16Sink sink(out);
  const uint8_t* p = bytes.data();
  const size_t n = bytes.size();
  size_t i = 2;
  while (i < n) {
    // A run of one-byte characters.
    while (i < n && p[i] != 0) {
      if (p[i] < 0x80) {
        size_t start = i;
        while (i < n && p[i] != 0 && p[i] < 0x80) ++i;
        sink.Flush();
        out.append(reinterpret_cast<const char*>(p + start), i - start);
      } else {
        sink.Put(p[i++]);
      }
    }
    if (i >= n) break;
    ++i;  // the switch to two-byte units
    while (i + 1 < n && p[i] != 0) {
      sink.Put(Le16(p + i));
      i += 2;
    }
    if (i + 1 == n && p[i] != 0) break;  // a dangling half unit
    ++i;  // the switch back
  }
}

std::string DecodeJet4Text(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendJet4Text(out, bytes);
  return out;
}

void AppendCodePageText(std::string& out, ByteView bytes, uint16_t /*code_page*/) {
  for (uint8_t b : bytes) {
    if (b < 0x80) {
      out.push_back(char(b));
    } else if (b < 0xA0) {
      AppendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
}

bool EncodeCp1252(uint32_t c, uint8_t* out) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    *out = uint8_t(c);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == c) {
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
