// SPDX-License-Identifier: Apache-2.0
// Values read back from the text form Value::ToText writes (a CSV field,
// a condition's operand), and how a stored value is compared with one.
//
// The reader is the exact inverse of Value::ToText for the column's type:
//   Boolean          true / false (either case)
//   Byte ... Long    a whole number, checked against the type's range
//   Currency         "-123.4500" (up to four decimals)
//   Single, Double   a number, or "NaN", "Infinity", "-Infinity"
//   DateTime         "YYYY-MM-DDTHH:MM:SS[.mmm]" (also just "YYYY-MM-DD")
//   Decimal          "-123.45" with at most the column's scale in decimals
//                    and its precision in digits
//   GUID             "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", either case
//   Binary, OLE      hex digits, either case
//   Text, Memo       the text itself
// Errors are kInvalidArgument and name the column.

#ifndef JET_VALUE_TEXT_H_
#define JET_VALUE_TEXT_H_

#include <string>
#include <string_view>

#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

class Database;

// The empty string is a null value (CSV writes null as an empty field).
Status ValueFromText(const ColumnDef& column, const std::string& text, Value* out);

// The non-null value whose text form is `text` (empty text is an empty
// Text or Binary value, and an error for the other types).
Status ValueFromTextForm(const ColumnDef& column, std::string_view text, Value* out);

// A null value of the column's type.
void SetNullValue(const ColumnDef& column, Value* out);

// An error about a value for `column`: "Column 'X' (Type): why".
Status ColumnValueError(const ColumnDef& column, const std::string& why);
// Input as quoted in such messages, shortened when it is long.
std::string QuoteShown(std::string_view text);

// Whether `text` is a number as JSON and the exporters write one:
// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsNumberText(std::string_view text);

// Whether a stored value is the one asked for. Text and memo compare
// without regard to case, as Jet compares text; dates compare to the
// millisecond they are shown with; NaN matches NaN. A null `wanted` matches
// every value whose text form is empty (null, or empty text or binary).
bool ValueMatches(const Value& stored, const Value& wanted);

// Whether two texts are equal as an index on `column` (a Text or Memo
// column of `db`) holds them: their keys under the column's sort order are
// the same, so case and trailing spaces do not count, and accents, hyphens
// and apostrophes do. A key covers the first 255 characters. kUnsupported
// when no key can be built for one of them (a sort order the engine does
// not know, a character without a code).
Result<bool> TextKeysEqual(const Database& db, const ColumnDef& column, const std::string& a,
                           const std::string& b);

}  // namespace jet

#endif  // JET_VALUE_TEXT_H_
