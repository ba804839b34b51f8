// The installer's SQL reader and the connection string: what it accepts,
// how Jet's text equality behaves, and the errors for what it refuses.

#include <tuple>

#include "data/ado.h"
#include "jet/db/database.h"
#include "jet/index/index_key.h"
#include "data/sql.h"
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
  // The way back: a key goes into a literal with its quotes doubled.
  EXPECT_EQ(afc::sql::DoubleQuotes("FirstClass"), "FirstClass");
  EXPECT_EQ(afc::sql::DoubleQuotes("O'Brien''s"), "O''Brien''''s");
}

TEST(SqlParseTest, RefusesWhatItDoesNotReadWithAClearError) {
  const struct {
    const char* sql;
    int32_t number;
    const char* mentions;
  } cases[] = {{"DELETE FROM Master", afc::kErrUnsupportedQuery, "DELETE"},
               {"Master", afc::kErrNotSelect, "SELECT"},
               {"SELECT * FROM Master ORDER BY SERVICE", afc::kErrUnsupportedQuery, "ORDER"},
               {"SELECT * FROM Master WHERE SERVICE LIKE 'U*'", afc::kErrUnsupportedQuery, "LIKE"},
               {"SELECT * FROM Master WHERE RATE > 1", afc::kErrUnsupportedQuery, "'>'"},
               {"SELECT * FROM Master, Panel", afc::kErrUnsupportedQuery, "more than one table"},
               {"SELECT * FROM Master WHERE SERVICE = \"X\"", afc::kErrUnsupportedQuery, "double"},
               {"SELECT * FROM Master WHERE SERVICE = 'X", afc::kErrWhereSyntax, "closing quote"},
               {"SELECT * FROM Master WHERE (SERVICE = 'X'", afc::kErrWhereSyntax, "')'"},
               {"SELECT * FROM Master WHERE SERVICE = 'X' Or", afc::kErrWhereSyntax, "end"},
               {"SELECT * FROM Master WHERE", afc::kErrWhereSyntax, "column name"},
               {"SELECT FROM Master", afc::kErrSelectSyntax, "column name"},
               {"SELECT * Master", afc::kErrSelectSyntax, "FROM"},
               {"SELECT * FROM", afc::kErrFromSyntax, "table name"},
               {"SELECT [SERVICE FROM Master", afc::kErrSelectSyntax, "']'"}};
  for (const auto& c : cases) {
    Select s;
    DataError e = Parse(c.sql, &s);
    EXPECT_EQ(e.number, c.number) << c.sql << ": " << e.description;
    EXPECT_NE(e.description.find(c.mentions), std::string::npos) << c.sql << ": " << e.description;
  }
}

// Text equality as Jet's `=` has it: the column's sort order decides.
TEST(SqlTextEqualityTest, IgnoresCaseAndTrailingSpacesOnly) {
  for (const std::string& path : testutil::FixtureFiles("hosts")) {
    auto db = jet::Database::Open(path).value();
    auto master = db->GetTable("Master").value();
    const jet::ColumnDef& service = *master->FindColumn("SERVICE");
    const jet::ColumnDef& notes = *master->FindColumn("NOTES");  // a memo
    // The comparison goes through the sort order's keys, not a fallback.
    std::vector<uint8_t> key;
    ASSERT_TRUE(jet::AppendIndexKeyColumn(service, true,
                                          testutil::TextValue("Colis \xC3\x89"
                                                              "conomique"),
                                          db->header(), &key)
                    .ok());
    // Case and trailing spaces do not count; leading spaces, inner spaces,
    // hyphens, quotes and accents do.
    const std::string e_acute = "\xC3\xA9", e_acute_upper = "\xC3\x89";
    const std::tuple<std::string, std::string, bool> pairs[] = {
        {"FirstClass", "FIRSTCLASS", true},
        {"firstclass", "FirstClass  ", true},
        {" ", "", true},
        {" FirstClass", "FirstClass", false},
        {"First Class", "FirstClass", false},
        {"USPS-PRI", "USPSPRI", false},
        {"O'Brien", "OBrien", false},
        {"Colis " + e_acute_upper + "conomique", "Colis Economique", false},
        {"Colis " + e_acute + "conomique", "COLIS " + e_acute_upper + "CONOMIQUE", true}};
    for (const jet::ColumnDef* column : {&service, &notes}) {
      for (const auto& [a, b, equal] : pairs) {
        EXPECT_EQ(afc::sql::TextEquals(*column, *db, a, b), equal)
            << column->name << ": " << a << " / " << b;
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
  afc::ado::ConnectionString cs;
  for (const auto& [text, source] :
       {std::pair("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Tallowin\\My Tallowin.mdb",
                  "C:\\Tallowin\\My Tallowin.mdb"),
        {"provider = microsoft.jet.oledb.4.0 ; data source=\"/tmp/a;b.mdb\";", "/tmp/a;b.mdb"}}) {
    EXPECT_TRUE(afc::ado::ParseConnectionString(text, &cs).ok() && cs.data_source == source)
        << text;
  }

  const std::pair<const char*, int32_t> bad[] = {
      {"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/tmp/x.mdb", afc::kErrProvider},
      {"Data Source=/tmp/x.mdb", afc::kErrProvider},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=", afc::kErrBadArgument},
      {"Provider=Microsoft.Jet.OLEDB.4.0", afc::kErrBadArgument},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/x.mdb;Mode=Read", afc::kErrBadArgument},
      {"/tmp/x.mdb", afc::kErrBadArgument}};
  for (const auto& [text, number] : bad) {
    DataError e = afc::ado::ParseConnectionString(text, &cs);
    EXPECT_EQ(e.number, number) << text;
    EXPECT_FALSE(e.description.empty());
  }
}

}  // namespace
