// SPDX-License-Identifier: Apache-2.0
// Values as JSON, the form of a JSONL row, and read back from it.
//
// The writer gives numbers for the integer and floating types (non-finite
// ones as strings), true/false, null, and for everything else a string of
// the value's text (Value::ToText). The reader is its exact inverse for the
// column's type:
//   Boolean          true / false
//   Byte ... Long    a whole number, checked against the type's range
//   Currency         "-123.4500" (up to four decimals; a JSON number too)
//   Single, Double   a number, or "NaN", "Infinity", "-Infinity"
//   DateTime         "YYYY-MM-DDTHH:MM:SS[.mmm]" (also just "YYYY-MM-DD")
//   Decimal          "-123.45" with at most the column's scale in decimals
//                    and its precision in digits (a JSON number too)
//   GUID             "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", either case
//   Binary, OLE      hex digits, either case
//   Text, Memo       the text itself
// JSON null is a null value. Strings are read as value_text.h reads text.
// Errors are kInvalidArgument and name the column.

#ifndef INTERCHANGE_VALUE_JSON_H_
#define INTERCHANGE_VALUE_JSON_H_

#include <string>
#include <vector>

#include "interchange/json.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

void AppendJson(std::string& out, const Value& value);
std::string ValueToJson(const Value& value);

Status ValueFromJson(const ColumnDef& column, const JsonValue& json, Value* out);

// One row from a JSON object keyed by column name (case-insensitive, as Jet
// compares names): one value per column of `table`, in column order. A
// column without a key is null; a key that names no column, or names one a
// second time, is an error. `given`, if not null, says which columns had a
// key.
Status RowFromJson(const TableDef& table, const JsonValue& object, std::vector<Value>* row,
                   std::vector<bool>* given = nullptr);

}  // namespace jet

#endif  // INTERCHANGE_VALUE_JSON_H_
