// SPDX-License-Identifier: Apache-2.0
// Writing rows. Seeded random inserts, updates that grow and shrink rows, and
// deletes on copies of tables of every shape: big and composite indexes,
// ignore-nulls indexes, relationships, fixed-length text, deleted columns,
// Access 97 rows with jump tables, and the host's Shipments with 2,000 rows
// under three indexes. After every batch the whole database must pass the
// checker and hold exactly the rows expected. Rows that fill pages and move
// when they grow, read by mdbtools; moved rows deleted and moved again,
// leaving nothing behind; key refusals that must leave the file untouched;
// fixed-length text.

#include "jet/table/table_writer.h"

#include "jet/format/data_page.h"
#include "jet/storage/bytes.h"
#include "jet/storage/text.h"
#include "jet/table/create.h"
#include "values.h"

namespace {

using jet::ColumnType;
using jet::Value;
using testutil::NullValue;
using testutil::OpenWritable;
using testutil::TextValue;

using Case = testutil::FixtureTable;

using Rows = std::map<std::pair<uint32_t, uint16_t>, std::vector<std::string>>;

// Every row of the table, by where it is, as text.
Rows ReadRows(jet::Database& db, const std::string& table) {
  std::vector<jet::RowId> ids;
  std::vector<std::vector<Value>> values;
  testutil::ScanTable(db, table, &ids, &values);
  Rows rows;
  for (size_t r = 0; r < ids.size(); ++r) {
    for (const Value& v : values[r]) rows[{ids[r].page, ids[r].row}].push_back(testutil::Text(v));
  }
  return rows;
}

class MixedOperationsTest : public ::testing::TestWithParam<Case> {};

TEST_P(MixedOperationsTest, RandomChangesKeepTheDatabaseConsistent) {
  const Case& c = GetParam();
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, c.file, "db.mdb");
  std::mt19937 rng(0xACCE55u ^ uint32_t(std::hash<std::string>()(std::string(c.file) + c.table)));
  size_t applied = 0;
  Rows expected = ReadRows(*jet::Database::Open(path).value(), c.table);
  for (int batch = 0; batch < 3; ++batch) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    {
      testutil::OpenTable w(path, c.table);
      ASSERT_TRUE(w.w);
      const jet::TableDef t = w->table();  // a copy: the writer refreshes its own
      const bool jet3 = w.db->format().version == jet::JetVersion::kJet3;
      for (int op = 0; op < 120; ++op) {
        const int kind = int(rng() % 10);
        std::vector<Value> row = testutil::RandomRow(t, jet3, rng);
        jet::Status s;
        std::pair<uint32_t, uint16_t> target{0, 0};
        const bool inserting = kind < 5 || expected.empty();
        const bool deleting = !inserting && kind >= 8;
        if (inserting) {
          auto at = w->Insert(row);
          s = at.status();
          if (s.ok()) target = {at->page, at->row};
        } else {
          target = std::next(expected.begin(), long(rng() % expected.size()))->first;
          const jet::RowId id{target.first, target.second};
          if (deleting) {
            s = w->Delete(id);
            // A deleted row is gone for good.
            if (s.ok()) {
              EXPECT_EQ(w->Delete(id).kind(), jet::ErrorKind::kNotFound);
            }
          } else {
            // Keep autonumbers as they are; everything else changes.
            std::vector<Value> old;
            ASSERT_TRUE(w->Read(id, &old).ok());
            for (size_t i = 0; i < t.columns.size(); ++i) {
              if (t.columns[i].autonumber()) row[i] = old[i];
            }
            s = w->Update(id, row);
          }
        }
        if (!s.ok()) {
          // Unique keys, relationships, text whose key Access versions
          // build differently and the like may refuse a random change
          // (that a refusal writes nothing, TableWriterRefusalTest shows).
          ASSERT_TRUE(s.kind() == jet::ErrorKind::kConstraint ||
                      s.kind() == jet::ErrorKind::kInvalidArgument ||
                      s.kind() == jet::ErrorKind::kUnsupported)
              << s.ToString();
          continue;
        }
        ++applied;
        if (deleting) {
          expected.erase(target);
          continue;
        }
        // Inserted or updated: the stored row is the row we wrote, but for
        // the autonumbers.
        auto rows = ReadRows(*w.db, c.table);
        ASSERT_TRUE(rows.count(target));
        expected[target] = rows[target];
        for (size_t i = 0; i < t.columns.size(); ++i) {
          if (t.columns[i].autonumber()) continue;
          std::string want = testutil::Text(row[i]);
          if (!row[i].null && t.columns[i].type == ColumnType::kText && t.columns[i].fixed()) {
            // Fixed-length text comes back padded with spaces.
            const size_t chars = jet3 ? t.columns[i].length : t.columns[i].length / 2;
            std::u16string units;
            jet::Utf8ToUtf16(want, &units);
            want.append(chars - units.size(), ' ');
          }
          EXPECT_EQ(expected[target][i], want) << t.columns[i].name;
        }
      }
    }
    testutil::ExpectConsistent(path);
    ASSERT_EQ(ReadRows(*jet::Database::Open(path).value(), c.table), expected);
    // mdbtools reads moved rows' copies where they lie, not through their
    // pointers: a copy left behind would be a row more.
    testutil::ExpectMdbExportRows(path, c.table, expected.size());
  }
  EXPECT_GT(applied, 0u);  // indexTest's foreign keys refuse most random rows
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MixedOperationsTest,
                         ::testing::Values(Case{"access/bigIndexTestV2000.mdb", "Table1"},
                                           Case{"access/bigIndexTestV2003.mdb", "Table1"},
                                           Case{"access/compIndexTestV2003.mdb", "Table1"},
                                           Case{"access/compIndexTestV1997.mdb", "Table1"},
                                           Case{"access/testIndexPropertiesV2000.mdb",
                                                "TableIgnoreNulls1"},
                                           Case{"access/indexTestV2003.mdb", "Table1"},
                                           Case{"access/delColTestV2000.mdb", "Table1"},
                                           Case{"access/fixedTextTestV2003.mdb", "users"},
                                           Case{"access/test2V1997.mdb", "MSP_PROJECTS"},
                                           Case{"access/testV1997.mdb", "Table1"},
                                           Case{"access/indexTestV2010.accdb", "Table1"},
                                           Case{"access/testV2007.accdb", "Table1"},
                                           Case{"access/testV2010.accdb", "Table1"},
                                           Case{"hosts/tallowin-v2000.mdb", "Shipments"},
                                           Case{"hosts/tallowin-v2003.mdb", "Shipments"}),
                         testutil::FixtureTableName);

// Memo and OLE values in tables Access made, kept as they are, replaced
// (long, then short enough to go inline, then long again) and deleted with
// their rows, which then come back in one step: each change gives back the
// room of what it replaces, so after the first round the file no longer
// grows.
class LongValueRoomTest : public ::testing::TestWithParam<Case> {};

TEST_P(LongValueRoomTest, ReplacedAndDeletedLongValuesGiveTheirRoomBack) {
  const Case& c = GetParam();
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, c.file, "db.mdb");
  std::vector<jet::RowId> ids;
  std::vector<std::vector<Value>> rows;
  testutil::ScanTable(*jet::Database::Open(path).value(), c.table, &ids, &rows);
  // First, rows rewritten as they are: their long values keep the form
  // Access gave them, compressed or on a page of their own though short
  // (the checker reads every one, and finds any left behind).
  ASSERT_TRUE(testutil::OpenTable(path, c.table)->UpdateMany(ids, rows).ok());
  testutil::ExpectConsistent(path);
  uint64_t first_round = 0;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    testutil::OpenTable w(path, c.table);
    ASSERT_TRUE(w.w);
    for (size_t r = 0; r < rows.size(); ++r) {
      for (size_t i = 0; i < rows[r].size(); ++i) {
        const ColumnType type = w->table().columns[i].type;
        if (type != ColumnType::kMemo && type != ColumnType::kOle) continue;
        rows[r][i] = NullValue(type, false);
        const size_t length = round == 1 ? 20 : 3000 + 1000 * r;
        for (size_t k = 0; k < length; ++k) rows[r][i].bytes += char('a' + (k * 7 + round + i) % 26);
      }
    }
    if (round == 2) {
      ASSERT_TRUE(w->DeleteMany(ids).ok());
      ASSERT_TRUE(w->InsertBatch(rows, &ids).ok());
    } else {
      jet::Status s = w->UpdateMany(ids, rows);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    const uint64_t size = testutil::ReadFile(path).size();
    if (round == 0) first_round = size;
    EXPECT_LE(size, first_round);
  }
  testutil::ExpectConsistent(path);
  testutil::ExpectMdbExportRows(path, c.table, rows.size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LongValueRoomTest,
                         ::testing::Values(Case{"access/test2V1997.mdb", "MSP_PROJECTS"},
                                           Case{"access/testV2000.mdb", "Table1"},
                                           Case{"access/testV1997.mdb", "Table1"},
                                           Case{"hosts/tallowin-v2003.mdb", "Master"}),
                         testutil::FixtureTableName);

// Rows of the host's Shipments (2,000 rows under three indexes) that come
// and go at random, a fifth at a time, each time in one step: index leaves
// left sparse are merged, and every page the deletes free is taken again,
// so after the first round the file hardly grows.
TEST(SpaceReuseTest, RowsThatComeAndGoAtRandomStopTheFileGrowing) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "hosts/tallowin-v2000.mdb", "db.mdb");
  std::mt19937 rng(21);
  uint64_t first_round = 0;
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    testutil::OpenTable w(path, "Shipments");
    ASSERT_TRUE(w.w);
    std::vector<jet::RowId> all, ids;
    std::vector<std::vector<Value>> rows, in;
    testutil::ScanTable(*w.db, "Shipments", &all, &rows);
    for (size_t r = 0; r < all.size(); ++r) {
      if (rng() % 5 != 0) continue;
      ids.push_back(all[r]);
      in.push_back(rows[r]);
      in.back()[0] = NullValue(ColumnType::kLong);
      in.back()[1] = TextValue("R" + std::to_string(rng()));
    }
    ASSERT_TRUE(w->DeleteMany(ids).ok());
    ASSERT_TRUE(w->InsertBatch(in).ok());
    const uint64_t size = testutil::ReadFile(path).size();
    if (round == 0) first_round = size;
    // A few pages more while the indexes' leaves settle; without merging
    // them they grow by ten pages in these rounds, and on without end.
    EXPECT_LE(size, first_round + 4 * 4096);
  }
  testutil::ExpectConsistent(path);
  testutil::ExpectMdbExportRows(path, "Shipments", 2000);
}

// Rows that have moved (Access moved "row3col3" and "row5col2" in the 2000
// and 2003 files; the engine moves them in the 97 one) are deleted, moved
// again, and updated where their copy is. A deleted or moved-again row must
// take its copy with it: mdbtools reads every copy as a row (that the room
// is then used again, SpaceReuseTest and the growth benchmark show). The
// checker must see a copy left behind.
class MovedRowsTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MovedRowsTest, DeletedAndMovedAgainRowsLeaveNoCopy) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/" + GetParam(), "db.mdb");
  auto fill = [](char c) { return TextValue(std::string(50, c)); };
  auto grow = [&](const char* key, std::map<std::string, Value> values) {
    ASSERT_TRUE(testutil::SetColumns(path, "Table1", "data3", key, values).ok());
  };
  // "row3col3" moves (again, in 2000/2003), moves again, and is deleted.
  grow("row3col3", {{"data10", fill('a')}});
  grow("row3col3", {{"data8", fill('b')}, {"data7", fill('c')}});
  ASSERT_TRUE(testutil::DeleteRows(path, "Table1", "data3", "row3col3").ok());
  grow("row5col2", {{"data10", fill('d')}, {"data9", fill('e')}});
  grow("row5col2", {{"data10", TextValue("shorter")}});  // fits where its copy is
  grow("row6col2", {{"data10", fill('f')}, {"data9", fill('g')}});
  ASSERT_TRUE(testutil::DeleteRows(path, "Table1", "data3", "row6col2").ok());
  // mdbtools reads the rows the engine reads (it reads a moved row where
  // its copy is): no copy is left to show.
  EXPECT_EQ(testutil::ReadRows(path, "Table1").size(), 5u);
  testutil::ExpectMdbExportAgrees(path, "Table1");

  testutil::Jetdb(0, {"check", path});

  // Delete "row5col2" as the engine used to: the pointer slot flagged
  // deleted, the row count lowered, the copy left live.
  jet::RowId moved;
  uint32_t slot_at = 0, count_at = 0;
  {
    auto db = jet::Database::Open(path);
    const jet::Format& f = (*db)->format();
    jet::TableScanner scan(**db, *(*db)->GetTable("Table1"));
    std::vector<Value> row;
    while (*scan.Next(&row, &moved) && testutil::Text(row[1]) != "row5col2") {
    }
    slot_at = moved.page * f.page_size + f.data_first_row_slot + 2 * moved.row;
    count_at = (*(*db)->GetTable("Table1"))->tdef_page * f.page_size + f.tdef_row_count;
  }
  std::string bytes = testutil::ReadFile(path);
  auto* b = reinterpret_cast<uint8_t*>(bytes.data());
  ASSERT_EQ(jet::Le16(b + slot_at) & 0xC000, jet::kRowOverflowFlag);
  jet::PutLe16(b + slot_at, uint16_t(jet::Le16(b + slot_at) | 0xC000));
  jet::PutLe32(b + count_at, jet::Le32(b + count_at) - 1);
  testutil::WriteFile(path, bytes);
  auto db = jet::Database::Open(path);
  auto report = jet::CheckDatabase(**db);
  ASSERT_EQ(report->problems.size(), 1u);
  EXPECT_NE(report->problems[0].find("orphaned"), std::string::npos) << report->problems[0];
}

INSTANTIATE_TEST_SUITE_P(AllVersions, MovedRowsTest,
                         ::testing::Values("overflowTestV1997.mdb", "overflowTestV2000.mdb",
                                           "overflowTestV2003.mdb"));

// A key taken in another letter case, no key at all, or an update onto a
// unique key taken is refused and leaves the file byte for byte as it was.
TEST(TableWriterRefusalTest, RefusalsLeaveTheFileByteForByteUnchanged) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "hosts/tallowin-v2003.mdb");
  const std::string original = testutil::ReadFile(path);
  {
    testutil::OpenTable master(path, "Master");
    ASSERT_TRUE(master.w);
    std::vector<Value> row;
    for (const auto& c : master->table().columns) row.push_back(NullValue(c.type));
    // Jet compares text without regard to case, so this is the same key.
    row[0] = TextValue("usps-pri");
    jet::Status s = master->Insert(row).status();
    EXPECT_EQ(s.kind(), jet::ErrorKind::kConstraint) << s.ToString();
    EXPECT_NE(s.message().find("PrimaryKey"), std::string::npos) << s.message();
    row[0] = NullValue(ColumnType::kText);
    EXPECT_EQ(master->Insert(row).status().kind(), jet::ErrorKind::kConstraint);
    // An update that would duplicate another row's unique tracking number.
    auto ships = jet::TableWriter::Open(*master.db, "Shipments");
    ASSERT_TRUE(ships.ok());
    jet::TableScanner scan(*master.db, *master.db->GetTable("Shipments"));
    std::vector<Value> first, second;
    jet::RowId id;
    ASSERT_TRUE(*scan.Next(&first) && *scan.Next(&second, &id));
    second[1] = first[1];
    EXPECT_EQ((*ships)->Update(id, second).kind(), jet::ErrorKind::kConstraint);
  }
  EXPECT_EQ(testutil::ReadFile(path), original);
}

// Fixed-length text in a column flagged for compression keeps every
// character, is padded to the column's length in characters, and reads the
// same in mdbtools.
TEST(TableWriterFixedTextTest, FixedTextKeepsItsCharacters) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  jet::TableSpec design{"Codes", {}, {}};
  for (auto [name, chars] : {std::pair{"CUR", 3}, std::pair{"FLAG", 1}}) {
    design.columns.push_back(
        {.name = name, .type = ColumnType::kText, .length = uint16_t(chars * 2), .fixed = true});
  }
  {
    testutil::OpenTable w = testutil::NewTable(path, design);
    ASSERT_TRUE(w->Insert({TextValue("USD"), TextValue("N")}).ok());
    ASSERT_TRUE(w->Insert({TextValue("CA"), TextValue("")}).ok());
  }
  std::vector<std::string> got;
  for (const auto& r : testutil::ReadRows(path, "Codes")) {
    got.push_back(r.at("CUR").bytes + "|" + r.at("FLAG").bytes);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"USD|N", "CA | "}));
  if (testutil::HaveProgram("mdb-export")) {
    auto r = testutil::RunProcess({"mdb-export", path, "Codes"});
    EXPECT_EQ(r.out, "CUR,FLAG\n\"USD\",\"N\"\n\"CA \",\" \"\n");
  }
}

}  // namespace
