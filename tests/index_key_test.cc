// Index keys: the generated code tables against their sources, and what the
// encoder refuses. (Every key Access stored in the fixtures is rebuilt from
// its row, byte for byte, by the checker:
// CheckerTest.EveryFixturePassesAndEveryIndexEntryIsAccountedFor.)

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "index_key.h"
#include "jet/jet.h"
#include "test_util.h"
#include "values.h"

// The generated table must say, for every code point, what the source tables
// say (a lost or shifted run would only show up for characters the fixtures
// happen to contain). A source line is a kind letter and its fields: X
// (ignored), S or G (main bytes), I (main, extra), U or P (extra), Z (main,
// extra, and "1" for mark 2, else 3).
TEST(IndexKeyTest, GeneratedCodeTablesMatchTheSourceTables) {
  using K = jet::TextCodeKind;
  const struct {
    jet::TextCollation collation;
    std::vector<std::string> files;
  } sources[] = {
      {jet::TextCollation::kGeneral97, {"index_codes_gen_97.txt"}},
      {jet::TextCollation::kGeneralLegacy,
       {"index_codes_genleg.txt", "index_codes_ext_genleg.txt"}},
      {jet::TextCollation::kGeneral, {"index_codes_gen.txt", "index_codes_ext_gen.txt"}},
  };
  const std::string kinds = "XSGIUPZ";
  const K kind_of[] = {K::kIgnored,     K::kSimple,   K::kSignificant,     K::kInternational,
                       K::kUnprintable, K::kModifier, K::kInternationalExt};
  auto hex = [](std::string s) {
    if (s.size() % 2) s = "0" + s;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < s.size(); i += 2)
      out.push_back(uint8_t(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
  };
  for (const auto& src : sources) {
    SCOPED_TRACE(jet::TextCollationName(src.collation));
    uint32_t cp = 0;
    size_t mismatches = 0;
    for (const std::string& name : src.files) {
      std::ifstream in(testutil::Fixture("jet-format/" + name));
      ASSERT_TRUE(in.good()) << name;
      for (std::string line; std::getline(in, line); ++cp) {
        for (; cp >= 0xD800 && cp < 0xE000; ++cp) {  // surrogates have no code
          EXPECT_EQ(jet::LookupTextCode(src.collation, char16_t(cp)).kind, K::kNone);
        }
        std::vector<std::string> f;  // at least three fields
        std::stringstream fields(line.substr(1) + ",,,");
        for (std::string x; std::getline(fields, x, ',');) f.push_back(x);
        const char k = line[0];
        ASSERT_NE(kinds.find(k), std::string::npos) << "unknown kind in " << line;
        jet::TextCode want{kind_of[kinds.find(k)], {}, {}, 0};
        if (std::strchr("SGIZ", k)) want.main = hex(f[0]);
        want.extra = std::strchr("IZ", k)   ? hex(f[1])
                     : std::strchr("UP", k) ? hex(f[0])
                                            : std::vector<uint8_t>{};
        if (k == 'Z') want.mark = f[2] == "1" ? 2 : 3;
        const jet::TextCode got = jet::LookupTextCode(src.collation, char16_t(cp));
        if (got.kind != want.kind || got.main != want.main || got.extra != want.extra ||
            got.mark != want.mark) {
          if (++mismatches < 10) ADD_FAILURE() << "U+" << std::hex << cp << ": " << line;
        }
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
  EXPECT_EQ(jet::LookupTextCode(jet::TextCollation::kGeneral97, u'\u0100').kind, K::kIgnored);
}

// A key that is not Access's would make Access's own lookups miss the row:
// whatever the engine cannot encode for certain, it refuses, and says what.
TEST(IndexKeyTest, RefusesWhatItCannotEncodeExactly) {
  jet::DatabaseHeader jet4, jet3, jet3_cyrillic;
  jet4.format = &jet::Jet4Format();
  jet4.code_page = 1252;
  jet4.sort_order = {1033, 0};
  jet3.format = &jet::Jet3Format();
  jet3.code_page = 1252;
  jet3.sort_order = {1033, -1};
  jet3_cyrillic = jet3;
  jet3_cyrillic.code_page = 1251;
  auto column = [](jet::SortOrder order, jet::ColumnType type = jet::ColumnType::kText) {
    jet::ColumnDef c;
    c.name = type == jet::ColumnType::kOle ? "PICTURE" : "NAME";
    c.type = type;
    c.sort_order = order;
    return c;
  };
  const jet::ColumnDef name = column({1033, 0}), jet3_name = column({1033, -1}),
                       german = column({1031, 0}), later = column({1033, 2}),
                       ole = column({}, jet::ColumnType::kOle);
  const jet::Value zoe = testutil::TextValue("Zo\xC3\xAB");
  const jet::Value emoji = testutil::TextValue("a\xF0\x9F\x98\x80");  // a U+1F600
  const jet::Value long_emoji = testutil::TextValue(std::string(255, 'x') + "\xF0\x9F\x98\x80");
  jet::Value picture = testutil::TextValue("x");
  picture.type = jet::ColumnType::kOle;
  const struct {
    const char* what;
    const jet::ColumnDef& column;
    const jet::DatabaseHeader& header;
    const jet::Value& value;
    std::vector<std::string> words;  // none: the key is made
  } cases[] = {
      {"General", name, jet4, zoe, {}},
      {"another language (German)", german, jet4, zoe, {"1031", "NAME"}},
      {"a later General than the three known", later, jet4, zoe, {""}},
      {"Access 97", jet3_name, jet3, zoe, {}},
      {"Access 97 text in another code page", jet3_name, jet3_cyrillic, zoe, {"1251"}},
      // Surrogate pairs have no codes in the tables...
      {"outside the Basic Multilingual Plane", name, jet4, emoji, {"U+D83D", "NAME"}},
      // ... unless they come after the 255 characters that take part in a key.
      {"past the 255th character", name, jet4, long_emoji, {}},
      {"OLE objects are never indexed", ole, jet4, picture, {"PICTURE"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> key;
    const jet::Status st = jet::AppendIndexKeyColumn(c.column, true, c.value, c.header, &key);
    EXPECT_EQ(st.kind(), c.words.empty() ? jet::ErrorKind::kOk : jet::ErrorKind::kUnsupported)
        << st.ToString();
    for (const std::string& w : c.words) EXPECT_NE(st.message().find(w), std::string::npos) << w;
  }
}
