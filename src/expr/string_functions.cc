// SPDX-License-Identifier: Apache-2.0
// Text functions beyond the basic ones: Replace, InStrRev, StrComp,
// StrConv, StrReverse, AscW, ChrW, Hex and Oct. Without a compare
// argument Replace and InStrRev compare binary, as VBA's do; StrComp
// follows Option Compare, which in Access is Database: the context's
// comparer (case ignored), as are compare modes -1, 1 and 2.

#include <algorithm>
#include <cstdio>

#include "expr/builtins.h"

namespace expr {

namespace {

// The longest result Replace builds, in characters.
constexpr double kLongestText = 1 << 20;

// How a compare argument asks to compare: binary (0), or as text (1, 2
// and -1, Access's Option Compare Database).
Result<bool> BinaryCompare(const Args& a, size_t i, bool fallback) {
  if (a.size() <= i) return fallback;
  JET_ASSIGN_OR_RETURN(int64_t mode, WholeNumber(a[i]));
  if (mode < -1 || mode > 2) return InvalidCall("compare mode " + std::to_string(mode));
  return mode == 0;
}

std::u32string Units(const std::string& s, bool binary) {
  return binary ? DecodeUtf8(s) : FoldCase(s);
}

// String arguments of the functions that refuse Null.
Result<std::string> StrictText(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  return DisplayText(v);
}

}  // namespace

Result<Value> FnReplace(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::string text, StrictText(a[0]));
  JET_ASSIGN_OR_RETURN(std::string find, StrictText(a[1]));
  JET_ASSIGN_OR_RETURN(std::string with, StrictText(a[2]));
  JET_ASSIGN_OR_RETURN(int64_t start, OptionalWhole(a, 3, 1));
  JET_ASSIGN_OR_RETURN(int64_t count, OptionalWhole(a, 4, -1));
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompare(a, 5, true));
  if (start < 1) return InvalidCall("Replace with a start before 1");
  if (count < -1) return InvalidCall("Replace with a count below -1");
  std::u32string s = DecodeUtf8(text);
  if (start > int64_t(s.size())) return Value::String("");
  // The result starts at `start`, as VBA's does.
  s.erase(0, size_t(start - 1));
  std::u32string key = Units(find, binary), hay = Units(EncodeUtf8(s), binary);
  if (key.empty() || count == 0) return Value::String(EncodeUtf8(s));
  std::u32string replacement = DecodeUtf8(with);
  // Where the matches are, first, so that a result too long to hold is
  // refused before it is built.
  std::vector<size_t> hits;
  for (size_t at = 0; count < 0 || int64_t(hits.size()) < count;) {
    size_t hit = hay.find(key, at);
    if (hit == std::u32string::npos) break;
    hits.push_back(hit);
    at = hit + key.size();
  }
  double length = double(s.size()) + double(hits.size()) * (double(replacement.size()) - double(key.size()));
  if (length > kLongestText) return InvalidCall("Replace result too long");
  std::u32string out;
  size_t at = 0;
  for (size_t hit : hits) {
    out.append(s, at, hit - at);
    out += replacement;
    at = hit + key.size();
  }
  out.append(s, at, std::u32string::npos);
  return Value::String(EncodeUtf8(out));
}

Result<Value> FnInStrRev(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t start, OptionalWhole(a, 2, -1));
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompare(a, 3, true));
  if (start == 0 || start < -1) return InvalidCall("InStrRev with start " + std::to_string(start));
  if (a[0].is_null() || a[1].is_null()) return Value::Null();
  std::u32string s = Units(DisplayText(a[0]), binary), t = Units(DisplayText(a[1]), binary);
  if (start == -1) start = int64_t(s.size());
  if (start > int64_t(s.size()) || s.empty()) return Value::Long(0);
  if (t.empty()) return Value::Long(int32_t(start));
  if (t.size() > size_t(start)) return Value::Long(0);
  size_t at = s.rfind(t, size_t(start) - t.size());
  return Value::Long(at == std::u32string::npos ? 0 : int32_t(at + 1));
}

Result<Value> FnStrComp(const Args& a, const Context& c) {
  JET_ASSIGN_OR_RETURN(bool binary, BinaryCompare(a, 2, false));
  if (a[0].is_null() || a[1].is_null()) return Value::Null();
  std::string x = DisplayText(a[0]), y = DisplayText(a[1]);
  int r;
  if (binary) {
    std::u32string p = DecodeUtf8(x), q = DecodeUtf8(y);
    r = p < q ? -1 : p > q ? 1 : 0;
  } else {
    r = CompareText(c, x, y);
  }
  return Value::Integer(int16_t(r < 0 ? -1 : r > 0 ? 1 : 0));
}

Result<Value> FnStrConv(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t mode, WholeNumber(a[1]));
  if (a.size() > 2 && !a[2].is_null()) {
    JET_ASSIGN_OR_RETURN(int64_t lcid, WholeNumber(a[2]));
    (void)lcid;  // US English is assumed throughout
  }
  static const struct {
    int flag;
    const char* name;
  } kOthers[] = {{4, "vbWide"},     {8, "vbNarrow"},   {16, "vbKatakana"},
                 {32, "vbHiragana"}, {64, "vbUnicode"}, {128, "vbFromUnicode"}};
  int64_t rest = mode & ~int64_t(3);
  if (mode < 0 || mode > 255 || (mode & 3) == 0 || rest) {
    for (const auto& o : kOthers)
      if (mode & o.flag)
        return Status::Unsupported(std::string("StrConv conversion ") + o.name +
                                   " is not supported");
    return InvalidCall("StrConv conversion " + std::to_string(mode));
  }
  if (a[0].is_null()) return Value::Null();
  std::string text = DisplayText(a[0]);
  auto upper = [](char32_t ch) {
    bool latin = ch >= 0xE0 && ch <= 0xFE && ch != 0xF7;
    return (ch >= 'a' && ch <= 'z') || latin ? ch - 32 : ch;
  };
  auto lower = [](char32_t ch) {
    bool latin = ch >= 0xC0 && ch <= 0xDE && ch != 0xD7;
    return (ch >= 'A' && ch <= 'Z') || latin ? ch + 32 : ch;
  };
  std::u32string s = DecodeUtf8(text);
  bool word_start = true;
  for (char32_t& ch : s) {
    if (mode == 1)
      ch = upper(ch);
    else if (mode == 2)
      ch = lower(ch);
    else {
      // Proper case: a letter after a space, tab, line feed, carriage
      // return or NUL starts a word.
      bool separator = ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == 0 ||
                       ch == '\f' || ch == '\v';
      ch = word_start ? upper(ch) : lower(ch);
      word_start = separator;
    }
  }
  return Value::String(EncodeUtf8(s));
}

Result<Value> FnStrReverse(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::string text, StrictText(a[0]));
  std::u32string s = DecodeUtf8(text);
  std::reverse(s.begin(), s.end());
  return Value::String(EncodeUtf8(s));
}

Result<Value> FnAscW(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::string text, StrictText(a[0]));
  std::u32string s = DecodeUtf8(text);
  if (s.empty()) return InvalidCall("AscW of an empty string");
  // The first UTF-16 unit, as a signed Integer.
  char32_t unit = s[0] >= 0x10000 ? char32_t(0xD800 + ((s[0] - 0x10000) >> 10)) : s[0];
  return Value::Integer(int16_t(uint16_t(unit)));
}

Result<Value> FnChrW(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t code, WholeNumber(a[0]));
  if (code < -32768 || code > 65535) return InvalidCall("ChrW(" + std::to_string(code) + ")");
  if (code < 0) code += 65536;
  char32_t ch = char32_t(code);
  // A lone surrogate has no UTF-8 form.
  if (ch >= 0xD800 && ch <= 0xDFFF) ch = 0xFFFD;
  return Value::String(EncodeUtf8(std::u32string(1, ch)));
}

namespace {

// Hex and Oct: Integer, Byte and Boolean in 16 bits, everything else
// rounded to a Long (32 bits, two's complement).
Result<Value> Radix(const Value& v, bool hex) {
  if (v.is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(v));
  uint32_t bits;
  if (n.type() == Type::kInteger || n.type() == Type::kBoolean || n.type() == Type::kByte) {
    bits = uint16_t(int16_t(n.integer()));
  } else {
    JET_ASSIGN_OR_RETURN(Value l, ToLong(n));
    bits = uint32_t(int32_t(l.integer()));
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, hex ? "%X" : "%o", unsigned(bits));
  return Value::String(buf);
}

}  // namespace

Result<Value> FnHex(const Args& a, const Context&) { return Radix(a[0], true); }
Result<Value> FnOct(const Args& a, const Context&) { return Radix(a[0], false); }

}  // namespace expr
