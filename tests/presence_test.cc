// The presence checks on real host files: absent and present keys, a key in
// each panel slot, Jet's case-insensitive comparison, keys with quotes, and
// databases the checks cannot read, which they report instead of counting
// the key as present.

#include "presence.h"

#include <gtest/gtest.h>

#include <string>

#include "checker.h"
#include "database.h"
#include "recordset_access.h"
#include "test_util.h"

namespace {

using afc::PresenceError;
using afc::Variant;

// Sets one column of the first row that `sql` returns, or adds a Master row
// with `value` as its key when `sql` is empty.
void Store(const std::string& path, const std::string& sql, const std::string& column,
           const std::string& value) {
  auto rs = std::make_unique<afc::ado::Recordset>();
  std::string description;
  int32_t number = 0;
  const std::string source = sql.empty() ? "SELECT * FROM Master WHERE SERVICE = 'USPS-PRI'" : sql;
  ASSERT_EQ(afc::OpenRecordset(path, source, rs, description, number, afc::kFalse), afc::kTrue)
      << description;
  if (sql.empty()) {
    ASSERT_TRUE(rs->AddNew().ok());
    afc::ado::Field f;
    ASSERT_TRUE(rs->Fields().Item("ACK", &f).ok());
    ASSERT_TRUE(f.SetValue(Variant::Bool(false)).ok());
    ASSERT_TRUE(rs->Fields().Item("ACTIVE", &f).ok());
    ASSERT_TRUE(f.SetValue(Variant::Bool(true)).ok());
  }
  afc::ado::Field f;
  ASSERT_TRUE(rs->Fields().Item(column, &f).ok());
  ASSERT_TRUE(f.SetValue(Variant::Text(value)).ok());
  afc::DataError e = rs->Update();
  ASSERT_TRUE(e.ok()) << e.description;
  afc::CloseRecordset(rs);

  auto db = jet::Database::Open(path);
  ASSERT_TRUE(db.ok());
  auto report = jet::CheckDatabase(**db);
  ASSERT_TRUE(report.ok());
  for (const auto& p : report->problems) ADD_FAILURE() << p;
}

TEST(PresenceTest, StatementsForTheFixedKeyAreUnchanged) {
  EXPECT_EQ(afc::MasterPresenceSql("FirstClass"),
            "Select [Service] From [Master] Where [Service] = 'FirstClass'");
  EXPECT_EQ(afc::PanelPresenceSql("FirstClass"),
            "Select * From [Panel] Where [SV1] = 'FirstClass' Or [SV2] = 'FirstClass' Or "
            "[SV3] = 'FirstClass' Or [SV4] = 'FirstClass' Or [SV5] = 'FirstClass' Or "
            "[SV6] = 'FirstClass' Or [SV7] = 'FirstClass'");
  EXPECT_EQ(afc::MasterPresenceSql("O'Brien"),
            "Select [Service] From [Master] Where [Service] = 'O''Brien'");
}

TEST(PresenceTest, AnswersForTheHostFiles) {
  for (const std::string& path : testutil::FixtureFiles("hosts")) {
    PresenceError error;
    error.ErrorNumber = 99;
    EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", path, &error), afc::kFalse) << path;
    EXPECT_FALSE(error.failed());
    EXPECT_EQ(afc::ServiceExistsInPanel("FirstClass", path, &error), afc::kFalse);
    EXPECT_FALSE(error.failed());
    EXPECT_EQ(afc::ServiceExistsInMaster("USPS-PRI", path), afc::kTrue);
    EXPECT_EQ(afc::ServiceExistsInMaster("usps-pri", path), afc::kTrue);
    EXPECT_EQ(afc::ServiceExistsInMaster("USPS-PRI  ", path), afc::kTrue);
    EXPECT_EQ(afc::ServiceExistsInMaster(" USPS-PRI", path), afc::kFalse);
    EXPECT_EQ(afc::ServiceExistsInMaster("USPS PRI", path), afc::kFalse);
    EXPECT_EQ(afc::ServiceExistsInPanel("usps-pri", path), afc::kTrue);
    EXPECT_EQ(afc::ServiceExistsInPanel("FR-COLIS", path), afc::kTrue);  // slot 3, row 2
  }
}

TEST(PresenceTest, FindsTheKeyInAnyPanelSlot) {
  for (int slot = 1; slot <= 7; ++slot) {
    testutil::TempDir dir;
    std::string path = dir.File("Tallowin.mdb");
    testutil::CopyFile(testutil::Fixture("hosts/tallowin-v2003.mdb"), path);
    std::string column = "SV" + std::to_string(slot);
    Store(path, "SELECT * FROM Panel WHERE PANELNAME = 'International'", column, "FirstClass");
    EXPECT_EQ(afc::ServiceExistsInPanel("FIRSTCLASS", path), afc::kTrue) << column;
    EXPECT_EQ(afc::ServiceExistsInPanel("FirstClas", path), afc::kFalse) << column;
    EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", path), afc::kFalse) << column;
    auto out = testutil::RunProcess({"mdb-export", path, "Panel"});
    EXPECT_NE(out.out.find("\"FirstClass\""), std::string::npos) << column;
  }
}

TEST(PresenceTest, KeysWithQuotesAreFoundNotMisread) {
  testutil::TempDir dir;
  std::string path = dir.File("Tallowin.mdb");
  testutil::CopyFile(testutil::Fixture("hosts/tallowin-v2000.mdb"), path);
  Store(path, "", "SERVICE", "O'Brien's");
  Store(path, "SELECT * FROM Panel WHERE PANELID = 1", "SV6", "it's");
  PresenceError error;
  EXPECT_EQ(afc::ServiceExistsInMaster("o'brien's", path, &error), afc::kTrue);
  EXPECT_FALSE(error.failed()) << error.ErrorDescription;
  EXPECT_EQ(afc::ServiceExistsInMaster("O'Brien", path, &error), afc::kFalse);
  EXPECT_FALSE(error.failed()) << error.ErrorDescription;
  EXPECT_EQ(afc::ServiceExistsInPanel("IT'S", path, &error), afc::kTrue);
  // A key built to widen the query stays one literal.
  EXPECT_EQ(afc::ServiceExistsInMaster("x' Or [Service] = 'USPS-PRI", path, &error), afc::kFalse);
  EXPECT_FALSE(error.failed()) << error.ErrorDescription;
  auto out = testutil::RunProcess({"mdb-export", path, "Master"});
  EXPECT_NE(out.out.find("\"O'Brien's\""), std::string::npos);
}

// A check that cannot run its query says so, with the number and the
// description; it does not claim the key is there.
TEST(PresenceTest, ReportsADatabaseItCannotRead) {
  testutil::TempDir dir;
  std::string not_db = dir.File("Tallowin.mdb");
  testutil::WriteFile(not_db, "Tallowin settings\n");
  struct Case {
    std::string path;
    int32_t number;
  };
  const Case cases[] = {
      {dir.File("deleted.mdb"), afc::kErrFileNotFound},
      {not_db, afc::kErrNotADatabase},
      {testutil::Fixture("access/testV2000.mdb"), afc::kErrUnknownTable},  // no Master, no Panel
  };
  for (const Case& c : cases) {
    PresenceError error;
    EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", c.path, &error), afc::kTrue) << c.path;
    EXPECT_EQ(error.ErrorNumber, c.number) << error.ErrorDescription;
    EXPECT_FALSE(error.ErrorDescription.empty());
    error = PresenceError();
    EXPECT_EQ(afc::ServiceExistsInPanel("FirstClass", c.path, &error), afc::kTrue);
    EXPECT_EQ(error.ErrorNumber, c.number) << error.ErrorDescription;
  }
  // A database that another writer holds is a failure too.
  testutil::TempDir other;
  std::string path = other.File("Tallowin.mdb");
  testutil::CopyFile(testutil::Fixture("hosts/tallowin-v2000.mdb"), path);
  jet::Database::Options options;
  options.writable = true;
  auto writer = jet::Database::Open(path, options);
  ASSERT_TRUE(writer.ok()) << writer.status().ToString();
  PresenceError error;
  EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", path, &error), afc::kTrue);
  EXPECT_EQ(error.ErrorNumber, afc::kErrFileInUse) << error.ErrorDescription;
}

}  // namespace
