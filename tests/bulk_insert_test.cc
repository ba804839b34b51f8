// SPDX-License-Identifier: Apache-2.0
// Bulk insertion: many rows in one step, their index entries gathered,
// sorted and written once. The indexes it writes must hold exactly the
// entries that row-by-row insertion makes, with leaves filled as
// key-ordered insertion fills them, whether an index is built anew or
// added to; and a refused step must leave the file byte for byte as it was.

#include <algorithm>
#include <cstdio>

#include "jet/index/index_page.h"
#include "jet/storage/journal.h"
#include "jet/table/create.h"
#include "values.h"

namespace {

using jet::Value;
using testutil::OpenWritable;

// The table's rows as text, in no particular order.
std::multiset<std::string> RowTexts(jet::Database& db, const std::string& table) {
  std::multiset<std::string> rows;
  jet::TableScanner scan(db, *db.GetTable(table));
  std::vector<Value> row;
  while (*scan.Next(&row)) {
    std::string line;
    for (const Value& v : row) line += testutil::Text(v) + '\x1f';
    rows.insert(line);
  }
  return rows;
}

// Each leaf as the checker would see it: its keys, prefix and free space.
struct Leaf {
  std::vector<std::string> keys;
  uint16_t prefix = 0, free = 0;
  bool operator==(const Leaf&) const = default;
};

std::vector<Leaf> Leaves(jet::Database& db, const jet::PhysicalIndex& ix, int* levels) {
  std::vector<Leaf> leaves;
  uint32_t page = ix.root_page;
  *levels = 1;
  for (auto p = jet::ReadIndexPage(db.pager(), page); p.ok() && !p->leaf;
       p = jet::ReadIndexPage(db.pager(), page)) {
    page = p->entries.empty() ? p->tail : p->entries[0].child;
    ++*levels;
  }
  while (page != 0) {
    auto p = jet::ReadIndexPage(db.pager(), page);
    EXPECT_TRUE(p.ok()) << p.status().ToString();
    if (!p.ok()) break;
    Leaf& leaf = leaves.emplace_back();
    for (const auto& e : p->entries)
      leaf.keys.push_back(testutil::Hex({e.key.begin(), e.key.end()}));
    leaf.prefix = p->prefix_length;
    leaf.free = p->free_space;
    page = p->next;
  }
  return leaves;
}

// Every index's keys in index order (row pointers left out: where a row
// lands may differ), as hex.
std::vector<std::vector<std::string>> IndexKeys(jet::Database& db, const std::string& table) {
  std::vector<std::vector<std::string>> out;
  int levels = 0;
  for (const jet::PhysicalIndex& ix : (*db.GetTable(table))->physical_indexes) {
    auto& keys = out.emplace_back();
    for (Leaf& leaf : Leaves(db, ix, &levels))
      keys.insert(keys.end(), leaf.keys.begin(), leaf.keys.end());
  }
  return out;
}

using Case = testutil::FixtureTable;

class BulkInsertTest : public ::testing::TestWithParam<Case> {};

// Each step's rows go into one copy row by row and into the other in bulk;
// the copies must then hold the same rows and the same index entries. The
// steps are sized so that indexes are built anew (into few rows), added to
// in key order (a small step into many rows) and rebuilt with the old
// entries merged in, the last through sorted runs in a file.
TEST_P(BulkInsertTest, WritesTheEntriesRowByRowInsertionWritesAndRefusesWholeSteps) {
  const Case& c = GetParam();
  testutil::TempDir dir;
  const std::string by_row = testutil::CopyOf(dir, c.file, "by_row.mdb");
  const std::string bulk = testutil::CopyOf(dir, c.file, "bulk.mdb");
  std::mt19937 rng(0xB01Cu ^ uint32_t(std::hash<std::string>()(std::string(c.file) + c.table)));
  // Up to `n` random rows that the copy at `path` accepts, inserted there
  // one by one; a random row may break a key.
  auto accepted_rows = [&](const std::string& path, size_t n) {
    std::vector<std::vector<Value>> accepted;
    testutil::OpenTable w(path, c.table);
    const jet::TableDef t = w->table();
    const bool jet3 = w.db->format().version == jet::JetVersion::kJet3;
    for (size_t tries = 0; accepted.size() < n && tries < n * 4; ++tries) {
      std::vector<Value> row = testutil::RandomRow(t, jet3, rng);
      for (size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i].guid_autonumber()) {  // given, so that both copies get the same
          row[i].null = false;
          row[i].bytes.assign(16, '\0');
          for (char& b : row[i].bytes) b = char(rng());
        }
      }
      if (w->Insert(row).ok()) accepted.push_back(row);
    }
    return accepted;
  };
  auto add_bulk = [&](jet::TableWriter& w, const std::vector<std::vector<Value>>& rows,
                      size_t run_bytes) {
    ASSERT_TRUE(w.BeginBulk(run_bytes).ok());
    for (const auto& row : rows) {
      jet::Status s = w.AddBulk(row);
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
  };
  std::vector<Value> last_accepted;
  for (size_t step_rows : {300u, 30u, 1500u}) {
    SCOPED_TRACE("step of " + std::to_string(step_rows));
    const std::vector<std::vector<Value>> accepted = accepted_rows(by_row, step_rows);
    ASSERT_GT(accepted.size(), step_rows / 2);
    {
      testutil::OpenTable w(bulk, c.table);
      // The last step's entries, old ones included, go through many sorted
      // runs in a file.
      add_bulk(*w.w, accepted, step_rows == 1500 ? 4096 : 0);
      jet::Status s = w->CommitBulk();
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    auto a = jet::Database::Open(by_row);
    auto b = jet::Database::Open(bulk);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(RowTexts(**a, c.table), RowTexts(**b, c.table));
    EXPECT_EQ(IndexKeys(**a, c.table), IndexKeys(**b, c.table));
    testutil::ExpectConsistent(bulk);
    EXPECT_FALSE(testutil::Exists(bulk + "-sort"));
    last_accepted = accepted.back();
  }

  // A step whose last row repeats a unique key: nothing of it may reach the
  // file. Its other rows are ones a copy accepts.
  const std::string probe = dir.File("probe.mdb");
  testutil::CopyFile(bulk, probe);
  std::vector<std::vector<Value>> step = accepted_rows(probe, 200);
  testutil::OpenTable w(bulk, c.table);
  const jet::TableDef& t = w->table();
  if (std::none_of(t.physical_indexes.begin(), t.physical_indexes.end(),
                   [](const jet::PhysicalIndex& ix) { return ix.unique(); })) {
    return;
  }
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (t.columns[i].autonumber() && last_accepted[i].null) {
      last_accepted[i] = testutil::LongValue(t.last_autonumber);  // as the row got it
    }
  }
  step.push_back(last_accepted);
  const std::string before = testutil::ReadFile(bulk);
  add_bulk(*w.w, step, 4096);
  const jet::Status s = w->CommitBulk();
  EXPECT_EQ(s.message().rfind("Row " + std::to_string(step.size()) +
                                  ": The change would create a duplicate value in the unique "
                                  "index",
                              0),
            0u)
      << s.ToString();
  EXPECT_EQ(testutil::ReadFile(bulk), before);
  EXPECT_FALSE(testutil::Exists(jet::JournalPath(bulk)));
  EXPECT_FALSE(testutil::Exists(bulk + "-sort"));

  // A writer that goes with its step open (its pages spilled) leaves
  // nothing of it either.
  {
    auto other = jet::TableWriter::Open(*w.db, c.table);
    ASSERT_TRUE((*other)->BeginBulk().ok());
    w.db->pager().SetSpillThreshold(4);
    for (size_t i = 0; i + 1 < step.size(); ++i) ASSERT_TRUE((*other)->AddBulk(step[i]).ok());
    ASSERT_NE(testutil::ReadFile(bulk), before);
  }
  EXPECT_FALSE(w.db->pager().HasChanges());
  EXPECT_EQ(testutil::ReadFile(bulk), before);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, BulkInsertTest,
                         ::testing::Values(Case{"access/bigIndexTestV2000.mdb", "Table1"},
                                           Case{"access/compIndexTestV1997.mdb", "Table1"},
                                           Case{"access/testIndexPropertiesV2000.mdb",
                                                "TableIgnoreNulls1"},
                                           Case{"access/fixedTextTestV2003.mdb", "users"},
                                           Case{"access/test2V1997.mdb", "MSP_PROJECTS"},
                                           Case{"hosts/tallowin-v2000.mdb", "Shipments"}),
                         testutil::FixtureTableName);

// Rows in key order, row by row and in bulk, into a new table whose keys
// are long enough for three levels: the leaves must be the same, page for
// page, since both fill a leaf before starting the next.
TEST(BulkInsertLeavesTest, LeavesAreFilledAsKeyOrderedInsertionFillsThem) {
  testutil::TempDir dir;
  jet::TableSpec design;
  design.name = "Parcels";
  design.columns = {{.name = "ID", .type = jet::ColumnType::kLong},
                    {.name = "LABEL", .type = jet::ColumnType::kText, .length = 240}};
  design.indexes = {{.name = "PrimaryKey", .columns = {{.name = "ID"}}, .primary = true},
                    {.name = "LABEL", .columns = {{.name = "LABEL"}}, .unique = true}};
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < 3000; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%06d-", i);
    std::string label = number;
    for (int k = 0; k < 100; ++k) label += char('a' + (i * 7 + k * k) % 26);
    rows.push_back({testutil::LongValue(i * 3), testutil::TextValue(label)});
  }
  const std::string by_row = dir.File("by_row.mdb"), bulk = dir.File("bulk.mdb");
  ASSERT_TRUE(testutil::NewTable(by_row, design)->InsertBatch(rows).ok());
  {
    testutil::OpenTable w = testutil::NewTable(bulk, design);
    ASSERT_TRUE(w->BeginBulk().ok());
    for (const auto& row : rows) ASSERT_TRUE(w->AddBulk(row).ok());
    ASSERT_TRUE(w->CommitBulk().ok());
  }
  auto a = jet::Database::Open(by_row);
  auto b = jet::Database::Open(bulk);
  auto ta = (*a)->GetTable("Parcels");
  auto tb = (*b)->GetTable("Parcels");
  for (size_t i = 0; i < (*ta)->physical_indexes.size(); ++i) {
    int levels_a = 0, levels_b = 0;
    const auto leaves = Leaves(**b, (*tb)->physical_indexes[i], &levels_b);
    EXPECT_EQ(Leaves(**a, (*ta)->physical_indexes[i], &levels_a), leaves) << "index " << i;
    EXPECT_GE(leaves.size(), 5u);
    if (i == 1) {
      EXPECT_EQ(levels_b, 3);
    }
  }
  testutil::ExpectConsistent(bulk);
  testutil::ExpectMdbExportRows(bulk, "Parcels", 3000);
}

// Leaves of one repeated key share nearly all of every entry, so a leaf
// holds a thousand of them. A row with another key that lands in such a
// leaf shares none of it: split in halves by bytes, its half would not
// fit without the prefix.
TEST(BulkInsertLeavesTest, AKeyOutsideALeafsSharedPrefixSplitsItWhereBothPartsFit) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  jet::TableSpec design;
  design.name = "Parcels";
  design.columns = {{.name = "ID", .type = jet::ColumnType::kLong, .autonumber = true},
                    {.name = "SERVICE", .type = jet::ColumnType::kText, .length = 40}};
  design.indexes = {{.name = "SERVICE", .columns = {{.name = "SERVICE"}}}};
  {
    testutil::OpenTable w = testutil::NewTable(path, design);
    ASSERT_TRUE(w->BeginBulk().ok());
    const std::vector<Value> row = {testutil::NullValue(jet::ColumnType::kLong),
                                    testutil::TextValue("USPS-PMI")};
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(w->AddBulk(row).ok());
    ASSERT_TRUE(w->CommitBulk().ok());
    int levels = 0;
    auto leaves = Leaves(*w.db, w->table().physical_indexes[0], &levels);
    ASSERT_GE(leaves.size(), 2u);
    ASSERT_GT(leaves[0].keys.size(), 1000u);
    // Before the first leaf's entries, after them, and after the last.
    for (const char* service : {"FEDEX", "ZZ", "USPS-PMI", "A"}) {
      auto at =
          w->Insert({testutil::NullValue(jet::ColumnType::kLong), testutil::TextValue(service)});
      ASSERT_TRUE(at.ok()) << service << ": " << at.status().ToString();
    }
  }
  testutil::ExpectConsistent(path);
}

}  // namespace
