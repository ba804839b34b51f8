// SPDX-License-Identifier: Apache-2.0
// Value: one field of one row, as the engine reads and writes it.
//
// A value carries the column type it came from, so that it can be shown and
// stored again exactly: a Single stays a float, Currency stays a scaled
// integer, and a Decimal keeps its digits and scale.

#ifndef JET_VALUE_H_
#define JET_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace jet {

enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
  // Access 2007 and later (.accdb).
  kComplex = 0x12,       // attachment or multi-valued field: the id of its values
  kBigInt = 0x13,        // Large Number (Access 2016): a signed 64-bit integer
  kExtDateTime = 0x14,   // Date/Time Extended (Access 2019): to 100 ns, years 1-9999
  // Types Access uses only inside its own system tables; read as raw bytes,
  // never written.
  kUnknown0D = 0x0D,
  kUnknown11 = 0x11,
};


// A Jet Decimal: sign, 96..128-bit magnitude and a scale (digits after the
// point). words[0] is the most significant 32 bits.
struct Decimal {
  bool negative = false;
  uint8_t scale = 0;
  uint32_t words[4] = {0, 0, 0, 0};

  // "-123.4500" for a scale of 4.
  std::string ToString() const;
};

// A calendar date and time, as Access shows it.
struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Jet stores date/time as days since 1899-12-30 in a double. Before that day
// the whole part counts back and the fraction still counts forward
// (-1.25 is 1899-12-29 06:00). Rounds to the millisecond.
DateTimeParts DateTimeFromJet(double days);
// The inverse; false if the parts do not name a real date and time.
bool DateTimeToJet(const DateTimeParts& parts, double* days);
// This computer's local date and time now, to the millisecond.
DateTimeParts LocalNow();
// "YYYY-MM-DDTHH:MM:SS" with ".mmm" when the milliseconds are not 0.
std::string FormatDateTime(double days);

// Date/Time Extended as stored: 42 ASCII bytes, the days since 0001-01-01
// in 19 digits, ':', the seconds of the day in 12 digits and the 100 ns
// ticks in 7, then ':', '7' and a zero byte.
constexpr size_t kExtDateTimeSize = 42;
// Whether `stored` has that shape and names a day of the years 1 to 9999.
bool ExtDateTimeValid(std::string_view stored);
// "YYYY-MM-DDTHH:MM:SS" with ".fffffff" when the ticks are not 0; `stored`
// must be valid.
std::string FormatExtDateTime(std::string_view stored);
// The stored form of "YYYY-MM-DD[(T| )HH:MM:SS[.f{1,7}]]"; false if the
// text is not of that shape or names no real date and time.
bool ParseExtDateTime(std::string_view text, std::string* stored);

struct Value {
  ColumnType type;
  bool null = true;
  bool boolean = false;
  int64_t integer = 0;  // Byte, Integer, Long, BigInt, Complex; Currency in 1/10000 units
  float single = 0;
  double real = 0;      // Double, and Date/Time as Jet's day count
  Decimal decimal;
  std::string bytes;    // Text and Memo as UTF-8; Binary, OLE raw; GUID 16 raw bytes;
                        // Date/Time Extended as its 42 stored bytes

  // Text form, as export shows it: integers in decimal, Currency with four
  // decimals, Decimal with its scale, floating point in the shortest form
  // that reads back the same, Date/Time as YYYY-MM-DDTHH:MM:SS[.mmm],
  // Boolean true/false, binary as lowercase hex, GUID as {XXXXXXXX-...}.
  // Null is empty.
  std::string ToText() const;
  void AppendText(std::string& out) const;
};

// Shortest text that reads back as the same number.
std::string FormatDouble(double d);
std::string FormatSingle(float f);

}  // namespace jet

#endif  // JET_VALUE_H_
