// SPDX-License-Identifier: Apache-2.0
// Object properties: what Access keeps about a table and its columns beyond
// the table definition (Required, AllowZeroLength, DefaultValue,
// ValidationRule, Format, ...).
//
// They live in the LvProp column (a long binary value) of the table's row in
// MSysObjects. The value reads:
//
//   off  size  meaning
//   0    4     "MR2\0" (Jet 4) or "KKD\0" (Jet 3)
//   4    ...   chunks, to the end of the value
//
// Chunk:
//   0    4     length of the chunk, these 6 bytes included
//   4    2     type: 0x80 the name pool; any other (0x00 the table itself,
//              0x01 a column, 0x02 seen too) a block of properties
//   6    ...   body
//
// The name pool's body is a run of names, each a 2-byte length and then the
// name (UTF-16LE in Jet 4, the database's code page in Jet 3). Properties
// refer to their name by its position in the pool, so the pool comes first.
//
// A property block's body starts with a header naming its object:
//   0    4     length of the header, these 4 bytes included
//   4    2     length of the name (present only if the header is longer
//              than 6 bytes; the table's own block has no name)
//   6    ...   the column's name, encoded as in the name pool
// then entries, to the end of the chunk:
//   0    2     length of the entry, these 2 bytes included
//   2    1     DDL flag (1 = the property belongs to the engine, not to Access)
//   3    1     type of the value, as a column type (0x01 Boolean: one byte,
//              non-zero = yes; 0x0A Text and 0x0C Memo: text encoded as the
//              database stores text; 0x09 Binary, 0x04 Long, ...)
//   4    2     position of the property's name in the name pool
//   6    2     length of the value
//   8    ...   the value

#ifndef JET_DB_PROPERTIES_H_
#define JET_DB_PROPERTIES_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/db/database.h"
#include "jet/format/table_def.h"
#include "jet/storage/bytes.h"

namespace jet {

struct Property {
  std::string name;
  uint8_t type = 0;  // a ColumnType value
  uint8_t ddl = 0;
  std::string data;  // the value's bytes as stored

  bool boolean() const { return !data.empty() && data[0] != 0; }
};

// The properties of one object: the table (empty object name) or a column.
struct PropertyBlock {
  uint16_t kind = 0;  // the chunk type
  std::string object;
  std::vector<Property> properties;

  const Property* Find(const std::string& name) const;  // case-insensitive
};

// Splits a property value into its blocks; a value that is damaged in any
// way is kCorrupt.
Result<std::vector<PropertyBlock>> ParseProperties(const Format& format, uint16_t code_page,
                                                   ByteView blob);

// A text property (Text or Memo) as UTF-8.
std::string PropertyText(const Format& format, uint16_t code_page, const Property& property);

// The LvProp value of the table's catalog row; empty if it has none.
Result<std::string> ReadPropertyBlob(Database& db, const TableDef& table);

// What the engine and the data layer act on, per column.
struct ColumnRules {
  bool required = false;
  bool allow_zero_length = true;  // Access's answer when the property is absent
  std::optional<std::string> default_value;
  std::optional<std::string> validation_rule;
  std::optional<std::string> validation_text;  // the message when the rule fails
};

struct ColumnProperties {
  std::vector<ColumnRules> columns;  // parallel to TableDef::columns
  std::optional<std::string> table_validation_rule;
  std::optional<std::string> table_validation_text;
};

// Gives each calculated column of `table` its result type and expression,
// from its properties (a table definition holds neither).
Status ApplyCalculatedColumns(Database& db, TableDef* table);

// Reads the properties of `table` and of its columns. A table without a
// property value gives the defaults; a block that names no column of the
// table is ignored.
Result<ColumnProperties> ReadColumnProperties(Database& db, const TableDef& table);

}  // namespace jet

#endif  // JET_DB_PROPERTIES_H_
