// SPDX-License-Identifier: Apache-2.0
// Value text forms written into a caller's buffer, for the paths (export)
// that format many values and must not allocate for each. Value::AppendText
// is built on these, so both give the same text.

#ifndef JET_VALUE_FORMAT_H_
#define JET_VALUE_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace jet {

// Room enough for any of the forms below.
constexpr int kMaxFormattedNumber = 40;

// Currency in 1/10000 units with four decimals: "-12.5000".
char* FormatCurrencyTo(char* p, int64_t v);
// The shortest text that reads back as `d` (finite), as std::to_chars
// writes it.
char* FormatFiniteDoubleTo(char* p, double d);
// The date part last written, for runs of values on the same day.
struct DateTextCache {
  int64_t day = INT64_MIN;
  char text[10];
};

// Jet's day count as YYYY-MM-DDTHH:MM:SS[.mmm].
char* FormatDateTimeTo(char* p, double days, DateTextCache* cache = nullptr);

}  // namespace jet

#endif  // JET_VALUE_FORMAT_H_
