// SPDX-License-Identifier: Apache-2.0
// What the fuzz targets do with a database file, shared with the test that
// replays fuzz/regressions/ in the ordinary (gcc, ASan) build.
//
// Each function may fail with a Status anywhere; none may crash, read or
// write out of bounds, or loop. Loops over rows and index entries are capped
// by what the file could hold, so an engine that goes round in circles
// shows up as a timeout, not a hang.

#ifndef FUZZ_FUZZ_OPS_H_
#define FUZZ_FUZZ_OPS_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "interchange/export.h"
#include "interchange/schema_json.h"
#include "interchange/value_json.h"
#include "jet/jet.h"
#include "jet/table_writer.h"

namespace fuzz {

// Opens the database and reads all of it, the way every reader of the
// engine does: header, catalog, each table's definition, a full scan of its
// rows, its schema, and an export to CSV. (Check, below, walks every index.)
inline void ReadEverything(const std::string& path) {
  (void)jet::Database::ReadInfo(path);
  auto db = jet::Database::Open(path);
  if (!db.ok()) return;
  jet::Database& database = **db;
  auto tables = database.ListTables(/*include_system=*/true);
  if (!tables.ok()) return;
  // No table holds more rows than the file has bytes.
  std::error_code ec;
  const uint64_t cap = std::filesystem::file_size(path, ec);
  static std::FILE* sink = std::fopen("/dev/null", "w");
  for (const jet::CatalogEntry& entry : *tables) {
    auto table = database.GetTable(entry.name);
    if (!table.ok()) continue;
    jet::TableScanner scan(database, *table);
    std::vector<jet::Value> row;
    for (uint64_t n = 0; n <= cap; ++n) {
      auto more = scan.Next(&row);
      if (!more.ok() || !*more) break;
      for (const jet::Value& v : row) (void)jet::ValueToJson(v);
    }
    (void)jet::SchemaToJson(**table, database);
    if (!entry.is_system() && sink) {
      (void)jet::ExportTable(database, entry.name, jet::ExportFormat::kCsv, sink);
    }
  }
}

// Opens the database and runs the consistency checker over it.
inline void Check(const std::string& path) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) return;
  (void)jet::CheckDatabase(**db);
}

// A plain value of the column's type; text and binary grow with `size`.
inline jet::Value SampleValue(const jet::ColumnDef& c, size_t size) {
  jet::Value v;
  v.type = c.type;
  v.null = false;
  switch (c.type) {
    case jet::ColumnType::kBoolean:
      v.boolean = true;
      break;
    case jet::ColumnType::kByte:
    case jet::ColumnType::kInteger:
    case jet::ColumnType::kLong:
    case jet::ColumnType::kCurrency:
      v.integer = 7;
      break;
    case jet::ColumnType::kSingle:
      v.single = 1.5f;
      break;
    case jet::ColumnType::kDouble:
    case jet::ColumnType::kDateTime:
      v.real = 40000.25;
      break;
    case jet::ColumnType::kText:
    case jet::ColumnType::kMemo:
      v.bytes = std::string(size, 'x');
      break;
    case jet::ColumnType::kBinary:
    case jet::ColumnType::kOle:
      v.bytes = std::string(size, '\x5A');
      break;
    case jet::ColumnType::kGuid:
      v.bytes = std::string(16, '\x11');
      break;
    default:
      v.null = true;
      break;
  }
  return v;
}

inline std::vector<jet::Value> SampleRow(const jet::TableDef& table, size_t size) {
  std::vector<jet::Value> row;
  for (const jet::ColumnDef& c : table.columns) {
    row.push_back(
        SampleValue(c, c.type == jet::ColumnType::kText ? std::min<size_t>(size, 50) : size));
    if (c.flags & jet::kColumnAutoLong) row.back().null = true;
  }
  return row;
}

// Opens the database for writing; inserts a row into the first user table,
// updates it to a longer row (which may move it) and deletes it.
inline void InsertUpdateDelete(const std::string& path) {
  jet::Database::Options options;
  options.writable = true;
  auto db = jet::Database::Open(path, options);
  if (!db.ok()) return;
  auto tables = (*db)->ListTables();
  if (!tables.ok() || tables->empty()) return;
  auto writer = jet::TableWriter::Open(**db, tables->front().name);
  if (!writer.ok()) return;
  // The table's first two rows as the file has them: one rewritten as it
  // is and one deleted, so that their long values (damaged or not) are
  // kept or freed, and their pages given back.
  {
    auto table = (*db)->GetTable(tables->front().name);
    if (!table.ok()) return;
    jet::TableScanner scan(**db, *table);
    std::vector<jet::Value> row;
    std::vector<jet::RowId> ids;
    std::vector<std::vector<jet::Value>> rows;
    jet::RowId at;
    for (auto more = scan.Next(&row, &at); more.ok() && *more && ids.size() < 2;
         more = scan.Next(&row, &at)) {
      ids.push_back(at);
      rows.push_back(row);
    }
    if (!ids.empty()) (void)(*writer)->Update(ids[0], rows[0]);
    if (ids.size() > 1) (void)(*writer)->DeleteMany({ids[1]});
  }
  auto id = (*writer)->Insert(SampleRow((*writer)->table(), 3));
  if (!id.ok()) return;
  (void)(*writer)->Update(*id, SampleRow((*writer)->table(), 40));
  (void)(*writer)->Delete(*id);
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_OPS_H_
