// SPDX-License-Identifier: Apache-2.0
// The installer's SQL reader and the connection string: what it accepts,
// how Jet's text equality behaves, and the errors for what it refuses.

#include <cctype>

#include "data/ado.h"
#include "data/sql.h"
#include "jet/db/database.h"
#include "values.h"

namespace {

using afc::DataError;
using afc::sql::Condition;
using afc::sql::Parse;
using afc::sql::Select;

TEST(SqlParseTest, AcceptsTheInstallerForms) {
  Select s;
  ASSERT_TRUE(Parse("Select [Service] From [Master] Where [Service] = 'FirstClass'", &s).ok());
  EXPECT_EQ(s.table, "Master");
  ASSERT_EQ(s.items.size(), 1u);
  EXPECT_EQ(s.items[0].column.name, "Service");
  ASSERT_TRUE(s.where);
  EXPECT_EQ(s.where->literal.text, "FirstClass");

  ASSERT_TRUE(Parse("select master.*, SERVICE from MASTER;", &s).ok());
  EXPECT_TRUE(s.items[0].all);
  EXPECT_EQ(s.items[0].column.qualifier, "master");
  EXPECT_FALSE(s.items[1].all);

  // Or binds looser than And; parentheses regroup.
  ASSERT_TRUE(Parse("SELECT * FROM t WHERE a = '1' OR b = '2' AND c = '3'", &s).ok());
  EXPECT_EQ(s.where->kind, Condition::Kind::kOr);
  EXPECT_EQ(s.where->right->kind, Condition::Kind::kAnd);
  ASSERT_TRUE(Parse("SELECT * FROM t WHERE (a = '1' OR b = '2') AND [t].[c] = 3", &s).ok());
  EXPECT_EQ(s.where->kind, Condition::Kind::kAnd);
  EXPECT_FALSE(s.where->right->literal.is_text);
  EXPECT_EQ(s.where->right->column.qualifier, "t");

  ASSERT_TRUE(Parse("Select * From [Panel] Where [SV1] = 'O''Brien'''", &s).ok());
  EXPECT_EQ(s.where->literal.text, "O'Brien'");
}

TEST(SqlParseTest, RefusesWhatItDoesNotReadWithAClearError) {
  for (const testutil::DataLine& line : testutil::DataLines("sql/refused.tsv")) {
    const std::vector<std::string>& f = line.fields;
    Select s;
    DataError e = Parse(f.at(2), &s);
    EXPECT_EQ(e.number, std::stoi(f[0])) << f[2] << ": " << e.description;
    EXPECT_TRUE(testutil::Has(e.description, f[1])) << f[2];
  }
}

// Text equality as Jet's `=` has it: the column's sort order decides.
TEST(SqlTextEqualityTest, IgnoresCaseAndTrailingSpacesOnly) {
  for (const std::string& path : testutil::FixtureFiles("hosts")) {
    auto db = jet::Database::Open(path).value();
    auto master = db->GetTable("Master").value();
    const jet::ColumnDef& service = *master->FindColumn("SERVICE");
    const jet::ColumnDef& notes = *master->FindColumn("NOTES");  // a memo
    for (testutil::DataLine& line : testutil::DataLines("sql/text_equality.tsv", true)) {
      std::vector<std::string>& f = line.fields;
      f.resize(3);
      for (const jet::ColumnDef* column : {&service, &notes}) {
        EXPECT_EQ(afc::sql::TextEquals(*column, *db, f[1], f[2]), f[0] == "1")
            << column->name << ": " << f[1] << " / " << f[2];
      }
    }
    // Up to 255 characters the sort order decides (ß against "ss"), as it
    // does for short text; past them, the whole text still counts.
    const std::string x(253, 'x'), sharp_s = "\xC3\x9F";
    EXPECT_EQ(afc::sql::TextEquals(service, *db, x + sharp_s, x + "ss"),
              afc::sql::TextEquals(service, *db, sharp_s, "ss"));
    std::string a(300, 'x'), b(300, 'x');
    b[290] = 'y';
    EXPECT_FALSE(afc::sql::TextEquals(notes, *db, a, b));
    EXPECT_TRUE(afc::sql::TextEquals(notes, *db, a + "  ", std::string(300, 'X')));
  }
}

TEST(ConnectionStringTest, ReadsTheJetFormAndRefusesOthers) {
  for (const testutil::DataLine& line : testutil::DataLines("sql/connection_strings.tsv")) {
    const std::string& expected = line.fields.at(0);
    afc::ado::ConnectionString cs;
    DataError e = afc::ado::ParseConnectionString(line.fields.at(1), &cs);
    if (std::isdigit(uint8_t(expected[0]))) {
      EXPECT_EQ(e.number, std::stoi(expected)) << line.fields[1];
      EXPECT_FALSE(e.description.empty());
    } else {
      EXPECT_TRUE(e.ok() && cs.data_source == expected) << line.fields[1];
    }
  }
}

}  // namespace
