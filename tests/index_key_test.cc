// SPDX-License-Identifier: Apache-2.0
// Text index keys against the bytes Access stored for them, and what the
// encoder refuses. (Every key of every fixture, and of the Access 97
// Northwind, is rebuilt from its row by the checker's tests.)

#include "jet/index/index_key.h"

#include <cstdio>
#include <sstream>

#include "values.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  return testutil::Hex({bytes.begin(), bytes.end()});
}

jet::DatabaseHeader Header(bool jet97, uint16_t code_page = 1252) {
  jet::DatabaseHeader h;
  h.format = jet97 ? &jet::Jet3Format() : &jet::Jet4Format();
  h.code_page = code_page;
  h.sort_order = {1033, jet97 ? -1 : 0};
  return h;
}

jet::ColumnDef Name(jet::SortOrder order = {1033, 0},
                    jet::ColumnType type = jet::ColumnType::kText) {
  jet::ColumnDef c;
  c.name = "NAME";
  c.type = type;
  c.sort_order = order;
  return c;
}

// Access 2000's Northwind, General (legacy): Products.ProductName, index
// page 362.
constexpr char kNuNuCa[] = "NuNuCa Nu\xC3\x9F-Nougat-Creme";
constexpr char kNuNuCa2000[] =
    "7F626F626F4D4A07626F6B6B62646F554A6D4D695160510101010180330682804B068200";

// Each line of values/index_keys.tsv: the key Access stored for a text, or
// the refusal of one the engine cannot build exactly.
TEST(IndexKeyTest, KeysAreAccesssOrRefusedWithTheReason) {
  const std::map<std::string, jet::Expansions> expansions = {
      {"Known", jet::Expansions::kKnown},
      {"Certain", jet::Expansions::kCertain},
      {"Access2000", jet::Expansions::kAccess2000},
      {"Letters", jet::Expansions::kLetters}};
  for (testutil::DataLine& line : testutil::DataLines("values/index_keys.tsv", true)) {
    std::vector<std::string>& f = line.fields;
    ASSERT_EQ(f.size(), 8u) << line.number;
    SCOPED_TRACE("index_keys.tsv:" + std::to_string(line.number) + ": " + f[0]);
    jet::SortOrder order;
    ASSERT_EQ(std::sscanf(f[3].c_str(), "%hu,%d", &order.lcid, &order.version), 2);
    jet::Value value = testutil::TextValue(f[6]);
    ASSERT_TRUE(jet::ColumnTypeFromName(f[4], &value.type));
    std::vector<uint8_t> key;
    const jet::Status st = jet::AppendIndexKeyColumn(
        Name(order, value.type), true, value, Header(f[1] == "97", uint16_t(std::stoi(f[2]))), &key,
        expansions.at(f[5]));
    if (f[7].rfind("refused", 0) != 0) {
      ASSERT_TRUE(st.ok()) << st.ToString();
      EXPECT_TRUE(f[7] == "made" || Hex(key) == f[7]) << Hex(key);
      continue;
    }
    EXPECT_EQ(st.kind(), jet::ErrorKind::kUnsupported) << Hex(key);
    std::istringstream words(f[7].substr(7));
    for (std::string w; words >> w;) EXPECT_NE(st.message().find(w), std::string::npos) << w;
  }
}

// The checker accepts the key of either count where Access versions differ;
// a key every version agrees on is the only one.
TEST(IndexKeyTest, PossibleKeysAreThoseOfEachCount) {
  const jet::DatabaseHeader legacy = Header(false);
  jet::TableDef table;
  table.name = "Products";
  table.columns.push_back(Name());
  jet::PhysicalIndex index;
  index.columns.push_back({0, true});

  std::vector<std::vector<uint8_t>> keys;
  ASSERT_TRUE(
      jet::PossibleIndexKeys(table, index, {testutil::TextValue(kNuNuCa)}, legacy, &keys).ok());
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(Hex(keys[1]), kNuNuCa2000);
  std::vector<uint8_t> known;
  ASSERT_TRUE(jet::EncodeIndexKey(table, index, {testutil::TextValue(kNuNuCa)}, legacy, &known,
                                  jet::Expansions::kKnown)
                  .ok());
  EXPECT_EQ(keys[0], known);  // as Access 2007 and later count
  // Writers take the default: as Access 2000-2003 count.
  ASSERT_TRUE(
      jet::EncodeIndexKey(table, index, {testutil::TextValue(kNuNuCa)}, legacy, &known).ok());
  EXPECT_EQ(Hex(known), kNuNuCa2000);

  ASSERT_TRUE(
      jet::PossibleIndexKeys(table, index, {testutil::TextValue("Nu")}, legacy, &keys).ok());
  EXPECT_EQ(keys.size(), 1u);
}

}  // namespace
