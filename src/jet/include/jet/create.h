// SPDX-License-Identifier: Apache-2.0
// Creating databases and tables.
//
// A new database starts as a copy of an empty database: for Jet 4 one that
// Jet's own catalog API made, for Jet 3 the system tables of a database
// Access 97 made (docs/access97.md), so the catalog is exactly as Jet
// writes it; nothing of who made those is kept, and the database and its
// system objects are dated when the new one is made. A new table gets its
// definition page, its usage-map rows, one empty root page per index, and
// rows in the catalog (MSysObjects) and in the access control table
// (MSysACEs), added through the same writer as any row, so that the
// catalog's own indexes stay exact.

#ifndef JET_CREATE_H_
#define JET_CREATE_H_

#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/status.h"
#include "jet/value.h"

namespace jet {

struct ColumnSpec {
  std::string name;
  ColumnType type = ColumnType::kText;
  // Bytes as stored: Text holds 2 bytes per character in Jet 4, 1 in Jet 3;
  // 0 picks the type's default (Text: 255 characters, Binary: 255 bytes).
  uint16_t length = 0;
  uint8_t precision = 18;  // Decimal only
  uint8_t scale = 0;       // Decimal only
  bool autonumber = false;       // Long: incrementing autonumber
  bool guid_autonumber = false;  // GUID: random autonumber
  bool fixed = false;            // Text/Binary stored fixed-length
  bool compressed_unicode = true;  // Jet 4 Text/Memo
  bool hyperlink = false;          // Memo
};

struct IndexColumnSpec {
  std::string name;
  bool ascending = true;
};

struct IndexSpec {
  std::string name;
  std::vector<IndexColumnSpec> columns;
  bool primary = false;  // implies unique and required
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

struct TableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
};

// Writes a new, empty database at `path`. Refuses to overwrite a file that
// exists.
Status CreateDatabase(const std::string& path, JetVersion version);
// The same in a given release's format: Access 97 (kJet3), 2000 (kJet4),
// and of the .accdb ones those that empty databases made by Access are at
// hand for: Access 2007 (kAce12) and 2016 (kAce16).
Status CreateDatabase(const std::string& path, FileVersion version);

// Adds a table to a database opened for writing. Checks names, types,
// sizes and indexes, and refuses anything Access would not accept, before
// writing anything; all of it is written in one step.
Status CreateTable(Database& db, const TableSpec& design);

}  // namespace jet

#endif  // JET_CREATE_H_
