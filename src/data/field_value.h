// SPDX-License-Identifier: Apache-2.0
// GetFieldValue: a field's value with nulls replaced and text trimmed, so
// that callers never meet a null.

#ifndef DATA_FIELD_VALUE_H_
#define DATA_FIELD_VALUE_H_

#include <cstdint>

#include "data/ado.h"
#include "data/variant.h"

namespace afc {

// How a type code is treated when its value is null.
enum class TypeClass { kTextLike, kDateLike, kBoolean, kOther };
TypeClass TypeClassOf(int32_t ado_type);

// The value of `field` on its recordset's current row:
//   - null: `DefaultValue`, or when that is empty (its text form is ""),
//     the neutral value of the field's type class: "" for text-like types,
//     the current local date and time for date-like types, false for a
//     boolean, and the 16-bit integer 0 for everything else;
//   - text-like and present: the text, and with `TrimText` without leading
//     and trailing spaces (only U+0020; tabs and line breaks stay);
//   - anything else present: the value unchanged.
// A failure to read the field gives `DefaultValue`.
Variant GetFieldValue(ado::Field field, const Variant& DefaultValue, Boolean TrimText);

}  // namespace afc

#endif  // DATA_FIELD_VALUE_H_
