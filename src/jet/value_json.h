// Values read back from the forms export writes: the JSON of a JSONL row
// (Value::ToJson) and the text of a CSV field (Value::ToText).
//
// Each reader is the exact inverse of its writer for the column's type:
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
// JSON null is a null value; in text, the empty string is (CSV writes null
// as an empty field). Errors are kInvalidArgument and name the column.

#ifndef JET_VALUE_JSON_H_
#define JET_VALUE_JSON_H_

#include <string>
#include <vector>

#include "jet/status.h"
#include "jet/value.h"
#include "json.h"
#include "table_def.h"

namespace jet {

Status ValueFromJson(const ColumnDef& column, const JsonValue& json, Value* out);
Status ValueFromText(const ColumnDef& column, const std::string& text, Value* out);

// One row from a JSON object keyed by column name (case-insensitive, as Jet
// compares names): one value per column of `table`, in column order. A
// column without a key is null; a key that names no column, or names one a
// second time, is an error. `given`, if not null, says which columns had a
// key.
Status RowFromJson(const TableDef& table, const JsonValue& object, std::vector<Value>* row,
                   std::vector<bool>* given = nullptr);

// Whether a stored value is the one asked for. Text and memo compare
// without regard to case, as Jet compares text; dates compare to the
// millisecond they are shown with; NaN matches NaN. A null `wanted` matches
// every value whose text form is empty (null, or empty text or binary).
bool ValueMatches(const Value& stored, const Value& wanted);

}  // namespace jet

#endif  // JET_VALUE_JSON_H_
