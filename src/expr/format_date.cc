// SPDX-License-Identifier: Apache-2.0
// Date sections of a custom format, with US English settings:
//   c            the date as ddddd and the time as ttttt (either alone
//                when the other part is zero), as CStr shows a date
//   d dd ddd dddd     day; ddddd short date (m/d/yyyy); dddddd long date
//                     (dddd, mmmm d, yyyy); aaaa as dddd
//   w ww         day of the week, week of the year (after Format's
//                firstdayofweek and firstweekofyear)
//   m mm mmm mmmm     month, or minutes right after h/hh or before s/ss
//   q y yy yyyy  quarter, day of the year, year
//   h hh n nn s ss    hour, minute, second; ttttt h:mm:ss AM/PM
//   AM/PM A/P (in any case: each letter shows as written), AMPM (AM/PM)
// and literal text between them.

#include <cstdio>

#include "expr/calendar.h"
#include "expr/format.h"

namespace expr {

namespace {

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

bool IsClock(const std::string& t) { return t.find('/') != std::string::npos || t == "ampm"; }

// The first day of week 1 of `year`.
int64_t FirstWeekStart(int64_t year, const WeekRule& rule) {
  int64_t jan1 = DaysFromCivil(year, 1, 1);
  int64_t into = WeekdayOf(double(jan1), rule.first_day) - 1;  // days of its week before Jan 1
  int64_t start = jan1 - into;
  if (rule.first_week == 2 && 7 - into < 4) start += 7;
  if (rule.first_week == 3 && into > 0) start += 7;
  return start;
}

int WeekOfYear(const DateParts& p, const WeekRule& rule) {
  int64_t day = DaysFromCivil(p.year, p.month, p.day);
  int64_t start = FirstWeekStart(p.year, rule);
  if (day < start) start = FirstWeekStart(p.year - 1, rule);  // last year's last week
  else if (rule.first_week != 1 && day >= FirstWeekStart(p.year + 1, rule))
    return 1;  // already week 1 of next year
  return int((day - start) / 7 + 1);
}

std::string Join(const DateParts& p, const char* format);

std::string Token(const std::string& t, double serial, const DateParts& p, bool clock,
                  bool minute, const WeekRule& rule) {
  int hour = clock ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
  bool am = p.hour < 12;
  if (t == "c") return DisplayText(Value::Date(serial));
  if (t == "d") return std::to_string(p.day);
  if (t == "dd") return Two(p.day);
  if (t == "ddd") return DayText(WeekdayOf(serial), true);
  if (t == "dddd" || t == "aaaa") return DayText(WeekdayOf(serial), false);
  if (t == "ddddd") return Join(p, "m/d/yyyy");
  if (t == "dddddd") return DayText(WeekdayOf(serial), false) + Join(p, ", mmmm d, yyyy");
  if (t == "w") return std::to_string(WeekdayOf(serial, rule.first_day));
  if (t == "ww") return std::to_string(WeekOfYear(p, rule));
  if (t == "m") return std::to_string(minute ? p.minute : p.month);
  if (t == "mm") return Two(minute ? p.minute : p.month);
  if (t == "mmm") return MonthText(p.month, true);
  if (t == "mmmm") return MonthText(p.month, false);
  if (t == "q") return std::to_string((p.month - 1) / 3 + 1);
  if (t == "y")
    return std::to_string(DaysFromCivil(p.year, p.month, p.day) - DaysFromCivil(p.year, 1, 1) + 1);
  if (t == "yy") return Two(p.year % 100);
  if (t == "yyyy") return std::to_string(p.year);
  if (t == "h") return std::to_string(hour);
  if (t == "hh") return Two(hour);
  if (t == "n") return std::to_string(p.minute);
  if (t == "nn") return Two(p.minute);
  if (t == "s") return std::to_string(p.second);
  if (t == "ss") return Two(p.second);
  if (t == "ttttt") return Join(p, "h:nn:ss AM/PM");
  if (t == "ampm") return am ? "AM" : "PM";
  // AM/PM or A/P as written: the part before the slash in the morning.
  size_t slash = t.find('/');
  return am ? t.substr(0, slash) : t.substr(slash + 1);
}

// A date in one of the fixed layouts above (tokens separated by
// punctuation and spaces only).
std::string Join(const DateParts& p, const char* format) {
  std::string f = format, out;
  bool clock = f.find("AM/PM") != std::string::npos;
  for (size_t i = 0; i < f.size();) {
    char c = f[i];
    if (c == 'A') {
      out += p.hour < 12 ? "AM" : "PM";
      i += 5;
      continue;
    }
    if (c < 'a' || c > 'z') {
      out += c;
      ++i;
      continue;
    }
    size_t j = i;
    while (j < f.size() && f[j] == c) ++j;
    out += Token(f.substr(i, j - i), 0, p, clock, false, WeekRule{});
    i = j;
  }
  return out;
}

}  // namespace

std::string MonthText(int month, bool abbreviate) {
  std::string s = MonthName(month);
  return abbreviate ? s.substr(0, 3) : s;
}

std::string DayText(int weekday, bool abbreviate) {
  std::string s = DayName(weekday);
  return abbreviate ? s.substr(0, 3) : s;
}

std::string FormatDateSection(double serial, const std::vector<FormatItem>& items,
                              const WeekRule& rule) {
  DateParts p = SplitDate(serial);
  bool clock = false;
  for (const FormatItem& it : items)
    if (it.kind == FormatItem::kToken && IsClock(it.text)) clock = true;
  std::string out;
  bool after_hour = false;
  for (size_t i = 0; i < items.size(); ++i) {
    const FormatItem& it = items[i];
    if (it.kind == FormatItem::kLiteral) {
      out += it.text;
      continue;
    }
    const std::string& t = it.text;
    bool minute = false;
    if (t == "m" || t == "mm") {
      // m right after an hour, or right before seconds, is minutes.
      bool before_second = false;
      for (size_t k = i + 1; k < items.size(); ++k)
        if (items[k].kind == FormatItem::kToken) {
          before_second = items[k].text == "s" || items[k].text == "ss";
          break;
        }
      minute = after_hour || before_second;
    }
    out += Token(t, serial, p, clock, minute, rule);
    after_hour = t == "h" || t == "hh";
  }
  return out;
}

}  // namespace expr
