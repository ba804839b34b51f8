// Recordset access, the field value reader and the presence checks on real
// .mdb files: opening and failing, detached reading, storing through an
// updatable recordset (checked by the engine's checker, a fresh open and
// mdbtools), the null substitutes and trimming of GetFieldValue, and the
// presence of a key in Master and in each Panel slot, with Jet's text
// equality, quotes, and databases the checks cannot read (which they report
// instead of counting the key as present).

#include "recordset_access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "database.h"
#include "field_value.h"
#include "presence.h"
#include "test_util.h"
#include "values.h"

namespace {

using afc::Boolean;
using afc::PresenceError;
using afc::Variant;
using afc::VariantKind;
using afc::ado::Field;
using afc::ado::Recordset;

std::string HostCopy(const testutil::TempDir& dir, const std::string& name = "tallowin-v2000.mdb") {
  return testutil::CopyOf(dir, "hosts/" + name);
}

using testutil::ExpectConsistent;

std::string Export(const std::string& path, const std::string& table) {
  auto r = testutil::RunProcess({"mdb-export", path, table});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

Variant Read(Recordset& rs, const std::string& column) {
  Field f;
  afc::DataError e = rs.Fields().Item(column, &f);
  EXPECT_TRUE(e.ok()) << e.description;
  Variant v;
  e = f.Value(&v);
  EXPECT_TRUE(e.ok()) << e.description;
  return v;
}

void Write(Recordset& rs, const std::string& column, const Variant& value) {
  Field f;
  ASSERT_TRUE(rs.Fields().Item(column, &f).ok());
  afc::DataError e = f.SetValue(value);
  ASSERT_TRUE(e.ok()) << e.description;
}

struct Opened {
  std::unique_ptr<Recordset> rs = std::make_unique<Recordset>();
  std::string description = "stale";
  int32_t number = -7;
  Boolean ok = afc::kFalse;
};

Opened Open(const std::string& path, const std::string& sql, bool read_only = true) {
  Opened o;
  o.ok = afc::OpenRecordset(path, sql, o.rs, o.description, o.number,
                            read_only ? afc::kTrue : afc::kFalse);
  return o;
}

TEST(RecordsetAccessTest, QueryWithoutRowsIsOpenAtEof) {
  std::string path = testutil::Fixture("hosts/tallowin-v2003.mdb");
  Opened o = Open(path, "Select [Service] From [Master] Where [Service] = 'FirstClass'");
  EXPECT_EQ(o.ok, afc::kTrue);
  EXPECT_EQ(o.number, 0);
  EXPECT_EQ(o.description, "");
  EXPECT_EQ(o.rs->State(), afc::ado::kAdStateOpen);
  EXPECT_TRUE(o.rs->Eof());
  Field f;
  ASSERT_TRUE(o.rs->Fields().Item("SERVICE", &f).ok());
  Variant v;
  EXPECT_EQ(f.Value(&v).number, afc::kErrNoCurrentRow);
  EXPECT_EQ(afc::CloseRecordset(o.rs), afc::kTrue);
  EXPECT_EQ(o.rs, nullptr);

  Boolean had_error = afc::kTrue;
  EXPECT_EQ(afc::RecordsExist(path, "SELECT * FROM Master WHERE SERVICE = 'none'", had_error),
            afc::kFalse);
  EXPECT_EQ(had_error, afc::kFalse);
}

TEST(RecordsetAccessTest, FailuresComeBackAsAPairAndDoNotLeak) {
  testutil::TempDir dir;
  std::string host = testutil::Fixture("hosts/tallowin-v2000.mdb");
  std::string not_db = dir.File("notes.mdb");
  testutil::WriteFile(not_db, std::string(8192, 'x'));
  struct Case {
    std::string path, sql;
    int32_t number;
    std::string mentions;
  };
  const Case cases[] = {
      {dir.File("missing.mdb"), "SELECT * FROM Master", afc::kErrFileNotFound, "missing.mdb"},
      {not_db, "SELECT * FROM Master", afc::kErrNotADatabase, "notes.mdb"},
      {dir.path(), "SELECT * FROM Master", 0, ""},  // a folder: any clear failure
      {"", "SELECT * FROM Master", afc::kErrBadArgument, "Data Source"},
      {host, "SELECT * FROM Masters", afc::kErrUnknownTable, "Masters"},
      {host, "SELECT [Servce] FROM Master", afc::kErrUnknownColumn, "Servce"},
      {host, "SELECT * FROM Panel WHERE SV9 = 'x'", afc::kErrUnknownColumn, "SV9"},
      {host, "SELECT * FROM Panel WHERE PANELID = 'x'", afc::kErrTypeMismatch, "PANELID"},
      {host, "SELECT * FROM Master WHERE", afc::kErrWhereSyntax, "WHERE"},
      {host, "SELECT * FROM Panel AS p", afc::kErrUnsupportedQuery, "AS"},
  };
  for (const Case& c : cases) {
    Opened o = Open(c.path, c.sql);
    EXPECT_EQ(o.ok, afc::kFalse) << c.path << " " << c.sql;
    EXPECT_NE(o.number, 0);
    if (c.number != 0) {
      EXPECT_EQ(o.number, c.number) << o.description;
    }
    EXPECT_NE(o.description.find(c.mentions), std::string::npos) << o.description;
    EXPECT_NE(o.rs->State(), afc::ado::kAdStateOpen);
    // Closing a recordset that never opened still releases it.
    EXPECT_EQ(afc::CloseRecordset(o.rs), afc::kTrue);
    EXPECT_EQ(o.rs, nullptr);

    Boolean had_error = afc::kFalse;
    EXPECT_EQ(afc::RecordsExist(c.path, c.sql, had_error), afc::kFalse);
    EXPECT_EQ(had_error, afc::kTrue);

    // The next successful call reports nothing of the failure before it.
    Opened good = Open(host, "SELECT * FROM Panel");
    EXPECT_EQ(good.ok, afc::kTrue);
    EXPECT_EQ(good.number, 0);
    EXPECT_EQ(good.description, "");
  }
  std::unique_ptr<Recordset> nothing;
  std::string description;
  int32_t number = 0;
  EXPECT_EQ(
      afc::OpenRecordset(host, "SELECT * FROM Panel", nothing, description, number, afc::kTrue),
      afc::kFalse);
  EXPECT_EQ(number, afc::kErrNoObject);
  EXPECT_EQ(afc::CloseRecordset(nothing), afc::kTrue);
}

TEST(RecordsetAccessTest, ReadOnlyRecordsetIsDetachedAndLetsTheFileGo) {
  testutil::TempDir dir;
  std::string path = HostCopy(dir);
  Opened o = Open(path,
                  "select PANELID, [PanelName], SV2 from panel where sv2 = 'usps-pri' "
                  "or (SV1 = 'DHL-INTL' and BD1 = 'dhl worldwide')");
  ASSERT_EQ(o.ok, afc::kTrue) << o.description;
  EXPECT_EQ(o.rs->ActiveConnection(), nullptr);
  // Nothing holds the file: a writer gets it while the rows are still read.
  {
    jet::Database::Options options;
    options.writable = true;
    auto writer = jet::Database::Open(path, options);
    EXPECT_TRUE(writer.ok()) << writer.status().ToString();
  }
  std::remove(path.c_str());
  EXPECT_EQ(o.rs->Fields().Count(), 3u);
  Field f;
  ASSERT_TRUE(o.rs->Fields().Item(2, &f).ok());
  std::string name;
  ASSERT_TRUE(f.Name(&name).ok());
  EXPECT_EQ(name, "SV2");
  EXPECT_EQ(Read(*o.rs, "PANELNAME").text(), "Domestic");
  EXPECT_EQ(Read(*o.rs, "sv2").text(), "USPS-PRI");
  ASSERT_TRUE(o.rs->MoveNext().ok());
  EXPECT_EQ(Read(*o.rs, "PANELNAME").text(), "International");
  ASSERT_TRUE(o.rs->MoveNext().ok());
  EXPECT_TRUE(o.rs->Eof());
  // It cannot write.
  ASSERT_TRUE(o.rs->Fields().Item(0, &f).ok());
  EXPECT_EQ(o.rs->AddNew().number, afc::kErrReadOnly);
  EXPECT_EQ(afc::CloseRecordset(o.rs), afc::kTrue);
}

// Opens an updatable recordset on `sql`, adds a row with the given values and
// stores it; returns what Update said.
afc::DataError AddRow(const std::string& path, const std::string& sql,
                      const std::vector<std::pair<std::string, Variant>>& values) {
  Opened o = Open(path, sql, false);
  EXPECT_EQ(o.ok, afc::kTrue) << o.description;
  if (!o.ok || !o.rs->AddNew().ok()) return {afc::kErrNoObject, "AddNew failed"};
  for (const auto& [column, value] : values) Write(*o.rs, column, value);
  afc::DataError e = o.rs->Update();
  afc::CloseRecordset(o.rs);
  return e;
}

// (Cloning the template row whole, memo and OLE included, and changing a row
// in place are what the installation does; install_test checks them.)
TEST(RecordsetAccessTest, UpdatableRecordsetTakesTheFileOnlyAtItsFirstUpdate) {
  testutil::TempDir dir;
  std::string path = HostCopy(dir, "tallowin-v2003.mdb");
  Opened o = Open(path, "Select * From [Master] Where [Service] = 'USPS-PRI'", false);
  ASSERT_EQ(o.ok, afc::kTrue) << o.description;
  ASSERT_NE(o.rs->ActiveConnection(), nullptr);
  // Until its first Update it reads like any other recordset: a reader
  // still gets in, as the installer's look-ups of reference values do.
  EXPECT_EQ(Open(path, "SELECT * FROM Panel").number, 0);
  ASSERT_TRUE(o.rs->AddNew().ok());
  Write(*o.rs, "SERVICE", Variant::Text("FirstClass"));
  Write(*o.rs, "POSDEPT", Variant::Text("METER"));
  Write(*o.rs, "ACK-S", Variant::Integer(2));
  Write(*o.rs, "ACK", Variant::Bool(false));
  Write(*o.rs, "ACTIVE", Variant::Bool(true));
  afc::DataError e = o.rs->Update();
  ASSERT_TRUE(e.ok()) << e.description;
  EXPECT_EQ(Read(*o.rs, "SERVICE").text(), "FirstClass");
  // From then on it keeps the file for itself until it is closed.
  EXPECT_EQ(Open(path, "SELECT * FROM Panel").number, afc::kErrFileInUse);
  EXPECT_EQ(afc::CloseRecordset(o.rs), afc::kTrue);

  ExpectConsistent(path);
  Opened fresh = Open(path, "SELECT * FROM Master WHERE SERVICE = 'firstclass'");
  ASSERT_EQ(fresh.ok, afc::kTrue) << fresh.description;
  ASSERT_FALSE(fresh.rs->Eof());
  EXPECT_EQ(Read(*fresh.rs, "POSDEPT").text(), "METER");
  EXPECT_EQ(Read(*fresh.rs, "ACK-S").TextForm(), "2");
}

TEST(RecordsetAccessTest, RefusedChangeIsReportedAndWritesNothing) {
  testutil::TempDir dir;
  std::string path = HostCopy(dir);
  // The primary key is taken.
  afc::DataError e = AddRow(path, "SELECT * FROM Master WHERE SERVICE = 'USPS-PRI'",
                            {{"SERVICE", Variant::Text("UPS-GND")},
                             {"ACK", Variant::Bool(false)},
                             {"ACTIVE", Variant::Bool(true)}});
  EXPECT_EQ(e.number, afc::kErrChangeRefused);
  EXPECT_FALSE(e.description.empty());
  Opened o = Open(path, "SELECT * FROM Master WHERE SERVICE = 'USPS-PRI'", false);
  Field f;
  ASSERT_TRUE(o.rs->Fields().Item("MAXPIECES", &f).ok());
  EXPECT_EQ(f.SetValue(Variant::Text("many")).number, afc::kErrConversion);
  afc::CloseRecordset(o.rs);
  ExpectConsistent(path);
  Boolean had_error = afc::kFalse;
  EXPECT_EQ(afc::RecordsExist(path,
                              "SELECT * FROM Master WHERE SERVICE = 'UPS-GND' AND "
                              "DESCRIPTION = 'USPS Priority Mail'",
                              had_error),
            afc::kFalse);
}

// GetFieldValue on a row whose every column but the key and the required
// booleans is null, and on one with padded text.
TEST(GetFieldValueTest, NullSubstitutesByTypeClassAndTrimming) {
  testutil::TempDir dir;
  std::string path = HostCopy(dir);
  afc::DataError e = AddRow(path, "SELECT * FROM Master WHERE SERVICE = 'nothing'",
                            {{"SERVICE", Variant::Text("  Padded  Key ")},
                             {"DESCRIPTION", Variant::Text("   ")},
                             {"POSDEPT", Variant::Text("\tTab\t")},
                             {"ACK", Variant::Bool(true)},
                             {"ACTIVE", Variant::Bool(false)}});
  ASSERT_TRUE(e.ok()) << e.description;
  ExpectConsistent(path);
  EXPECT_NE(Export(path, "Master").find("\"  Padded  Key \""), std::string::npos);

  Opened o = Open(path, "SELECT * FROM Master WHERE SERVICE = '  PADDED  KEY'");
  ASSERT_EQ(o.ok, afc::kTrue) << o.description;
  ASSERT_FALSE(o.rs->Eof());
  auto get = [&](const std::string& column, const Variant& def = Variant::Text(""),
                 Boolean trim = afc::kTrue) {
    Field f;
    EXPECT_TRUE(o.rs->Fields().Item(column, &f).ok());
    return afc::GetFieldValue(f, def, trim);
  };
  EXPECT_EQ(get("SERVICE"), Variant::Text("Padded  Key"));
  EXPECT_EQ(get("SERVICE", Variant::Text(""), afc::kFalse), Variant::Text("  Padded  Key "));
  EXPECT_EQ(get("DESCRIPTION"), Variant::Text(""));
  EXPECT_EQ(get("POSDEPT"), Variant::Text("\tTab\t"));
  // Null text-like (Text, Memo, GUID): the empty text, never a null.
  for (const char* column : {"ACTDELC", "NOTES", "UID"}) {
    EXPECT_EQ(get(column), Variant::Text("")) << column;
  }
  // Null numbers and bytes: the 16-bit integer 0.
  for (const char* column :
       {"ACK-S", "RATE", "MAXWEIGHT", "SURCHARGE", "SORTNO", "ZONEBYTE", "PRECISE", "LOGO"}) {
    Variant v = get(column);
    EXPECT_EQ(v, Variant::Integer(0)) << column;
    EXPECT_EQ(v.value().type, jet::ColumnType::kInteger) << column;
  }
  // A null date: now, taken at the call.
  EXPECT_EQ(get("CREATED").kind(), VariantKind::kDate);
  EXPECT_GE(jet::DateTimeFromJet(get("CREATED").value().real).year, 2024);
  // A default that is not empty wins for every null, whatever the type.
  for (const char* column : {"ACTDELC", "ACK-S", "CREATED", "LOGO"}) {
    EXPECT_EQ(get(column, Variant::Text("dflt")), Variant::Text("dflt")) << column;
    EXPECT_EQ(get(column, Variant::Integer(0)), Variant::Integer(0)) << column;
  }
  // Present values other than text come back unchanged, default or not.
  EXPECT_EQ(get("ACK", Variant::Text("dflt")), Variant::Bool(true));
  EXPECT_EQ(get("ACTIVE"), Variant::Bool(false));
  // An unreadable field gives the default.
  EXPECT_EQ(afc::GetFieldValue(Field(), Variant::Text("d"), afc::kTrue), Variant::Text("d"));
  ASSERT_TRUE(o.rs->MoveNext().ok());
  EXPECT_EQ(get("SERVICE", Variant::Text("eof")), Variant::Text("eof"));
  // The host's booleans are NOT NULL, so only the class table decides what a
  // null boolean gives.
  EXPECT_EQ(afc::TypeClassOf(11), afc::TypeClass::kBoolean);
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
    const std::string path = HostCopy(dir, "tallowin-v2003.mdb");
    const std::string column = "SV" + std::to_string(slot);
    ASSERT_TRUE(testutil::SetColumns(path, "Panel", "PANELNAME", "International",
                                     {{column, testutil::TextValue("FirstClass")}})
                    .ok());
    EXPECT_EQ(afc::ServiceExistsInPanel("FIRSTCLASS", path), afc::kTrue) << column;
    EXPECT_EQ(afc::ServiceExistsInPanel("FirstClas", path), afc::kFalse) << column;
    EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", path), afc::kFalse) << column;
    auto out = testutil::RunProcess({"mdb-export", path, "Panel"});
    EXPECT_NE(out.out.find("\"FirstClass\""), std::string::npos) << column;
  }
}

TEST(PresenceTest, KeysWithQuotesAreFoundNotMisread) {
  testutil::TempDir dir;
  const std::string path = HostCopy(dir);
  ASSERT_TRUE(AddRow(path, "SELECT * FROM Master WHERE SERVICE = 'x'",
                     {{"SERVICE", Variant::Text("O'Brien's")},
                      {"ACK", Variant::Bool(false)},
                      {"ACTIVE", Variant::Bool(true)}})
                  .ok());
  ASSERT_TRUE(
      testutil::SetColumns(path, "Panel", "PANELID", "1", {{"SV6", testutil::TextValue("it's")}})
          .ok());
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
  const std::string path = HostCopy(other);
  auto writer = testutil::OpenWritable(path);
  ASSERT_TRUE(writer);
  PresenceError error;
  EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", path, &error), afc::kTrue);
  EXPECT_EQ(error.ErrorNumber, afc::kErrFileInUse) << error.ErrorDescription;
}

}  // namespace
