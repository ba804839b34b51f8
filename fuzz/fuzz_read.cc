// Fuzz target: open a database and read all of it, the way every reader of
// the engine does: header, catalog, each table's definition, a full scan of
// its rows, a walk of every index's leaves, and an export to CSV.

#include <cstdint>
#include <cstdio>

#include "fuzz_util.h"
#include "jet/jet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = fuzz::WriteScratch(data, size);
  (void)jet::Database::ReadInfo(path);
  auto db = jet::Database::Open(path);
  if (!db.ok()) return 0;
  jet::Database& database = **db;
  auto tables = database.ListTables(/*include_system=*/true);
  if (!tables.ok()) return 0;
  const uint64_t pages = database.pager().page_count();
  const uint64_t cap = pages * database.pager().page_size();
  static std::FILE* sink = std::fopen("/dev/null", "w");
  for (const jet::CatalogEntry& entry : *tables) {
    auto table = database.GetTable(entry.name);
    if (!table.ok()) continue;
    jet::TableScanner scan(database, *table);
    std::vector<jet::Value> row;
    for (uint64_t n = 0; n <= cap; ++n) {
      auto more = scan.Next(&row);
      if (!more.ok() || !*more) break;
      for (const jet::Value& v : row) (void)v.ToJson();
    }
    for (const jet::PhysicalIndex& index : (*table)->physical_indexes) {
      jet::IndexLeafWalker walker(database.pager(), index);
      jet::IndexEntry e;
      for (uint64_t n = 0; n <= cap; ++n) {
        auto more = walker.Next(&e);
        if (!more.ok() || !*more) break;
      }
    }
    (void)jet::SchemaToJson(**table, database);
    if (!entry.is_system()) (void)jet::ExportTable(database, entry.name, jet::ExportFormat::kCsv, sink);
  }
  return 0;
}
