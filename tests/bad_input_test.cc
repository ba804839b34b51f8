// SPDX-License-Identifier: Apache-2.0
// Bad input: files that are not Jet databases, Jet databases this engine
// refuses, and real databases with one structure damaged on purpose.
//
// Every damaged file is a copy of a fixture, changed in memory and written to
// a scratch folder. Structures are located through the engine reading the
// pristine fixture, so the tests do not depend on where a fixture happens to
// keep its pages. Each test reads the damaged copy end to end (open, list,
// load every definition, scan every row, walk every index) and checks the
// kind of the failure, its words and where it says the fault is.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "full_read.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_page.h"
#include "jet/jet.h"
#include "jet/storage/header.h"
#include "test_util.h"

namespace {

using jet::ErrorKind;
using testutil::Fixture;
using testutil::FullRead;
using testutil::ReadWholeDatabase;
using testutil::TempDir;

constexpr char kJet3[] = "access/testV1997.mdb";
constexpr char kJet4[] = "hosts/tallowin-v2000.mdb";

// Checks a failure's kind, that its message contains `words`, and that it
// names the file and, when given, the page.
void ExpectFailure(const jet::Status& s, ErrorKind kind, const std::string& words,
                   const std::string& path, std::optional<uint32_t> page = std::nullopt) {
  ASSERT_FALSE(s.ok()) << "expected a failure reading " << path;
  EXPECT_STREQ(jet::ErrorKindName(s.kind()), jet::ErrorKindName(kind)) << s.ToString();
  EXPECT_NE(s.message().find(words), std::string::npos) << s.ToString();
  EXPECT_EQ(s.file(), path) << s.ToString();
  EXPECT_NE(s.ToString().find(path), std::string::npos) << s.ToString();
  EXPECT_EQ(s.page(), page ? page : s.page()) << s.ToString();
  EXPECT_NE(s.ToString().find(page ? "page " + std::to_string(*page) : ""), std::string::npos)
      << s.ToString();
}

// Reads the file end to end and returns the first failure. A read that goes
// round a loop without noticing fails the test.
jet::Status ReadAll(const std::string& path) {
  FullRead r = ReadWholeDatabase(path);
  EXPECT_FALSE(r.runaway) << path;
  return r.status;
}

// A fixture's bytes, opened pristine through the engine to find structures,
// and changed in memory before being written out as a damaged copy.
struct Damaged {
  explicit Damaged(const std::string& fixture)
      : fixture(fixture),
        bytes(testutil::ReadFile(Fixture(fixture))),
        db(jet::Database::Open(Fixture(fixture)).value()) {}

  const jet::Format& format() const { return db->format(); }
  uint32_t page_size() const { return format().page_size; }

  // Also the page a failure must name, until set otherwise.
  uint8_t* Page(uint32_t n) {
    EXPECT_LE(size_t(n + 1) * page_size(), bytes.size());
    named = n;
    return reinterpret_cast<uint8_t*>(bytes.data()) + size_t(n) * page_size();
  }

  std::shared_ptr<const jet::TableDef> Table(const std::string& name) {
    return db->GetTable(name).value();
  }
  bool jet3() const { return fixture == kJet3; }
  // A small user table with an index, a page map and variable-length rows.
  std::shared_ptr<const jet::TableDef> UserTable() { return Table(jet3() ? "Table1" : "Master"); }

  // The bytes of a row, in the copy.
  uint8_t* Row(jet::RowPointer at, size_t* length = nullptr) {
    auto slot = jet::GetRowSlot(*db->pager().Read(at.page).value(), format(), at.row, "");
    EXPECT_TRUE(slot.ok()) << slot.status().ToString();
    if (length) *length = slot->end - slot->start;
    return Page(at.page) + slot->start;
  }

  // The first data page of a table, from its usage map.
  uint32_t FirstDataPage(const jet::TableDef& table) {
    return jet::ReadUsageMap(db->pager(), table.owned_pages).value().pages.at(0);
  }
  uint32_t UserPage() { return FirstDataPage(*UserTable()); }

  std::string Write(const std::string& name = "damaged.mdb") {
    testutil::WriteFile(dir.File(name), bytes);
    return dir.File(name);
  }

  TempDir dir;
  std::string fixture;
  std::string bytes;
  std::unique_ptr<jet::Database> db;
  std::optional<uint32_t> named;
};

// The Jet 4 variable-offset table of a row: offset i is stored 2 bytes wide,
// backwards from just before the variable count.
uint8_t* Jet4VarOffset(uint8_t* row, size_t length, uint32_t i) {
  const size_t mask = (size_t(jet::Le16(row)) + 7) / 8;
  return row + length - mask - 4 - 2 * i;
}

// ---------------------------------------------------------------------------
// Files that are not databases, or not databases this engine opens.

TEST(BadInputTest, MissingFolderEmptyAndForeignFilesAreRefusedByKind) {
  TempDir dir;
  // A full read and the header alone fail alike.
  auto expect_both = [](const std::string& path, ErrorKind kind, const std::string& words) {
    ExpectFailure(ReadAll(path), kind, words, path);
    ExpectFailure(jet::Database::ReadInfo(path).status(), kind, words, path);
  };
  expect_both(dir.File("no-such.mdb"), ErrorKind::kNotFound, "does not exist");
  ExpectFailure(ReadAll(dir.path()), ErrorKind::kInvalidArgument, "folder", dir.path());
  testutil::WriteFile(dir.File("empty.mdb"), "");
  ExpectFailure(ReadAll(dir.File("empty.mdb")), ErrorKind::kNotADatabase, "empty",
                dir.File("empty.mdb"));

  std::string text;
  while (text.size() < 4096 * 3) text += "SERVICE,DESCRIPTION\r\nUSPS-PRI,Priority Mail\r\n";
  // Jet's magic number followed by some other engine's name.
  std::string other("\x00\x01\x00\x00Standard XYZ DB\x00", 20);
  other.resize(4096 * 3, '\0');
  const std::pair<const char*, std::string> files[] = {
      {"notes.txt", text}, {"tiny.mdb", "MZ"}, {"other.mdb", other}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    testutil::WriteFile(dir.File(name), bytes);
    expect_both(dir.File(name), ErrorKind::kNotADatabase, "not a Microsoft Access database");
  }
}

TEST(BadInputTest, TruncatedFileIsCorruptAndNamesTheMissingPage) {
  Damaged d(kJet4);
  const size_t ps = d.page_size();
  const std::string whole = d.bytes;
  const uint32_t last = d.Table("Shipments")->tdef_page;
  const struct {
    size_t size;
    const char* words;
    std::optional<uint32_t> page = {};
  } cuts[] = {{ps * 10 + ps / 2, "truncated"},  // in the middle of a page: the size gives it away
              {ps / 2, "shorter than one database page", 0},  // inside the header page
              {ps * 2, "no catalog"},  // at a page boundary before the catalog
              // The catalog survives, the last table's definition does not.
              {last * ps, "past the end of the file", last}};
  for (const auto& c : cuts) {
    d.bytes = whole.substr(0, c.size);
    const std::string path = d.Write();
    ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, c.words, path, c.page);
    if (c.words == std::string("truncated")) {
      ExpectFailure(jet::Database::ReadInfo(path).status(), ErrorKind::kCorrupt, c.words, path);
    }
  }
}

TEST(BadInputTest, UnknownFormatVersionIsUnsupported) {
  // An engine name and a version number that no Access wrote together.
  for (auto [engine, version] : {std::pair{"Standard Jet DB", 2u}, {"Standard ACE DB", 1u},
                                 {"Standard ACE DB", 7u}, {"Standard Jet DB", 0xFFu}}) {
    Damaged d(kJet4);
    std::memcpy(d.Page(0) + 4, engine, 16);
    jet::PutLe32(d.Page(0) + 0x14, version);
    const std::string path = d.Write();
    ExpectFailure(ReadAll(path), ErrorKind::kUnsupported, "version " + std::to_string(version),
                  path, 0);
  }
}

// ---------------------------------------------------------------------------
// Damaged pages and pointers inside a real database.

// One structure damaged in a copy of each of `fixtures` by `edit`; the
// failure must name the last page `edit` changed, or `d.named` where it sets
// that. An index that `loops` is caught before any entry is handed out a
// second time.
struct Damage {
  const char* what;
  std::vector<const char*> fixtures;
  std::function<void(Damaged&)> edit;
  const char* words;
  bool loops = false;
};

void ExpectEachIsCorrupt(const std::vector<Damage>& cases) {
  for (const Damage& c : cases) {
    for (const char* fixture : c.fixtures) {
      SCOPED_TRACE(std::string(fixture) + ": " + c.what);
      Damaged d(fixture);
      c.edit(d);
      const std::string path = d.Write();
      FullRead r = ReadWholeDatabase(path);
      EXPECT_FALSE(r.runaway);
      ExpectFailure(r.status, ErrorKind::kCorrupt, c.words, path, d.named);
      EXPECT_TRUE(!c.loops || r.index_entries < ReadWholeDatabase(Fixture(fixture)).index_entries);
    }
  }
}

const std::vector<const char*> kBoth = {kJet3, kJet4}, kOnly4 = {kJet4};

TEST(CorruptPageTest, DamagedCatalogDefinitionsAndPageMapsAreCorrupt) {
  // `edit` sets a 16- or 32-bit field of the user table's definition page.
  auto tdef_field = [](uint32_t jet::Format::*field, uint32_t value, bool wide) {
    return [=](Damaged& d) {
      uint8_t* at = d.Page(d.UserTable()->tdef_page) + d.format().*field;
      wide ? jet::PutLe32(at, value) : jet::PutLe16(at, uint16_t(value));
    };
  };
  ExpectEachIsCorrupt({
      {"catalog definition retyped as data", kBoth,
       [](Damaged& d) { d.Page(2)[0] = jet::kPageData; }, "Expected a table definition"},
      {"catalog page claims more row slots than it holds", kBoth,
       [](Damaged& d) {
         const uint32_t data = d.FirstDataPage(*d.Table("MSysObjects"));
         jet::PutLe16(d.Page(data) + d.format().data_row_count, 0xFFFF);
       },
       "row table runs past"},
      {"column count", kBoth, tdef_field(&jet::Format::tdef_num_cols, 0xFFFF, false),
       "impossible number of columns"},
      {"index count", kBoth, tdef_field(&jet::Format::tdef_num_real_idx, 1u << 30, true),
       "impossible number of indexes"},
      {"column numbered past the column count", kBoth,
       tdef_field(&jet::Format::tdef_max_cols, 1, false), "beyond the column count"},
      {"definition page pointing at itself", kOnly4,
       [](Damaged& d) {
         const uint32_t tdef = d.UserTable()->tdef_page;
         jet::PutLe32(d.Page(tdef) + 4, tdef);
       },
       "loops over its pages"},
      {"inline page map starting past the last page", kBoth,
       [](Damaged& d) {
         size_t len = 0;
         uint8_t* map = d.Row(d.UserTable()->owned_pages, &len);
         EXPECT_GT(len, 5u);
         map[0] = 0x00;
         jet::PutLe32(map + 1, 0x00FFFF00);
         map[5] |= 0x01;
       },
       "usage map claims page"},
  });
}

// The variable-length field for `column` of a Master row whose memo and OLE
// values are chains of long-value rows.
uint8_t* ChainedLongValue(Damaged& d, const std::string& column) {
  auto table = d.Table("Master");
  const uint32_t page = d.FirstDataPage(*table);
  const jet::ColumnDef* col = table->FindColumn(column);
  const uint32_t rows = jet::Le16(d.Page(page) + d.format().data_row_count);
  for (uint32_t r = 0; col && r < rows; ++r) {
    size_t len = 0;
    uint8_t* row = d.Row({page, uint8_t(r)}, &len);
    const uint16_t start = jet::Le16(Jet4VarOffset(row, len, col->var_index));
    const uint16_t end = jet::Le16(Jet4VarOffset(row, len, col->var_index + 1u));
    if (end - start >= 12 && (row[start + 3] & 0xC0) == 0) return row + start;
  }
  ADD_FAILURE() << "no chained " << column << " value in Master";
  static uint8_t scratch[16];
  return scratch;
}

// An edit of the first row of the user table's first data page.
std::function<void(Damaged&)> FirstRow(std::function<void(uint8_t* row, size_t length)> edit) {
  return [=](Damaged& d) {
    size_t len = 0;
    uint8_t* row = d.Row({d.UserPage(), 0}, &len);
    edit(row, len);
  };
}

TEST(CorruptPageTest, DamagedRowsAndLongValuesAreCorrupt) {
  // Row 0 ends at the page end, so a start past it is impossible. Row 1 ends
  // where row 0 starts: flag row 0 deleted so that only row 1 is read.
  auto first_slot = [](uint16_t raw) {
    return [=](Damaged& d) {
      jet::PutLe16(d.Page(d.UserPage()) + d.format().data_first_row_slot, raw);
    };
  };
  ExpectEachIsCorrupt({
      {"row 0 starting past the page end", kBoth, first_slot(0x1FFF), "impossible bounds"},
      {"row 1 ending past the page end", kBoth, first_slot(0x1FFF | jet::kRowDeletedFlag),
       "impossible bounds"},
      {"text value ending before it starts", kOnly4, FirstRow([](uint8_t* row, size_t len) {
         jet::PutLe16(Jet4VarOffset(row, len, 1),
                      uint16_t(jet::Le16(Jet4VarOffset(row, len, 0)) - 1));
       }),
       "out of order"},
      // The end of the variable area moved into the offset table: the last
      // value would be the row's own offsets.
      {"variable area ending inside the offset table", kOnly4,
       FirstRow([](uint8_t* row, size_t len) {
         const size_t mask = (size_t(jet::Le16(row)) + 7) / 8;
         const uint16_t n = jet::Le16(row + len - mask - 2);
         jet::PutLe16(Jet4VarOffset(row, len, n), uint16_t(len - mask - 2));
       }),
       "outside the row"},
      {"OLE value pointing at a definition page", kOnly4,
       [](Damaged& d) {
         const uint32_t tdef = d.Table("Master")->tdef_page;
         jet::PutLe32(ChainedLongValue(d, "LOGO") + 4, tdef << 8);
         d.named = tdef;
       },
       "Expected a data page"},
      // Read again, the piece's text would fill the rest of the value's
      // length and the read would succeed.
      {"long-value piece naming itself as the next one", kOnly4,
       [](Damaged& d) {
         const uint32_t first = jet::Le32(ChainedLongValue(d, "NOTES") + 4);
         jet::PutLe32(d.Row(jet::RowPointer::FromRaw(first)), first);
       },
       "loops"},
      {"rows 0 and 1 each moved to the other", kBoth,
       [](Damaged& d) {
         const uint32_t page = d.FirstDataPage(*d.Table(d.jet3() ? "Table1" : "Panel"));
         uint8_t* slots = d.Page(page) + d.format().data_first_row_slot;
         for (uint8_t r : {0, 1}) {
           jet::PutLe32(d.Row({page, r}), jet::RowPointer{page, uint8_t(1 - r)}.raw());
           jet::PutLe16(slots + 2 * r, uint16_t(jet::Le16(slots + 2 * r) | jet::kRowOverflowFlag));
         }
       },
       "forwarding pointer"},
  });
}

TEST(CorruptPageTest, DamagedIndexPagesAreCorrupt) {
  // An edit of the user table's first index, a single leaf page.
  auto leaf_root = [](const std::function<void(const jet::Format&, uint8_t*)>& edit) {
    return [=](Damaged& d) {
      uint8_t* root = d.Page(d.UserTable()->physical_indexes.at(0).root_page);
      EXPECT_EQ(root[0], jet::kPageIndexLeaf);
      edit(d.format(), root);
    };
  };
  // Shipments' first index spans several pages: an intermediate root over
  // leaves.
  auto root = [](Damaged& d) {
    auto page =
        jet::ReadIndexPage(d.db->pager(), d.Table("Shipments")->physical_indexes.at(0).root_page);
    EXPECT_FALSE(page.value().leaf) << "expected a two-level index";
    return page.value();
  };
  ExpectEachIsCorrupt({
      {"shared prefix longer than the first entry", kBoth,
       leaf_root([](const jet::Format& f, uint8_t* p) { p[f.index_prefix_length] = 0xFF; }),
       "prefix is longer than its first entry"},
      // The last bit of the entry bitmap.
      {"entry ending past the page", kBoth, leaf_root([](const jet::Format& f, uint8_t* p) {
         p[f.index_entry_mask + f.index_entry_mask_size - 1] |= 0x80;
       }),
       "runs past the end of its page"},
      // A bit right after the first entry's start.
      {"entry too short for its row pointer", kBoth,
       leaf_root([](const jet::Format& f, uint8_t* p) { p[f.index_entry_mask] |= 0x02; }),
       "too short"},
      {"leftmost leaf whose next pointer leads back to itself", kOnly4,
       [=](Damaged& d) {
         const uint32_t leaf = root(d).entries.front().child;
         jet::PutLe32(d.Page(leaf) + d.format().index_next_page, leaf);
       },
       "leaf pages form a loop", true},
      {"root whose first child is the root", kOnly4,
       [=](Damaged& d) {
         const jet::Format& f = d.format();
         const uint32_t number = root(d).number;
         uint8_t* p = d.Page(number);
         // The first entry ends at the first set bit of the entry bitmap.
         size_t bit = 0;
         while (!(p[f.index_entry_mask + bit / 8] & (1u << (bit % 8)))) ++bit;
         jet::PutBe32(p + f.index_first_entry + bit - 4, number);
       },
       "impossibly deep", true},
  });
}

}  // namespace
