// Index keys: what the encoder refuses, and Access 97's codes above U+00FF.
// (Every key Access stored in the fixtures is rebuilt from its row, byte for
// byte, by the checker:
// CheckerTest.EveryFixturePassesAndEveryIndexEntryIsAccountedFor.)

#include "index_key.h"

#include <gtest/gtest.h>

#include <string>

#include "jet/jet.h"
#include "test_util.h"
#include "values.h"

// Access 97: Windows-1252's characters above U+00FF share the code of the
// byte Windows-1252 stores them as; every other one is ignored.
TEST(IndexKeyTest, Access97CodesFollowWindows1252) {
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
