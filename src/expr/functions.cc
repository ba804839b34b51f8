// SPDX-License-Identifier: Apache-2.0
// The built-in functions. Each takes its arguments evaluated and follows
// VBA: most return Null for a Null argument; the conversions (CInt and the
// rest) and Val refuse one; IIf (run by the evaluator) evaluates only the
// branch it takes, as Jet's expression service does.

#include "expr/functions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "expr/builtins.h"
#include "expr/calendar.h"
#include "expr/decimal.h"

namespace expr {

namespace {

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

double NowOf(const Context& ctx) { return ctx.now ? ctx.now() : LocalNow(); }

bool AnyNull(const Args& a, size_t count) {
  for (size_t i = 0; i < count && i < a.size(); ++i)
    if (a[i].is_null()) return true;
  return false;
}

// A whole-number argument (a count, a position), rounded half to even.
Result<int64_t> WholeArg(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  JET_ASSIGN_OR_RETURN(Value l, ToLong(v));
  return l.integer();
}

Result<std::string> TextArg(const Value& v) { return ToText(v); }

Result<Value> DateArg(const Value& v) { return ToDate(v); }

// ---- dates

Result<Value> FnDate(const Args&, const Context& c) { return Value::Date(std::floor(NowOf(c))); }
Result<Value> FnNow(const Args&, const Context& c) { return Value::Date(NowOf(c)); }
Result<Value> FnTime(const Args&, const Context& c) {
  double n = NowOf(c);
  return Value::Date(n - std::floor(n));
}

template <int DateParts::*Field>
Result<Value> FnPart(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value d, DateArg(a[0]));
  return Value::Integer(int16_t(SplitDate(d.real()).*Field));
}

Result<int> FirstDayArg(const Args& a, size_t i) {
  if (a.size() <= i) return 1;
  JET_ASSIGN_OR_RETURN(int64_t f, WholeArg(a[i]));
  if (f == 0) return 1;  // the system's setting: Sunday here
  if (f < 1 || f > 7) return InvalidCall("first day of week " + std::to_string(f));
  return int(f);
}

Result<Value> FnWeekday(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value d, DateArg(a[0]));
  JET_ASSIGN_OR_RETURN(int first, FirstDayArg(a, 1));
  return Value::Integer(int16_t(WeekdayOf(d.real(), first)));
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Result<Value> AddMonths(double serial, int64_t months) {
  DateParts p = SplitDate(serial);
  int64_t total = int64_t(p.year) * 12 + (p.month - 1) + months;
  int64_t y = total >= 0 ? total / 12 : -((-total + 11) / 12);
  int m = int(total - y * 12) + 1;
  if (y < 100 || y > 9999) return DateOutOfRange(double(y < 100 ? -1 : 1));
  int64_t last = DaysFromCivil(y, m + 1, 1) - DaysFromCivil(y, m, 1);
  p.year = int(y);
  p.month = m;
  p.day = int(std::min<int64_t>(p.day, last));
  auto r = JoinDate(p);
  if (!r) return DateOutOfRange(double(y < 100 ? -1 : 1));
  return Value::Date(*r);
}

Result<Value> FnDateAdd(const Args& a, const Context&) {
  if (a[2].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(std::string unit, TextArg(a[0]));
  unit = Lower(unit);
  if (a[1].is_null()) return InvalidUseOfNull();
  JET_ASSIGN_OR_RETURN(const int64_t n, WholeArg(a[1]));
  JET_ASSIGN_OR_RETURN(Value d, DateArg(a[2]));
  if (unit == "yyyy") return AddMonths(d.real(), n * 12);
  if (unit == "q") return AddMonths(d.real(), n * 3);
  if (unit == "m") return AddMonths(d.real(), n);
  double seconds;
  if (unit == "y" || unit == "d" || unit == "w")
    seconds = n * 86400.0;
  else if (unit == "ww")
    seconds = n * 7 * 86400.0;
  else if (unit == "h")
    seconds = n * 3600.0;
  else if (unit == "n")
    seconds = n * 60.0;
  else if (unit == "s")
    seconds = double(n);
  else
    return InvalidCall("interval \"" + unit + "\"");
  double linear = std::round(ToLinear(d.real()) * 86400.0) + seconds;
  double r = FromLinear(linear / 86400.0);
  if (!InDateRange(r)) return DateOutOfRange(linear);
  return Value::Date(r);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

Result<Value> FnDateDiff(const Args& a, const Context&) {
  if (a[1].is_null() || a[2].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(std::string unit, TextArg(a[0]));
  unit = Lower(unit);
  JET_ASSIGN_OR_RETURN(Value d1, DateArg(a[1]));
  JET_ASSIGN_OR_RETURN(Value d2, DateArg(a[2]));
  JET_ASSIGN_OR_RETURN(int first, FirstDayArg(a, 3));
  DateParts p = SplitDate(d1.real()), q = SplitDate(d2.real());
  int64_t s1 = int64_t(std::round(ToLinear(d1.real()) * 86400.0));
  int64_t s2 = int64_t(std::round(ToLinear(d2.real()) * 86400.0));
  int64_t day1 = FloorDiv(s1, 86400), day2 = FloorDiv(s2, 86400);
  int64_t r;
  if (unit == "yyyy")
    r = q.year - p.year;
  else if (unit == "q")
    r = (q.year * 4 + (q.month - 1) / 3) - (p.year * 4 + (p.month - 1) / 3);
  else if (unit == "m")
    r = (q.year * 12 + q.month) - (p.year * 12 + p.month);
  else if (unit == "y" || unit == "d")
    r = day2 - day1;
  else if (unit == "w")
    r = (day2 - day1) / 7;
  else if (unit == "ww") {
    // Day 1 (1899-12-31) was a Sunday; count the first days of weeks passed.
    int64_t shift = 1 + (first - 1);
    r = FloorDiv(day2 - shift, 7) - FloorDiv(day1 - shift, 7);
  } else if (unit == "h")
    r = FloorDiv(s2, 3600) - FloorDiv(s1, 3600);
  else if (unit == "n")
    r = FloorDiv(s2, 60) - FloorDiv(s1, 60);
  else if (unit == "s")
    r = s2 - s1;
  else
    return InvalidCall("interval \"" + unit + "\"");
  if (r < INT32_MIN || r > INT32_MAX) return Overflow();
  return Value::Long(int32_t(r));
}

// The week of the year `serial` falls in: week 1 is the week of January 1
// (first_week 1), the first with four days of the year (2), or the first
// whole week (3). Days before week 1 belong to the last week of the year
// before; the weeks run on past December 31 (no week 1 of the next year).
int WeekOfYear(double serial, int first_day, int first_week) {
  int64_t day = int64_t(std::floor(serial));
  auto week_one = [&](int year) {
    int64_t jan1 = DaysFromCivil(year, 1, 1);
    int64_t start = jan1 - (WeekdayOf(double(jan1), first_day) - 1);
    int64_t days_in_year = start + 7 - jan1;  // of the first week
    if ((first_week == 2 && days_in_year < 4) || (first_week == 3 && days_in_year < 7)) start += 7;
    return start;
  };
  int year = SplitDate(serial).year;
  int64_t start = week_one(year);
  if (day < start) start = week_one(year - 1);
  return int(FloorDiv(day - start, 7) + 1);
}

Result<Value> FnDatePart(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::string unit, TextArg(a[0]));
  unit = Lower(unit);
  JET_ASSIGN_OR_RETURN(int first, FirstDayArg(a, 2));
  int64_t first_week = 1;
  if (a.size() > 3) {
    JET_ASSIGN_OR_RETURN(first_week, WholeArg(a[3]));
    if (first_week == 0) first_week = 1;  // the system's setting
    if (first_week < 1 || first_week > 3)
      return InvalidCall("first week of year " + std::to_string(first_week));
  }
  if (a[1].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value d, DateArg(a[1]));
  DateParts p = SplitDate(d.real());
  int r;
  if (unit == "yyyy")
    r = p.year;
  else if (unit == "q")
    r = (p.month - 1) / 3 + 1;
  else if (unit == "m")
    r = p.month;
  else if (unit == "y")
    r = int(DaysFromCivil(p.year, p.month, p.day) - DaysFromCivil(p.year, 1, 1) + 1);
  else if (unit == "d")
    r = p.day;
  else if (unit == "w")
    r = WeekdayOf(d.real(), first);
  else if (unit == "ww")
    r = WeekOfYear(d.real(), first, int(first_week));
  else if (unit == "h")
    r = p.hour;
  else if (unit == "n")
    r = p.minute;
  else if (unit == "s")
    r = p.second;
  else
    return InvalidCall("interval \"" + unit + "\"");
  return Value::Integer(int16_t(r));
}

Result<Value> FnDateSerial(const Args& a, const Context&) {
  if (AnyNull(a, 3)) return InvalidUseOfNull();
  // Each argument is an Integer: -32768..32767.
  int64_t part[3];
  for (int i = 0; i < 3; ++i) {
    auto v = ToInteger(a[i]);
    if (!v.ok()) return InvalidCall("DateSerial argument out of range");
    part[i] = v->integer();
  }
  int64_t y = part[0], m = part[1], d = part[2];
  if (y >= 0 && y <= 29)
    y += 2000;
  else if (y >= 30 && y <= 99)
    y += 1900;
  double serial = double(DaysFromCivil(y, m, d));
  if (!InDateRange(serial)) return DateOutOfRange(serial);
  return Value::Date(serial);
}

Result<Value> FnTimeSerial(const Args& a, const Context&) {
  if (AnyNull(a, 3)) return InvalidUseOfNull();
  JET_ASSIGN_OR_RETURN(int64_t h, WholeArg(a[0]));
  JET_ASSIGN_OR_RETURN(int64_t m, WholeArg(a[1]));
  JET_ASSIGN_OR_RETURN(int64_t s, WholeArg(a[2]));
  double serial = FromLinear(double(h * 3600 + m * 60 + s) / 86400.0);
  if (!InDateRange(serial)) return InvalidCall("time out of range");
  return Value::Date(serial);
}

Result<Value> FnDateValue(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value d, DateArg(a[0]));
  return Value::Date(std::trunc(d.real()));
}

Result<Value> FnTimeValue(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value d, DateArg(a[0]));
  return Value::Date(std::fabs(d.real() - std::trunc(d.real())));
}

// ---- text

Result<Value> FnLen(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  return Value::Long(int32_t(DecodeUtf8(DisplayText(a[0])).size()));
}

Result<Value> Substring(const Value& s, int64_t start, int64_t length) {
  std::u32string t = DecodeUtf8(DisplayText(s));
  if (start >= int64_t(t.size())) return Value::String("");
  return Value::String(EncodeUtf8(std::u32string_view(t).substr(size_t(start), size_t(length))));
}

Result<Value> FnLeft(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(int64_t n, WholeArg(a[1]));
  if (n < 0) return InvalidCall("Left with a negative length");
  return Substring(a[0], 0, n);
}

Result<Value> FnRight(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(int64_t n, WholeArg(a[1]));
  if (n < 0) return InvalidCall("Right with a negative length");
  int64_t size = int64_t(DecodeUtf8(DisplayText(a[0])).size());
  return Substring(a[0], std::max<int64_t>(0, size - n), n);
}

Result<Value> FnMid(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(int64_t start, WholeArg(a[1]));
  if (start < 1) return InvalidCall("Mid with a start before 1");
  int64_t length = INT32_MAX;
  if (a.size() > 2) {
    JET_ASSIGN_OR_RETURN(length, WholeArg(a[2]));
    if (length < 0) return InvalidCall("Mid with a negative length");
  }
  return Substring(a[0], start - 1, length);
}

Result<Value> FnInStr(const Args& a, const Context&) {
  size_t i = 0;
  int64_t start = 1;
  if (a.size() >= 3) {
    JET_ASSIGN_OR_RETURN(start, WholeArg(a[0]));
    if (start < 1) return InvalidCall("InStr with a start before 1");
    i = 1;
  }
  bool binary = false;
  if (a.size() == 4) {
    JET_ASSIGN_OR_RETURN(int64_t mode, WholeArg(a[3]));
    binary = mode == 0;
  }
  if (a[i].is_null() || a[i + 1].is_null()) return Value::Null();
  std::u32string s = binary ? DecodeUtf8(DisplayText(a[i])) : FoldCase(DisplayText(a[i]));
  std::u32string t = binary ? DecodeUtf8(DisplayText(a[i + 1])) : FoldCase(DisplayText(a[i + 1]));
  if (start > int64_t(s.size())) return Value::Long(0);
  if (t.empty()) return Value::Long(int32_t(start));
  size_t at = s.find(t, size_t(start - 1));
  return Value::Long(at == std::u32string::npos ? 0 : int32_t(at + 1));
}

Result<Value> MapCase(const Value& v, bool upper) {
  if (v.is_null()) return Value::Null();
  std::u32string s = DecodeUtf8(DisplayText(v));
  for (char32_t& c : s) {
    bool latin = c >= 0xC0 && c <= 0xFE && c != 0xD7 && c != 0xF7;
    if (upper && ((c >= 'a' && c <= 'z') || (latin && c >= 0xE0)))
      c -= 32;
    else if (!upper && ((c >= 'A' && c <= 'Z') || (latin && c < 0xE0)))
      c += 32;
  }
  return Value::String(EncodeUtf8(s));
}

Result<Value> FnUCase(const Args& a, const Context&) { return MapCase(a[0], true); }
Result<Value> FnLCase(const Args& a, const Context&) { return MapCase(a[0], false); }

Result<Value> TrimSpaces(const Value& v, bool left, bool right) {
  if (v.is_null()) return Value::Null();
  std::string s = DisplayText(v);
  size_t b = 0, e = s.size();
  if (left)
    while (b < e && s[b] == ' ') ++b;
  if (right)
    while (e > b && s[e - 1] == ' ') --e;
  return Value::String(s.substr(b, e - b));
}

Result<Value> FnTrim(const Args& a, const Context&) { return TrimSpaces(a[0], true, true); }
Result<Value> FnLTrim(const Args& a, const Context&) { return TrimSpaces(a[0], true, false); }
Result<Value> FnRTrim(const Args& a, const Context&) { return TrimSpaces(a[0], false, true); }

Result<Value> FnSpace(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(int64_t n, WholeArg(a[0]));
  if (n < 0 || n > 65535) return InvalidCall("Space with length " + std::to_string(n));
  return Value::String(std::string(size_t(n), ' '));
}

Result<Value> FnString(const Args& a, const Context&) {
  if (a[0].is_null() || a[1].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(int64_t n, WholeArg(a[0]));
  if (n < 0 || n > 65535) return InvalidCall("String with length " + std::to_string(n));
  std::u32string unit;
  if (a[1].type() == Type::kString) {
    std::u32string s = DecodeUtf8(a[1].text());
    if (s.empty()) return InvalidCall("String with an empty character");
    unit = s.substr(0, 1);
  } else {
    JET_ASSIGN_OR_RETURN(int64_t code, WholeArg(a[1]));
    unit = std::u32string(1, char32_t(((code % 256) + 256) % 256));
  }
  return Value::String(EncodeUtf8(std::u32string(size_t(n), unit[0])));
}

Result<Value> FnAsc(const Args& a, const Context&) {
  if (a[0].is_null()) return InvalidUseOfNull();
  std::u32string s = DecodeUtf8(DisplayText(a[0]));
  if (s.empty()) return InvalidCall("Asc of an empty string");
  return Value::Long(int32_t(s[0]));
}

Result<Value> FnChr(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t code, WholeArg(a[0]));
  if (code < 0 || code > 255) return InvalidCall("Chr(" + std::to_string(code) + ")");
  return Value::String(EncodeUtf8(std::u32string(1, char32_t(code))));
}

// ---- conversions

Result<Value> FnVal(const Args& a, const Context&) {
  if (a[0].is_null()) return InvalidUseOfNull();
  return ValOf(DisplayText(a[0]));
}

Result<Value> FnStr(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(a[0]));
  std::string s = DisplayText(n);
  if (n.type() != Type::kDate && n.type() != Type::kBoolean && !s.empty() && s[0] != '-')
    s = " " + s;
  return Value::String(s);
}

Result<Value> FnCStr(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::string s, ToText(a[0]));
  return Value::String(s);
}
Result<Value> FnCInt(const Args& a, const Context&) { return ToInteger(a[0]); }
Result<Value> FnCLng(const Args& a, const Context&) { return ToLong(a[0]); }
Result<Value> FnCSng(const Args& a, const Context&) { return ToSingle(a[0]); }
Result<Value> FnCDbl(const Args& a, const Context&) { return ToDouble(a[0]); }
Result<Value> FnCCur(const Args& a, const Context&) { return ToCurrency(a[0]); }
Result<Value> FnCDate(const Args& a, const Context&) { return ToDate(a[0]); }
Result<Value> FnCBool(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(bool b, ToBoolean(a[0]));
  return Value::Boolean(b);
}

Result<Value> FnNz(const Args& a, const Context&) {
  if (!a[0].is_null()) return a[0];
  return a.size() > 1 ? a[1] : Value::String("");
}

Result<Value> FnIsNull(const Args& a, const Context&) { return Value::Boolean(a[0].is_null()); }

Result<Value> FnIsNumeric(const Args& a, const Context&) {
  if (a[0].is_null() || a[0].type() == Type::kDate) return Value::Boolean(false);
  if (a[0].type() != Type::kString) return Value::Boolean(true);
  double d;
  return Value::Boolean(ParseNumber(a[0].text(), &d));
}

Result<Value> FnIsDate(const Args& a, const Context&) {
  if (a[0].type() == Type::kDate) return Value::Boolean(true);
  if (a[0].type() != Type::kString) return Value::Boolean(false);
  return Value::Boolean(ParseDateText(a[0].text()).has_value());
}

// ---- numbers

// Applies f to the number, keeping the argument's type (Boolean and text
// become Integer and Double).
template <typename F>
Result<Value> KeepType(const Value& v, F f) {
  if (v.is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(v));
  switch (n.type()) {
    case Type::kByte: {
      double r = f(double(n.integer()));
      if (r >= 0 && r <= 255) return Value::Byte(uint8_t(r));
      return Value::Integer(int16_t(r));
    }
    case Type::kBoolean:
    case Type::kInteger: {
      double r = f(double(n.integer()));
      if (r > 32767 || r < -32768) return Value::Long(int32_t(r));
      return Value::Integer(int16_t(r));
    }
    case Type::kLong: {
      double r = f(double(n.integer()));
      if (r > INT32_MAX || r < INT32_MIN) return Overflow();
      return Value::Long(int32_t(r));
    }
    case Type::kSingle:
      return Value::Single(float(f(n.real())));
    case Type::kCurrency: {
      // Whole-unit operations are exact on the ten-thousandths.
      double r = f(double(n.currency_units()) / 10000.0);
      return ToCurrency(Value::Double(r));
    }
    case Type::kDate:
      return Value::Date(f(n.real()));
    default:
      return Value::Double(f(n.real()));
  }
}

Result<Value> FnAbs(const Args& a, const Context&) {
  if (a[0].type() == Type::kDecimal) {
    DecimalParts d = a[0].decimal();
    d.negative = false;
    return Value::Decimal(d);
  }
  return KeepType(a[0], [](double x) { return std::fabs(x); });
}
Result<Value> FnInt(const Args& a, const Context&) {
  if (a[0].type() == Type::kDecimal)
    return Value::Decimal(DecimalRound(a[0].decimal(), 0, DecimalRounding::kFloor));
  return KeepType(a[0], [](double x) { return std::floor(x); });
}
Result<Value> FnFix(const Args& a, const Context&) {
  if (a[0].type() == Type::kDecimal)
    return Value::Decimal(DecimalRound(a[0].decimal(), 0, DecimalRounding::kTruncate));
  return KeepType(a[0], [](double x) { return std::trunc(x); });
}

Result<Value> FnSgn(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(a[0]));
  double x = n.type() == Type::kCurrency ? double(n.currency_units()) : n.AsDouble();
  return Value::Integer(int16_t(x > 0 ? 1 : x < 0 ? -1 : 0));
}

Result<Value> FnRound(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  int64_t places = 0;
  if (a.size() > 1) {
    JET_ASSIGN_OR_RETURN(places, WholeArg(a[1]));
    if (places < 0 || places > 22)
      return InvalidCall("Round to " + std::to_string(places) + " places");
  }
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(a[0]));
  if (n.type() == Type::kDecimal)
    return Value::Decimal(
        DecimalRound(n.decimal(), int(std::min<int64_t>(places, 28)), DecimalRounding::kHalfEven));
  if (n.type() == Type::kCurrency) {
    if (places >= 4) return n;
    int64_t unit = 1;
    for (int64_t i = places; i < 4; ++i) unit *= 10;
    int64_t u = n.currency_units(), q = u / unit, r = u % unit;
    if (2 * r > unit || (2 * r == unit && (q & 1))) ++q;
    if (2 * r < -unit || (2 * r == -unit && (q & 1))) --q;
    return Value::Currency(q * unit);
  }
  double scale = std::pow(10.0, double(places));
  return KeepType(n, [scale](double x) {
    double scaled = x * scale;
    // Ties that the binary value only just misses count as ties.
    double r = std::nearbyint(scaled);
    if (std::fabs(std::fabs(scaled - std::trunc(scaled)) - 0.5) <
        1e-9 * std::max(1.0, std::fabs(scaled))) {
      double lo = std::floor(scaled);
      r = std::fmod(lo, 2.0) == 0 ? lo : lo + 1;
    }
    return r / scale;
  });
}

// ---- the String forms (Left$, Format$...)

// Date$ and Time$: "mm-dd-yyyy" and "hh:mm:ss".
Result<Value> FnDateText(const Args&, const Context& c) {
  DateParts p = SplitDate(NowOf(c));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", p.month, p.day, p.year);
  return Value::String(buf);
}
Result<Value> FnTimeText(const Args&, const Context& c) {
  DateParts p = SplitDate(NowOf(c));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  return Value::String(buf);
}

// The function's value as a String. Their arguments are Strings, not
// Variants: where the Variant form would pass a Null through, this is
// "invalid use of Null".
template <Result<Value> (*F)(const Args&, const Context&)>
Result<Value> AsString(const Args& a, const Context& c) {
  JET_ASSIGN_OR_RETURN(Value v, F(a, c));
  if (v.is_null()) return InvalidUseOfNull();
  if (v.type() == Type::kString) return v;
  return Value::String(DisplayText(v));
}

// Format$ of Null is "" (Format itself takes a Variant).
Result<Value> FnFormatText(const Args& a, const Context& c) {
  JET_ASSIGN_OR_RETURN(Value v, FnFormat(a, c));
  if (v.is_null()) return Value::String("");
  return v;
}

const Function kStringForms[] = {
    {"Chr$", 1, 1, AsString<FnChr>},
    {"ChrW$", 1, 1, AsString<FnChrW>},
    {"Date$", 0, 0, FnDateText},
    {"Format$", 1, 4, FnFormatText},
    {"Hex$", 1, 1, AsString<FnHex>},
    {"LCase$", 1, 1, AsString<FnLCase>},
    {"Left$", 2, 2, AsString<FnLeft>},
    {"LTrim$", 1, 1, AsString<FnLTrim>},
    {"Mid$", 2, 3, AsString<FnMid>},
    {"Oct$", 1, 1, AsString<FnOct>},
    {"Right$", 2, 2, AsString<FnRight>},
    {"RTrim$", 1, 1, AsString<FnRTrim>},
    {"Space$", 1, 1, AsString<FnSpace>},
    {"Str$", 1, 1, AsString<FnStr>},
    {"String$", 2, 2, AsString<FnString>},
    {"Time$", 0, 0, FnTimeText},
    {"Trim$", 1, 1, AsString<FnTrim>},
    {"UCase$", 1, 1, AsString<FnUCase>},
};

const Function kFunctions[] = {
    {"Abs", 1, 1, FnAbs},
    {"Asc", 1, 1, FnAsc},
    {"AscW", 1, 1, FnAscW},
    {"Atn", 1, 1, FnAtn},
    {"CBool", 1, 1, FnCBool},
    {"CByte", 1, 1, FnCByte},
    {"CCur", 1, 1, FnCCur},
    {"CDate", 1, 1, FnCDate},
    {"CDbl", 1, 1, FnCDbl},
    {"CDec", 1, 1, FnCDec},
    {"Choose", 2, 255, FnChoose},
    {"Chr", 1, 1, FnChr},
    {"ChrW", 1, 1, FnChrW},
    {"CInt", 1, 1, FnCInt},
    {"CLng", 1, 1, FnCLng},
    {"Cos", 1, 1, FnCos},
    {"CSng", 1, 1, FnCSng},
    {"CStr", 1, 1, FnCStr},
    {"Date", 0, 0, FnDate},
    {"DateAdd", 3, 3, FnDateAdd},
    {"DateDiff", 3, 5, FnDateDiff},
    {"DatePart", 2, 4, FnDatePart},
    {"DateSerial", 3, 3, FnDateSerial},
    {"DateValue", 1, 1, FnDateValue},
    {"Day", 1, 1, FnPart<&DateParts::day>},
    {"DDB", 4, 5, FnDDB},
    {"Exp", 1, 1, FnExp},
    {"Fix", 1, 1, FnFix},
    {"Format", 1, 4, FnFormat},
    {"FV", 3, 5, FnFV},
    {"Hex", 1, 1, FnHex},
    {"Hour", 1, 1, FnPart<&DateParts::hour>},
    {"IIf", 3, 3, nullptr},
    {"InStr", 2, 4, FnInStr},
    {"InStrRev", 2, 4, FnInStrRev},
    {"Int", 1, 1, FnInt},
    {"IPmt", 4, 6, FnIPmt},
    {"IsDate", 1, 1, FnIsDate},
    {"IsNull", 1, 1, FnIsNull},
    {"IsNumeric", 1, 1, FnIsNumeric},
    {"LCase", 1, 1, FnLCase},
    {"Left", 2, 2, FnLeft},
    {"Len", 1, 1, FnLen},
    {"Log", 1, 1, FnLog},
    {"LTrim", 1, 1, FnLTrim},
    {"Mid", 2, 3, FnMid},
    {"Minute", 1, 1, FnPart<&DateParts::minute>},
    {"Month", 1, 1, FnPart<&DateParts::month>},
    {"Now", 0, 0, FnNow},
    {"NPer", 3, 5, FnNPer},
    {"Nz", 1, 2, FnNz},
    {"Oct", 1, 1, FnOct},
    {"Pmt", 3, 5, FnPmt},
    {"PPmt", 4, 6, FnPPmt},
    {"PV", 3, 5, FnPV},
    {"Rate", 3, 6, FnRate},
    {"Replace", 3, 6, FnReplace},
    {"Right", 2, 2, FnRight},
    {"Rnd", 0, 1, FnRnd},
    {"Round", 1, 2, FnRound},
    {"RTrim", 1, 1, FnRTrim},
    {"Second", 1, 1, FnPart<&DateParts::second>},
    {"Sgn", 1, 1, FnSgn},
    {"Sin", 1, 1, FnSin},
    {"SLN", 3, 3, FnSLN},
    {"Space", 1, 1, FnSpace},
    {"Sqr", 1, 1, FnSqr},
    {"Str", 1, 1, FnStr},
    {"StrComp", 2, 3, FnStrComp},
    {"StrConv", 2, 3, FnStrConv},
    {"String", 2, 2, FnString},
    {"StrReverse", 1, 1, FnStrReverse},
    {"Switch", 2, 255, FnSwitch},
    {"SYD", 4, 4, FnSYD},
    {"Tan", 1, 1, FnTan},
    {"Time", 0, 0, FnTime},
    {"TimeSerial", 3, 3, FnTimeSerial},
    {"TimeValue", 1, 1, FnTimeValue},
    {"Trim", 1, 1, FnTrim},
    {"TypeName", 1, 1, FnTypeName},
    {"UCase", 1, 1, FnUCase},
    {"Val", 1, 1, FnVal},
    {"VarType", 1, 1, FnVarType},
    {"Weekday", 1, 2, FnWeekday},
    {"Year", 1, 1, FnPart<&DateParts::year>},
    // The Format-like functions (format.cc).
    {"FormatCurrency", 1, 5, FnFormatCurrency},
    {"FormatDateTime", 1, 2, FnFormatDateTime},
    {"FormatNumber", 1, 5, FnFormatNumber},
    {"FormatPercent", 1, 5, FnFormatPercent},
    {"MonthName", 1, 2, FnMonthName},
    {"WeekdayName", 1, 3, FnWeekdayName},
};

}  // namespace

const Function* FindFunction(std::string_view name) {
  if (!name.empty() && name.back() == '$') {
    for (const Function& f : kStringForms)
      if (SameWord(f.name, name)) return &f;
    return nullptr;
  }
  for (const Function& f : kFunctions)
    if (SameWord(f.name, name)) return &f;
  return nullptr;
}

}  // namespace expr
