// Index keys: every entry of every index in the fixtures, rebuilt from the row
// it points at, equals the key that Access stored, byte for byte. This is
// what lets the engine add rows to an index that Access will read.

#include "index_key.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "index_page.h"
#include "jet/jet.h"
#include "test_util.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof(buf), "%02X ", b);
    s += buf;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// The values of the row at `ptr`, following a moved row to its new home.
jet::Status ReadRowAt(jet::Database& db, jet::RowDecoder& decoder, jet::RowPointer ptr,
                      std::vector<jet::Value>* values) {
  jet::Pager& pager = db.pager();
  jet::PageRef holder;
  JET_ASSIGN_OR_RETURN(jet::ByteView bytes, jet::ReadRowBytes(pager, ptr, &holder));
  JET_ASSIGN_OR_RETURN(jet::RowSlot slot,
                       jet::GetRowSlot(*holder, pager.format(), ptr.row, pager.path()));
  for (int hops = 0; slot.overflow; ++hops) {
    if (hops >= 8 || bytes.size() < 4) return jet::Status::Corrupt("bad forwarding pointer");
    ptr = jet::RowPointer::FromRaw(jet::Le32(bytes.data()));
    JET_ASSIGN_OR_RETURN(bytes, jet::ReadRowBytes(pager, ptr, &holder));
    JET_ASSIGN_OR_RETURN(slot, jet::GetRowSlot(*holder, pager.format(), ptr.row, pager.path()));
  }
  return decoder.Decode(bytes, ptr.page, values);
}

struct Count {
  size_t indexes = 0;
  size_t entries = 0;
};

struct KeyFacts {
  Count user;
  Count system;
  size_t differences = 0;
  std::set<std::string> unreadable_tables;  // system tables the engine cannot load
  std::set<std::string> column_kinds;       // "Text desc General (Access 97)", ...
};

// Rebuilds the key of every leaf entry of every index of one table.
void CheckTable(jet::Database& db, const jet::CatalogEntry& entry_of_table, KeyFacts* facts) {
  const std::string file = std::filesystem::path(db.path()).filename().string();
  auto table = db.GetTable(entry_of_table.name);
  if (!table.ok() && entry_of_table.is_system() &&
      table.status().kind() == jet::ErrorKind::kUnsupported) {
    // MSysAccessObjects of Access 2000 files has a column type (17) that
    // holds no data the engine reads; it is not a user table.
    facts->unreadable_tables.insert(entry_of_table.name);
    return;
  }
  ASSERT_TRUE(table.ok()) << file << ": " << table.status().ToString();
  const jet::TableDef& def = **table;
  Count& count = entry_of_table.is_system() ? facts->system : facts->user;
  jet::RowDecoder decoder(db.pager(), db.header(), def);
  for (const jet::PhysicalIndex& ix : def.physical_indexes) {
    ++count.indexes;
    for (const jet::IndexColumn& ic : ix.columns) {
      const jet::ColumnDef* c = def.FindColumnByNumber(ic.column_number);
      std::string kind = std::string(jet::ColumnTypeName(c->type)) + (ic.ascending ? "" : " desc");
      if (jet::IsTextual(c->type)) {
        auto collation = jet::TextCollationOf(c->sort_order, db.format().version);
        kind += std::string(" ") + (collation.ok() ? jet::TextCollationName(*collation) : "?");
      }
      facts->column_kinds.insert(kind);
    }
    jet::IndexLeafWalker walker(db.pager(), ix);
    jet::IndexEntry entry;
    std::vector<jet::Value> row;
    std::vector<uint8_t> key;
    size_t n = 0;
    while (true) {
      auto more = walker.Next(&entry);
      ASSERT_TRUE(more.ok()) << more.status().ToString();
      if (!*more) break;
      ++n;
      ++count.entries;
      const std::string where = file + " / " + def.name + " / index " + std::to_string(ix.number) +
                                " / entry " + std::to_string(n) + " / row " +
                                std::to_string(entry.row.page) + ":" +
                                std::to_string(entry.row.row);
      jet::Status st = ReadRowAt(db, decoder, entry.row, &row);
      ASSERT_TRUE(st.ok()) << where << ": " << st.ToString();
      st = jet::EncodeIndexKey(def, ix, row, db.header(), &key);
      if (!st.ok() || key != entry.key) {
        ++facts->differences;
        std::string values;
        for (const jet::IndexColumn& ic : ix.columns) {
          const jet::ColumnDef* c = def.FindColumnByNumber(ic.column_number);
          values += " [" + c->name + "=" + row[size_t(c - def.columns.data())].ToText() + "]";
        }
        ADD_FAILURE() << where << values << "\n  stored:  " << Hex(entry.key)
                      << "\n  encoded: " << (st.ok() ? Hex(key) : st.ToString());
      }
    }
  }
}

KeyFacts CheckFolder(const std::string& folder) {
  KeyFacts facts;
  for (const std::string& path : testutil::FixtureFiles(folder)) {
    auto db = jet::Database::Open(path);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
    if (!db.ok()) continue;
    auto tables = (*db)->ListTables(/*include_system=*/true);
    EXPECT_TRUE(tables.ok()) << tables.status().ToString();
    if (!tables.ok()) continue;
    for (const auto& t : *tables) CheckTable(**db, t, &facts);
  }
  std::printf(
      "%s: user tables %zu indexes / %zu entries, system tables %zu indexes / %zu "
      "entries, %zu differences\n",
      folder.c_str(), facts.user.indexes, facts.user.entries, facts.system.indexes,
      facts.system.entries, facts.differences);
  std::string kinds;
  for (const auto& k : facts.column_kinds) kinds += (kinds.empty() ? "" : ", ") + k;
  std::printf("  key columns: %s\n", kinds.c_str());
  return facts;
}

}  // namespace

TEST(IndexKeyTest, AccessMadeKeysAreRebuiltByteForByte) {
  KeyFacts facts = CheckFolder("access");
  EXPECT_EQ(facts.differences, 0u);
  // Pinned, as in the index read test, so that nothing is silently skipped.
  EXPECT_EQ(facts.user.indexes, 180u);
  EXPECT_EQ(facts.user.entries, 4982u);
  EXPECT_GT(facts.system.entries, 0u);
  // The fixtures exercise both directions and both older collations.
  EXPECT_TRUE(facts.column_kinds.count("Text General (legacy)"));
  EXPECT_TRUE(facts.column_kinds.count("Text desc General (Access 97)"));
  EXPECT_TRUE(facts.column_kinds.count("GUID desc"));
  EXPECT_TRUE(facts.unreadable_tables.empty());
}

TEST(IndexKeyTest, HostKeysAreRebuiltByteForByte) {
  KeyFacts facts = CheckFolder("hosts");
  EXPECT_EQ(facts.differences, 0u);
  EXPECT_GT(facts.user.entries, 12000u);  // Shipments alone has 3 x 2,000
}

// The generated table must say, for every code point, what the source tables
// say (a lost or shifted run would only show up for characters the fixtures
// happen to contain).
TEST(IndexKeyTest, GeneratedCodeTablesMatchTheSourceTables) {
  struct Source {
    jet::TextCollation collation;
    std::vector<std::string> files;
  };
  const Source sources[] = {
      {jet::TextCollation::kGeneral97, {"index_codes_gen_97.txt"}},
      {jet::TextCollation::kGeneralLegacy,
       {"index_codes_genleg.txt", "index_codes_ext_genleg.txt"}},
      {jet::TextCollation::kGeneral, {"index_codes_gen.txt", "index_codes_ext_gen.txt"}},
  };
  auto hex = [](std::string s) {
    if (s.size() % 2) s = "0" + s;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < s.size(); i += 2)
      out.push_back(uint8_t(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
  };
  const std::string dir = testutil::Fixture("jet-format/");
  for (const Source& src : sources) {
    SCOPED_TRACE(jet::TextCollationName(src.collation));
    uint32_t cp = 0;
    size_t mismatches = 0;
    for (const std::string& name : src.files) {
      std::ifstream in(dir + name);
      ASSERT_TRUE(in.good()) << dir + name;
      std::string line;
      while (std::getline(in, line)) {
        if (cp == 0xD800) {
          for (; cp < 0xE000; ++cp) {
            EXPECT_EQ(jet::LookupTextCode(src.collation, char16_t(cp)).kind,
                      jet::TextCodeKind::kNone);
          }
        }
        std::vector<std::string> f;
        std::stringstream fields(line.substr(1));
        for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
        if (!line.empty() && line.back() == ',') f.push_back("");
        jet::TextCode want;
        switch (line[0]) {
          case 'X':
            want.kind = jet::TextCodeKind::kIgnored;
            break;
          case 'S':
            want = {jet::TextCodeKind::kSimple, hex(f[0]), {}, 0};
            break;
          case 'G':
            want = {jet::TextCodeKind::kSignificant, hex(f[0]), {}, 0};
            break;
          case 'I':
            want = {jet::TextCodeKind::kInternational, hex(f[0]), hex(f[1]), 0};
            break;
          case 'U':
            want = {jet::TextCodeKind::kUnprintable, {}, hex(f[0]), 0};
            break;
          case 'P':
            want = {jet::TextCodeKind::kModifier, {}, hex(f[0]), 0};
            break;
          case 'Z':
            want = {jet::TextCodeKind::kInternationalExt, hex(f[0]), hex(f[1]),
                    uint8_t(f[2] == "1" ? 2 : 3)};
            break;
          default:
            FAIL() << "unknown kind in " << line;
        }
        jet::TextCode got = jet::LookupTextCode(src.collation, char16_t(cp));
        if (got.kind != want.kind || got.main != want.main || got.extra != want.extra ||
            got.mark != want.mark) {
          if (++mismatches < 10) ADD_FAILURE() << "U+" << std::hex << cp << ": " << line;
        }
        ++cp;
      }
    }
    EXPECT_EQ(cp, src.files.size() == 1 ? 0x100u : 0x10000u);
    EXPECT_EQ(mismatches, 0u);
  }
  // Access 97: Windows-1252's characters above U+00FF share the code of the
  // byte Windows-1252 stores them as; every other one is ignored.
  const jet::TextCode euro = jet::LookupTextCode(jet::TextCollation::kGeneral97, u'\u20AC');
  const jet::TextCode at_80 = jet::LookupTextCode(jet::TextCollation::kGeneral97, 0x80);
  EXPECT_EQ(euro.kind, at_80.kind);
  EXPECT_EQ(euro.main, at_80.main);
  EXPECT_EQ(jet::LookupTextCode(jet::TextCollation::kGeneral97, u'\u0100').kind,
            jet::TextCodeKind::kIgnored);
}

// A key that is not Access's would make Access's own lookups miss the row:
// whatever the engine cannot encode for certain, it refuses, and says what.
TEST(IndexKeyTest, RefusesWhatItCannotEncodeExactly) {
  jet::DatabaseHeader jet4;
  jet4.format = &jet::Jet4Format();
  jet4.code_page = 1252;
  jet4.sort_order = {1033, 0};
  jet::DatabaseHeader jet3;
  jet3.format = &jet::Jet3Format();
  jet3.code_page = 1252;
  jet3.sort_order = {1033, -1};

  jet::ColumnDef text;
  text.name = "NAME";
  text.type = jet::ColumnType::kText;
  text.sort_order = {1033, 0};
  jet::Value v;
  v.type = jet::ColumnType::kText;
  v.null = false;
  v.bytes = "Zoë";
  std::vector<uint8_t> key;
  ASSERT_TRUE(jet::AppendIndexKeyColumn(text, true, v, jet4, &key).ok());

  auto refused = [&](const jet::ColumnDef& col, const jet::DatabaseHeader& header,
                     const jet::Value& value) {
    key.clear();
    jet::Status st = jet::AppendIndexKeyColumn(col, true, value, header, &key);
    EXPECT_EQ(st.kind(), jet::ErrorKind::kUnsupported) << st.ToString();
    return st.message();
  };

  // Another language's sort order (German, LCID 1031).
  jet::ColumnDef german = text;
  german.sort_order = {1031, 0};
  std::string m = refused(german, jet4, v);
  EXPECT_NE(m.find("1031"), std::string::npos) << m;
  EXPECT_NE(m.find("NAME"), std::string::npos) << m;
  // A later General version than the three known ones.
  jet::ColumnDef later = text;
  later.sort_order = {1033, 2};
  refused(later, jet4, v);
  // Access 97 text in another code page.
  jet::DatabaseHeader jet3_cyrillic = jet3;
  jet3_cyrillic.code_page = 1251;
  jet::ColumnDef jet3_text = text;
  jet3_text.sort_order = {1033, -1};
  EXPECT_TRUE(jet::AppendIndexKeyColumn(jet3_text, true, v, jet3, &key).ok());
  m = refused(jet3_text, jet3_cyrillic, v);
  EXPECT_NE(m.find("1251"), std::string::npos) << m;

  // Characters outside the Basic Multilingual Plane are stored as surrogate
  // pairs, which the code tables have no codes for.
  jet::Value emoji = v;
  emoji.bytes = "a\xF0\x9F\x98\x80";  // a U+1F600
  m = refused(text, jet4, emoji);
  EXPECT_NE(m.find("U+D83D"), std::string::npos) << m;
  EXPECT_NE(m.find("NAME"), std::string::npos) << m;
  // ... unless they come after the 255 characters that take part in a key.
  jet::Value long_text = emoji;
  long_text.bytes = std::string(255, 'x') + "\xF0\x9F\x98\x80";
  EXPECT_TRUE(jet::AppendIndexKeyColumn(text, true, long_text, jet4, &key).ok());

  // OLE objects cannot be indexed.
  jet::ColumnDef ole;
  ole.name = "PICTURE";
  ole.type = jet::ColumnType::kOle;
  jet::Value blob;
  blob.type = jet::ColumnType::kOle;
  blob.null = false;
  blob.bytes = "x";
  m = refused(ole, jet4, blob);
  EXPECT_NE(m.find("PICTURE"), std::string::npos) << m;
}
