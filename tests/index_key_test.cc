// Text keys of characters that stand for several (ß for "ss"), and of NUL,
// against the bytes Access stored for them. (Every key of every fixture, and
// of the Access 97 Northwind, is rebuilt from its row by the checker's
// tests.)

#include "jet/index/index_key.h"

#include "values.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  return testutil::Hex({bytes.begin(), bytes.end()});
}

struct Collations {
  Collations() {
    jet97.format = &jet::Jet3Format();
    jet97.code_page = 1252;
    jet97.sort_order = {1033, -1};
    legacy.format = &jet::Jet4Format();
    legacy.code_page = 1252;
    legacy.sort_order = {1033, 0};
    name97.name = name_legacy.name = "NAME";
    name97.sort_order = {1033, -1};
    name_legacy.sort_order = {1033, 0};
  }
  jet::DatabaseHeader jet97, legacy;
  jet::ColumnDef name97, name_legacy;
};

// Access 97 (nwind.mdb): Suppliers.CompanyName, index page 587, and the
// text column of MSysModules2's Index1, page 414.
constexpr char kPlutzer[] = "Plutzer Lebensmittelgro\xC3\x9Fm\xC3\xA4rkte AG";
constexpr char kPlutzer97[] =
    "7F736D78777E6675116D66616670766F6A7777666D68757276766F60756C776611606802222222222260";
constexpr char kLock97[] = "7F6D72626C1000";
// Access 2000's Northwind, General (legacy) (GabrielLogue copy):
// Products.ProductName, index page 362, and Suppliers.CompanyName, page 377.
constexpr char kNuNuCa[] = "NuNuCa Nu\xC3\x9F-Nougat-Creme";
constexpr char kNuNuCa2000[] =
    "7F626F626F4D4A07626F6B6B62646F554A6D4D695160510101010180330682804B068200";
constexpr char kPlutzer2000[] =
    "7F665E6F6D785169075E514C51626B60596D6D515E5569646B6B604A695C6D51074A5501020202020202020202"
    "02020202020202020202020202020202021300";

TEST(IndexKeyTest, CharactersThatStandForSeveralAndNulAsAccessKeysThem) {
  const Collations c;
  using E = jet::Expansions;
  const struct {
    const char* what;
    bool jet97;
    std::string text;
    E expansions;
    const char* key;  // nullptr: refused
  } cases[] = {
      // Access 97 counts ß as the two significant letters "ss", and keys
      // NUL like U+0001-0008.
      {"Access 97, ß", true, kPlutzer, E::kKnown, kPlutzer97},
      {"Access 97, NUL", true, std::string("Lock\0", 5), E::kKnown, kLock97},
      // Access 2000 counts ß as two positions, before an accent (ä) and
      // before a hyphen (its unprintable position); Access 2007 and later
      // as one, so a certain key is refused.
      {"Access 2000, ß before an accent", false, kPlutzer, E::kLetters, kPlutzer2000},
      {"Access 2000, ß before a hyphen", false, kNuNuCa, E::kLetters, kNuNuCa2000},
      {"Access versions differ", false, kNuNuCa, E::kCertain, nullptr},
      // What the engine writes: Access 2000's counts, where they are known.
      {"as Access 2000, ß", false, kPlutzer, E::kAccess2000, kPlutzer2000},
      {"as Access 2000, æ before an accent", false, "\xC3\xA6\xC3\xA9", E::kAccess2000, nullptr},
      // Where nothing after it depends on positions, the count is moot.
      {"nothing after ß depends on positions", false, "Nu\xC3\x9F", E::kCertain, "7F626F6B6B0100"},
      // No Access-made index shows how these count: æ before an accent
      // (Access 97), the ligature ﬁ before one (General (legacy)); nor NUL
      // in a Jet 4 key.
      {"Access 97, æ before an accent", true, "\xC3\xA6\xC3\xA9", E::kKnown, nullptr},
      {"Access 97, æ after it", true, "\xC3\xA9\xC3\xA6", E::kKnown, "7F6660660400"},
      {"General (legacy), fi ligature", false, "\xEF\xAC\x81\xC3\xA9", E::kKnown, nullptr},
      {"Jet 4, NUL", false, std::string("a\0", 2), E::kKnown, nullptr},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<uint8_t> key;
    const jet::Status st = jet::AppendIndexKeyColumn(
        k.jet97 ? c.name97 : c.name_legacy, true, testutil::TextValue(k.text),
        k.jet97 ? c.jet97 : c.legacy, &key, k.expansions);
    if (k.key == nullptr) {
      EXPECT_EQ(st.kind(), jet::ErrorKind::kUnsupported) << Hex(key);
      EXPECT_NE(st.message().find("NAME"), std::string::npos) << st.message();
      EXPECT_NE(st.message().find("U+"), std::string::npos) << st.message();
    } else {
      ASSERT_TRUE(st.ok()) << st.ToString();
      EXPECT_EQ(Hex(key), k.key);
    }
  }
}

// The checker accepts the key of either count where Access versions differ;
// a key every version agrees on is the only one.
TEST(IndexKeyTest, PossibleKeysAreThoseOfEachCount) {
  const Collations c;
  jet::TableDef table;
  table.name = "Products";
  table.columns.push_back(c.name_legacy);
  jet::PhysicalIndex index;
  index.columns.push_back({c.name_legacy.number, true});

  std::vector<std::vector<uint8_t>> keys;
  ASSERT_TRUE(
      jet::PossibleIndexKeys(table, index, {testutil::TextValue(kNuNuCa)}, c.legacy, &keys).ok());
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(Hex(keys[1]), kNuNuCa2000);
  std::vector<uint8_t> known;
  ASSERT_TRUE(jet::EncodeIndexKey(table, index, {testutil::TextValue(kNuNuCa)}, c.legacy, &known,
                                  jet::Expansions::kKnown)
                  .ok());
  EXPECT_EQ(keys[0], known);  // as Access 2007 and later count
  // Writers take the default: as Access 2000-2003 count.
  ASSERT_TRUE(
      jet::EncodeIndexKey(table, index, {testutil::TextValue(kNuNuCa)}, c.legacy, &known).ok());
  EXPECT_EQ(Hex(known), kNuNuCa2000);

  ASSERT_TRUE(
      jet::PossibleIndexKeys(table, index, {testutil::TextValue("Nu")}, c.legacy, &keys).ok());
  EXPECT_EQ(keys.size(), 1u);
}

}  // namespace
