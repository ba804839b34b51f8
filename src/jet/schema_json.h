// A table definition as JSON (for tools, and to create the table again) and
// as text (for people).
//
// {"name": "T", "row_count": 3,
//  "columns": [{"name": "ID", "type": "Long", "length": 4, "autonumber": true, ...}],
//  "indexes": [{"name": "PrimaryKey", "primary": true, "unique": true,
//               "columns": [{"name": "ID", "ascending": true}], ...}]}

#ifndef JET_SCHEMA_JSON_H_
#define JET_SCHEMA_JSON_H_

#include <string>

#include "database.h"
#include "table_def.h"

namespace jet {

std::string SchemaToJson(const TableDef& table, const Database& db);
std::string SchemaToText(const TableDef& table, const Database& db);

}  // namespace jet

#endif  // JET_SCHEMA_JSON_H_
