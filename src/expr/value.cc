// SPDX-License-Identifier: Apache-2.0
#include "expr/value.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "expr/calendar.h"
#include "expr/decimal.h"

namespace expr {

const char* TypeName(Type type) {
  switch (type) {
    case Type::kNull:
      return "Null";
    case Type::kBoolean:
      return "Boolean";
    case Type::kInteger:
      return "Integer";
    case Type::kLong:
      return "Long";
    case Type::kSingle:
      return "Single";
    case Type::kDouble:
      return "Double";
    case Type::kCurrency:
      return "Currency";
    case Type::kDate:
      return "Date";
    case Type::kString:
      return "String";
    case Type::kByte:
      return "Byte";
    case Type::kDecimal:
      return "Decimal";
  }
  return "?";
}

Status TypeMismatch() { return Status::InvalidArgument("type mismatch"); }
Status Overflow() { return Status::InvalidArgument("overflow"); }
Status InvalidUseOfNull() { return Status::InvalidArgument("invalid use of Null"); }
Status DivisionByZero() { return Status::InvalidArgument("division by zero"); }
Status InvalidCall(const std::string& what) {
  return Status::InvalidArgument("invalid procedure call: " + what);
}

Status DateOutOfRange(double linear_days) {
  return Status::InvalidArgument(std::string("date out of range: ") +
                                 (linear_days < 0 ? "before year 100" : "after year 9999"));
}

double Value::AsDouble() const {
  switch (type_) {
    case Type::kBoolean:
    case Type::kByte:
    case Type::kInteger:
    case Type::kLong:
      return double(integer_);
    case Type::kDecimal:
      return DecimalToDouble(decimal());
    case Type::kCurrency:
      return double(integer_) / 10000.0;
    case Type::kSingle:
    case Type::kDouble:
    case Type::kDate:
      return real_;
    default:
      return 0;
  }
}

bool Value::operator==(const Value& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case Type::kNull:
      return true;
    case Type::kString:
      return text_ == o.text_;
    case Type::kSingle:
    case Type::kDouble:
    case Type::kDate:
      return real_ == o.real_;
    case Type::kDecimal:
      return DecimalCompare(decimal(), o.decimal()) == 0 && scale_ == o.scale_;
    default:
      return integer_ == o.integer_;
  }
}

namespace {

bool ParseRadix(const std::string& s, size_t i, double* out) {
  // s[i] is after '&'; H or O follows.
  if (i >= s.size()) return false;
  char r = char(std::toupper(static_cast<unsigned char>(s[i])));
  int base = r == 'H' ? 16 : r == 'O' ? 8 : 0;
  if (!base) return false;
  uint64_t v = 0;
  size_t digits = 0;
  for (++i; i < s.size(); ++i) {
    int d = std::isdigit(static_cast<unsigned char>(s[i]))
                ? s[i] - '0'
                : (std::isxdigit(static_cast<unsigned char>(s[i]))
                       ? std::toupper(static_cast<unsigned char>(s[i])) - 'A' + 10
                       : 99);
    if (d >= base) break;
    v = v * base + d;
    if (v > 0xFFFFFFFFull) return false;
    ++digits;
  }
  if (!digits) return false;
  // Up to 16 bits reads as an Integer, then as a Long (&HFFFF is -1).
  if (v <= 0xFFFF)
    *out = double(int16_t(uint16_t(v)));
  else
    *out = double(int32_t(uint32_t(v)));
  return i == s.size() ? true : false;
}

}  // namespace

bool ParseNumber(const std::string& text, double* out) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return false;
  size_t e = text.find_last_not_of(" \t");
  std::string s = text.substr(b, e - b + 1);
  if (s[0] == '&') return ParseRadix(s, 1, out);
  std::string digits;
  size_t i = 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  if (i < s.size() && s[i] == '$') ++i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-') && digits.empty() && i > 0 && s[i - 1] == '$')
    negative = s[i++] == '-';
  bool any = false, point = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits += c;
      any = true;
    } else if (c == ',' && !point && any) {
      continue;
    } else if (c == '.' && !point) {
      digits += c;
      point = true;
    } else {
      break;
    }
  }
  if (!any) return false;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    size_t j = i + 1;
    std::string exp = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp += s[j++];
    size_t start = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) exp += s[j++];
    if (j == start) return false;
    digits += exp;
    i = j;
  }
  if (i != s.size()) return false;
  double v = std::strtod(digits.c_str(), nullptr);
  if (!std::isfinite(v)) return false;
  *out = negative ? -v : v;
  return true;
}

Result<Value> ValOf(const std::string& text) {
  std::string s;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  if (s.size() >= 2 && s[0] == '&') {
    size_t i = 2;
    int base = std::toupper(static_cast<unsigned char>(s[1])) == 'H'   ? 16
               : std::toupper(static_cast<unsigned char>(s[1])) == 'O' ? 8
                                                                       : 0;
    if (base) {
      size_t j = i;
      while (j < s.size() && (base == 16 ? std::isxdigit(static_cast<unsigned char>(s[j]))
                                         : (s[j] >= '0' && s[j] <= '7')))
        ++j;
      double v = 0;
      if (j > i && ParseRadix(s.substr(0, j), 1, &v)) return Value::Double(v);
      return Value::Double(0);
    }
  }
  size_t i = 0;
  std::string n;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) n += s[i++];
  bool any = false, point = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) {
      n += s[i];
      any = true;
    } else if (s[i] == '.' && !point) {
      n += s[i];
      point = true;
    } else {
      break;
    }
  }
  if (!any) return Value::Double(0);
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    size_t j = i + 1;
    std::string exp = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exp += s[j++];
    size_t start = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) exp += s[j++];
    if (j > start) {
      n += exp;
      i = j;
    }
  }
  double v = std::strtod(n.c_str(), nullptr);
  if (i < s.size() && (s[i] == '%' || s[i] == '&') && v != std::trunc(v)) return TypeMismatch();
  return Value::Double(v);
}

namespace {

// "%.<digits>G", then VBA's look: no "+0" padding beyond two exponent
// digits, and no trailing zeros.
std::string FormatFloat(double v, int digits) {
  if (v == 0) v = 0;  // no "-0"
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, v);
  std::string s = buf;
  size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    char sign = exp[0];
    exp = exp.substr(1);
    while (exp.size() > 2 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + sign + exp;
  }
  return s;
}

std::string FormatCurrency(int64_t units) {
  bool neg = units < 0;
  uint64_t u = neg ? uint64_t(0) - uint64_t(units) : uint64_t(units);
  std::string s = std::to_string(u / 10000);
  uint64_t frac = u % 10000;
  if (frac) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", unsigned(frac));
    std::string f = buf;
    while (!f.empty() && f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return neg ? "-" + s : s;
}

std::string FormatDate(double serial) {
  DateParts p = SplitDate(serial);
  char buf[64];
  std::string out;
  // Day 0 shows as a time alone, midnight included; midnight elsewhere as a
  // date alone.
  bool has_date = !(p.year == 1899 && p.month == 12 && p.day == 30);
  bool has_time = p.hour || p.minute || p.second || !has_date;
  if (has_date) {
    std::snprintf(buf, sizeof buf, "%d/%d/%d", p.month, p.day, p.year);
    out = buf;
  }
  if (has_time) {
    int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, p.minute, p.second,
                  p.hour < 12 ? "AM" : "PM");
    if (!out.empty()) out += " ";
    out += buf;
  }
  return out;
}

}  // namespace

std::string DisplayText(const Value& v) {
  switch (v.type()) {
    case Type::kNull:
      return "";
    case Type::kBoolean:
      return v.boolean() ? "True" : "False";
    case Type::kByte:
    case Type::kInteger:
    case Type::kLong:
      return std::to_string(v.integer());
    case Type::kDecimal:
      return DecimalText(v.decimal());
    case Type::kSingle:
      return FormatFloat(v.real(), 7);
    case Type::kDouble:
      return FormatFloat(v.real(), 15);
    case Type::kCurrency:
      return FormatCurrency(v.currency_units());
    case Type::kDate:
      return FormatDate(v.real());
    case Type::kString:
      return v.text();
  }
  return "";
}

Result<Value> ToNumber(const Value& v) {
  if (v.type() != Type::kString) return v;
  double d;
  if (!ParseNumber(v.text(), &d)) return TypeMismatch();
  return Value::Double(d);
}

namespace {

// The value as a double, from any type; text as CDbl reads it.
Result<double> NumericOf(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  if (v.type() == Type::kString) {
    double d;
    if (ParseNumber(v.text(), &d)) return d;
    if (auto date = ParseDateText(v.text())) return *date;
    return TypeMismatch();
  }
  return v.AsDouble();
}

Result<int64_t> RoundToInteger(const Value& v, int64_t lo, int64_t hi) {
  if (v.type() == Type::kCurrency) {
    int64_t u = v.currency_units();
    int64_t q = u / 10000, r = u % 10000;
    if (r > 5000 || (r == 5000 && (q & 1))) ++q;
    if (r < -5000 || (r == -5000 && (q & 1))) --q;
    if (q < lo || q > hi) return Overflow();
    return q;
  }
  JET_ASSIGN_OR_RETURN(double d, NumericOf(v));
  double r = std::nearbyint(d);  // the default mode rounds half to even
  if (!(r >= double(lo) && r <= double(hi))) return Overflow();
  return int64_t(r);
}

}  // namespace

Result<bool> ToBoolean(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  if (v.type() == Type::kString) {
    std::string u;
    for (char c : v.text())
      if (c != ' ') u += char(std::tolower(static_cast<unsigned char>(c)));
    if (u == "true") return true;
    if (u == "false") return false;
    double d;
    if (!ParseNumber(v.text(), &d)) return TypeMismatch();
    return d != 0;
  }
  if (v.type() == Type::kCurrency) return v.currency_units() != 0;
  return v.AsDouble() != 0;
}

Result<Value> ToInteger(const Value& v) {
  JET_ASSIGN_OR_RETURN(int64_t i, RoundToInteger(v, -32768, 32767));
  return Value::Integer(int16_t(i));
}

Result<Value> ToLong(const Value& v) {
  JET_ASSIGN_OR_RETURN(int64_t i, RoundToInteger(v, INT32_MIN, INT32_MAX));
  return Value::Long(int32_t(i));
}

Result<Value> ToByte(const Value& v) {
  JET_ASSIGN_OR_RETURN(int64_t i, RoundToInteger(v, 0, 255));
  return Value::Byte(uint8_t(i));
}

Result<Value> ToDecimal(const Value& v) {
  switch (v.type()) {
    case Type::kNull:
      return InvalidUseOfNull();
    case Type::kDecimal:
      return v;
    case Type::kBoolean:
    case Type::kByte:
    case Type::kInteger:
    case Type::kLong:
      return Value::Decimal(DecimalFromInteger(v.integer()));
    case Type::kCurrency:
      return Value::Decimal(DecimalFromInteger(v.currency_units(), 4));
    case Type::kSingle: {
      JET_ASSIGN_OR_RETURN(DecimalParts d, DecimalFromDouble(v.real(), 7));
      return Value::Decimal(d);
    }
    case Type::kString: {
      // Plain digits convert exactly; other number forms ($, thousands
      // commas, &H) and dates through a Double.
      JET_ASSIGN_OR_RETURN(std::optional<DecimalParts> exact, DecimalFromText(v.text()));
      if (exact) return Value::Decimal(*exact);
      break;
    }
    default:
      break;
  }
  JET_ASSIGN_OR_RETURN(double d, NumericOf(v));
  JET_ASSIGN_OR_RETURN(DecimalParts parts, DecimalFromDouble(d));
  return Value::Decimal(parts);
}

Result<Value> ToSingle(const Value& v) {
  JET_ASSIGN_OR_RETURN(double d, NumericOf(v));
  if (std::fabs(d) > 3.402823466e38) return Overflow();
  return Value::Single(float(d));
}

Result<Value> ToDouble(const Value& v) {
  JET_ASSIGN_OR_RETURN(double d, NumericOf(v));
  return Value::Double(d);
}

Result<Value> ToCurrency(const Value& v) {
  if (v.type() == Type::kCurrency) return v;
  if (v.type() == Type::kInteger || v.type() == Type::kLong || v.type() == Type::kBoolean ||
      v.type() == Type::kByte)
    return Value::Currency(v.integer() * 10000);
  if (v.type() == Type::kDecimal) {
    JET_ASSIGN_OR_RETURN(int64_t units, DecimalToCurrencyUnits(v.decimal()));
    return Value::Currency(units);
  }
  if (v.type() == Type::kString) {
    // A plain number's digits exactly, as CCur("922337203685477.5807")
    // needs; other text (currency signs, dates) as CDbl reads it.
    JET_ASSIGN_OR_RETURN(std::optional<DecimalParts> exact, DecimalFromText(v.text()));
    if (exact) {
      JET_ASSIGN_OR_RETURN(int64_t units, DecimalToCurrencyUnits(*exact));
      return Value::Currency(units);
    }
  }
  JET_ASSIGN_OR_RETURN(double d, NumericOf(v));
  // The whole part and the fraction apart: d * 10000 would round a whole
  // number over 2^53 / 10000 (CCur(-922337203685477) must stay whole).
  const double whole = std::trunc(d);
  if (!(std::fabs(whole) <= 922337203685477.0)) return Overflow();
  int64_t units = 0;
  if (__builtin_add_overflow(int64_t(whole) * 10000,
                             int64_t(std::nearbyint((d - whole) * 10000.0)), &units))
    return Overflow();
  return Value::Currency(units);
}

Result<Value> ToDate(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  if (v.type() == Type::kDate) return v;
  if (v.type() == Type::kString) {
    if (auto d = ParseDateText(v.text())) return Value::Date(*d);
    double n;
    if (ParseNumber(v.text(), &n) && InDateRange(n)) return Value::Date(n);
    return TypeMismatch();
  }
  double d = v.AsDouble();
  if (!InDateRange(d)) return Overflow();
  return Value::Date(d);
}

Result<std::string> ToText(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  return DisplayText(v);
}

}  // namespace expr
