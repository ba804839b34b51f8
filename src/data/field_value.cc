// SPDX-License-Identifier: Apache-2.0
// GetFieldValue and the type classes behind its null substitutes.

#include "data/field_value.h"

#include <string>

namespace afc {

namespace {

// The local date and time now, as a Jet day count.
Variant Now() {
  const jet::DateTimeParts parts = jet::LocalNow();
  double days = 0;
  jet::DateTimeToJet(parts, &days);
  return Variant::Date(days);
}

std::string TrimSpaces(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace

TypeClass TypeClassOf(int32_t ado_type) {
  switch (ado_type) {
    case 0:    // adEmpty
    case 8:    // adBSTR
    case 12:   // adVariant
    case 72:   // adGUID
    case 129:  // adChar
    case 130:  // adWChar
    case 200:  // adVarChar
    case 201:  // adLongVarChar
    case 202:  // adVarWChar
    case 203:  // adLongVarWChar
      return TypeClass::kTextLike;
    case 7:    // adDate
    case 133:  // adDBDate
    case 134:  // adDBTime
    case 135:  // adDBTimeStamp
      return TypeClass::kDateLike;
    case 11:  // adBoolean
      return TypeClass::kBoolean;
    default:
      return TypeClass::kOther;
  }
}

Variant GetFieldValue(ado::Field field, const Variant& DefaultValue, Boolean TrimText) {
  Variant result = DefaultValue;
  Variant value;
  int32_t type = 0;
  if (!field.Value(&value).ok() || !field.Type(&type).ok()) return result;
  TypeClass type_class = TypeClassOf(type);
  if (value.IsNull()) {
    if (!DefaultValue.TextForm().empty()) return result;
    switch (type_class) {
      case TypeClass::kTextLike:
        return Variant::Text("");
      case TypeClass::kDateLike:
        return Now();
      case TypeClass::kBoolean:
        return Variant::Bool(false);
      case TypeClass::kOther:
        return Variant::Integer(0);
    }
  }
  if (type_class == TypeClass::kTextLike) {
    // A text-like value always comes back as text; without TrimText, as it
    // is stored.
    std::string text = value.TextForm();
    return Variant::Text(TrimText ? TrimSpaces(text) : text);
  }
  return value;
}

}  // namespace afc
