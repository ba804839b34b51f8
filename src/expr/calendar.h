// SPDX-License-Identifier: Apache-2.0
// Calendar: Jet's day count and the calendar dates and times it stands for.
//
// A Date is a double counting days since 1899-12-30. Before that day the
// whole part counts back while the fraction still counts forward, so
// -1.25 is 1899-12-29 06:00. "Linear" time below is the same instant as a
// plain number line (-1.25 becomes -0.75), which is what arithmetic on
// instants needs. Dates run from year 100 to year 9999, as in VBA.

#ifndef EXPR_CALENDAR_H_
#define EXPR_CALENDAR_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace expr {

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

// Days since 1899-12-30 for a proleptic Gregorian date (any month and day
// numbers: month 13 is January of the next year, day 0 the last of the
// month before, as DateSerial allows).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day);

double ToLinear(double serial);
double FromLinear(double linear);

// The parts of a serial, the time rounded to the second.
DateParts SplitDate(double serial);
// The serial of the parts; nullopt outside years 100..9999.
std::optional<double> JoinDate(const DateParts& parts);
bool InDateRange(double serial);

// Reads a date and/or time as #...# literals and CDate do with US
// settings: m/d/yyyy, yyyy-mm-dd, month names ("Jan 5, 2024",
// "5-Jan-2024"), h:mm[:ss] with an optional AM/PM. Two-digit years 30..99
// are 19xx, 00..29 20xx. A date without a year ("10/22", "Jan 5",
// "5-Jan") is in CurrentYear().
std::optional<double> ParseDateText(const std::string& text);

// This computer's clock, as a Jet Date in local time.
double LocalNow();

// The year a date text without one takes: that of the clock of the
// evaluation under way on this thread, else this computer's.
int CurrentYear();

// Makes `clock` (a Jet Date source; null or empty: this computer's) the
// one CurrentYear() reads on this thread, for the scope's lifetime. The
// clock is read only when a date text leaves out its year.
class CurrentYearScope {
 public:
  explicit CurrentYearScope(const std::function<double()>* clock);
  ~CurrentYearScope();
  CurrentYearScope(const CurrentYearScope&) = delete;
  CurrentYearScope& operator=(const CurrentYearScope&) = delete;

 private:
  const std::function<double()>* saved_;
};

// Sunday is 1, unless first_day (1 = Sunday .. 7 = Saturday) says otherwise.
int WeekdayOf(double serial, int first_day = 1);

const char* MonthName(int month);  // "January"
const char* DayName(int weekday);  // 1 = "Sunday"

}  // namespace expr

#endif  // EXPR_CALENDAR_H_
