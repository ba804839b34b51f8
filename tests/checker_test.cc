// SPDX-License-Identifier: Apache-2.0
// The checker passes what Access wrote and catches each kind of damage that
// would make Access call a database corrupt; what Access tolerates is a
// note, and what the engine cannot verify is said, not called damage.

#include "jet/check/checker.h"

#include <algorithm>

#include "full_read.h"
#include "jet/db/properties.h"
#include "jet/format/row.h"
#include "jet/index/index_page.h"
#include "values.h"

namespace {

jet::CheckReport Check(const std::string& path, const jet::CheckOptions& options = {}) {
  auto report = jet::CheckDatabase(*jet::Database::Open(path).value(), options);
  EXPECT_TRUE(report.ok()) << report.status().ToString();
  return report.ok() ? *report : jet::CheckReport{};
}

bool Mentions(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& p) { return p.find(text) != std::string::npos; });
}

// Sets (or clears) a page's bit in the global usage map of a Jet 4
// database whose map is kept inline.
void MarkFree(std::string* bytes, uint32_t page, bool free = true) {
  auto* p1 = reinterpret_cast<uint8_t*>(bytes->data()) + 4096;
  const uint32_t row = jet::Le16(p1 + jet::Jet4Format().data_first_row_slot) & jet::kRowOffsetMask;
  ASSERT_EQ(p1[row], 0);
  const uint32_t bit = page - jet::Le32(p1 + row + 1);
  const uint8_t mask = uint8_t(1u << (bit % 8));
  p1[row + 5 + bit / 8] =
      uint8_t(free ? p1[row + 5 + bit / 8] | mask : p1[row + 5 + bit / 8] & ~mask);
}

// A copy of the host fixture, its bytes to change, and where Shipments keeps
// its rows (a reference page map) and its TRACKING index's first leaf.
struct DamagedCopy {
  DamagedCopy() {
    auto db = jet::Database::Open(path);
    shipments = *(*db)->GetTable("Shipments");
    auto page = jet::ReadIndexPage((*db)->pager(), shipments->physical_indexes[1].root_page);
    while (!page->leaf) page = jet::ReadIndexPage((*db)->pager(), page->entries.front().child);
    first_leaf = page->number;
    map = jet::ReadUsageMap((*db)->pager(), shipments->owned_pages).value();
  }
  uint8_t& At(uint32_t page, uint32_t offset) {
    return reinterpret_cast<uint8_t&>(bytes[page * 4096 + offset]);
  }
  void MarkFree(uint32_t page) { ::MarkFree(&bytes, page); }
  jet::CheckReport Check() {
    testutil::WriteFile(path, bytes);
    return ::Check(path);
  }
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "hosts/tallowin-v2000.mdb");
  std::string bytes = testutil::ReadFile(path);
  std::shared_ptr<const jet::TableDef> shipments;
  uint32_t first_leaf = 0;
  jet::UsageMap map;
};

}  // namespace

// The checker rebuilds every index entry from its row (the key Access
// stored, byte for byte), and checks the order of the entries, the links
// between the pages of each level and their owner; the counts are pinned so
// that a reader that skips pages or entries fails. The leaf walker that the
// damage tests read with must find the same entries.
TEST(CheckerTest, EveryFixturePassesAndEveryIndexEntryIsAccountedFor) {
  const struct {
    const char* folder;
    size_t files, indexes, entries;
  } folders[] = {{"access", 50, 888, 14648}, {"hosts", 2, 37, 12412}};
  for (const auto& f : folders) {
    size_t files = 0, indexes = 0, entries = 0;
    for (const std::string& path : testutil::FixtureFiles(f.folder)) {
      jet::CheckReport r = Check(path);
      for (const auto& p : r.problems) ADD_FAILURE() << path << ": " << p;
      for (const auto& u : r.unverified) ADD_FAILURE() << path << ": " << u;
      EXPECT_EQ(testutil::ReadWholeDatabase(path, true).index_entries, r.index_entries) << path;
      ++files;
      indexes += r.indexes;
      entries += r.index_entries;
    }
    EXPECT_EQ(files, f.files);
    EXPECT_EQ(indexes, f.indexes) << f.folder;
    EXPECT_EQ(entries, f.entries) << f.folder;
  }
}

// Counts that Access brings up to date only when it compacts are notes: the
// database is sound, and jetdb says so with exit status 0.
TEST(CheckerTest, StaleCountsAreNotesNotProblems) {
  DamagedCopy copy;
  const jet::Format& f = jet::Jet4Format();
  copy.At(copy.shipments->tdef_page, f.tdef_row_count) ^= 0x01;
  copy.At(copy.shipments->tdef_page, f.tdef_header_size + f.tdef_real_idx_count_size + 4) ^= 0x01;
  jet::CheckReport r = copy.Check();
  EXPECT_TRUE(r.ok()) << r.problems.front();
  EXPECT_TRUE(Mentions(r.notes, "table 'Shipments': holds 2000 rows, its definition says 2001"));
  EXPECT_TRUE(Mentions(r.notes, "index 'TRACKING': holds 2000 distinct keys, its definition says"));

  auto run = testutil::Jetdb(0, {"check", copy.path});
  EXPECT_NE(run.out.find("\nnote: table 'Shipments', index 'TRACKING'"), std::string::npos);
  EXPECT_NE(run.out.find(": ok, 2 notes\n"), std::string::npos) << run.out;
}

// Freeing a page leaves what it held. Pages past the end of the file are
// marked free in this database's global map, so pages appended to it are
// free pages with leftovers: a copy of a page of Shipments rows, which no
// page map lists, and one whose row table is garbage.
TEST(CheckerTest, LeftoversOnFreePagesAreNotExamined) {
  DamagedCopy copy;
  const uint32_t pages = uint32_t(copy.bytes.size() / 4096);
  copy.bytes += copy.bytes.substr(size_t(copy.map.pages.front()) * 4096, 4096);
  copy.bytes += copy.bytes.substr(size_t(copy.map.pages.front()) * 4096, 4096);
  copy.At(pages + 1, 12) = copy.At(pages + 1, 13) = 0xFF;  // row count
  jet::CheckReport r = copy.Check();
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  EXPECT_EQ(r.free_pages, 2u);
}

// A page that a table's definition, page map or index tree still uses,
// marked free, would be handed out again and overwritten.
TEST(CheckerTest, PageInUseButMarkedFreeIsReported) {
  DamagedCopy copy;
  const uint32_t data = copy.map.pages.back();
  copy.MarkFree(data);
  copy.MarkFree(copy.first_leaf);
  copy.MarkFree(copy.shipments->tdef_page);
  jet::CheckReport r = copy.Check();
  EXPECT_TRUE(Mentions(r.problems, "table 'Shipments': its page map lists page " +
                                       std::to_string(data) +
                                       ", which the global usage map marks free"));
  EXPECT_TRUE(Mentions(r.problems, "index 'TRACKING': page " + std::to_string(copy.first_leaf) +
                                       " is in its tree, but the global usage map marks it free"));
  EXPECT_TRUE(Mentions(r.problems, "table 'Shipments': page " +
                                       std::to_string(copy.shipments->tdef_page) +
                                       ", which holds its definition, is marked free"));
  EXPECT_EQ(r.problems.size(), 3u);

  // Row 2 of page 27 has moved to page 28.
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/overflowTestV2000.mdb");
  std::string bytes = testutil::ReadFile(path);
  const auto* slot = reinterpret_cast<const uint8_t*>(bytes.data()) + 27 * 4096 + 14 + 2 * 2;
  ASSERT_EQ(jet::Le16(slot) & 0xC000, jet::kRowOverflowFlag);
  MarkFree(&bytes, 28);
  testutil::WriteFile(path, bytes);
  EXPECT_TRUE(Mentions(Check(path).problems,
                       "page 27 row 2: its row moved to page 28, which is "
                       "marked free in the global usage map"));
}

// Keys in a sort order the engine cannot build are unverified, with their
// count; the index is still held to one entry per row.
TEST(CheckerTest, KeysInAnUnknownSortOrderAreUnverified) {
  DamagedCopy copy;
  const jet::Format& f = jet::Jet4Format();
  const jet::PhysicalIndex& tracking = copy.shipments->physical_indexes[1];
  const uint32_t tdef = copy.shipments->tdef_page;
  const uint32_t columns = f.tdef_header_size + uint32_t(copy.shipments->physical_indexes.size()) *
                                                    f.tdef_real_idx_count_size;
  for (uint32_t at = columns;; at += f.column_block_size) {
    ASSERT_LT(at, 4096u);
    if (jet::Le16(&copy.At(tdef, at + f.col_number)) != tracking.columns[0].column_number) continue;
    jet::PutLe16(&copy.At(tdef, at + f.col_sort_order), 1055);  // Turkish
    break;
  }
  const std::string unchanged = copy.bytes;
  jet::CheckReport r = copy.Check();
  EXPECT_TRUE(r.ok()) << r.problems.front();
  ASSERT_EQ(r.unverified.size(), 1u);
  EXPECT_NE(r.unverified[0].find("index 'TRACKING': 2000 of 2000 entries not verified"),
            std::string::npos)
      << r.unverified[0];
  EXPECT_NE(r.unverified[0].find("1055"), std::string::npos) << r.unverified[0];
  EXPECT_EQ(r.unverified_entries, 2000u);

  // The first entry, pointed at the next row on its page.
  jet::IndexEntry first;
  {
    auto db = jet::Database::Open(copy.path);
    first = jet::ReadIndexPage((*db)->pager(), copy.first_leaf)->entries[0];
  }
  copy.bytes = unchanged;
  copy.At(copy.first_leaf, f.index_first_entry + uint32_t(first.key.size()) + 3) ^= 1;
  r = copy.Check();
  EXPECT_TRUE(Mentions(r.problems, "index 'TRACKING': 2 entries for the row at page"));
  EXPECT_TRUE(Mentions(r.problems, "index 'TRACKING': no entry for the row at page"));
}

TEST(CheckerTest, IndexEntryThatMatchesNoRowIsReported) {
  DamagedCopy copy;
  // The first entry of the TRACKING index: change one byte of its key.
  copy.At(copy.first_leaf, 480 + 3) ^= 0x01;
  jet::CheckReport r = copy.Check();
  EXPECT_TRUE(Mentions(r.problems, "index 'TRACKING': entry matches no row"));
  EXPECT_TRUE(Mentions(r.problems, "index 'TRACKING': no entry for a row"));
}

TEST(CheckerTest, DataPageMissingFromThePageMapIsReported) {
  DamagedCopy copy;
  // This map is a reference map: clear the page's bit in its bitmap page.
  ASSERT_EQ(copy.map.kind, jet::UsageMap::Kind::kReference);
  const uint32_t page = copy.map.pages.back();
  ASSERT_LT(page, (4096u - 4) * 8);
  copy.At(copy.map.map_pages.front(), 4 + page / 8) &= uint8_t(~(1u << (page % 8)));
  jet::CheckReport r = copy.Check();
  EXPECT_TRUE(
      Mentions(r.problems, "data page " + std::to_string(page) + " holds rows but is missing"));
  EXPECT_TRUE(Mentions(r.notes, "its definition says 2000"));  // its rows vanish from scans
}

TEST(CheckerTest, WrongFreeSpaceAndJetdbExitCode) {
  DamagedCopy copy;
  const uint32_t page = copy.map.pages.front();
  copy.At(page, 2) ^= 0x10;
  EXPECT_TRUE(
      Mentions(copy.Check().problems, "page " + std::to_string(page) + ": free space says"));

  auto r = testutil::RunProcess({testutil::JetdbPath(), "check", copy.path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("problem: page " + std::to_string(page)), std::string::npos);
  EXPECT_NE(r.out.find(": 1 problem\n"), std::string::npos) << r.out;
}

// A long value no row refers to is lost room: a problem where a user
// table's column keeps it, a note where Access leaves it. So is a page in
// use that nothing holds.
TEST(CheckerTest, LongValuesAndPagesThatNothingHoldsAreReported) {
  testutil::TempDir dir;
  const std::string path = dir.path() + "/memo.mdb";
  jet::RowId second;
  {
    testutil::OpenTable w = testutil::NewTable(path, {"T", {{"M", jet::ColumnType::kMemo, 0}}, {}});
    ASSERT_TRUE(w.w);
    for (size_t size : {3000, 10000}) {
      jet::Value memo = testutil::TextValue(std::string(size, 'm'));
      memo.type = jet::ColumnType::kMemo;
      auto id = w->Insert({memo});
      ASSERT_TRUE(id.ok()) << id.status().ToString();
      second = *id;
    }
  }
  jet::CheckReport r = Check(path);
  EXPECT_TRUE(r.ok() && r.notes.empty()) << ::testing::PrintToString(r.problems) << ::testing::PrintToString(r.notes);
  // The second row, deleted by hand: its memo's chain of five pieces stays.
  std::string bytes = testutil::ReadFile(path);
  bytes[second.page * 4096 + 14 + 2 * second.row + 1] |= char(0xC0);
  testutil::WriteFile(path, bytes);
  r = Check(path);
  EXPECT_TRUE(
      Mentions(r.problems, "table 'T', column 'M': 5 long-value rows that no row refers to"))
      << ::testing::PrintToString(r.problems);
  EXPECT_EQ(r.problems.size(), 1u);

  r = Check(testutil::Fixture("access/testV2000.mdb"));
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(Mentions(r.notes, "663 long-value rows that no row refers to"));
  EXPECT_TRUE(Mentions(r.notes, "pages 709-735 (27 pages): nothing but zeros"));

  // Pages 40 (a dropped table's definition) and 42 (its index) are free.
  const std::string host = testutil::CopyOf(dir, "hosts/tallowin-v2003.mdb");
  bytes = testutil::ReadFile(host);
  MarkFree(&bytes, 40, false);
  MarkFree(&bytes, 42, false);
  testutil::WriteFile(host, bytes);
  r = Check(host);
  EXPECT_TRUE(Mentions(r.problems, "pages 40, 42 (2 pages): not marked free, yet part of nothing"))
      << ::testing::PrintToString(r.problems);
  EXPECT_EQ(r.problems.size(), 1u);
  EXPECT_NE(testutil::RunProcess({testutil::JetdbPath(), "check", host})
                .out.find(" in use, 6 free): 1 problem\n"),
            std::string::npos);
}

// Past the memory allowed, index entries go to a scratch file as sorted
// runs; the verdicts stay the same, out-of-order trees included, and the
// file goes.
TEST(CheckerTest, SortingInRunsGivesTheSameVerdicts) {
  DamagedCopy copy;
  jet::IndexEntry first;
  {
    auto db = jet::Database::Open(copy.path);
    first = jet::ReadIndexPage((*db)->pager(), copy.first_leaf)->entries[0];
  }
  copy.At(copy.first_leaf, 480 + uint32_t(first.key.size()) + 3) ^= 1;  // its row
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) copy.At(copy.first_leaf, 480 + 1) = 0xFF;  // its key: out of order
    jet::CheckReport in_memory = copy.Check();
    jet::CheckReport runs = Check(copy.path, jet::CheckOptions{.memory = 1000});
    EXPECT_TRUE(Mentions(runs.problems, "index 'TRACKING': entry matches no row"));
    EXPECT_EQ(Mentions(runs.problems, "entries out of order"), pass == 1);
    EXPECT_EQ(runs.problems, in_memory.problems);
    EXPECT_EQ(runs.notes, in_memory.notes);
    EXPECT_EQ(runs.index_entries, in_memory.index_entries);
    EXPECT_FALSE(testutil::Exists(copy.path + "-check"));
  }
}

// Deletes can leave an intermediate entry above its child's largest: a note
// while every entry after it is still above it. One below the child's
// largest, or not below the entry after it, is a problem.
TEST(CheckerTest, IntermediateEntryAboveItsChildsLargestIsANote) {
  DamagedCopy copy;
  const uint32_t root = copy.shipments->physical_indexes[1].root_page;
  jet::IndexPage page;
  {
    auto db = jet::Database::Open(copy.path);
    page = jet::ReadIndexPage((*db)->pager(), root).value();
  }
  ASSERT_FALSE(page.leaf);
  ASSERT_EQ(page.prefix_length, 0);  // the first entry is stored whole
  const uint32_t first = jet::Jet4Format().index_first_entry;
  const uint32_t row = first + uint32_t(page.entries[0].key.size());  // its row pointer
  const std::string unchanged = copy.bytes;
  const std::string child = std::to_string(page.entries[0].child);
  const std::string names =
      "intermediate page " + std::to_string(root) + " names child " + child + " by an entry ";
  auto check = [&](uint32_t offset, uint32_t n, uint8_t value) {
    copy.bytes = unchanged;
    for (uint32_t i = 0; i < n; ++i) copy.At(root, offset + i) = value;
    return copy.Check();
  };
  jet::CheckReport r = check(row + 3, 1, 0xFF);  // the same key, a larger row pointer
  EXPECT_TRUE(r.ok()) << r.problems.front();
  const std::string note = "index 'TRACKING': 1 intermediate entry is above its child's largest";
  EXPECT_TRUE(Mentions(r.notes, note + " (page " + std::to_string(root) + " child " + child + ")"))
      << ::testing::PrintToString(r.notes);

  r = check(row, 4, 0x00);  // the same key, a smaller row pointer
  EXPECT_EQ(r.problems, std::vector<std::string>{"table 'Shipments', index 'TRACKING': " + names +
                                                 "below the child's largest"});
  r = check(first + 1, 1, 0xFF);  // a key above the next child's
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_TRUE(Mentions(r.problems, names + "above the child's largest, but not below"))
      << r.problems.front();
  EXPECT_FALSE(Mentions(r.notes, "intermediate"));
}

// Access 2007 and later leave a deleted table's data pages (its definition
// turned to type 0x08) and the leaves of indexes they replaced: notes, the
// leaves only while the table's indexes hold every entry they should.
TEST(CheckerTest, LeftoversOfDeletedTablesAndReplacedIndexesAreNotes) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV2007.accdb");
  std::string bytes = testutil::ReadFile(path);
  const uint32_t end = uint32_t(bytes.size() / 4096);
  uint32_t row_byte;
  {
    auto db = jet::Database::Open(path);
    auto t = *(*db)->GetTable("Table1");
    auto leaf = jet::ReadIndexPage((*db)->pager(), t->physical_indexes[0].root_page);
    ASSERT_TRUE(leaf.ok() && leaf->leaf);
    row_byte = leaf->number * 4096 + 480 + uint32_t(leaf->entries[0].key.size()) + 3;
    const uint32_t data = jet::ReadUsageMap((*db)->pager(), t->owned_pages)->pages.front();
    for (uint32_t p : {leaf->number, data, t->tdef_page}) bytes += bytes.substr(p * 4096, 4096);
  }
  jet::PutLe32(reinterpret_cast<uint8_t*>(bytes.data()) + (end + 1) * 4096 + 4, end + 2);
  bytes[(end + 2) * 4096] = 0x08;
  for (uint32_t p = end; p < end + 3; ++p) MarkFree(&bytes, p, false);
  testutil::WriteFile(path, bytes);
  jet::CheckReport r = Check(path);
  EXPECT_TRUE(r.ok()) << r.problems.front();
  EXPECT_TRUE(Mentions(r.notes, "table 'Table1': page " + std::to_string(end) +
                                    ": index pages with entries that none of the table's"));
  EXPECT_TRUE(Mentions(r.notes, "page " + std::to_string(end + 1) + ": data pages of deleted"));

  bytes[row_byte] ^= 1;  // the live leaf's first entry, pointed at another row
  testutil::WriteFile(path, bytes);
  r = Check(path);
  EXPECT_TRUE(Mentions(r.problems, "page " + std::to_string(end) + ": not marked free, yet"))
      << ::testing::PrintToString(r.problems);
}

// A catalog row's memo or OLE value that cannot be read (here it leads to a
// deleted, empty row) is a problem of MSysObjects; the tables are still
// listed and read, and only its own table's properties are unreadable.
TEST(CheckerTest, UnreadableCatalogLongValueIsAProblemOfItsOwn) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV2007.accdb");
  std::string bytes = testutil::ReadFile(path);
  {
    auto db = jet::Database::Open(path);
    auto catalog = *(*db)->GetTable("MSysObjects");
    jet::TableScanner scan(**db, catalog);
    const jet::RowView* row = nullptr;
    const size_t name = size_t(catalog->FindColumn("Name") - catalog->columns.data());
    const size_t prop = size_t(catalog->FindColumn("LvProp") - catalog->columns.data());
    jet::Value v;
    while (*scan.NextView(&row) && (!row->Decode(name, &v).ok() || v.bytes != "Table1")) {
    }
    std::vector<jet::RowPointer> rows;
    const jet::FieldView& f = (*row)[prop];
    ASSERT_TRUE(jet::LongValueRows((*db)->pager(), {f.data, f.size}, 0, &rows).ok());
    ASSERT_FALSE(rows.empty());
    auto* slots = reinterpret_cast<uint8_t*>(bytes.data()) + rows[0].page * 4096 + 14;
    const uint16_t end = rows[0].row ? jet::Le16(slots + 2 * (rows[0].row - 1)) & 0x1FFF : 4096;
    jet::PutLe16(slots + 2 * rows[0].row, uint16_t(0xC000 | end));
  }
  testutil::WriteFile(path, bytes);
  EXPECT_TRUE(testutil::ReadWholeDatabase(path).status.ok());
  auto db = jet::Database::Open(path);
  auto rules = jet::ReadColumnProperties(**db, **(*db)->GetTable("Table1"));
  EXPECT_TRUE(Mentions({rules.status().message()}, "properties of table 'Table1' cannot be read"));
  jet::CheckReport r = Check(path);
  EXPECT_TRUE(Mentions(r.problems, "table 'MSysObjects', column 'LvProp', page "));
  EXPECT_EQ(r.problems.size(), 1u) << ::testing::PrintToString(r.problems);
}
