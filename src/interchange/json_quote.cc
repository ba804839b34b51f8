// SPDX-License-Identifier: Apache-2.0
#include "interchange/json_quote.h"

#include <cstdint>
#include <cstring>

namespace jet {

std::string JsonQuote(const std::string& s) {
  std::string out;
  out.reserve(s.size() + 2);
  AppendJsonQuoted(out, s);
  return out;
}

char* JsonQuoteTo(char* p, const char* s, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  *p++ = '"';
  size_t clean = 0;  // start of the run of characters that need no escape
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = uint8_t(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    std::memcpy(p, s + clean, i - clean);
    p += i - clean;
    clean = i + 1;
    *p++ = '\\';
    switch (c) {
      case '"': *p++ = '"'; break;
      case '\\': *p++ = '\\'; break;
      case '\n': *p++ = 'n'; break;
      case '\r': *p++ = 'r'; break;
      case '\t': *p++ = 't'; break;
      case '\b': *p++ = 'b'; break;
      case '\f': *p++ = 'f'; break;
      default:
        p[0] = 'u';
        p[1] = '0';
        p[2] = '0';
        p[3] = kHex[c >> 4];
        p[4] = kHex[c & 15];
        p += 5;
    }
  }
  std::memcpy(p, s + clean, n - clean);
  p += n - clean;
  *p++ = '"';
  return p;
}

void AppendJsonQuoted(std::string& out, const std::string& s) {
  const size_t at = out.size();
  out.resize(at + 6 * s.size() + 2);
  out.resize(size_t(JsonQuoteTo(out.data() + at, s.data(), s.size()) - out.data()));
}

}  // namespace jet
