// SPDX-License-Identifier: Apache-2.0
// Values of the Access 2010 and 2019 additions read as Access showed them:
// calculated columns (the values Access computed, which Jackcess's tests
// state as well) and Date/Time Extended (the file's own DateExtStr column
// holds Access's rendering of each DateExt value).

#include <string>
#include <vector>

#include "test_util.h"
#include "values.h"

namespace {

// Column `name` of every row of `table`, as text.
std::vector<std::string> Column(const std::string& file, const std::string& table,
                                const std::string& name) {
  auto db = jet::Database::Open(testutil::Fixture(file));
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return {};
  std::vector<jet::RowId> ids;
  std::vector<std::vector<jet::Value>> rows;
  testutil::ScanTable(**db, table, &ids, &rows);
  const auto def = (*db)->GetTable(table).value();
  const size_t at = size_t(def->FindColumn(name) - def->columns.data());
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(testutil::Text(r[at]));
  return out;
}

TEST(AccdbTest, CalculatedColumnsReadAsAccessComputedThem) {
  using V = std::vector<std::string>;
  const char* f = "access/calcFieldTestV2010.accdb";
  EXPECT_EQ(Column(f, "Table1", "LastFirst"),
            (V{"Wayne, Bruce", "Simpson, Bart", "Doe, John", "User, Test"}));
  EXPECT_EQ(Column(f, "Table1", "IsRich"), (V{"true", "false", "false", "false"}));
  EXPECT_EQ(Column(f, "Table1", "AllNames")[1], "Simpson, Bart=Simpson, Bart");  // a Memo
  EXPECT_EQ(Column(f, "Table1", "WeeklySalary"),
            (V{"19230.7692307692", "-0.0192307692307692", "0", "1.92307692307692"}));
  EXPECT_EQ(Column(f, "Table1", "BigNumTest"),
            (V{"56505085819.424791296572280180", "-0.0784734499180612994241100748",
               "0.00000000", "0.0000002787019289824216980830"}));
  EXPECT_EQ(Column(f, "Table1", "FloatTest")[3], "1.27413e-10");  // a Single
}

TEST(AccdbTest, ExtendedDatesKeepTheirHundredNanoseconds) {
  const char* f = "access/extDateTestV2019.accdb";
  const auto ext = Column(f, "Table1", "DateExt"), shown = Column(f, "Table1", "DateExtStr");
  ASSERT_GE(ext.size(), 6u);
  EXPECT_EQ(ext[0], "2020-06-17T00:00:00");
  EXPECT_EQ(shown[0], "6/17/2020");
  EXPECT_EQ(ext[3], "2021-06-14T01:45:00");
  EXPECT_EQ(shown[3], "6/14/2021 1:45:00.0000000 AM");
  EXPECT_EQ(ext[5], "2021-06-14T22:45:12.3456789");
  EXPECT_EQ(shown[5], "6/14/2021 10:45:12.3456789 PM");
  std::string stored;
  ASSERT_TRUE(jet::ParseExtDateTime(ext[5], &stored));
  EXPECT_EQ(jet::FormatExtDateTime(stored), ext[5]);
  EXPECT_FALSE(jet::ParseExtDateTime("2021-02-29", &stored));
}

}  // namespace
