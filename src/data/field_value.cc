// GetFieldValue and the type classes behind its null substitutes.

#include "field_value.h"

#include <chrono>
#include <ctime>
#include <string>

namespace afc {

namespace {

// The local date and time now, as a Jet day count.
Variant Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  jet::DateTimeParts parts;
  parts.year = local.tm_year + 1900;
  parts.month = local.tm_mon + 1;
  parts.day = local.tm_mday;
  parts.hour = local.tm_hour;
  parts.minute = local.tm_min;
  parts.second = local.tm_sec;
  parts.millisecond = static_cast<int>(ms.count());
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
