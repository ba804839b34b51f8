// SPDX-License-Identifier: Apache-2.0
// Exporting a table's rows as CSV or JSON Lines.
//
// CSV: a header line of column names, then one line per row; fields that hold
// a comma, a quote, CR or LF are quoted, with quotes doubled (RFC 4180). Lines
// end in CRLF. Null is an empty field.
//
// JSONL: one JSON object per row, keyed by column name in column order.
// Values: see value_json.h.
//
// An attachment or multi-valued field (.accdb) is a JSON array of its
// values: a multi-valued field's as value_json.h writes them, attachments
// as {"file_name", "type", "data"} with the file's bytes in lowercase hex.
// CSV has that JSON text as the field. Other complex fields are their id.

#ifndef INTERCHANGE_EXPORT_H_
#define INTERCHANGE_EXPORT_H_

#include <cstdio>
#include <string>

#include "jet/database.h"

namespace jet {

enum class ExportFormat { kCsv, kJsonl };

// Writes every row of `table` to `out`. Output errors are IoError.
Status ExportTable(Database& db, const std::string& table, ExportFormat format, std::FILE* out);

// One CSV field, quoted when it needs to be.
void AppendCsvField(std::string& out, const std::string& field);

}  // namespace jet

#endif  // INTERCHANGE_EXPORT_H_
