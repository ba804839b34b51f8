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

#include <cstring>
#include <functional>
#include <optional>
#include <random>

#include "full_read.h"
#include "header.h"
#include "index_page.h"
#include "jet/jet.h"
#include "test_util.h"
#include "usage_map.h"

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
  if (page) {
    EXPECT_EQ(s.page(), page) << s.ToString();
    EXPECT_NE(s.ToString().find("page " + std::to_string(*page)), std::string::npos)
        << s.ToString();
  }
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
      : fixture(fixture), bytes(testutil::ReadFile(Fixture(fixture))) {
    auto pristine = jet::Database::Open(Fixture(fixture));
    EXPECT_TRUE(pristine.ok()) << pristine.status().ToString();
    db = std::move(pristine).value();
  }

  const jet::Format& format() const { return db->format(); }
  uint32_t page_size() const { return format().page_size; }

  uint8_t* Page(uint32_t n) {
    EXPECT_LE(size_t(n + 1) * page_size(), bytes.size());
    return reinterpret_cast<uint8_t*>(bytes.data()) + size_t(n) * page_size();
  }

  std::shared_ptr<const jet::TableDef> Table(const std::string& name) {
    auto t = db->GetTable(name);
    EXPECT_TRUE(t.ok()) << t.status().ToString();
    return *t;
  }
  bool jet3() const { return fixture == kJet3; }
  // A small user table with an index, a page map and variable-length rows.
  std::shared_ptr<const jet::TableDef> UserTable() { return Table(jet3() ? "Table1" : "Master"); }

  // The bytes of row `row` on data page `page`, in the copy.
  uint8_t* Row(uint32_t page, uint32_t row, size_t* length = nullptr) {
    auto ref = db->pager().Read(page);
    EXPECT_TRUE(ref.ok());
    auto slot = jet::GetRowSlot(**ref, format(), row, "");
    EXPECT_TRUE(slot.ok()) << slot.status().ToString();
    if (length) *length = slot->end - slot->start;
    return Page(page) + slot->start;
  }

  // The first data page of a table, from its usage map.
  uint32_t FirstDataPage(const jet::TableDef& table) {
    auto map = jet::ReadUsageMap(db->pager(), table.owned_pages);
    EXPECT_TRUE(map.ok() && !map->pages.empty());
    return map->pages.front();
  }

  std::string Write(const std::string& name = "damaged.mdb") {
    testutil::WriteFile(dir.File(name), bytes);
    return dir.File(name);
  }

  TempDir dir;
  std::string fixture;
  std::string bytes;
  std::unique_ptr<jet::Database> db;
};

// The Jet 4 variable-offset table of a row: offset i is stored 2 bytes wide,
// backwards from just before the variable count.
uint8_t* Jet4VarOffset(uint8_t* row, size_t length, uint32_t i) {
  const size_t mask = (size_t(jet::Le16(row)) + 7) / 8;
  return row + length - mask - 4 - 2 * i;
}

// Header fields in the masked region: unmask page 0, change it, mask again.
void EditHeader(Damaged& d, const std::function<void(uint8_t*)>& edit) {
  uint8_t* page = d.Page(0);
  jet::ApplyHeaderMask(page, d.format());
  edit(page);
  jet::ApplyHeaderMask(page, d.format());
}

// ---------------------------------------------------------------------------
// Files that are not databases, or not databases this engine opens.

TEST(BadInputTest, MissingFolderEmptyAndForeignFilesAreRefusedByKind) {
  TempDir dir;
  const std::string missing = dir.File("no-such.mdb");
  ExpectFailure(ReadAll(missing), ErrorKind::kNotFound, "does not exist", missing);
  ExpectFailure(jet::Database::ReadInfo(missing).status(), ErrorKind::kNotFound, "does not exist",
                missing);
  ExpectFailure(ReadAll(dir.path()), ErrorKind::kInvalidArgument, "folder", dir.path());
  testutil::WriteFile(dir.File("empty.mdb"), "");
  ExpectFailure(ReadAll(dir.File("empty.mdb")), ErrorKind::kNotADatabase, "empty",
                dir.File("empty.mdb"));

  std::mt19937 rng(7);
  std::string random(8192, '\0');
  for (char& c : random) c = char(rng());
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
  pdf.resize(4096 * 3, ' ');
  std::string text;
  while (text.size() < 4096 * 3) text += "SERVICE,DESCRIPTION\r\nUSPS-PRI,Priority Mail\r\n";
  // Jet's magic number followed by some other engine's name.
  std::string other("\x00\x01\x00\x00Standard XYZ DB\x00", 20);
  other.resize(4096 * 3, '\0');
  const std::pair<const char*, std::string> files[] = {{"random.mdb", random},
                                                       {"report.pdf", pdf},
                                                       {"notes.txt", text},
                                                       {"tiny.mdb", "MZ"},
                                                       {"other.mdb", other}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = dir.File(name);
    testutil::WriteFile(path, bytes);
    ExpectFailure(ReadAll(path), ErrorKind::kNotADatabase, "not a Microsoft Access database", path);
    ExpectFailure(jet::Database::ReadInfo(path).status(), ErrorKind::kNotADatabase,
                  "not a Microsoft Access database", path);
  }
}

TEST(BadInputTest, TruncatedFileIsCorruptAndNamesTheMissingPage) {
  for (const char* fixture : {kJet3, kJet4}) {
    SCOPED_TRACE(fixture);
    Damaged d(fixture);
    const size_t ps = d.page_size();
    const std::string whole = d.bytes;

    // Cut in the middle of a page: the size alone gives it away.
    d.bytes = whole.substr(0, ps * 10 + ps / 2);
    std::string path = d.Write("mid-page.mdb");
    ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, "truncated", path);
    ExpectFailure(jet::Database::ReadInfo(path).status(), ErrorKind::kCorrupt, "truncated", path);

    // Cut inside the header page.
    d.bytes = whole.substr(0, ps / 2);
    path = d.Write("half-header.mdb");
    ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, "shorter than one database page", path, 0);

    // Cut at a page boundary before the catalog.
    d.bytes = whole.substr(0, ps * 2);
    path = d.Write("no-catalog.mdb");
    ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, "no catalog", path);
    if (d.jet3()) {
      // Cut just after the catalog's definition: its rows are gone.
      d.bytes = whole.substr(0, ps * 3);
      path = d.Write("no-catalog-rows.mdb");
      ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, "past the end of the file", path);
    }
  }
  // The catalog survives; the last table's definition does not.
  Damaged d(kJet4);
  const uint32_t cut = d.Table("Shipments")->tdef_page;
  d.bytes.resize(size_t(cut) * d.page_size());
  const std::string path = d.Write();
  ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, "past the end of the file", path, cut);
}

TEST(BadInputTest, AccdbFromAccess2007OnIsUnsupported) {
  Damaged ace(kJet4);
  std::memcpy(ace.Page(0) + 4, "Standard ACE DB", 16);
  jet::PutLe32(ace.Page(0) + 0x14, 2);
  std::string path = ace.Write("engine.accdb");
  ExpectFailure(ReadAll(path), ErrorKind::kUnsupported, ".accdb", path, 0);

  // The Jet engine name with an ACE version number.
  for (uint32_t version : {2u, 3u, 5u, 0x100u}) {
    Damaged d(kJet4);
    jet::PutLe32(d.Page(0) + 0x14, version);
    path = d.Write("version.accdb");
    ExpectFailure(ReadAll(path), ErrorKind::kUnsupported, "Access 2007 or later", path, 0);
    EXPECT_NE(ReadAll(path).message().find("version " + std::to_string(version)),
              std::string::npos);
  }
}

TEST(BadInputTest, PasswordProtectedOrEncodedDatabaseIsRefused) {
  const std::string secret = "tallowin";
  for (const char* fixture : {kJet3, kJet4}) {
    SCOPED_TRACE(fixture);
    Damaged d(fixture);
    const jet::Format& f = d.format();
    EditHeader(d, [&](uint8_t* page) {
      // Jet 4 also XORs the password with the creation date's whole days.
      uint8_t date_mask[4] = {0, 0, 0, 0};
      if (f.header_creation_date >= 0) {
        double date = jet::BitsToDouble(jet::Le64(page + f.header_creation_date));
        jet::PutLe32(date_mask, uint32_t(int32_t(date)));
      }
      for (size_t i = 0; i < secret.size(); ++i) {
        page[f.header_password + i] = uint8_t(secret[i]) ^ date_mask[i % 4];
      }
    });
    std::string path = d.Write();
    ExpectFailure(ReadAll(path), ErrorKind::kPasswordProtected, "password", path);
    auto info = jet::Database::ReadInfo(path);
    ASSERT_TRUE(info.ok()) << info.status().ToString();
    EXPECT_TRUE(info->has_password);

    Damaged e(fixture);
    EditHeader(e, [&](uint8_t* page) { jet::PutLe32(page + f.header_encoding_key, 0x6B39DAC7); });
    path = e.Write();
    ExpectFailure(ReadAll(path), ErrorKind::kEncrypted, "encoded", path);
    info = jet::Database::ReadInfo(path);
    ASSERT_TRUE(info.ok()) << info.status().ToString();
    EXPECT_TRUE(info->encoded);
  }
}

TEST(BadInputTest, Jet4PasswordIsReadThroughTheCreationDateMask) {
  // Raw bytes equal to the date mask decode to an empty password: such a
  // database opens. Reading the raw bytes without the mask would refuse it.
  Damaged d(kJet4);
  const jet::Format& f = d.format();
  EditHeader(d, [&](uint8_t* page) {
    double date = jet::BitsToDouble(jet::Le64(page + f.header_creation_date));
    ASSERT_NE(int32_t(date), 0) << "the fixture needs a creation date";
    for (uint32_t i = 0; i < f.header_password_size; i += 4) {
      jet::PutLe32(page + f.header_password + i, uint32_t(int32_t(date)));
    }
  });
  jet::Status s = ReadAll(d.Write());
  EXPECT_TRUE(s.ok()) << s.ToString();
}

// ---------------------------------------------------------------------------
// Damaged pages and pointers inside a real database.

// One structure damaged in a copy of each of `fixtures`: `edit` changes the
// bytes and returns the page the failure must name.
struct Damage {
  const char* what;
  std::vector<const char*> fixtures;
  std::function<uint32_t(Damaged&)> edit;
  const char* words;
};

void ExpectEachIsCorrupt(const std::vector<Damage>& cases) {
  for (const Damage& c : cases) {
    for (const char* fixture : c.fixtures) {
      SCOPED_TRACE(std::string(fixture) + ": " + c.what);
      Damaged d(fixture);
      const uint32_t page = c.edit(d);
      const std::string path = d.Write();
      ExpectFailure(ReadAll(path), ErrorKind::kCorrupt, c.words, path, page);
    }
  }
}

const std::vector<const char*> kBoth = {kJet3, kJet4};

TEST(CorruptPageTest, DamagedCatalogDefinitionsAndPageMapsAreCorrupt) {
  // `edit` sets a 16- or 32-bit field of the user table's definition page.
  auto tdef_field = [](uint32_t jet::Format::*field, uint32_t value, bool wide) {
    return [=](Damaged& d) {
      const uint32_t tdef = d.UserTable()->tdef_page;
      uint8_t* at = d.Page(tdef) + d.format().*field;
      wide ? jet::PutLe32(at, value) : jet::PutLe16(at, uint16_t(value));
      return tdef;
    };
  };
  ExpectEachIsCorrupt({
      {"catalog definition retyped as data", kBoth,
       [](Damaged& d) {
         d.Page(2)[0] = jet::kPageData;
         return 2u;
       },
       "Expected a table definition"},
      {"catalog page claims more row slots than it holds", kBoth,
       [](Damaged& d) {
         const uint32_t data = d.FirstDataPage(*d.Table("MSysObjects"));
         jet::PutLe16(d.Page(data) + d.format().data_row_count, 0xFFFF);
         return data;
       },
       "row table runs past"},
      {"column count", kBoth, tdef_field(&jet::Format::tdef_num_cols, 0xFFFF, false),
       "impossible number of columns"},
      {"index count", kBoth, tdef_field(&jet::Format::tdef_num_real_idx, 1u << 30, true),
       "impossible number of indexes"},
      {"column numbered past the column count", kBoth,
       tdef_field(&jet::Format::tdef_max_cols, 1, false), "beyond the column count"},
      {"page map pointer past the file", kBoth,
       [=](Damaged& d) {
         tdef_field(&jet::Format::tdef_owned_pages, 0xFFFFFF00, true)(d);
         return 0xFFFFFFu;
       },
       "past the end of the file"},
      {"definition page pointing at itself",
       {kJet4},
       [](Damaged& d) {
         const uint32_t tdef = d.UserTable()->tdef_page;
         jet::PutLe32(d.Page(tdef) + 4, tdef);
         return tdef;
       },
       "loops over its pages"},
      {"second definition page pointing back at the first",
       {kJet3},
       [](Damaged& d) {
         auto table = d.Table("Table2");
         EXPECT_EQ(table->tdef_pages.size(), 2u);
         jet::PutLe32(d.Page(table->tdef_pages.back()) + 4, table->tdef_pages[0]);
         return table->tdef_pages[0];
       },
       "loops over its pages"},
      {"inline page map starting past the last page", kBoth,
       [](Damaged& d) {
         const jet::RowPointer where = d.UserTable()->owned_pages;
         size_t len = 0;
         uint8_t* map = d.Row(where.page, where.row, &len);
         EXPECT_GT(len, 5u);
         map[0] = 0x00;
         jet::PutLe32(map + 1, 0x00FFFF00);
         map[5] |= 0x01;
         return where.page;
       },
       "usage map claims page"},
      {"reference page map naming a missing bitmap page",
       {kJet4},
       [](Damaged& d) {
         const jet::RowPointer where = d.UserTable()->owned_pages;
         uint8_t* map = d.Row(where.page, where.row);
         EXPECT_EQ(map[0], 0x01) << "expected a reference map";
         jet::PutLe32(map + 1, 0x00FFFFFF);
         return 0xFFFFFFu;
       },
       "past the end of the file"},
  });
}

// The Master row of the fixture whose memo and OLE values are chains of
// long-value rows: its data page and the variable-length field for `column`.
struct LongValueField {
  uint32_t page;
  uint8_t* field;
};
LongValueField ChainedLongValue(Damaged& d, const std::string& column) {
  auto table = d.Table("Master");
  const uint32_t page = d.FirstDataPage(*table);
  const jet::ColumnDef* col = table->FindColumn(column);
  const uint32_t rows = jet::Le16(d.Page(page) + d.format().data_row_count);
  for (uint32_t r = 0; col && r < rows; ++r) {
    size_t len = 0;
    uint8_t* row = d.Row(page, r, &len);
    const uint16_t start = jet::Le16(Jet4VarOffset(row, len, col->var_index));
    const uint16_t end = jet::Le16(Jet4VarOffset(row, len, col->var_index + 1u));
    if (end - start >= 12 && (row[start + 3] & 0xC0) == 0) return {page, row + start};
  }
  ADD_FAILURE() << "no chained " << column << " value in Master";
  static uint8_t scratch[16];
  return {page, scratch};
}

TEST(CorruptPageTest, DamagedRowsAndLongValuesAreCorrupt) {
  // Row 0 ends at the page end, so a start past it is impossible. Row 1 ends
  // where row 0 starts: flag row 0 deleted so that only row 1 is read.
  auto first_slot = [](uint16_t raw) {
    return [=](Damaged& d) {
      const uint32_t page = d.FirstDataPage(*d.UserTable());
      jet::PutLe16(d.Page(page) + d.format().data_first_row_slot, raw);
      return page;
    };
  };
  ExpectEachIsCorrupt({
      {"row 0 starting past the page end", kBoth, first_slot(0x1FFF), "impossible bounds"},
      {"row 1 ending past the page end", kBoth, first_slot(0x1FFF | jet::kRowDeletedFlag),
       "impossible bounds"},
      {"text value ending before it starts",
       {kJet4},
       [](Damaged& d) {
         const uint32_t page = d.FirstDataPage(*d.UserTable());
         size_t len = 0;
         uint8_t* row = d.Row(page, 0, &len);
         jet::PutLe16(Jet4VarOffset(row, len, 1),
                      uint16_t(jet::Le16(Jet4VarOffset(row, len, 0)) - 1));
         return page;
       },
       "out of order"},
      // The end of the variable area moved into the offset table: the last
      // value would be the row's own offsets.
      {"variable area ending inside the offset table",
       {kJet4},
       [](Damaged& d) {
         const uint32_t page = d.FirstDataPage(*d.UserTable());
         size_t len = 0;
         uint8_t* row = d.Row(page, 0, &len);
         const size_t mask = (size_t(jet::Le16(row)) + 7) / 8;
         const uint16_t n = jet::Le16(row + len - mask - 2);
         jet::PutLe16(Jet4VarOffset(row, len, n), uint16_t(len - mask - 2));
         return page;
       },
       "outside the row"},
      // One-byte offsets; a short row has no jump table.
      {"Jet 3 variable offsets out of order",
       {kJet3},
       [](Damaged& d) {
         const uint32_t page = d.FirstDataPage(*d.UserTable());
         size_t len = 0;
         uint8_t* row = d.Row(page, 0, &len);
         EXPECT_LT(len, 256u);
         const size_t mask = (size_t(row[0]) + 7) / 8;
         uint8_t* first = row + len - 2 - mask;
         EXPECT_GE(row[len - 1 - mask], 2) << "expected two variable-length values";
         first[-1] = uint8_t(first[0] - 1);
         return page;
       },
       "out of order"},
      {"memo pointing past the file",
       {kJet4},
       [](Damaged& d) {
         jet::PutLe32(ChainedLongValue(d, "NOTES").field + 4, 0xFFFFFF00);
         return 0xFFFFFFu;
       },
       "past the end of the file"},
      {"OLE value pointing at a definition page",
       {kJet4},
       [](Damaged& d) {
         const uint32_t tdef = d.Table("Master")->tdef_page;
         jet::PutLe32(ChainedLongValue(d, "LOGO").field + 4, tdef << 8);
         return tdef;
       },
       "Expected a data page"},
      // Read again, the piece's text would fill the rest of the value's
      // length and the read would succeed.
      {"long-value piece naming itself as the next one",
       {kJet4},
       [](Damaged& d) {
         const jet::RowPointer first =
             jet::RowPointer::FromRaw(jet::Le32(ChainedLongValue(d, "NOTES").field + 4));
         jet::PutLe32(d.Row(first.page, first.row), first.raw());
         return first.page;
       },
       "loops"},
      {"rows 0 and 1 each moved to the other", kBoth,
       [](Damaged& d) {
         const uint32_t page = d.FirstDataPage(*d.Table(d.jet3() ? "Table1" : "Panel"));
         uint8_t* slots = d.Page(page) + d.format().data_first_row_slot;
         for (uint32_t r : {0u, 1u}) {
           jet::PutLe32(d.Row(page, r), jet::RowPointer{page, uint8_t(1 - r)}.raw());
           jet::PutLe16(slots + 2 * r, uint16_t(jet::Le16(slots + 2 * r) | jet::kRowOverflowFlag));
         }
         return page;
       },
       "forwarding pointer"},
  });
}

TEST(CorruptPageTest, DamagedIndexPageIsCorrupt) {
  auto leaf_root = [](const std::function<void(const jet::Format&, uint8_t*)>& edit) {
    return [=](Damaged& d) {
      const uint32_t root = d.UserTable()->physical_indexes.at(0).root_page;
      EXPECT_EQ(d.Page(root)[0], jet::kPageIndexLeaf);
      edit(d.format(), d.Page(root));
      return root;
    };
  };
  ExpectEachIsCorrupt({
      {"shared prefix longer than the first key", kBoth,
       leaf_root([](const jet::Format& f, uint8_t* p) { p[f.index_prefix_length] = 0xFF; }),
       "prefix is longer than its first key"},
      // The last bit of the entry bitmap.
      {"entry ending past the page", kBoth, leaf_root([](const jet::Format& f, uint8_t* p) {
         p[f.index_entry_mask + f.index_entry_mask_size - 1] |= 0x80;
       }),
       "runs past the end of its page"},
      // A bit right after the first entry's start.
      {"entry too short for its row pointer", kBoth,
       leaf_root([](const jet::Format& f, uint8_t* p) { p[f.index_entry_mask] |= 0x02; }),
       "too short"},
  });
}

TEST(CorruptPageTest, IndexPagesThatLoopAreCorrupt) {
  // Shipments' indexes span several pages: an intermediate root over leaves.
  // `edit` damages the copy and returns the page the failure should name.
  auto damage = [](const std::function<uint32_t(Damaged&, const jet::IndexPage&)>& edit,
                   const std::string& words) {
    Damaged d(kJet4);
    auto table = d.Table("Shipments");
    const uint32_t root = table->physical_indexes.at(0).root_page;
    auto page = jet::ReadIndexPage(d.db->pager(), root);
    ASSERT_TRUE(page.ok());
    ASSERT_FALSE(page->leaf) << "expected a two-level index";
    const uint32_t at = edit(d, *page);
    const std::string path = d.Write();
    FullRead r = ReadWholeDatabase(path);
    ExpectFailure(r.status, ErrorKind::kCorrupt, words, path, at);
    // The loop is caught before any entry is handed out a second time.
    EXPECT_LT(r.index_entries, ReadWholeDatabase(Fixture(kJet4)).index_entries);
  };
  // The leftmost leaf's next pointer leads back to itself.
  damage(
      [](Damaged& d, const jet::IndexPage& root) {
        const uint32_t leaf = root.entries.front().child;
        jet::PutLe32(d.Page(leaf) + d.format().index_next_page, leaf);
        return leaf;
      },
      "leaf pages form a loop");
  // The root's first child is the root.
  damage(
      [](Damaged& d, const jet::IndexPage& root) {
        const jet::Format& f = d.format();
        uint8_t* p = d.Page(root.number);
        // The first entry ends at the first set bit of the entry bitmap.
        size_t bit = 0;
        while (!(p[f.index_entry_mask + bit / 8] & (1u << (bit % 8)))) ++bit;
        jet::PutBe32(p + f.index_first_entry + bit - 4, root.number);
        return root.number;
      },
      "impossibly deep");
}

TEST(CorruptPageTest, JetdbReportsDamageWithFileAndPageAndExitsOne) {
  Damaged d(kJet4);
  const uint32_t tdef = d.Table("Master")->tdef_page;
  jet::PutLe32(d.Page(tdef) + 4, tdef);
  const std::string path = d.Write();
  auto r = testutil::RunProcess({testutil::JetdbPath(), "export", path, "Master"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("loops"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("page " + std::to_string(tdef)), std::string::npos) << r.err;
}

}  // namespace
