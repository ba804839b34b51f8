// SPDX-License-Identifier: Apache-2.0
// Reads a database end to end, the way every caller of the engine does:
// open it, list its tables, load each definition, scan every row and walk the
// leaves of every physical index. Shared by the bad-input tests and the damage
// sweep, which both ask one question of a damaged file: does reading it end,
// and how?

#ifndef TESTS_FULL_READ_H_
#define TESTS_FULL_READ_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/db/database.h"
#include "jet/index/index_page.h"
#include "jet/jet.h"

namespace testutil {

struct FullRead {
  jet::Status status;  // the first failure met, or OK
  uint64_t rows = 0;
  uint64_t index_entries = 0;
  // Set when a scan or walk returned more than the file could possibly hold:
  // the engine went round a loop without noticing.
  bool runaway = false;
};

// Keeps going after a table or an index fails, so one damaged structure does
// not hide what the rest of the file does to the reader. `status` keeps the
// first failure.
// System tables are left out unless asked for: some of them hold column
// types this engine does not read.
inline FullRead ReadWholeDatabase(const std::string& path, bool include_system = false) {
  FullRead out;
  auto note = [&out](const jet::Status& s) {
    if (out.status.ok() && !s.ok()) out.status = s;
  };
  auto db = jet::Database::Open(path);
  if (!db.ok()) return {db.status()};
  jet::Database& database = **db;
  auto tables = database.ListTables(include_system);
  if (!tables.ok()) return {tables.status()};
  // A data page holds fewer rows than it has bytes, and an index entry takes
  // at least a row pointer; anything past these limits is a loop.
  const uint64_t pages = database.pager().page_count();
  const uint64_t row_limit = pages * database.pager().page_size();
  const uint64_t entry_limit = pages * database.pager().page_size() / 4;

  // Calls `next` until it ends or fails; counts what it gave.
  auto drain = [&](uint64_t limit, uint64_t* count, auto next) {
    for (uint64_t n = 0;; ++n) {
      if (n > limit) return void(out.runaway = true);
      auto more = next();
      if (!more.ok()) return note(more.status());
      if (!*more) return;
      ++*count;
    }
  };
  for (const jet::CatalogEntry& entry : *tables) {
    auto table = database.GetTable(entry.name);
    if (!table.ok()) {
      note(table.status());
      continue;
    }
    jet::TableScanner scan(database, *table);
    std::vector<jet::Value> row;
    drain(row_limit, &out.rows, [&] { return scan.Next(&row); });
    for (const jet::PhysicalIndex& index : (*table)->physical_indexes) {
      jet::IndexLeafWalker walker(database.pager(), index);
      jet::IndexEntry e;
      drain(entry_limit, &out.index_entries, [&] { return walker.Next(&e); });
    }
  }
  return out;
}

}  // namespace testutil

#endif  // TESTS_FULL_READ_H_
