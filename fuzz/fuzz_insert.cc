// Fuzz target: write to a damaged database. Opens a writable copy, inserts
// one row into the first user table, updates it to a longer row (which may
// move it) and deletes it. Each step may fail with a Status; none may crash,
// write outside the file's pages, or loop.

#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "jet/jet.h"
#include "table_writer.h"

namespace {

// A plain value of the column's type; text grows with `size`.
jet::Value Sample(const jet::ColumnDef& c, size_t size) {
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

std::vector<jet::Value> SampleRow(const jet::TableDef& table, size_t size) {
  std::vector<jet::Value> row;
  for (const jet::ColumnDef& c : table.columns) {
    row.push_back(Sample(c, c.type == jet::ColumnType::kText ? std::min<size_t>(size, 50) : size));
    if (c.flags & jet::kColumnAutoLong) row.back().null = true;
  }
  return row;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = fuzz::WriteScratch(data, size);
  jet::Database::Options options;
  options.writable = true;
  auto db = jet::Database::Open(path, options);
  if (!db.ok()) return 0;
  auto tables = (*db)->ListTables();
  if (!tables.ok() || tables->empty()) return 0;
  auto writer = jet::TableWriter::Open(**db, tables->front().name);
  if (!writer.ok()) return 0;
  auto id = (*writer)->Insert(SampleRow((*writer)->table(), 3));
  if (!id.ok()) return 0;
  (void)(*writer)->Update(*id, SampleRow((*writer)->table(), 40));
  (void)(*writer)->Delete(*id);
  return 0;
}
