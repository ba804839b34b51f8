// SPDX-License-Identifier: Apache-2.0
// Variant: a dynamically typed value as the installer handles it — empty,
// null, text, number, date and time, boolean, or raw bytes.
//
// A variant read from a field keeps the engine value it came from, so that
// writing it back into a column of the same type stores exactly what was
// read (a Currency stays scaled, a memo keeps every character).

#ifndef DATA_VARIANT_H_
#define DATA_VARIANT_H_

#include <cstdint>
#include <string>

#include "jet/value.h"
#include "util/boolean.h"

namespace afc {

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
