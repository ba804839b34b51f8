// Reading the index B-trees that Access wrote: every physical index of every
// fixture table holds one entry per row, in key order, pointing at live rows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "jet/jet.h"
#include "test_util.h"

namespace {

struct IndexFacts {
  size_t indexes = 0;
  size_t entries = 0;
  size_t multi_level = 0;  // indexes whose root is an intermediate page
};

// Checks every physical index of `table`; returns what it saw.
void CheckTableIndexes(jet::Database& db, const std::string& table_name, IndexFacts* facts) {
  SCOPED_TRACE(db.path() + " / " + table_name);
  auto table = db.GetTable(table_name);
  ASSERT_TRUE(table.ok()) << table.status().ToString();

  // Every live row, by its home location, with whether each index would
  // leave it out (ignore-nulls and all key columns null).
  std::vector<std::pair<uint32_t, uint16_t>> rows;
  std::vector<std::vector<jet::Value>> values;
  jet::TableScanner scan(db, *table);
  std::vector<jet::Value> row;
  jet::RowId id;
  while (true) {
    auto more = scan.Next(&row, &id);
    ASSERT_TRUE(more.ok()) << more.status().ToString();
    if (!*more) break;
    rows.emplace_back(id.page, id.row);
    values.push_back(row);
  }

  for (const jet::PhysicalIndex& ix : (*table)->physical_indexes) {
    SCOPED_TRACE("physical index " + std::to_string(ix.number));
    size_t expected = 0;
    for (const auto& r : values) {
      bool all_null = true;
      for (const jet::IndexColumn& ic : ix.columns) {
        const jet::ColumnDef* col = (*table)->FindColumnByNumber(ic.column_number);
        size_t pos = size_t(col - (*table)->columns.data());
        if (!r[pos].null) all_null = false;
      }
      if (!(ix.ignore_nulls() && all_null)) ++expected;
    }

    jet::IndexLeafWalker walker(db.pager(), ix);
    jet::IndexEntry entry;
    std::vector<uint8_t> previous;
    size_t count = 0;
    std::set<std::pair<uint32_t, uint16_t>> pointed;
    while (true) {
      auto more = walker.Next(&entry);
      ASSERT_TRUE(more.ok()) << more.status().ToString();
      if (!*more) break;
      ++count;
      EXPECT_TRUE(count == 1 || previous <= entry.key) << "entry " << count << " out of order";
      previous = entry.key;
      EXPECT_TRUE(pointed.insert({entry.row.page, entry.row.row}).second)
          << "two entries point at page " << entry.row.page << " row " << int(entry.row.row);
    }
    EXPECT_EQ(count, expected);
    for (const auto& p : pointed) {
      EXPECT_TRUE(std::find(rows.begin(), rows.end(), p) != rows.end())
          << "entry points at page " << p.first << " row " << p.second << ", not a live row";
    }
    auto root = jet::ReadIndexPage(db.pager(), ix.root_page);
    ASSERT_TRUE(root.ok()) << root.status().ToString();
    if (!root->leaf) ++facts->multi_level;
    ++facts->indexes;
    facts->entries += count;
  }
}

IndexFacts CheckFolder(const std::string& folder) {
  IndexFacts facts;
  for (const std::string& path : testutil::FixtureFiles(folder)) {
    auto db = jet::Database::Open(path);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) continue;
    auto tables = (*db)->ListTables();
    EXPECT_TRUE(tables.ok());
    for (const auto& t : *tables) CheckTableIndexes(**db, t.name, &facts);
  }
  return facts;
}

}  // namespace

TEST(IndexReadTest, AccessMadeIndexesHoldOneOrderedEntryPerRow) {
  IndexFacts facts = CheckFolder("access");
  std::printf("access fixtures: %zu indexes, %zu entries, %zu with intermediate pages\n",
              facts.indexes, facts.entries, facts.multi_level);
  // Pinned so that a reader that silently skips pages or entries fails.
  EXPECT_EQ(facts.indexes, 180u);
  EXPECT_EQ(facts.entries, 4982u);
  EXPECT_EQ(facts.multi_level, 11u);
}

TEST(IndexReadTest, HostIndexesSpanSeveralPages) {
  IndexFacts facts = CheckFolder("hosts");
  EXPECT_GE(facts.multi_level, 2u);  // Shipments' 2,000 rows need more than one leaf
}

TEST(IndexReadTest, LeafPagesLinkBothWays) {
  auto db = jet::Database::Open(testutil::Fixture("hosts/tallowin-v2000.mdb"));
  ASSERT_TRUE(db.ok());
  auto table = (*db)->GetTable("Shipments");
  ASSERT_TRUE(table.ok());
  for (const jet::PhysicalIndex& ix : (*table)->physical_indexes) {
    auto page = jet::ReadIndexPage((*db)->pager(), ix.root_page);
    ASSERT_TRUE(page.ok());
    while (!page->leaf) page = jet::ReadIndexPage((*db)->pager(), page->entries.front().child);
    EXPECT_EQ(page->prev, 0u);
    uint32_t prev = page->number;
    size_t leaves = 1;
    while (page->next != 0) {
      page = jet::ReadIndexPage((*db)->pager(), page->next);
      ASSERT_TRUE(page.ok());
      EXPECT_TRUE(page->leaf);
      EXPECT_EQ(page->prev, prev);
      EXPECT_EQ(page->owner, (*table)->tdef_page);
      prev = page->number;
      ++leaves;
    }
    EXPECT_GT(leaves, 1u);
  }
}
