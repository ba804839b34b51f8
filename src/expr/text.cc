// SPDX-License-Identifier: Apache-2.0
// Text: UTF-8 decoding, case folding, the default comparer and Like.
//
// Folding maps ASCII a-z and the Latin-1 letters U+00E0..U+00FE (except
// U+00F7, the division sign) to upper case; other characters are left
// alone. The default comparer orders folded text close to Jet's General
// sort order; a column with another sort order passes its own comparer.

#include <algorithm>

#include "expr/expression.h"
#include "expr/functions.h"

namespace expr {

std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    bool bad = false;
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) bad = true;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (bad) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += 1 + extra;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

char32_t Fold(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  return c;
}

}  // namespace

std::u32string FoldCase(std::string_view utf8) {
  std::u32string s = DecodeUtf8(utf8);
  for (char32_t& c : s) c = Fold(c);
  return s;
}

namespace {

// The Latin-1 letters U+00C0..U+00DE (upper case; U+00D7 is not one) by
// their base letter; 0 for Thorn, which sorts after Z.
const char kBaseLetter[] = "AAAAAAACEEEEIIIIDNOOOOO OUUUUY";

// Primary weight: spaces and punctuation (by code point) before digits,
// digits before letters, Latin letters by their base letter whatever their
// case or accent, other scripts last.
uint32_t Primary(char32_t c) {
  char32_t f = Fold(c);
  if (f >= 'A' && f <= 'Z') return 0x200000 + (f - 'A') * 2;
  if (f == 0xDF) return 0x200000 + ('S' - 'A') * 2;  // sharp s
  if (f == 0xFF) return 0x200000 + ('Y' - 'A') * 2;  // y diaeresis
  if (f >= 0xC0 && f <= 0xDE && f != 0xD7) {
    char base = kBaseLetter[f - 0xC0];
    return base ? 0x200000 + (base - 'A') * 2 : 0x200000 + 26 * 2;
  }
  if (c >= '0' && c <= '9') return 0x100000 + (c - '0');
  if (c < 0x100) return c;
  return 0x300000 + c;
}

}  // namespace

int CompareTextDefault(std::string_view a, std::string_view b) {
  std::u32string x = FoldCase(a), y = FoldCase(b);
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    uint32_t p = Primary(x[i]), q = Primary(y[i]);
    if (p != q) return p < q ? -1 : 1;
  }
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  // The same letters: accents decide ("e" before "é"), case never does.
  int c = x.compare(y);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::function<std::optional<Value>(std::string_view name)> LookupByName(
    std::vector<std::pair<std::string, Value>> row) {
  return [row = std::move(row)](std::string_view name) -> std::optional<Value> {
    for (const auto& [column, value] : row)
      if (CompareTextDefault(column, name) == 0) return value;
    return std::nullopt;
  };
}

int CompareText(const Context& context, std::string_view a, std::string_view b) {
  return context.compare ? context.compare(a, b) : CompareTextDefault(a, b);
}

namespace {

// Whether the pattern element at p[pi] (not '*') matches the character c;
// *next is where the element ends.
bool MatchOne(char32_t c, const std::u32string& p, size_t pi, size_t* next) {
  char32_t e = p[pi];
  *next = pi + 1;
  if (e == '?') return true;
  if (e == '#') return c >= '0' && c <= '9';
  if (e != '[') return c == e;
  size_t close = p.find(']', pi + 1);  // present: checked before matching
  *next = close + 1;
  size_t k = pi + 1;
  bool negate = k < close && p[k] == '!';
  if (negate) ++k;
  bool in = false;
  for (; k < close; ++k) {
    if (k + 2 < close && p[k + 1] == '-') {
      if (c >= p[k] && c <= p[k + 2]) in = true;
      k += 2;
    } else if (p[k] == c) {
      in = true;
    }
  }
  return in != negate;
}

// Every element but '*' matches one character ("[]" none), so a failed
// match need only go back to the latest '*' and let it take one more
// character: time proportional to text times pattern at worst.
bool Match(const std::u32string& s, const std::u32string& p) {
  size_t si = 0, pi = 0;
  size_t star_p = std::u32string::npos, star_s = 0;
  while (true) {
    while (pi + 1 < p.size() && p[pi] == '[' && p[pi + 1] == ']') pi += 2;
    if (pi < p.size() && p[pi] == '*') {
      star_p = ++pi;
      star_s = si;
      continue;
    }
    if (si == s.size() && pi == p.size()) return true;
    size_t next;
    if (si < s.size() && pi < p.size() && MatchOne(s[si], p, pi, &next)) {
      ++si;
      pi = next;
      continue;
    }
    if (star_p == std::u32string::npos || star_s >= s.size()) return false;
    si = ++star_s;
    pi = star_p;
  }
}

}  // namespace

Result<bool> LikeMatches(std::string_view text, std::string_view pattern) {
  std::u32string p = FoldCase(pattern);
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] != '[') continue;
    size_t close = p.find(']', i + 1);
    if (close == std::u32string::npos)
      return Status::InvalidArgument("invalid pattern string " + std::string(pattern));
    i = close;
  }
  return Match(FoldCase(text), p);
}

}  // namespace expr
