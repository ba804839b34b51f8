// SPDX-License-Identifier: Apache-2.0
// Value: what a Jet expression computes, with the types of a VBA Variant.
//
// Jet evaluates DefaultValue and ValidationRule text with the rules of the
// Variant: a value is Null or one of a handful of types, and every operator
// and function converts between them the way VBA does. Currency is exact
// (a count of ten-thousandths); a Date is Jet's day count since 1899-12-30
// with the time of day as the fraction; a String is UTF-8. A Decimal is
// exact: a 96-bit magnitude, a sign and a scale of 0..28 decimal places.

#ifndef EXPR_VALUE_H_
#define EXPR_VALUE_H_

#include <cstdint>
#include <string>

#include "base/status.h"

namespace expr {

using jet::Result;
using jet::Status;

enum class Type : uint8_t {
  kNull,
  kBoolean,
  kInteger,  // 16 bits
  kLong,     // 32 bits
  kSingle,
  kDouble,
  kCurrency,  // ten-thousandths, 64 bits
  kDate,
  kString,
  kByte,     // 8 bits, unsigned
  kDecimal,  // 96-bit magnitude / 10^scale
};

// A Decimal's parts: the value is (hi * 2^64 + lo) / 10^scale, negated
// when negative.
struct DecimalParts {
  uint64_t lo = 0;
  uint32_t hi = 0;
  uint8_t scale = 0;  // 0..28
  bool negative = false;
};

// The name VBA's TypeName gives: "Null", "Boolean", "Integer", ...
const char* TypeName(Type type);

class Value {
 public:
  Value() = default;  // Null

  static Value Null() { return Value(); }
  static Value Boolean(bool b) { return Value(Type::kBoolean, b ? -1 : 0, 0); }
  static Value Integer(int16_t i) { return Value(Type::kInteger, i, 0); }
  static Value Long(int32_t i) { return Value(Type::kLong, i, 0); }
  static Value Single(float f) { return Value(Type::kSingle, 0, f); }
  static Value Double(double d) { return Value(Type::kDouble, 0, d); }
  // In ten-thousandths: Currency(15000) is 1.5.
  static Value Currency(int64_t units) { return Value(Type::kCurrency, units, 0); }
  static Value Byte(uint8_t b) { return Value(Type::kByte, b, 0); }
  static Value Decimal(const DecimalParts& d) {
    Value v(Type::kDecimal, int64_t(d.lo), 0);
    v.hi_ = d.hi;
    v.scale_ = d.scale;
    v.negative_ = d.negative && (d.lo || d.hi);
    return v;
  }
  static Value Date(double days) { return Value(Type::kDate, 0, days); }
  static Value String(std::string s) {
    Value v(Type::kString, 0, 0);
    v.text_ = std::move(s);
    return v;
  }

  Type type() const { return type_; }
  bool is_null() const { return type_ == Type::kNull; }
  bool is_numeric() const { return type_ != Type::kNull && type_ != Type::kString; }

  // The stored representation, without conversion; each only for its types.
  bool boolean() const { return integer_ != 0; }       // Boolean
  int64_t integer() const { return integer_; }         // Boolean (-1/0), Byte, Integer, Long
  int64_t currency_units() const { return integer_; }  // Currency
  double real() const { return real_; }                // Single, Double, Date
  const std::string& text() const { return text_; }    // String
  DecimalParts decimal() const {                       // Decimal
    return {uint64_t(integer_), hi_, scale_, negative_};
  }

  // The number a numeric value stands for (Boolean as -1/0, Date as its
  // day count). Only for numeric types.
  double AsDouble() const;

  // Same type and same contents: for tests, not Jet's "=".
  bool operator==(const Value& other) const;

 private:
  Value(Type t, int64_t i, double d) : type_(t), integer_(i), real_(d) {}

  Type type_ = Type::kNull;
  int64_t integer_ = 0;
  double real_ = 0;
  uint32_t hi_ = 0;
  uint8_t scale_ = 0;
  bool negative_ = false;
  std::string text_;
};

// Jet's conversion functions. Each fails with "invalid use of Null" on Null,
// "type mismatch" on text that does not read as the type, and "overflow"
// when the value does not fit; integer types round half to even.
Result<bool> ToBoolean(const Value& v);      // CBool
Result<Value> ToInteger(const Value& v);     // CInt
Result<Value> ToLong(const Value& v);        // CLng
Result<Value> ToSingle(const Value& v);      // CSng
Result<Value> ToDouble(const Value& v);      // CDbl
Result<Value> ToCurrency(const Value& v);    // CCur
Result<Value> ToByte(const Value& v);        // CByte
Result<Value> ToDecimal(const Value& v);     // CDec
Result<Value> ToDate(const Value& v);        // CDate
Result<std::string> ToText(const Value& v);  // CStr

// Any numeric value for a String operand (CDbl's reading of the text),
// the value itself for numbers; Null stays Null.
Result<Value> ToNumber(const Value& v);

// The text CStr gives: 15 significant digits for Double, 7 for Single,
// exponent form as VBA writes it (1E+20, 1.5E-05), dates in US short form
// with the time as h:mm:ss AM/PM. Null gives "".
std::string DisplayText(const Value& v);

// Reads text as CDbl does (US settings): surrounding spaces, a sign, a
// leading $, thousands commas, a decimal point, an exponent (E or D), &H
// and &O forms. False when it is not a number.
bool ParseNumber(const std::string& text, double* out);

// Val: the longest prefix that reads as a number, spaces skipped; 0 if
// none. A number followed by % or & (VBA's Integer and Long suffixes) must
// be whole: Val("50%") is 50, Val("50.5%") a type mismatch.
Result<Value> ValOf(const std::string& text);

// Evaluation errors, one wording each.
Status TypeMismatch();
Status Overflow();
Status InvalidUseOfNull();
Status DivisionByZero();
Status InvalidCall(const std::string& what);
// A Date outside years 100..9999: "date out of range", with why.
Status DateOutOfRange(double linear_days);

}  // namespace expr

#endif  // EXPR_VALUE_H_
