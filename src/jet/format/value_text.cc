// SPDX-License-Identifier: Apache-2.0
// Reading values back from their export forms, and comparing them.

#include "jet/format/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

#include "jet/storage/text.h"

namespace jet {

// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, the form numbers are written in.
bool IsNumberText(std::string_view t) {
  size_t i = 0;
  auto digits = [&] {
    const size_t from = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    return i > from;
  };
  if (i < t.size() && t[i] == '-') ++i;
  if (i < t.size() && t[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == t.size();
}

namespace {

Status Invalid(const ColumnDef& c, const std::string& why) {
  return Status::InvalidArgument("Column '" + c.name + "' (" + ColumnTypeName(c.type) +
                                 "): " + why);
}

// `s` in double quotes, with quotes, backslashes and control characters
// escaped as in C or JSON.
std::string Quoted(std::string_view s) {
  static constexpr char kFrom[] = "\"\\\b\f\n\r\t", kTo[] = "\"\\bfnrt";
  std::string out = "\"";
  for (char ch : s) {
    if (uint8_t(ch) >= 0x20 && ch != '"' && ch != '\\') {
      out += ch;
    } else if (const void* at = std::memchr(kFrom, ch, sizeof kFrom - 1)) {
      out += '\\';
      out += kTo[static_cast<const char*>(at) - kFrom];
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", unsigned(uint8_t(ch)));
      out += code;
    }
  }
  return out + '"';
}

// The input as quoted in messages, shortened when it is long.
std::string Shown(std::string_view text) {
  constexpr size_t kMax = 40;
  if (text.size() <= kMax) return Quoted(text);
  size_t cut = kMax;
  while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return Quoted(text.substr(0, cut)) + "...";
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// "[-]digits[.digits]" split into sign, whole digits and fraction digits.
// False if the text has any other shape.
bool SplitDecimal(std::string_view text, bool* negative, std::string_view* whole,
                  std::string_view* fraction) {
  *negative = !text.empty() && text[0] == '-';
  if (*negative) text.remove_prefix(1);
  const size_t dot = text.find('.');
  *whole = text.substr(0, dot);
  *fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (whole->empty() || (dot != std::string_view::npos && fraction->empty())) return false;
  for (char c : *whole) {
    if (!IsDigit(c)) return false;
  }
  for (char c : *fraction) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// Fraction digits past `scale` are allowed only when they are zeros.
bool FitsScale(std::string_view fraction, size_t scale) {
  for (size_t i = scale; i < fraction.size(); ++i) {
    if (fraction[i] != '0') return false;
  }
  return true;
}

Status ParseInteger(const ColumnDef& c, std::string_view text, int64_t min, int64_t max, Value* v) {
  bool negative;
  std::string_view whole, fraction;
  if (!SplitDecimal(text, &negative, &whole, &fraction) || !fraction.empty()) {
    return Invalid(c, Shown(text) + " is not a whole number");
  }
  int64_t n = 0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), n);
  if (res.ec != std::errc() || n < min || n > max) {
    return Invalid(c, Shown(text) + " is out of range (" + std::to_string(min) + " to " +
                          std::to_string(max) + ")");
  }
  v->integer = n;
  return Status::Ok();
}

Status ParseCurrency(const ColumnDef& c, std::string_view text, Value* v) {
  bool negative;
  std::string_view whole, fraction;
  if (!SplitDecimal(text, &negative, &whole, &fraction)) {
    return Invalid(c, Shown(text) + " is not an amount such as 123.4500");
  }
  if (!FitsScale(fraction, 4)) {
    return Invalid(c, Shown(text) + " has more than four decimals");
  }
  // The amount in 1/10000 units, gathered as a magnitude.
  uint64_t mag = 0;
  bool overflow = false;
  auto add_digit = [&](char d) {
    if (mag > (UINT64_MAX - 9) / 10) overflow = true;
    mag = mag * 10 + uint64_t(d - '0');
  };
  for (char d : whole) add_digit(d);
  for (size_t i = 0; i < 4; ++i) add_digit(i < fraction.size() ? fraction[i] : '0');
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  if (overflow || mag > limit) {
    return Invalid(
        c, Shown(text) + " is out of range (-922337203685477.5808 to 922337203685477.5807)");
  }
  v->integer = negative ? int64_t(uint64_t(0) - mag) : int64_t(mag);
  return Status::Ok();
}

Status ParseDecimal(const ColumnDef& c, std::string_view text, Value* v) {
  bool negative;
  std::string_view whole, fraction;
  if (!SplitDecimal(text, &negative, &whole, &fraction)) {
    return Invalid(c, Shown(text) + " is not a decimal number such as -12.50");
  }
  if (!FitsScale(fraction, c.scale)) {
    return Invalid(
        c, Shown(text) + " has more decimals than the column's scale " + std::to_string(c.scale));
  }
  Decimal d;
  d.negative = negative;
  d.scale = c.scale;
  size_t significant = 0;
  bool overflow = false;
  auto add_digit = [&](char ch) {
    if (significant > 0 || ch != '0') ++significant;
    // words[3] is the least significant 32 bits.
    uint64_t carry = uint64_t(ch - '0');
    for (int w = 3; w >= 0; --w) {
      uint64_t cur = uint64_t(d.words[w]) * 10 + carry;
      d.words[w] = uint32_t(cur);
      carry = cur >> 32;
    }
    if (carry) overflow = true;
  };
  for (char ch : whole) add_digit(ch);
  for (size_t i = 0; i < c.scale; ++i) add_digit(i < fraction.size() ? fraction[i] : '0');
  if (overflow) return Invalid(c, Shown(text) + " is too large for a Decimal");
  if (c.precision > 0 && significant > c.precision) {
    return Invalid(c, Shown(text) + " has more digits than the column's precision " +
                          std::to_string(c.precision));
  }
  v->decimal = d;
  return Status::Ok();
}

template <typename Float>
Status ParseFloat(const ColumnDef& c, std::string_view text, Float* out) {
  if (text == "NaN") {
    *out = std::numeric_limits<Float>::quiet_NaN();
    return Status::Ok();
  }
  if (text == "Infinity" || text == "-Infinity") {
    *out = text[0] == '-' ? -std::numeric_limits<Float>::infinity()
                          : std::numeric_limits<Float>::infinity();
    return Status::Ok();
  }
  if (!IsNumberText(text)) {
    return Invalid(c, Shown(text) + " is not a number (nor NaN, Infinity or -Infinity)");
  }
  auto res = std::from_chars(text.data(), text.data() + text.size(), *out);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(*out)) {
    return Invalid(c, Shown(text) + " is out of range");
  }
  return Status::Ok();
}

// Reads exactly `n` digits at `*pos`.
bool Digits(std::string_view text, size_t* pos, size_t n, int* out) {
  if (*pos + n > text.size()) return false;
  *out = 0;
  for (size_t i = 0; i < n; ++i) {
    char ch = text[*pos + i];
    if (!IsDigit(ch)) return false;
    *out = *out * 10 + (ch - '0');
  }
  *pos += n;
  return true;
}

bool Expect(std::string_view text, size_t* pos, char ch) {
  if (*pos >= text.size() || text[*pos] != ch) return false;
  ++*pos;
  return true;
}

Status ParseDateTime(const ColumnDef& c, std::string_view text, Value* v) {
  DateTimeParts p;
  p.hour = p.minute = p.second = p.millisecond = 0;
  size_t pos = 0;
  bool shape = Digits(text, &pos, 4, &p.year) && Expect(text, &pos, '-') &&
               Digits(text, &pos, 2, &p.month) && Expect(text, &pos, '-') &&
               Digits(text, &pos, 2, &p.day);
  if (shape && pos < text.size()) {
    shape = (Expect(text, &pos, 'T') || Expect(text, &pos, ' ')) &&
            Digits(text, &pos, 2, &p.hour) && Expect(text, &pos, ':') &&
            Digits(text, &pos, 2, &p.minute) && Expect(text, &pos, ':') &&
            Digits(text, &pos, 2, &p.second);
    if (shape && pos < text.size()) {
      shape = Expect(text, &pos, '.') && Digits(text, &pos, 3, &p.millisecond);
    }
  }
  if (!shape || pos != text.size()) {
    return Invalid(c, Shown(text) + " is not a date and time such as 2024-02-29T13:45:00");
  }
  if (!DateTimeToJet(p, &v->real)) return Invalid(c, Shown(text) + " is not a real date and time");
  return Status::Ok();
}

Status ParseHex(const ColumnDef& c, std::string_view text, std::string* out) {
  if (text.size() % 2 != 0)
    return Invalid(c, "hex " + Shown(text) + " has an odd number of digits");
  out->clear();
  out->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return Invalid(c, Shown(text) + " is not hex digits");
    out->push_back(char(hi * 16 + lo));
  }
  return Status::Ok();
}

Status ParseGuid(const ColumnDef& c, std::string_view text, std::string* out) {
  std::string_view inner = text;
  if (inner.size() == 38 && inner.front() == '{' && inner.back() == '}') {
    inner = inner.substr(1, 36);
  }
  std::string hex;
  bool shape = inner.size() == 36;
  for (size_t i = 0; shape && i < inner.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      shape = inner[i] == '-';
    } else {
      shape = HexDigit(inner[i]) >= 0;
      hex.push_back(inner[i]);
    }
  }
  if (!shape) {
    return Invalid(c,
                   Shown(text) + " is not a GUID such as {6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  }
  std::string b;
  JET_RETURN_IF_ERROR(ParseHex(c, hex, &b));
  // The first three groups are stored little-endian, the rest in order.
  *out = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6]};
  out->append(b, 8, 8);
  return Status::Ok();
}

// The typed value of a non-empty text form.
Status ParseText(const ColumnDef& c, std::string_view text, Value* v) {
  switch (c.type) {
    case ColumnType::kBoolean:
      if (EqualsIgnoreCase(text, "true") || EqualsIgnoreCase(text, "false")) {
        v->boolean = text[0] == 't' || text[0] == 'T';
        return Status::Ok();
      }
      return Invalid(c, Shown(text) + " is not true or false");
    case ColumnType::kByte:
      return ParseInteger(c, text, 0, 255, v);
    case ColumnType::kInteger:
      return ParseInteger(c, text, INT16_MIN, INT16_MAX, v);
    case ColumnType::kLong:
      return ParseInteger(c, text, INT32_MIN, INT32_MAX, v);
    case ColumnType::kBigInt:
      return ParseInteger(c, text, INT64_MIN, INT64_MAX, v);
    case ColumnType::kExtDateTime:
      if (!ParseExtDateTime(text, &v->bytes)) {
        return Invalid(c, Shown(text) +
                              " is not a date and time such as 2024-02-29T13:45:00.1234567");
      }
      return Status::Ok();
    case ColumnType::kComplex:
      return Status::Unsupported("Column '" + c.name +
                                 "' is an attachment or multi-valued field, which this engine "
                                 "does not write");
    case ColumnType::kCurrency:
      return ParseCurrency(c, text, v);
    case ColumnType::kSingle:
      return ParseFloat(c, text, &v->single);
    case ColumnType::kDouble:
      return ParseFloat(c, text, &v->real);
    case ColumnType::kDateTime:
      return ParseDateTime(c, text, v);
    case ColumnType::kNumeric:
      return ParseDecimal(c, text, v);
    case ColumnType::kGuid:
      return ParseGuid(c, text, &v->bytes);
    case ColumnType::kText:
    case ColumnType::kMemo:
      v->bytes.assign(text);
      return Status::Ok();
    case ColumnType::kBinary:
    case ColumnType::kOle:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      return ParseHex(c, text, &v->bytes);
  }
  return Invalid(c, "unknown column type");
}

void Reset(const ColumnDef& c, Value* v, bool null) {
  *v = Value{};
  v->type = c.type;
  v->null = null;
}

// Simple lower-casing of the letters of the Latin, Greek and Cyrillic
// alphabets, enough to compare text without regard to case.
char16_t FoldCase(char16_t u) {
  if (u < 0x80) return (u >= 'A' && u <= 'Z') ? char16_t(u + 0x20) : u;
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return char16_t(u + 0x20);
  if (u >= 0x100 && u <= 0x17F) {
    if (u == 0x178) return 0xFF;
    if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return u;
    const bool odd_upper = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
    if (odd_upper) return (u & 1) ? char16_t(u + 1) : u;
    return (u & 1) ? u : char16_t(u + 1);
  }
  if (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) return char16_t(u + 0x20);
  if (u >= 0x410 && u <= 0x42F) return char16_t(u + 0x20);
  if (u >= 0x400 && u <= 0x40F) return char16_t(u + 0x50);
  return u;
}

bool TextEqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::u16string ua, ub;
  if (!Utf8ToUtf16(a, &ua) || !Utf8ToUtf16(b, &ub) || ua.size() != ub.size()) return false;
  for (size_t i = 0; i < ua.size(); ++i) {
    if (FoldCase(ua[i]) != FoldCase(ub[i])) return false;
  }
  return true;
}

bool DecimalZero(const Decimal& d) {
  return (d.words[0] | d.words[1] | d.words[2] | d.words[3]) == 0;
}

}  // namespace

Status ColumnValueError(const ColumnDef& column, const std::string& why) {
  return Invalid(column, why);
}

std::string QuoteShown(std::string_view text) { return Shown(text); }

void SetNullValue(const ColumnDef& column, Value* out) { Reset(column, out, true); }

Status ValueFromTextForm(const ColumnDef& column, std::string_view text, Value* out) {
  Reset(column, out, false);
  return ParseText(column, text, out);
}

Status ValueFromText(const ColumnDef& column, const std::string& text, Value* out) {
  Reset(column, out, text.empty());
  if (text.empty()) return Status::Ok();
  return ParseText(column, text, out);
}

bool ValueMatches(const Value& stored, const Value& wanted) {
  if (wanted.null) return stored.null || stored.ToText().empty();
  if (stored.null || stored.type != wanted.type) return false;
  switch (stored.type) {
    case ColumnType::kBoolean:
      return stored.boolean == wanted.boolean;
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
      return stored.integer == wanted.integer;
    case ColumnType::kSingle:
      return stored.single == wanted.single ||
             (std::isnan(stored.single) && std::isnan(wanted.single));
    case ColumnType::kDouble:
      return stored.real == wanted.real || (std::isnan(stored.real) && std::isnan(wanted.real));
    case ColumnType::kDateTime:
      return FormatDateTime(stored.real) == FormatDateTime(wanted.real);
    case ColumnType::kNumeric: {
      const Decimal& a = stored.decimal;
      const Decimal& b = wanted.decimal;
      for (int w = 0; w < 4; ++w) {
        if (a.words[w] != b.words[w]) return false;
      }
      return a.scale == b.scale && (a.negative == b.negative || DecimalZero(a));
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      return TextEqualsIgnoreCase(stored.bytes, wanted.bytes);
    default:
      return stored.bytes == wanted.bytes;
  }
}

}  // namespace jet
