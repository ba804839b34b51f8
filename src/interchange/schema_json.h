// SPDX-License-Identifier: Apache-2.0
// A table definition as JSON (for tools, and to create the table again) and
// as text (for people), and that JSON read back as a TableSpec.
//
// {"name": "T", "row_count": 3,
//  "columns": [{"name": "ID", "type": "Long", "length": 4, "autonumber": true, ...}],
//  "indexes": [{"name": "PrimaryKey", "primary": true, "unique": true,
//               "columns": [{"name": "ID", "ascending": true}], ...}]}

#ifndef INTERCHANGE_SCHEMA_JSON_H_
#define INTERCHANGE_SCHEMA_JSON_H_

#include <string>
#include <vector>

#include "interchange/json.h"
#include "jet/create.h"
#include "jet/database.h"
#include "jet/table_def.h"

namespace jet {

std::string SchemaToJson(const TableDef& table, const Database& db);
std::string SchemaToText(const TableDef& table, const Database& db);

// The inverse of SchemaToJson: the TableSpec that creates the table again.
//
// Keys SchemaToJson writes only to inform (row_count, number, flags,
// root_page, sort_order, ...) are accepted and ignored; any other key is an
// error, so that a misspelt option is not silently dropped. Only "name" and
// "columns" (each with "name" and "type") are required. Foreign-key indexes
// are skipped: they belong to relationships, which are not created here.
//
// Text lengths are bytes as stored, which differ between the formats (one
// byte per character in Jet 3, two in Jet 4): a schema whose "format" is
// not `target` has its Text lengths converted; without "format", lengths
// are taken to be in the target's units.
Result<TableSpec> TableSpecFromJson(const JsonValue& json, JetVersion target);
Result<TableSpec> TableSpecFromJson(const std::string& json, JetVersion target = JetVersion::kJet4);
// One table (an object) or several (an array, as `jetdb schema --json`
// prints for a whole database).
Result<std::vector<TableSpec>> TableSpecsFromJson(const std::string& json, JetVersion target);

}  // namespace jet

#endif  // INTERCHANGE_SCHEMA_JSON_H_
