// SPDX-License-Identifier: Apache-2.0
// Variant: construction, text form and comparison.

#include "data/variant.h"

#include <utility>

namespace afc {

namespace {

jet::Value Present(jet::ColumnType type) {
  jet::Value v;
  v.type = type;
  v.null = false;
  return v;
}

}  // namespace

Variant Variant::Null() {
  Variant v;
  v.kind_ = VariantKind::kNull;
  return v;
}

Variant Variant::Text(std::string utf8) {
  Variant v;
  v.kind_ = VariantKind::kText;
  v.value_ = Present(jet::ColumnType::kText);
  v.value_.bytes = std::move(utf8);
  return v;
}

Variant Variant::Integer(int16_t i) {
  Variant v;
  v.kind_ = VariantKind::kNumber;
  v.value_ = Present(jet::ColumnType::kInteger);
  v.value_.integer = i;
  return v;
}

Variant Variant::Number(double d) {
  Variant v;
  v.kind_ = VariantKind::kNumber;
  v.value_ = Present(jet::ColumnType::kDouble);
  v.value_.real = d;
  return v;
}

Variant Variant::Date(double jet_days) {
  Variant v;
  v.kind_ = VariantKind::kDate;
  v.value_ = Present(jet::ColumnType::kDateTime);
  v.value_.real = jet_days;
  return v;
}

Variant Variant::Bool(bool b) {
  Variant v;
  v.kind_ = VariantKind::kBoolean;
  v.value_ = Present(jet::ColumnType::kBoolean);
  v.value_.boolean = b;
  return v;
}

Variant Variant::FromValue(const jet::Value& value) {
  if (value.null) return Null();
  Variant v;
  v.value_ = value;
  switch (value.type) {
    case jet::ColumnType::kText:
    case jet::ColumnType::kMemo:
      v.kind_ = VariantKind::kText;
      break;
    case jet::ColumnType::kGuid:
      // A GUID reaches the caller as its text, braces included.
      return Text(value.ToText());
    case jet::ColumnType::kBoolean:
      v.kind_ = VariantKind::kBoolean;
      break;
    case jet::ColumnType::kDateTime:
      v.kind_ = VariantKind::kDate;
      break;
    case jet::ColumnType::kByte:
    case jet::ColumnType::kInteger:
    case jet::ColumnType::kLong:
    case jet::ColumnType::kCurrency:
    case jet::ColumnType::kSingle:
    case jet::ColumnType::kDouble:
    case jet::ColumnType::kNumeric:
      v.kind_ = VariantKind::kNumber;
      break;
    default:
      v.kind_ = VariantKind::kBytes;
      break;
  }
  return v;
}

const std::string& Variant::text() const {
  static const std::string kNone;
  return kind_ == VariantKind::kText ? value_.bytes : kNone;
}

std::string Variant::TextForm() const {
  switch (kind_) {
    case VariantKind::kEmpty:
    case VariantKind::kNull:
      return "";
    case VariantKind::kText:
      return value_.bytes;
    case VariantKind::kBoolean:
      return value_.boolean ? "True" : "False";
    default:
      return value_.ToText();
  }
}

bool Variant::operator==(const Variant& other) const {
  if (kind_ != other.kind_) return false;
  if (kind_ == VariantKind::kEmpty || kind_ == VariantKind::kNull) return true;
  return value_.type == other.value_.type && TextForm() == other.TextForm();
}

}  // namespace afc
