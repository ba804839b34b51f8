// SPDX-License-Identifier: Apache-2.0
// Recordset access, the field value reader and the presence checks on real
// .mdb files: opening and failing, detached reading, storing through an
// updatable recordset (checked by the engine's checker, a fresh open and
// mdbtools), the null substitutes and trimming of GetFieldValue, and the
// presence of a key in Master and in each Panel slot, with Jet's text
// equality, quotes, and databases the checks cannot read (which they report
// instead of counting the key as present).

#include "data/recordset_access.h"

#include <cstdio>
#include <tuple>

#include "data/field_value.h"
#include "install/presence.h"
#include "jet/db/database.h"
#include "values.h"

namespace {

using afc::Boolean;
using afc::kFalse;
using afc::kTrue;
using afc::PresenceError;
using afc::Variant;
using afc::ado::Field;
using afc::ado::Recordset;

const std::string kV2000 = testutil::Fixture("hosts/tallowin-v2000.mdb");
const std::string kV2003 = testutil::Fixture("hosts/tallowin-v2003.mdb");

Field Item(Recordset& rs, const std::string& column) {
  Field f;
  afc::DataError e = rs.Fields().Item(column, &f);
  EXPECT_TRUE(e.ok()) << column << ": " << e.description;
  return f;
}

Variant Read(Recordset& rs, const std::string& column) {
  Variant v;
  afc::DataError e = Item(rs, column).Value(&v);
  EXPECT_TRUE(e.ok()) << e.description;
  return v;
}

// A recordset opened on `sql`, with what OpenRecordset said.
struct Opened {
  Opened(const std::string& path, const std::string& sql, bool read_only = true)
      : ok(afc::OpenRecordset(path, sql, rs, description, number, read_only ? kTrue : kFalse)) {}
  std::unique_ptr<Recordset> rs = std::make_unique<Recordset>();
  std::string description = "stale";
  int32_t number = -7;
  Boolean ok;  // last: the others are set first
};

// Opens an updatable recordset on `sql`, adds a row with the given values and
// stores it; returns what Update said.
afc::DataError AddRow(const std::string& path, const std::string& sql,
                      const std::vector<std::pair<std::string, Variant>>& values) {
  Opened o(path, sql, false);
  EXPECT_EQ(o.ok, kTrue) << o.description;
  if (!o.ok || !o.rs->AddNew().ok()) return {afc::kErrNoObject, "AddNew failed"};
  for (const auto& [column, value] : values) {
    afc::DataError e = Item(*o.rs, column).SetValue(value);
    EXPECT_TRUE(e.ok()) << column << ": " << e.description;
  }
  afc::DataError e = o.rs->Update();
  afc::CloseRecordset(o.rs);
  return e;
}

std::string Export(const std::string& path, const std::string& table) {
  return testutil::RunProcess({"mdb-export", path, table}).out;
}

TEST(RecordsetAccessTest, FailuresComeBackAsAPairAndDoNotLeak) {
  testutil::TempDir dir;
  const std::string not_db = dir.File("notes.mdb");
  testutil::WriteFile(not_db, std::string(8192, 'x'));
  const struct {
    std::string path, sql;
    int32_t number;
    std::string mentions;
  } cases[] = {
      {dir.File("missing.mdb"), "SELECT * FROM Master", afc::kErrFileNotFound, "missing.mdb"},
      {not_db, "SELECT * FROM Master", afc::kErrNotADatabase, "notes.mdb"},
      {dir.path(), "SELECT * FROM Master", 0, ""},  // a folder: any clear failure
      {"", "SELECT * FROM Master", afc::kErrBadArgument, "Data Source"},
      {kV2000, "SELECT * FROM Masters", afc::kErrUnknownTable, "Masters"},
      {kV2000, "SELECT [Servce] FROM Master", afc::kErrUnknownColumn, "Servce"},
      {kV2000, "SELECT * FROM Panel WHERE SV9 = 'x'", afc::kErrUnknownColumn, "SV9"},
      {kV2000, "SELECT * FROM Panel WHERE PANELID = 'x'", afc::kErrTypeMismatch, "PANELID"},
      {kV2000, "SELECT * FROM Master WHERE", afc::kErrWhereSyntax, "WHERE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + c.sql);
    Opened o(c.path, c.sql);
    EXPECT_EQ(o.ok, kFalse);
    EXPECT_EQ(o.number, c.number ? c.number : o.number ? o.number : -1) << o.description;
    EXPECT_TRUE(testutil::Has(o.description, c.mentions));
    EXPECT_NE(o.rs->State(), afc::ado::kAdStateOpen);
    // Closing a recordset that never opened still releases it.
    EXPECT_TRUE(afc::CloseRecordset(o.rs) == kTrue && o.rs == nullptr);
    Boolean had_error = kFalse;
    EXPECT_EQ(afc::RecordsExist(c.path, c.sql, had_error), kFalse);
    EXPECT_EQ(had_error, kTrue);
    // The next successful call reports nothing of the failure before it.
    Opened good(kV2000, "SELECT * FROM Panel");
    EXPECT_EQ(std::tuple(good.ok, good.number, good.description), std::tuple(kTrue, 0, ""));
  }
  std::unique_ptr<Recordset> nothing;
  std::string description;
  int32_t number = 0;
  EXPECT_EQ(afc::OpenRecordset(kV2000, "SELECT * FROM Panel", nothing, description, number, kTrue),
            kFalse);
  EXPECT_EQ(number, afc::kErrNoObject);
  EXPECT_EQ(afc::CloseRecordset(nothing), kTrue);
}

TEST(RecordsetAccessTest, ReadOnlyRecordsetIsDetachedAndLetsTheFileGo) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, kV2000);
  Opened o(path,
           "select PANELID, [PanelName], SV2 from panel where sv2 = 'usps-pri' "
           "or (SV1 = 'DHL-INTL' and BD1 = 'dhl worldwide')");
  ASSERT_EQ(o.ok, kTrue) << o.description;
  EXPECT_EQ(o.rs->ActiveConnection(), nullptr);
  // Nothing holds the file: a writer gets it while the rows are still read.
  EXPECT_NE(testutil::OpenWritable(path), nullptr);
  std::remove(path.c_str());
  EXPECT_EQ(Read(*o.rs, "PANELNAME").text(), "Domestic");
  EXPECT_EQ(Read(*o.rs, "sv2").text(), "USPS-PRI");
  ASSERT_TRUE(o.rs->MoveNext().ok());
  EXPECT_EQ(Read(*o.rs, "PANELNAME").text(), "International");
  ASSERT_TRUE(o.rs->MoveNext().ok());
  EXPECT_TRUE(o.rs->Eof());
  // It cannot write.
  EXPECT_EQ(o.rs->AddNew().number, afc::kErrReadOnly);
  EXPECT_EQ(afc::CloseRecordset(o.rs), kTrue);
}

// (Cloning the template row whole, memo and OLE included, changing a row in
// place, and a change the database refuses are what the installation does;
// install_test checks them.)
TEST(RecordsetAccessTest, UpdatableRecordsetTakesTheFileOnlyAtItsFirstUpdate) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, kV2003);
  Opened o(path, "Select * From [Master] Where [Service] = 'USPS-PRI'", false);
  ASSERT_EQ(o.ok, kTrue) << o.description;
  ASSERT_NE(o.rs->ActiveConnection(), nullptr);
  // Until its first Update it reads like any other recordset: a reader
  // still gets in, as the installer's look-ups of reference values do.
  EXPECT_EQ(Opened(path, "SELECT * FROM Panel").number, 0);
  ASSERT_TRUE(o.rs->AddNew().ok());
  for (const auto& [column, value] :
       {std::pair<std::string, Variant>{"SERVICE", Variant::Text("FirstClass")},
        {"POSDEPT", Variant::Text("METER")},
        {"ACK-S", Variant::Integer(2)},
        {"ACK", Variant::Bool(false)},
        {"ACTIVE", Variant::Bool(true)}}) {
    ASSERT_TRUE(Item(*o.rs, column).SetValue(value).ok()) << column;
  }
  EXPECT_EQ(Item(*o.rs, "MAXPIECES").SetValue(Variant::Text("many")).number, afc::kErrConversion);
  afc::DataError e = o.rs->Update();
  ASSERT_TRUE(e.ok()) << e.description;
  EXPECT_EQ(Read(*o.rs, "SERVICE").text(), "FirstClass");
  // From then on it keeps the file for itself until it is closed.
  EXPECT_EQ(Opened(path, "SELECT * FROM Panel").number, afc::kErrFileInUse);
  EXPECT_EQ(afc::CloseRecordset(o.rs), kTrue);

  testutil::ExpectConsistent(path);
  Opened fresh(path, "SELECT * FROM Master WHERE SERVICE = 'firstclass'");
  ASSERT_EQ(fresh.ok, kTrue) << fresh.description;
  ASSERT_FALSE(fresh.rs->Eof());
  EXPECT_EQ(Read(*fresh.rs, "POSDEPT").text(), "METER");
  EXPECT_EQ(Read(*fresh.rs, "ACK-S").TextForm(), "2");
}

// GetFieldValue on a row whose every column but the key and the required
// booleans is null, and on one with padded text.
TEST(GetFieldValueTest, NullSubstitutesByTypeClassAndTrimming) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, kV2000);
  afc::DataError e = AddRow(path, "SELECT * FROM Master WHERE SERVICE = 'nothing'",
                            {{"SERVICE", Variant::Text("  Padded  Key ")},
                             {"DESCRIPTION", Variant::Text("   ")},
                             {"POSDEPT", Variant::Text("\tTab\t")},
                             {"ACK", Variant::Bool(true)},
                             {"ACTIVE", Variant::Bool(false)}});
  ASSERT_TRUE(e.ok()) << e.description;
  testutil::ExpectConsistent(path);
  EXPECT_TRUE(testutil::Has(Export(path, "Master"), "\"  Padded  Key \""));

  Opened o(path, "SELECT * FROM Master WHERE SERVICE = '  PADDED  KEY'");
  ASSERT_EQ(o.ok, kTrue) << o.description;
  ASSERT_FALSE(o.rs->Eof());
  auto get = [&](const std::string& column, const Variant& def = Variant::Text(""),
                 Boolean trim = kTrue) {
    return afc::GetFieldValue(Item(*o.rs, column), def, trim);
  };
  EXPECT_EQ(get("SERVICE"), Variant::Text("Padded  Key"));
  EXPECT_EQ(get("SERVICE", Variant::Text(""), kFalse), Variant::Text("  Padded  Key "));
  EXPECT_EQ(get("DESCRIPTION"), Variant::Text(""));
  EXPECT_EQ(get("POSDEPT"), Variant::Text("\tTab\t"));
  // Null text-like (Text, Memo, GUID): the empty text, never a null.
  for (const char* column : {"ACTDELC", "NOTES", "UID"}) {
    EXPECT_EQ(get(column), Variant::Text("")) << column;
  }
  // Null numbers and bytes: the 16-bit integer 0.
  for (const char* column :
       {"ACK-S", "RATE", "MAXWEIGHT", "SURCHARGE", "SORTNO", "ZONEBYTE", "PRECISE", "LOGO"}) {
    EXPECT_EQ(get(column), Variant::Integer(0)) << column;
    EXPECT_EQ(get(column).value().type, jet::ColumnType::kInteger) << column;
  }
  // A null date: now, taken at the call.
  EXPECT_EQ(get("CREATED").kind(), afc::VariantKind::kDate);
  EXPECT_GE(jet::DateTimeFromJet(get("CREATED").value().real).year, 2024);
  // A default that is not empty wins for every null, whatever the type.
  for (const char* column : {"ACTDELC", "ACK-S", "CREATED", "LOGO"}) {
    EXPECT_EQ(get(column, Variant::Text("dflt")), Variant::Text("dflt")) << column;
    EXPECT_EQ(get(column, Variant::Integer(0)), Variant::Integer(0)) << column;
  }
  // Present values other than text come back unchanged, default or not.
  EXPECT_EQ(get("ACK", Variant::Text("dflt")), Variant::Bool(true));
  EXPECT_EQ(get("ACTIVE"), Variant::Bool(false));  // (booleans have no null in Jet)
  // An unreadable field gives the default.
  EXPECT_EQ(afc::GetFieldValue(Field(), Variant::Text("d"), kTrue), Variant::Text("d"));
  ASSERT_TRUE(o.rs->MoveNext().ok());
  EXPECT_EQ(get("SERVICE", Variant::Text("eof")), Variant::Text("eof"));
}

TEST(PresenceTest, FindsTheKeyInAnyPanelSlot) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, kV2003);
  for (int slot = 1; slot <= 7; ++slot) {
    const std::string column = "SV" + std::to_string(slot);
    const std::string key = "FirstClass" + std::to_string(slot);
    ASSERT_TRUE(testutil::SetColumns(path, "Panel", "PANELNAME", "International",
                                     {{column, testutil::TextValue(key)}})
                    .ok());
    EXPECT_EQ(afc::ServiceExistsInPanel("FIRSTCLASS" + std::to_string(slot), path), kTrue)
        << column;
    EXPECT_EQ(afc::ServiceExistsInPanel("FirstClass", path), kFalse) << column;
  }
}

TEST(PresenceTest, KeysWithQuotesAreFoundNotMisread) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, kV2000);
  ASSERT_TRUE(AddRow(path, "SELECT * FROM Master WHERE SERVICE = 'x'",
                     {{"SERVICE", Variant::Text("O'Brien's")},
                      {"ACK", Variant::Bool(false)},
                      {"ACTIVE", Variant::Bool(true)}})
                  .ok());
  ASSERT_TRUE(
      testutil::SetColumns(path, "Panel", "PANELID", "1", {{"SV6", testutil::TextValue("it's")}})
          .ok());
  PresenceError error;
  EXPECT_EQ(afc::ServiceExistsInMaster("o'brien's", path, &error), kTrue);
  EXPECT_FALSE(error.failed()) << error.ErrorDescription;
  EXPECT_EQ(afc::ServiceExistsInMaster("O'Brien", path, &error), kFalse);
  EXPECT_EQ(afc::ServiceExistsInPanel("IT'S", path, &error), kTrue);
  EXPECT_FALSE(error.failed()) << error.ErrorDescription;
  // A key built to widen the query stays one literal.
  EXPECT_EQ(afc::ServiceExistsInMaster("x' Or [Service] = 'USPS-PRI", path, &error), kFalse);
  EXPECT_FALSE(error.failed()) << error.ErrorDescription;
  EXPECT_TRUE(testutil::Has(Export(path, "Master"), "\"O'Brien's\""));
}

// A check that cannot run its query says so, with the number and the
// description; it does not claim the key is there. A database that another
// writer holds is a failure too.
TEST(PresenceTest, ReportsADatabaseItCannotRead) {
  testutil::TempDir dir;
  const std::string not_db = dir.File("Tallowin.mdb"),
                    held = testutil::CopyOf(dir, kV2000, "held.mdb");
  testutil::WriteFile(not_db, "Tallowin settings\n");
  auto writer = testutil::OpenWritable(held);
  // (OpenRecordset's other failures: FailuresComeBackAsAPairAndDoNotLeak.)
  for (const auto& [path, number] :
       std::vector<std::pair<std::string, int32_t>>{{not_db, afc::kErrNotADatabase},
                                                    {testutil::Fixture("access/testV2000.mdb"),
                                                     afc::kErrUnknownTable},  // no Master, no Panel
                                                    {held, afc::kErrFileInUse}}) {
    SCOPED_TRACE(path);
    PresenceError error;
    EXPECT_EQ(afc::ServiceExistsInMaster("FirstClass", path, &error), kTrue);
    EXPECT_EQ(error.ErrorNumber, number) << error.ErrorDescription;
    EXPECT_FALSE(error.ErrorDescription.empty());
    error = PresenceError();
    EXPECT_EQ(afc::ServiceExistsInPanel("FirstClass", path, &error), kTrue);
    EXPECT_EQ(error.ErrorNumber, number) << error.ErrorDescription;
  }
}

}  // namespace
