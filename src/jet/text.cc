#include "text.h"

namespace jet {

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void AppendUtf16Units(std::string& out, const uint16_t* units, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

std::string Utf16LeToUtf8(ByteView bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  size_t n = bytes.size() / 2;
  // Fast path for ASCII, which is most of what Access databases hold.
  size_t i = 0;
  for (; i < n; ++i) {
    uint16_t u = Le16(bytes.data() + 2 * i);
    if (u >= 0x80) break;
    out.push_back(char(u));
  }
  if (i == n) return out;
  std::u16string rest;
  rest.reserve(n - i);
  for (; i < n; ++i) rest.push_back(char16_t(Le16(bytes.data() + 2 * i)));
  AppendUtf16Units(out, reinterpret_cast<const uint16_t*>(rest.data()), rest.size());
  return out;
}

std::string DecodeJet4Text(ByteView bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return Utf16LeToUtf8(bytes);
  std::u16string units;
  units.reserve(bytes.size());
  bool compressed = true;
  size_t i = 2;
  while (i < bytes.size()) {
    if (bytes[i] == 0x00) {
      compressed = !compressed;
      ++i;
      continue;
    }
    if (compressed) {
      units.push_back(char16_t(bytes[i]));
      ++i;
    } else {
      if (i + 1 >= bytes.size()) break;  // a dangling half unit
      units.push_back(char16_t(Le16(bytes.data() + i)));
      i += 2;
    }
  }
  std::string out;
  out.reserve(units.size());
  AppendUtf16Units(out, reinterpret_cast<const uint16_t*>(units.data()), units.size());
  return out;
}

std::string DecodeCodePageText(ByteView bytes, uint16_t /*code_page*/) {
  std::string out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    if (b < 0x80) {
      out.push_back(char(b));
    } else if (b < 0xA0) {
      AppendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      AppendUtf8(out, b);
    }
  }
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
