// Index keys: the generated code tables against their sources, and what the
// encoder refuses. (Every key Access stored in the fixtures is rebuilt from
// its row, byte for byte, by the checker:
// CheckerTest.EveryFixturePassesAndEveryIndexEntryIsAccountedFor.)

#include "index_key.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "jet/jet.h"
#include "test_util.h"
#include "values.h"

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
  jet::DatabaseHeader jet4, jet3;
  jet4.format = &jet::Jet4Format();
  jet4.code_page = 1252;
  jet4.sort_order = {1033, 0};
  jet3.format = &jet::Jet3Format();
  jet3.code_page = 1252;
  jet3.sort_order = {1033, -1};
  jet::DatabaseHeader jet3_cyrillic = jet3;
  jet3_cyrillic.code_page = 1251;
  auto column = [](jet::ColumnType type, const char* name, jet::SortOrder order) {
    jet::ColumnDef c;
    c.name = name;
    c.type = type;
    c.sort_order = order;
    return c;
  };
  auto text = [](jet::ColumnType type, const std::string& bytes) {
    jet::Value v = testutil::TextValue(bytes);
    v.type = type;
    return v;
  };
  const jet::ColumnDef name = column(jet::ColumnType::kText, "NAME", {1033, 0});
  const jet::ColumnDef jet3_name = column(jet::ColumnType::kText, "NAME", {1033, -1});
  const jet::Value zoe = text(jet::ColumnType::kText, "Zo\xC3\xAB");
  const jet::Value emoji = text(jet::ColumnType::kText, "a\xF0\x9F\x98\x80");  // a U+1F600
  const struct {
    const char* what;
    jet::ColumnDef column;
    const jet::DatabaseHeader* header;
    jet::Value value;
    std::vector<std::string> words;  // none: the key is made
  } cases[] = {
      {"General", name, &jet4, zoe, {}},
      {"another language (German)",
       column(jet::ColumnType::kText, "NAME", {1031, 0}),
       &jet4,
       zoe,
       {"1031", "NAME"}},
      {"a later General than the three known",
       column(jet::ColumnType::kText, "NAME", {1033, 2}),
       &jet4,
       zoe,
       {""}},
      {"Access 97", jet3_name, &jet3, zoe, {}},
      {"Access 97 text in another code page", jet3_name, &jet3_cyrillic, zoe, {"1251"}},
      // Surrogate pairs have no codes in the tables...
      {"outside the Basic Multilingual Plane", name, &jet4, emoji, {"U+D83D", "NAME"}},
      // ... unless they come after the 255 characters that take part in a key.
      {"past the 255th character",
       name,
       &jet4,
       text(jet::ColumnType::kText, std::string(255, 'x') + "\xF0\x9F\x98\x80"),
       {}},
      {"OLE objects are never indexed",
       column(jet::ColumnType::kOle, "PICTURE", {}),
       &jet4,
       text(jet::ColumnType::kOle, "x"),
       {"PICTURE"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> key;
    const jet::Status st = jet::AppendIndexKeyColumn(c.column, true, c.value, *c.header, &key);
    if (c.words.empty()) {
      EXPECT_TRUE(st.ok()) << st.ToString();
      continue;
    }
    EXPECT_EQ(st.kind(), jet::ErrorKind::kUnsupported) << st.ToString();
    for (const std::string& w : c.words) EXPECT_NE(st.message().find(w), std::string::npos) << w;
  }
}
