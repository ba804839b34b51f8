// SPDX-License-Identifier: Apache-2.0
// The engine's public API from start to end: makes a database with one
// table, opens it for writing, inserts rows (counting the pages written),
// lists the tables, reads the table back and checks the file.
//
//   jet_example FILE.mdb      (FILE.mdb must not exist yet)

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "jet/jet.h"

namespace {

int Fail(const jet::Status& status) {
  std::fprintf(stderr, "jet_example: %s\n", status.ToString().c_str());
  return 1;
}

jet::Value Of(jet::ColumnType type) {  // a Null of that type
  jet::Value v{};
  v.type = type;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: jet_example FILE.mdb\n");
    return 2;
  }
  const std::string path = argv[1];

  // An empty Access 2000 database, and in it a table with an autonumber key.
  if (jet::Status s = jet::CreateDatabase(path, jet::JetVersion::kJet4); !s.ok()) return Fail(s);
  auto db = jet::Database::Open(path, {.writable = true});
  if (!db.ok()) return Fail(db.status());
  jet::TableSpec parcels{
      .name = "Parcels",
      .columns = {{.name = "ID", .type = jet::ColumnType::kLong, .autonumber = true},
                  {.name = "Service", .type = jet::ColumnType::kText},
                  {.name = "Weight", .type = jet::ColumnType::kDouble}},
      .indexes = {{.name = "PrimaryKey", .columns = {{.name = "ID"}}, .primary = true}}};
  if (jet::Status s = jet::CreateTable(**db, parcels); !s.ok()) return Fail(s);

  // Each Insert is one step of its own; a Null autonumber is filled in.
  const uint64_t written = jet::GetIoCounts().pages_written;
  auto writer = jet::TableWriter::Open(**db, "Parcels");
  if (!writer.ok()) return Fail(writer.status());
  const std::pair<const char*, double> rows[] = {{"USPS-PRI", 2.5}, {"FirstClass", 0.8}};
  for (auto [service, weight] : rows) {
    std::vector<jet::Value> row{Of(jet::ColumnType::kLong), Of(jet::ColumnType::kText),
                                Of(jet::ColumnType::kDouble)};
    row[1].null = row[2].null = false;
    row[1].bytes = service;
    row[2].real = weight;
    auto id = (*writer)->Insert(std::move(row));
    if (!id.ok()) return Fail(id.status());
  }
  std::printf("pages written: %llu\n",
              static_cast<unsigned long long>(jet::GetIoCounts().pages_written - written));

  auto tables = (*db)->ListTables();
  if (!tables.ok()) return Fail(tables.status());
  for (const jet::CatalogEntry& entry : *tables) std::printf("table %s\n", entry.name.c_str());

  auto table = (*db)->GetTable("Parcels");
  if (!table.ok()) return Fail(table.status());
  jet::TableScanner scan(**db, *table);
  std::vector<jet::Value> row;
  for (;;) {
    auto more = scan.Next(&row);
    if (!more.ok()) return Fail(more.status());
    if (!*more) break;
    for (size_t i = 0; i < row.size(); ++i)
      std::printf("%s%s=%s", i ? " " : "  ", (*table)->columns[i].name.c_str(), row[i].ToText().c_str());
    std::printf("\n");
  }

  auto report = jet::CheckDatabase(**db);
  if (!report.ok()) return Fail(report.status());
  std::printf("check: %zu tables, %zu rows, %zu problems\n", report->tables, report->rows,
              report->problems.size());
  for (const std::string& problem : report->problems) std::printf("  %s\n", problem.c_str());
  return report->ok() ? 0 : 1;
}
