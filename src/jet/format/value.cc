// SPDX-License-Identifier: Apache-2.0
#include "jet/value.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "jet/format/table_def.h"
#include "jet/format/value_format.h"

namespace jet {

namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days since 1970-01-01 to civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = int(yy + (*m <= 2));
}

int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = unsigned((153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

// 1899-12-30 in days since 1970-01-01.
constexpr int64_t kJetEpoch = -25569;

std::string Hex(const std::string& bytes, bool upper) {
  static const char* lower_digits = "0123456789abcdef";
  static const char* upper_digits = "0123456789ABCDEF";
  const char* digits = upper ? upper_digits : lower_digits;
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string FormatGuid(const std::string& b) {
  if (b.size() != 16) return Hex(b, true);
  // Data1, Data2 and Data3 are little-endian; the last 8 bytes are in order.
  std::string le;
  le += b[3];
  le += b[2];
  le += b[1];
  le += b[0];
  le += b[5];
  le += b[4];
  le += b[7];
  le += b[6];
  std::string h = Hex(le, true), tail = Hex(b.substr(8), true);
  return "{" + h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" +
         tail.substr(0, 4) + "-" + tail.substr(4) + "}";
}

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

// Writes `v` as exactly `width` digits, zero-padded.
char* PutPadded(char* p, unsigned v, int width) {
  for (int i = width - 1; i >= 0; --i) {
    p[i] = char('0' + v % 10);
    v /= 10;
  }
  return p + width;
}

void AppendCurrency(std::string& out, int64_t v) {
  char buf[kMaxFormattedNumber];
  out.append(buf, FormatCurrencyTo(buf, v));
}

void AppendDateTime(std::string& out, double days) {
  char buf[kMaxFormattedNumber];
  out.append(buf, FormatDateTimeTo(buf, days));
}

}  // namespace

char* FormatCurrencyTo(char* p, int64_t v) {
  bool neg = v < 0;
  uint64_t mag = neg ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  if (neg) *p++ = '-';
  p = std::to_chars(p, p + 20, mag / 10000).ptr;
  *p++ = '.';
  return PutPadded(p, unsigned(mag % 10000), 4);
}

namespace {

// Jet's day count as a day number and the milliseconds into that day,
// rounded to the millisecond; day 0, 0 ms (1899-12-30 00:00) for what is
// not finite or lies past any date Access shows.
void SplitJetDays(double days, int64_t* day, int64_t* ms) {
  *day = 0;
  *ms = 0;
  if (!std::isfinite(days) || days > 3e6 || days < -3e6) return;
  double whole = std::trunc(days);
  double frac = std::fabs(days - whole);
  *ms = std::llround(frac * double(kMsPerDay));
  *day = int64_t(whole);
  if (*ms >= kMsPerDay) {
    *ms -= kMsPerDay;
    *day += 1;
  }
}

}  // namespace

char* FormatDateTimeTo(char* p, double days, DateTextCache* cache) {
  int64_t day, ms;
  SplitJetDays(days, &day, &ms);
  if (cache == nullptr || cache->day != day) {
    int y, m, d;
    CivilFromDays(day + kJetEpoch, &y, &m, &d);
    char* o = PutPadded(p, unsigned(y), 4);
    *o++ = '-';
    o = PutPadded(o, unsigned(m), 2);
    *o++ = '-';
    PutPadded(o, unsigned(d), 2);
    if (cache != nullptr) {
      cache->day = day;
      std::memcpy(cache->text, p, 10);
    }
  } else {
    std::memcpy(p, cache->text, 10);
  }
  p += 10;
  *p++ = 'T';
  p = PutPadded(p, unsigned(ms / 3600000), 2);
  *p++ = ':';
  p = PutPadded(p, unsigned(ms / 60000 % 60), 2);
  *p++ = ':';
  p = PutPadded(p, unsigned(ms / 1000 % 60), 2);
  if (ms % 1000 != 0) {
    *p++ = '.';
    p = PutPadded(p, unsigned(ms % 1000), 3);
  }
  return p;
}

DateTimeParts DateTimeFromJet(double days) {
  DateTimeParts p;
  int64_t day, ms;
  SplitJetDays(days, &day, &ms);
  CivilFromDays(day + kJetEpoch, &p.year, &p.month, &p.day);
  p.hour = int(ms / 3600000);
  p.minute = int(ms / 60000 % 60);
  p.second = int(ms / 1000 % 60);
  p.millisecond = int(ms % 1000);
  return p;
}

DateTimeParts LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  return DateTimeParts{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min,         local.tm_sec,     int(ms.count())};
}

bool DateTimeToJet(const DateTimeParts& p, double* days) {
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour < 0 || p.hour > 23 ||
      p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 ||
      p.millisecond > 999) {
    return false;
  }
  int64_t day = DaysFromCivil(p.year, p.month, p.day);
  int y, m, d;
  CivilFromDays(day, &y, &m, &d);
  if (y != p.year || m != p.month || d != p.day) return false;
  day -= kJetEpoch;
  double frac = double(((p.hour * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond) /
                double(kMsPerDay);
  // Before the epoch the fraction still counts forward from the day's start.
  *days = day >= 0 ? double(day) + frac : double(day) - frac;
  return true;
}

std::string FormatDateTime(double days) {
  std::string out;
  AppendDateTime(out, days);
  return out;
}

namespace {

// 0001-01-01 in the day count of CivilFromDays (days since 1970-01-01).
constexpr int64_t kExtEpoch = -719162;
constexpr int64_t kExtMaxDay = 3652058;  // 9999-12-31

// The number in `n` ASCII digits at `p`, or -1 if one is not a digit.
int64_t ExtDigits(std::string_view s, size_t p, size_t n) {
  int64_t v = 0;
  for (size_t i = p; i < p + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

void PutExtDigits(std::string* out, uint64_t v, size_t n) {
  const size_t end = out->size() + n;
  out->resize(end);
  for (size_t i = end; i-- > end - n; v /= 10) (*out)[i] = char('0' + v % 10);
}

}  // namespace

bool ExtDateTimeValid(std::string_view s) {
  if (s.size() != kExtDateTimeSize || s[19] != ':' || s.substr(39) != std::string_view(":7\0", 3)) {
    return false;
  }
  const int64_t day = ExtDigits(s, 0, 19), second = ExtDigits(s, 20, 12),
                ticks = ExtDigits(s, 32, 7);
  return day >= 0 && day <= kExtMaxDay && second >= 0 && second < 86400 && ticks >= 0;
}

std::string FormatExtDateTime(std::string_view s) {
  int y, m, d;
  CivilFromDays(ExtDigits(s, 0, 19) + kExtEpoch, &y, &m, &d);
  const int64_t second = ExtDigits(s, 20, 12), ticks = ExtDigits(s, 32, 7);
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, d,
                        int(second / 3600), int(second / 60 % 60), int(second % 60));
  if (ticks != 0) n += std::snprintf(buf + n, sizeof buf - size_t(n), ".%07d", int(ticks));
  return std::string(buf, size_t(n));
}

bool ParseExtDateTime(std::string_view t, std::string* stored) {
  // YYYY-MM-DD, then optionally a time with up to seven fraction digits.
  auto num = [&](size_t p, size_t n) { return p + n <= t.size() ? ExtDigits(t, p, n) : -1; };
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  const int64_t y = num(0, 4), mo = num(5, 2), d = num(8, 2);
  int64_t h = 0, mi = 0, sec = 0, ticks = 0;
  if (t.size() > 10) {
    if ((t[10] != 'T' && t[10] != ' ') || t.size() < 19 || t[13] != ':' || t[16] != ':') {
      return false;
    }
    h = num(11, 2), mi = num(14, 2), sec = num(17, 2);
    if (t.size() > 19) {
      const size_t digits = t.size() - 20;
      if (t[19] != '.' || digits < 1 || digits > 7) return false;
      ticks = num(20, digits);
      for (size_t i = digits; i < 7 && ticks >= 0; ++i) ticks *= 10;
    }
  }
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      sec < 0 || sec > 59 || ticks < 0) {
    return false;
  }
  const int64_t day = DaysFromCivil(int(y), int(mo), int(d));
  int cy, cm, cd;
  CivilFromDays(day, &cy, &cm, &cd);
  if (cy != y || cm != mo || cd != d) return false;
  stored->clear();
  PutExtDigits(stored, uint64_t(day - kExtEpoch), 19);
  stored->push_back(':');
  PutExtDigits(stored, uint64_t((h * 60 + mi) * 60 + sec), 12);
  PutExtDigits(stored, uint64_t(ticks), 7);
  stored->append(":7\0", 3);
  return true;
}

std::string Decimal::ToString() const {
  // Repeated division of the 128-bit magnitude by 10.
  uint32_t w[4] = {words[0], words[1], words[2], words[3]};
  std::string digits;
  bool zero;
  do {
    uint64_t rem = 0;
    zero = true;
    for (uint32_t& word : w) {
      uint64_t cur = (rem << 32) | word;
      word = uint32_t(cur / 10);
      rem = cur % 10;
      if (word) zero = false;
    }
    digits.push_back(char('0' + rem));
  } while (!zero);
  while (digits.size() <= scale) digits.push_back('0');
  std::string out;
  if (negative) out.push_back('-');
  for (size_t i = digits.size(); i-- > 0;) {
    out.push_back(digits[i]);
    if (i == scale && scale > 0) out.push_back('.');
  }
  return out;
}

namespace {

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,
                             1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

}  // namespace

char* FormatFiniteDoubleTo(char* p, double d) {
  // Most stored numbers have a few decimals (0.439). For those, the fewest
  // decimals k whose m / 10^k reads back as d give the shortest form. With m
  // below 2^49, d's neighbours lie more than 4 units of the last decimal
  // apart, so m is the only candidate at that k and rounding d * 10^k finds
  // it. Integers, tiny and huge magnitudes (whose shortest form may be
  // exponential) are left to to_chars.
  const double a = std::fabs(d);
  if (a >= 0.01 && a < 1e14 && a != std::trunc(a)) {
    for (int k = 1; k <= 16; ++k) {
      const double scaled = a * kPow10[k];
      if (scaled >= 562949953421312.0) break;  // 2^49
      const double m = std::nearbyint(scaled);
      if (m / kPow10[k] != a) continue;
      uint64_t digits = uint64_t(m);
      if (d < 0) *p++ = '-';
      const uint64_t unit = uint64_t(kPow10[k]);
      p = std::to_chars(p, p + 20, digits / unit).ptr;
      *p++ = '.';
      uint64_t frac = digits % unit;
      for (int i = k - 1; i >= 0; --i) {
        p[i] = char('0' + frac % 10);
        frac /= 10;
      }
      return p + k;
    }
  }
  return std::to_chars(p, p + kMaxFormattedNumber, d).ptr;
}

std::string FormatDouble(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  char buf[kMaxFormattedNumber];
  return std::string(buf, FormatFiniteDoubleTo(buf, d));
}

std::string FormatSingle(float f) {
  if (std::isnan(f)) return "NaN";
  if (std::isinf(f)) return f > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, f);
  return std::string(buf, res.ptr);
}

void Value::AppendText(std::string& out) const {
  if (null) return;
  switch (type) {
    case ColumnType::kBoolean: out += boolean ? "true" : "false"; return;
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kBigInt:
    case ColumnType::kComplex: AppendInt(out, integer); return;
    case ColumnType::kExtDateTime: out += FormatExtDateTime(bytes); return;
    case ColumnType::kCurrency: AppendCurrency(out, integer); return;
    case ColumnType::kSingle: out += FormatSingle(single); return;
    case ColumnType::kDouble: out += FormatDouble(real); return;
    case ColumnType::kDateTime: AppendDateTime(out, real); return;
    case ColumnType::kText:
    case ColumnType::kMemo: out += bytes; return;
    case ColumnType::kBinary:
    case ColumnType::kOle:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: out += Hex(bytes, false); return;
    case ColumnType::kGuid: out += FormatGuid(bytes); return;
    case ColumnType::kNumeric: out += decimal.ToString(); return;
  }
}

std::string Value::ToText() const {
  std::string out;
  AppendText(out);
  return out;
}

}  // namespace jet
