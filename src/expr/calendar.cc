// SPDX-License-Identifier: Apache-2.0
#include "expr/calendar.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <vector>

namespace expr {

namespace {

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 (H. Hinnant's algorithm).
int64_t CivilDays(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = int(yoe + era * 400 + (*m <= 2));
}

const int64_t kEpoch = CivilDays(1899, 12, 30);

}  // namespace

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year += FloorDiv(month - 1, 12);
  month = month - 1 - FloorDiv(month - 1, 12) * 12 + 1;
  return CivilDays(year, month, 1) - kEpoch + (day - 1);
}

double ToLinear(double serial) {
  if (serial >= 0) return serial;
  double whole = std::trunc(serial);
  return whole + (whole - serial);
}

double FromLinear(double linear) {
  if (linear >= 0) return linear;
  double whole = std::floor(linear);
  double frac = linear - whole;
  return whole - frac;
}

DateParts SplitDate(double serial) {
  double linear = ToLinear(serial);
  // Round to the second on the linear scale, so 23:59:59.7 becomes the
  // next day.
  double seconds = std::round(linear * 86400.0);
  int64_t day = int64_t(std::floor(seconds / 86400.0));
  int64_t secs = int64_t(seconds) - day * 86400;
  DateParts p;
  CivilFromDays(day + kEpoch, &p.year, &p.month, &p.day);
  p.hour = int(secs / 3600);
  p.minute = int(secs / 60 % 60);
  p.second = int(secs % 60);
  return p;
}

std::optional<double> JoinDate(const DateParts& p) {
  double days = double(DaysFromCivil(p.year, p.month, p.day));
  double time = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
  double serial = FromLinear(days + time);
  if (!InDateRange(serial)) return std::nullopt;
  return serial;
}

bool InDateRange(double serial) {
  static const double lo = double(DaysFromCivil(100, 1, 1));
  static const double hi = double(DaysFromCivil(10000, 1, 1));
  double linear = ToLinear(serial);
  return linear >= lo && linear < hi;
}

int WeekdayOf(double serial, int first_day) {
  int64_t day = int64_t(std::floor(ToLinear(serial)));
  int sunday_based = int(((day % 7) + 7 + 6) % 7) + 1;  // day 0 was a Saturday
  return (sunday_based - first_day + 7) % 7 + 1;
}

const char* MonthName(int month) { return kMonths[(month - 1) % 12]; }
const char* DayName(int weekday) { return kDays[(weekday - 1) % 7]; }

namespace {

// One piece of a date text: a number, a word, or a separator.
struct Piece {
  enum Kind { kNumber, kWord, kSep } kind;
  std::string text;
  int number = 0;
};

int MonthFromWord(const std::string& w) {
  if (w.size() < 3) return 0;
  for (int m = 1; m <= 12; ++m) {
    std::string name = kMonths[m - 1];
    if (w.size() > name.size()) continue;
    bool match = true;
    for (size_t i = 0; i < w.size(); ++i)
      if (std::tolower(static_cast<unsigned char>(w[i])) !=
          std::tolower(static_cast<unsigned char>(name[i])))
        match = false;
    if (match && (w.size() == 3 || w.size() == name.size() || (m == 9 && w.size() == 4))) return m;
  }
  return 0;
}

// The clock of the evaluation under way on this thread; null: none.
thread_local const std::function<double()>* t_clock = nullptr;

// Whether a '.' separates the date's fields (before the time).
bool DotSeparated(const std::vector<Piece>& pieces, size_t end) {
  for (size_t i = 0; i < end; ++i)
    if (pieces[i].kind == Piece::kSep && pieces[i].text == ".") return true;
  return false;
}

int FullYear(const Piece& p) {
  if (p.text.size() <= 2) return p.number < 30 ? 2000 + p.number : 1900 + p.number;
  return p.number;
}

}  // namespace

double LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  DateParts p{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  return JoinDate(p).value_or(0);
}

int CurrentYear() {
  return SplitDate(t_clock && *t_clock ? (*t_clock)() : LocalNow()).year;
}

CurrentYearScope::CurrentYearScope(const std::function<double()>* clock) : saved_(t_clock) {
  t_clock = clock;
}
CurrentYearScope::~CurrentYearScope() { t_clock = saved_; }

std::optional<double> ParseDateText(const std::string& text) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c) || c == ',') {
      ++i;
    } else if (std::isdigit(c)) {
      size_t j = i;
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
      if (j - i > 4) return std::nullopt;
      pieces.push_back({Piece::kNumber, text.substr(i, j - i), std::stoi(text.substr(i, j - i))});
      i = j;
    } else if (std::isalpha(c)) {
      size_t j = i;
      while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
      pieces.push_back({Piece::kWord, text.substr(i, j - i)});
      i = j;
    } else if (c == '/' || c == '-' || c == ':' || c == '.') {
      pieces.push_back({Piece::kSep, std::string(1, char(c))});
      ++i;
    } else {
      return std::nullopt;
    }
  }
  // Split off the time: a number followed by ':' starts it.
  size_t time_start = pieces.size();
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    if (pieces[i].kind == Piece::kNumber && pieces[i + 1].kind == Piece::kSep &&
        pieces[i + 1].text == ":") {
      time_start = i;
      break;
    }
  }
  // A lone number with AM/PM is a time too ("3 PM").
  if (time_start == pieces.size() && pieces.size() >= 2) {
    const Piece& last = pieces.back();
    if (last.kind == Piece::kWord && (last.text.size() == 2 || last.text.size() == 1)) {
      char a = char(std::toupper(static_cast<unsigned char>(last.text[0])));
      if ((a == 'A' || a == 'P') && pieces[pieces.size() - 2].kind == Piece::kNumber)
        time_start = pieces.size() - 2;
    }
  }
  DateParts parts;
  bool has_date = time_start > 0;
  bool has_time = time_start < pieces.size();
  if (!has_date && !has_time) return std::nullopt;

  if (has_time) {
    std::vector<int> fields;
    int ampm = 0;  // 1 AM, 2 PM
    for (size_t i = time_start; i < pieces.size(); ++i) {
      const Piece& p = pieces[i];
      if (p.kind == Piece::kNumber) {
        if (fields.size() == 3) return std::nullopt;
        fields.push_back(p.number);
      } else if (p.kind == Piece::kSep) {
        if (p.text != ":" || i + 1 >= pieces.size() || pieces[i + 1].kind != Piece::kNumber)
          return std::nullopt;
      } else {
        std::string w;
        for (char c : p.text) w += char(std::toupper(static_cast<unsigned char>(c)));
        if (i + 1 != pieces.size() || ampm) return std::nullopt;
        if (w == "AM" || w == "A")
          ampm = 1;
        else if (w == "PM" || w == "P")
          ampm = 2;
        else
          return std::nullopt;
      }
    }
    while (fields.size() < 3) fields.push_back(0);
    int hour = fields[0];
    if (ampm) {
      if (hour < 1 || hour > 12) return std::nullopt;
      if (hour == 12) hour = 0;
      if (ampm == 2) hour += 12;
    }
    if (hour > 23 || fields[1] > 59 || fields[2] > 59) return std::nullopt;
    parts.hour = hour;
    parts.minute = fields[1];
    parts.second = fields[2];
  }

  if (has_date) {
    std::vector<Piece> d;
    for (size_t i = 0; i < time_start; ++i)
      if (pieces[i].kind != Piece::kSep) d.push_back(pieces[i]);
    // Separators between date fields must be / - . or spaces; all fine here.
    int y = 0, m = 0, day = 0;
    if (d.size() == 3 && d[0].kind == Piece::kNumber && d[1].kind == Piece::kNumber &&
        d[2].kind == Piece::kNumber) {
      if (d[0].text.size() >= 3) {  // yyyy-mm-dd
        y = d[0].number, m = d[1].number, day = d[2].number;
      } else {  // m/d/y
        m = d[0].number, day = d[1].number, y = FullYear(d[2]);
      }
    } else if (d.size() == 3 && d[0].kind == Piece::kWord && d[1].kind == Piece::kNumber &&
               d[2].kind == Piece::kNumber) {  // Jan 5 2024
      m = MonthFromWord(d[0].text), day = d[1].number, y = FullYear(d[2]);
    } else if (d.size() == 3 && d[0].kind == Piece::kNumber && d[1].kind == Piece::kWord &&
               d[2].kind == Piece::kNumber) {  // 5-Jan-2024
      m = MonthFromWord(d[1].text), day = d[0].number, y = FullYear(d[2]);
    } else if (d.size() == 4 && d[0].kind == Piece::kWord && MonthFromWord(d[1].text) != 0 &&
               d[1].kind == Piece::kWord && d[2].kind == Piece::kNumber &&
               d[3].kind == Piece::kNumber) {  // Tuesday, January 5, 2024
      m = MonthFromWord(d[1].text), day = d[2].number, y = FullYear(d[3]);
    } else if (d.size() == 2 && !DotSeparated(pieces, time_start)) {
      // No year: the current one ("If the year part of date is omitted,
      // DateValue uses the current year", VBA's DateValue page). "1.2"
      // stays a number.
      y = CurrentYear();
      if (d[0].kind == Piece::kNumber && d[1].kind == Piece::kNumber &&
          d[0].text.size() <= 2 && d[1].text.size() <= 2) {  // m/d
        m = d[0].number, day = d[1].number;
      } else if (d[0].kind == Piece::kWord && d[1].kind == Piece::kNumber) {  // Jan 5
        m = MonthFromWord(d[0].text), day = d[1].number;
      } else if (d[0].kind == Piece::kNumber && d[1].kind == Piece::kWord) {  // 5-Jan
        m = MonthFromWord(d[1].text), day = d[0].number;
      } else {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
    if (m < 1 || m > 12 || day < 1) return std::nullopt;
    int64_t last = DaysFromCivil(y, m + 1, 1) - DaysFromCivil(y, m, 1);
    if (day > last) return std::nullopt;
    parts.year = y, parts.month = m, parts.day = day;
  }
  return JoinDate(parts);
}

}  // namespace expr
