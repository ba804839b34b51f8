// SPDX-License-Identifier: Apache-2.0
// Format's parts: a format text is split into ;-sections and each section
// into items (format.cc); number sections are laid out by format_number.cc,
// date sections by format_date.cc.

#ifndef EXPR_FORMAT_H_
#define EXPR_FORMAT_H_

#include <string>
#include <vector>

#include "expr/value.h"

namespace expr {

// One element of a section. A token's text is as written in the format
// ("dd", "0", "E+", "AM/PM", "am/Pm"...), except that date letters are
// lower case; a literal's text is what is shown.
struct FormatItem {
  enum Kind { kLiteral, kToken } kind;
  std::string text;
};

// What a section formats; kLiteral for a section of literal text alone.
enum class SectionKind { kLiteral, kNumber, kDate, kText };

// Format's third and fourth arguments, with 0 (the system's setting)
// already read as the US default: Sunday, the week of January 1.
struct WeekRule {
  int first_day = 1;   // 1 = Sunday .. 7 = Saturday
  int first_week = 1;  // 1 Jan 1, 2 first four-day week, 3 first full week
};

// False for a number section Format cannot lay out (two decimal points,
// an exponent without digit placeholders on both sides).
bool NumberSectionSupported(const std::vector<FormatItem>& items);

// Format with its third and fourth arguments.
Result<Value> FormatValue(const Value& value, const std::string& format, const WeekRule& rule);

// Lays out a number section (its items; kNumber or kLiteral). `negative`
// asks for a leading minus sign when the shown number is not zero.
std::string FormatNumberSection(const Value& number, const std::vector<FormatItem>& items,
                                bool negative);

// Lays out a date section (kDate) for a Date's day count.
std::string FormatDateSection(double serial, const std::vector<FormatItem>& items,
                              const WeekRule& rule);

// "January", "Jan"; "Sunday", "Sun" (1 = Sunday).
std::string MonthText(int month, bool abbreviate);
std::string DayText(int weekday, bool abbreviate);

}  // namespace expr

#endif  // EXPR_FORMAT_H_
