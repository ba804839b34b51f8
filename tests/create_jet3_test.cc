// SPDX-License-Identifier: Apache-2.0
// Access 97 (Jet 3) databases and tables as the engine makes them, against
// what Access 97 made: a table created from the schema of one Access made
// must have its definition byte for byte, but for what depends on where
// pages fall and on what Access leaves uninitialised; and what Access 97
// cannot hold is refused before anything is written.

#include <algorithm>

#include "interchange/schema_json.h"
#include "jet/db/database.h"
#include "jet/storage/bytes.h"
#include "jet/table/create.h"
#include "values.h"

namespace {

constexpr uint8_t kMasked = 0xEE;

// The definition of `table`, its pages joined (a continuation page's 8-byte
// header left out), with the bytes that may rightly differ set to kMasked:
//
//   offset     size  what                                    masked
//   0          8     page type, 01, "VC", next page          next page
//   12         8     row count, next autonumber              all
//   35, 39     4+4   usage-map rows (page << 8 | row)        page
//   43         8/ix  per physical index: counts              all
//   col + 7    2     01 00 or 00 00, as the file's catalog   all (files differ)
//   col + 14   2     fixed offset of a variable column       all (Access leaves garbage)
//   ix + 3k+2  1     order of an unused index column slot    all (garbage)
//   ix + 30    8     index usage map row, first page         all
//   tail       10/c  long-value column: number, 2 map rows   the map rows
std::string MaskedDefinition(jet::Database& db, const std::string& table) {
  auto def = db.GetTable(table);
  EXPECT_TRUE(def.ok()) << table;
  if (!def.ok()) return "";
  std::string b;
  for (uint32_t n : (*def)->tdef_pages) {
    auto page = db.pager().Read(n).value();
    b.append(reinterpret_cast<const char*>(page->bytes.data()) + (b.empty() ? 0 : 8),
             page->bytes.size() - (b.empty() ? 0 : 8));
  }
  if (b.size() < 43) return b;
  b.resize(std::min<size_t>(b.size(), jet::Le32(reinterpret_cast<const uint8_t*>(&b[8]))));
  auto u8 = [&](size_t at) { return uint8_t(b[at]); };
  auto u16 = [&](size_t at) { return uint16_t(u8(at) | u8(at + 1) << 8); };
  auto mask = [&](size_t at, size_t n) { b.replace(at, n, n, char(kMasked)); };
  const size_t columns = u16(25), logical = u16(27), physical = u16(31);
  mask(4, 4);
  mask(12, 8);
  mask(36, 3);
  mask(40, 3);
  size_t at = 43;
  mask(at, 8 * physical);
  at += 8 * physical;
  for (size_t i = 0; i < columns; ++i, at += 18) {
    mask(at + 7, 2);
    if (!(u8(at + 13) & 0x01)) mask(at + 14, 2);
  }
  for (size_t i = 0; i < columns; ++i) at += 1 + u8(at);
  for (size_t i = 0; i < physical; ++i, at += 39) {
    for (size_t k = 0; k < 10; ++k) {
      if (u16(at + 3 * k) == 0xFFFF) mask(at + 3 * k + 2, 1);
    }
    mask(at + 30, 8);
  }
  at += 20 * logical;
  for (size_t i = 0; i < logical; ++i) at += 1 + u8(at);
  for (; at + 2 <= b.size() && u16(at) != 0xFFFF; at += 10) mask(at + 2, 8);
  EXPECT_EQ(at + 2, b.size()) << table << ": the definition does not end where it says";
  return b;
}

// Creates `table` of the Access 97 fixture `source` in a new Access 97
// database at `path`, from its `schema --json`.
void CreateFromSchema(const std::string& source, const std::string& table,
                      const std::string& path) {
  ASSERT_TRUE(jet::CreateDatabase(path, jet::JetVersion::kJet3).ok());
  auto old_db = jet::Database::Open(testutil::Fixture(source)).value();
  auto design = jet::TableSpecFromJson(jet::SchemaToJson(*old_db->GetTable(table).value(), *old_db),
                                       jet::JetVersion::kJet3);
  ASSERT_TRUE(design.ok()) << design.status().message();
  jet::Status s = jet::CreateTable(*jet::Database::Open(path, {.writable = true}).value(), *design);
  ASSERT_TRUE(s.ok()) << s.ToString();
}

// ... and compares the two definitions.
void ExpectSameDefinition(const std::string& source, const std::string& table) {
  SCOPED_TRACE(source + " table " + table);
  testutil::TempDir dir;
  CreateFromSchema(source, table, dir.File("new.mdb"));
  EXPECT_EQ(
      testutil::Hex(MaskedDefinition(*jet::Database::Open(dir.File("new.mdb")).value(), table)),
      testutil::Hex(
          MaskedDefinition(*jet::Database::Open(testutil::Fixture(source)).value(), table)));
}

// Every type Access 97 has (Text, Byte, Integer, Long, Double, DateTime,
// Currency, Boolean; Replication ID; Memo and OLE with their page maps),
// primary keys and plain indexes, a definition over two pages, descending
// and multi-column keys.
TEST(CreateJet3Test, DefinitionsMatchWhatAccess97Made) {
  for (const char* table : {"Table1", "Table2", "Table3", "Table4"}) {
    ExpectSameDefinition("access/testV1997.mdb", table);
  }
  ExpectSameDefinition("access/test2V1997.mdb", "MSP_PROJECTS");
  ExpectSameDefinition("access/compIndexTestV1997.mdb", "Table1");
  ExpectSameDefinition("access/testIndexCodesV1997.mdb", "Table12_asc_desc");
}

// The catalog row and the access control entries of a new table are those
// Access 97 gave the table "Table" of the database the empty one was made
// from: owned by the database's owner, and the Tables folder's entries but
// the Users group's, with the folder's masks. (Its definition goes on the
// same page, 29, so the rows are equal, dates and properties aside.)
TEST(CreateJet3Test, CatalogRowAndAccessEntriesAreAccess97s) {
  testutil::TempDir dir;
  const std::string path = dir.File("new.mdb");
  CreateFromSchema("access/delTestV1997.mdb", "Table", path);
  auto entries = [](const std::string& file) {
    std::vector<std::string> out;
    for (auto& row : testutil::Texts(testutil::ReadRows(file, "MSysObjects"))) {
      if (row["Name"] == "Table") {
        out.push_back(row["Id"] + " " + row["ParentId"] + " " + row["Type"] + " " + row["Owner"] +
                      " " + row["Flags"]);
      }
    }
    for (auto& row : testutil::Texts(testutil::ReadRows(file, "MSysACEs"))) {
      if (row["ObjectId"] == "29")
        out.push_back(row["SID"] + " " + row["ACM"] + " " + row["FInheritable"]);
    }
    return out;
  };
  const std::vector<std::string> made = entries(path);
  EXPECT_EQ(made.size(), 4u);
  EXPECT_EQ(made, entries(testutil::Fixture("access/delTestV1997.mdb")));
}

TEST(CreateJet3Test, WhatAccess97CannotHoldIsRefusedBeforeWriting) {
  testutil::TempDir dir;
  const std::string path = dir.File("old.mdb");
  ASSERT_TRUE(jet::CreateDatabase(path, jet::JetVersion::kJet3).ok());
  const std::string before = testutil::ReadFile(path);
  auto db = jet::Database::Open(path, {.writable = true}).value();
  auto refused = [&](jet::ColumnSpec column, const std::string& table, const std::string& why) {
    jet::TableSpec t{table, {column}, {}};
    jet::Status s = jet::CreateTable(*db, t);
    EXPECT_FALSE(s.ok()) << table;
    EXPECT_NE(s.message().find(why), std::string::npos) << s.message();
  };
  refused({.name = "Amount", .type = jet::ColumnType::kNumeric}, "T", "no Decimal type");
  refused({.name = "Code", .type = jet::ColumnType::kText, .length = 256}, "T",
          "1 to 255 characters");
  refused({.name = "\xCE\xA9", .type = jet::ColumnType::kLong}, "T", "code page 1252");
  refused({.name = "A", .type = jet::ColumnType::kLong}, "T\xE2\x82\xAC\xCE\xA9", "code page 1252");
  db.reset();
  EXPECT_EQ(testutil::ReadFile(path), before);

  // A name with Windows-1252 letters is kept in the code page and reads back.
  db = jet::Database::Open(path, {.writable = true}).value();
  jet::TableSpec t{"Größe\xE2\x82\xAC", {{.name = "Maß", .type = jet::ColumnType::kText}}, {}};
  ASSERT_TRUE(jet::CreateTable(*db, t).ok());
  auto def = db->GetTable("Größe\xE2\x82\xAC").value();
  EXPECT_EQ(def->columns[0].name, "Maß");
  EXPECT_EQ(def->columns[0].length, 255);
}

}  // namespace
