// Variant: a dynamically typed value as the installer handles it — empty,
// null, text, number, date and time, boolean, or raw bytes — and the
// installer's 16-bit booleans.
//
// A variant read from a field keeps the engine value it came from, so that
// writing it back into a column of the same type stores exactly what was
// read (a Currency stays scaled, a memo keeps every character).

#ifndef DATA_VARIANT_H_
#define DATA_VARIANT_H_

#include <cstdint>
#include <string>

#include "jet/value.h"

namespace afc {

// Booleans are 16-bit: true is -1, false is 0, and results combine with a
// bitwise And.
using Boolean = int16_t;
constexpr Boolean kTrue = -1;
constexpr Boolean kFalse = 0;
inline Boolean ToBoolean(bool b) { return b ? kTrue : kFalse; }

enum class VariantKind { kEmpty, kNull, kText, kNumber, kDate, kBoolean, kBytes };

class Variant {
 public:
  Variant() = default;  // empty

  static Variant Null();
  static Variant Text(std::string utf8);
  static Variant Integer(int16_t i);  // a 16-bit integer
  static Variant Number(double d);
  static Variant Date(double jet_days);
  static Variant Bool(bool b);
  // The value of a field; a null engine value gives a null variant.
  static Variant FromValue(const jet::Value& value);

  VariantKind kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == VariantKind::kEmpty; }
  bool IsNull() const { return kind_ == VariantKind::kNull; }

  // The engine value behind a text, number, date, boolean or bytes variant.
  const jet::Value& value() const { return value_; }
  // The text of a text variant (UTF-8); empty for any other kind.
  const std::string& text() const;

  // The value converted to text: "" for empty and null, "True"/"False" for a
  // boolean, numbers in their shortest decimal form, dates as
  // YYYY-MM-DDTHH:MM:SS. A number, date or boolean never gives "".
  std::string TextForm() const;

  bool operator==(const Variant& other) const;

 private:
  VariantKind kind_ = VariantKind::kEmpty;
  jet::Value value_{};
};

}  // namespace afc

#endif  // DATA_VARIANT_H_
