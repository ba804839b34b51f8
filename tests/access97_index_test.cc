// SPDX-License-Identifier: Apache-2.0
// Access 97 indexes grown past one page: the pages the writer makes must be
// laid out as Access 97 lays out its own (the shared prefix, which may run
// into the row pointers; the byte that marks intermediate pages; full leaves
// behind entries that arrive in key order; the free-space figure), read back
// by the engine after a fresh open, changed again, and read by mdbtools; a
// third level. Also:
// the column flag that Access 97 sets on columns of other types than GUID
// does not make them GUID autonumbers.

#include <algorithm>
#include <cstdio>

#include "jet/index/index_page.h"
#include "values.h"

namespace {

using jet::ColumnType;
using jet::Value;
using testutil::NullValue;
using testutil::TextValue;

std::string Key(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "k%05d", i);
  return buf;
}

std::vector<Value> Row(const std::string& a, const std::string& b) {
  std::vector<Value> row(9, NullValue(ColumnType::kText));
  for (size_t i = 2; i < row.size(); ++i) row[i] = NullValue(ColumnType::kLong);
  row[0] = TextValue(a);
  row[1] = TextValue(b);
  return row;
}

struct TreeFacts {
  int levels = 0, leaves = 0, prefix_into_pointer = 0;
};

// Checks every page of one index against Access 97's layout, level by level
// from the root, and returns what it saw. With `appended`, entries arrived
// in key order: every leaf but the last is full.
TreeFacts CheckTree(jet::Database& db, const jet::PhysicalIndex& ix, bool appended) {
  TreeFacts facts;
  jet::Pager& pager = db.pager();
  const jet::Format& f = db.format();
  auto check = [&](const jet::IndexPage& page) {
    auto ref = pager.Read(page.number);
    const uint8_t* p = (*ref)->bytes.data();
    // The byte after the prefix length tells the levels apart.
    EXPECT_EQ(p[f.index_prefix_length + 1], page.leaf ? 0 : 1) << page.number;
    size_t end = 0;
    for (size_t i = 0; i < page.entries.size(); ++i) {
      const size_t whole = jet::EntryBytes(page.entries[i]).size() + (page.leaf ? 0 : 4);
      end += i ? whole - page.prefix_length : whole;
    }
    EXPECT_EQ(page.free_space, f.page_size - f.index_first_entry - end) << page.number;
    size_t unshared = 0;
    for (const auto& e : page.entries) unshared += jet::EntryBytes(e).size();
    if (!page.leaf || (page.next == 0 && unshared <= f.page_size - f.index_first_entry)) {
      // None on intermediate pages, none on the last leaf that fits without.
      EXPECT_EQ(page.prefix_length, 0) << page.number;
      return;
    }
    size_t shared = jet::EntryBytes(page.entries[0]).size();
    for (const auto& e : page.entries) {
      const auto bytes = jet::EntryBytes(e), first = jet::EntryBytes(page.entries[0]);
      size_t k = 0;
      while (k < std::min(shared, bytes.size()) && bytes[k] == first[k]) ++k;
      shared = k;
    }
    EXPECT_EQ(page.prefix_length, std::min<size_t>(shared, 255)) << page.number;
    if (page.prefix_length > page.entries[0].key.size()) ++facts.prefix_into_pointer;
    if (appended && page.next != 0) {  // no room for one more such entry
      EXPECT_LT(page.free_space, jet::EntryBytes(page.entries.back()).size() - page.prefix_length)
          << "leaf " << page.number << " is not full";
    }
  };
  std::vector<uint32_t> level = {ix.root_page};  // one level's pages, left to right
  for (bool leaves = false; !leaves && !level.empty(); ++facts.levels) {
    std::vector<uint32_t> below;
    for (size_t i = 0; i < level.size(); ++i) {
      auto page = jet::ReadIndexPage(pager, level[i]);
      EXPECT_TRUE(page.ok()) << level[i];
      if (!page.ok()) return facts;
      if ((leaves = page->leaf)) {
        ++facts.leaves;
        EXPECT_EQ(page->prev, i ? level[i - 1] : 0);
        EXPECT_EQ(page->next, i + 1 < level.size() ? level[i + 1] : 0);
      }
      for (const auto& e : page->entries) below.push_back(e.child);
      if (page->tail) below.push_back(page->tail);
      check(*page);
    }
    level = std::move(below);
  }
  return facts;
}

// testV1997's Table1: a unique index on text A, one on text B. 2,000 rows
// in key order of A, whose 50 characters fill an intermediate page after
// some 900 rows: A's index grows a third level, intermediate pages over
// intermediate pages. B is one of two values: B's leaves hold runs of one
// key, so their prefix runs into the row pointers. Then, in a new session
// that loads those pages, every third row goes, others change their B, and
// 1,000 more go in one by one from the other end.
TEST(Access97IndexTest, MultiPageIndexesAreWrittenAsAccess97Writes) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV1997.mdb", "db.mdb");
  constexpr int kRows = 2000;
  auto key = [](int i) { return Key(i) + std::string(44, 'x'); };
  std::vector<jet::RowId> ids;
  {
    testutil::OpenTable w(path, "Table1");
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < kRows; ++i) rows.push_back(Row(key(i), i % 7 ? "Müller" : "Øst"));
    ASSERT_TRUE(w->InsertBatch(std::move(rows), &ids).ok());
  }
  testutil::ExpectConsistent(path);
  {
    auto db = jet::Database::Open(path).value();
    for (const jet::PhysicalIndex& ix : (*db->GetTable("Table1"))->physical_indexes) {
      const bool primary = ix.unique();
      const TreeFacts facts = CheckTree(*db, ix, primary);
      EXPECT_EQ(facts.levels, primary ? 3 : 2);
      EXPECT_GT(facts.leaves, primary ? 6 : 2);
      if (!primary) {
        EXPECT_GT(facts.prefix_into_pointer, 0);
      }
    }
  }
  testutil::ExpectMdbExportRows(path, "Table1", kRows + 2u);

  size_t left = kRows + 2;
  {
    testutil::OpenTable w(path, "Table1");
    for (int i = 0; i < kRows; ++i) {
      if (i % 3 == 0) {
        ASSERT_TRUE(w->Delete(ids[size_t(i)]).ok()) << i;
        --left;
      } else if (i % 5 == 0) {
        auto s = w->Update(ids[size_t(i)], Row(key(i), "Café"));
        ASSERT_TRUE(s.ok()) << s.ToString();
      }
    }
    for (int i = 3000; i > kRows; --i, ++left) ASSERT_TRUE(w->Insert(Row(key(i), "b")).ok()) << i;
  }
  testutil::ExpectConsistent(path);
  {
    auto db = jet::Database::Open(path);
    for (const jet::PhysicalIndex& ix : (**(*db)->GetTable("Table1")).physical_indexes) {
      CheckTree(**db, ix, false);
    }
  }
  testutil::ExpectMdbExportRows(path, "Table1", left);
}

// Access 97 sets column flag 0x40 on Text, DateTime, Currency and Integer
// columns too (Northwind's Orders); only on a GUID column does it make a
// GUID autonumber.
TEST(Access97IndexTest, Flag0x40MakesAGuidAutonumberOnlyOnAGuidColumn) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV1997.mdb", "db.mdb");
  uint32_t tdef = 0;
  size_t flags_at = 0;
  {
    auto db = jet::Database::Open(path);
    const jet::TableDef& t = **(*db)->GetTable("Table1");
    tdef = t.tdef_page;
    const jet::Format& f = (*db)->format();
    // Columns follow the header and the index counts; B is the second.
    flags_at = size_t(tdef) * f.page_size + f.tdef_header_size +
               t.physical_indexes.size() * f.tdef_real_idx_count_size + f.column_block_size +
               f.col_flags;
  }
  std::string bytes = testutil::ReadFile(path);
  ASSERT_EQ(uint8_t(bytes[flags_at]), 0x02);
  bytes[flags_at] = char(0x42);
  testutil::WriteFile(path, bytes);
  auto db = jet::Database::Open(path);
  const jet::ColumnDef& b = (**(*db)->GetTable("Table1")).columns[1];
  ASSERT_EQ(b.flags, 0x42);
  EXPECT_FALSE(b.guid_autonumber());
  EXPECT_FALSE(b.autonumber());
  auto schema = testutil::Jetdb(0, {"schema", path, "Table1", "--json"});
  EXPECT_EQ(schema.out.find("guid_autonumber"), std::string::npos);
}

}  // namespace
