// SPDX-License-Identifier: Apache-2.0
// The installation end to end on real files: the host fixtures, the sample
// database, and variants of them made with our own writer. After every run
// that writes, the checker and mdbtools must agree that the file is sound.
// Also the sample database itself.

#include <algorithm>
#include <filesystem>

#include "data/recordset_access.h"
#include "install/installer.h"
#include "jet/table/create.h"
#include "property_blob.h"
#include "recording_ui.h"

namespace {

using afc::kTrue;
using jet::ColumnType;
using jet::Value;
using Row = testutil::NamedRow;
using testutil::FindRow;
using testutil::ReadRows;
using testutil::Text;

using testutil::RecordingUi;

const std::string kSampleDb = AFC_SAMPLE_DB;      // built by sample/build-sample.sh
const std::string kSampleDb97 = AFC_SAMPLE_DB97;  // the same, as an Access 97 database
const std::string kSampleAccdb = AFC_SAMPLE_ACCDB;  // and as an Access 2007 one
const std::string kSampleDir = AFC_SAMPLE_DIR;
const std::string kFinished = "Finished adding service successfully!";

// The warning box of a failed installation step.
std::string Warning(const std::string& table, const std::string& description) {
  return "BOX 48|Process has failed !|Failed to add USPS 'FirstClass' service to " + table +
         " table...\r\rThe following error has occurred:\r" + description;
}

// Our checker finds nothing wrong; mdbtools, a reader we did not write,
// sees the new row (beginning with `row`) and the button when `installed`.
void ExpectSound(const std::string& path, bool installed = false,
                 const std::string& row = "\"FirstClass\",\"USPS First-Class Mail\",\"METER\"") {
  testutil::ExpectConsistent(path);
  if (!installed || !testutil::HaveProgram("mdb-export")) return;
  EXPECT_TRUE(testutil::Has(testutil::RunProcess({"mdb-export", path, "Master"}).out, row));
  const std::string panel = testutil::RunProcess({"mdb-export", path, "Panel"}).out;
  EXPECT_TRUE(testutil::Has(panel, "\"FirstClass\"") &&
              testutil::Has(panel, "\"First-Class Mail\""));
}

// Checks the new Master row against the template and the reference row:
// the overrides, the reference values where the reference had one (as the
// field reader gives them: trimmed text, 0 or false for a null number or
// boolean), and every other column exactly as the template holds it.
void ExpectClonedRow(const std::vector<Row>& before, const std::vector<Row>& after) {
  Row templ = FindRow(before, "SERVICE", "USPS-PRI");
  Row reference = FindRow(before, "SERVICE", "USPS-4TH-NOSC");
  Row added = FindRow(after, "SERVICE", "FirstClass");
  ASSERT_EQ(added.size(), templ.size());
  for (const auto& [name, value] : added) {
    SCOPED_TRACE("column " + name);
    const Value& ref = reference[name];
    if (name == "DESCRIPTION") {
      EXPECT_EQ(Text(value), "USPS First-Class Mail");
    } else if (name == "POSDEPT") {
      EXPECT_EQ(Text(value), "METER");
    } else if (name != "ACTDELC" && name != "ACK" && name != "ACTDELSIG" && name != "ACK-S") {
      EXPECT_EQ(Text(value), name == "SERVICE" ? "FirstClass" : Text(templ[name]));
    } else if (jet::IsTextual(ref.type)) {
      // Text is trimmed; a null or blank reference leaves the default.
      std::string t = ref.null ? "" : ref.bytes;
      t.erase(0, t.find_first_not_of(' '));
      t.erase(t.find_last_not_of(' ') + 1);
      EXPECT_EQ(Text(value), t.empty() ? "<null>" : t);
    } else if (ref.null) {
      EXPECT_TRUE(value.ToText() == "0" || value.ToText() == "false") << Text(value);
    } else {
      EXPECT_EQ(Text(value), Text(ref));
    }
  }
  EXPECT_EQ(after.size(), before.size() + 1);
}

struct Copy {
  explicit Copy(const std::string& from) : path(testutil::CopyOf(dir, from)) {}
  testutil::TempDir dir;
  const std::string path;
};

// The hosts, and the sample in every format.
TEST(InstallTest, FirstRunClonesTheTemplateAndPlacesTheButton) {
  std::vector<std::string> sources = testutil::FixtureFiles("hosts");
  sources.insert(sources.end(), {kSampleDb, kSampleDb97, kSampleAccdb});
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    Copy copy(source);
    const auto master_before = ReadRows(copy.path, "Master");
    const auto panel_before = ReadRows(copy.path, "Panel");
    RecordingUi ui;
    EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), kTrue);
    EXPECT_TRUE(ui.Boxes().empty());

    // One progress text per column, counted from 0, then the end text.
    const size_t columns = master_before.front().size();
    std::vector<std::string> expected;
    for (size_t i = 0; i < columns; ++i) {
      expected.push_back("Adding service settings " + std::to_string(i) + " of " +
                         std::to_string(columns));
    }
    expected.push_back(kFinished);
    EXPECT_EQ(ui.Statuses(), expected);

    const auto master_after = ReadRows(copy.path, "Master");
    ExpectClonedRow(master_before, master_after);
    // The memo and the OLE value came over byte for byte, and the sample's
    // memo does not fit on one page.
    Row templ = FindRow(master_after, "SERVICE", "USPS-PRI");
    Row added = FindRow(master_after, "SERVICE", "FirstClass");
    EXPECT_GT(templ["NOTES"].bytes.size(), source.find("hosts") == std::string::npos ? 4096u : 0u);
    EXPECT_EQ(added["NOTES"].bytes, templ["NOTES"].bytes);
    EXPECT_EQ(added["LOGO"].bytes, templ["LOGO"].bytes);

    // The button went into the first free slot of the first row showing the
    // template (the sample's fifth, the hosts' fourth), caption first; no
    // other row changed.
    auto want = testutil::Texts(panel_before);
    const std::string n = source.find("hosts") == std::string::npos ? "5" : "4";
    EXPECT_EQ(want[0]["SV" + n], "<null>");
    want[0]["SV" + n] = "FirstClass";
    want[0]["BD" + n] = "First-Class Mail";
    EXPECT_EQ(testutil::Texts(ReadRows(copy.path, "Panel")), want);
    ExpectSound(copy.path, true);
    // A second run finds both halves and changes no byte.
    const std::string bytes = testutil::ReadFile(copy.path);
    EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), kTrue);
    EXPECT_TRUE(testutil::ReadFile(copy.path) == bytes) << "a second run changed the file";
  }
}

// With one half already there, only the other is added: no Master
// progress when the row is there, no second button when the button is.
TEST(InstallTest, OnlyTheMissingHalfIsAdded) {
  for (const char* present : {"Master", "Panel"}) {
    SCOPED_TRACE(std::string("present in ") + present + " only");
    Copy copy(kSampleDb);
    RecordingUi setup, ui;
    afc::gDatabasePath = copy.path;
    const bool master = present == std::string("Master");
    ASSERT_EQ(master ? afc::CloneMasterRow(setup, afc::kServiceDescription, afc::kServiceCode,
                                           afc::kCarrier, afc::kTemplateService, copy.path)
                     : afc::AssignPanelSlot(setup, afc::kButtonCaption, afc::kServiceCode,
                                            afc::kCarrier, afc::kTemplateService, copy.path),
              kTrue);
    const auto before = testutil::Texts(ReadRows(copy.path, present));
    EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), kTrue);
    EXPECT_EQ(testutil::Texts(ReadRows(copy.path, present)), before);
    if (master) {
      EXPECT_TRUE(ui.shown.empty());  // not cloned again
    } else {
      EXPECT_EQ(ui.Statuses().back(), kFinished);
    }
    ExpectSound(copy.path, true);
  }
}

// The first row that shows the template is the only one looked at: with no
// free slot there, nothing goes into Panel, even though a later row that
// shows the template has room; the Master half still runs.
TEST(InstallTest, FirstTemplateRowWithoutFreeSlotFailsQuietly) {
  Copy copy(testutil::Fixture("hosts/tallowin-v2003.mdb"));
  auto set = [&](const std::string& panel, const std::map<std::string, Value>& values) {
    ASSERT_TRUE(testutil::SetColumns(copy.path, "Panel", "PANELNAME", panel, values).ok());
  };
  // Row 1 shows USPS-PRI in SV2; fill every free slot. Row 3 also shows it
  // and keeps a free SV2.
  std::map<std::string, Value> full;
  for (int n = 4; n <= 7; ++n)
    full["SV" + std::to_string(n)] = testutil::TextValue("X" + std::to_string(n));
  set("Domestic", full);
  set("Freight", {{"SV4", testutil::TextValue("USPS-PRI")}});
  const auto panel = ReadRows(copy.path, "Panel");

  RecordingUi ui;
  EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), afc::kFalse);
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(ui.Statuses().back(), kFinished);
  EXPECT_EQ(testutil::Texts(ReadRows(copy.path, "Panel")), testutil::Texts(panel));
  FindRow(ReadRows(copy.path, "Master"), "SERVICE", "FirstClass");

  // A blank slot in the first row is a free one.
  set("Domestic", {{"SV6", testutil::TextValue("   ")}});
  EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), kTrue);
  Row domestic = FindRow(ReadRows(copy.path, "Panel"), "PANELNAME", "Domestic");
  EXPECT_EQ(Text(domestic["SV6"]), "FirstClass");
  EXPECT_EQ(Text(domestic["BD6"]), "First-Class Mail");
  ExpectSound(copy.path);
}

// Master with defaults and validation rules, as a site may have set them in
// Access; `rate_rule` is RATE's rule, which the template's 8.95 must pass.
// (Access 97's form of the properties: properties_test.)
std::string MasterProperties(const std::string& rate_rule) {
  auto t = testutil::Text16;
  const ColumnType text = ColumnType::kText;
  const std::string y_or_n = "In (\"Y\",\"N\")";
  return testutil::BuildBlob(
      {{"",
        {{"ValidationRule", ColumnType::kMemo, t("[MAXPIECES] >= 1 And [Service] <> \"\"")},
         {"ValidationText", text, t("A service takes at least one piece.")}}},
       {"ACTDELC", {{"DefaultValue", text, t("\"n\"")}, {"ValidationRule", text, t(y_or_n)}}},
       {"ACTDELSIG", {{"DefaultValue", text, t("'Y'")}, {"ValidationRule", text, t(y_or_n)}}},
       {"ACK-S", {{"DefaultValue", text, t("=0")}, {"ValidationRule", text, t(">=0")}}},
       {"ACK", {{"DefaultValue", text, t("No")}}},
       {"CREATED", {{"DefaultValue", text, t("Now()")}}},
       {"RATE",
        {{"DefaultValue", text, t("=0")},
         {"ValidationRule", text, t(rate_rule)},
         {"ValidationText", text, t("The rate breaks the rule " + rate_rule + ".")}}}});
}

// The rules are checked on the new row and pass; the defaults fill only the
// columns the installer leaves unassigned (the reference columns when there
// is no reference row), never one it copies from the template.
TEST(InstallTest, DefaultsAndValidationRulesOfMaster) {
  for (bool reference : {true, false}) {
    Copy copy(kSampleDb);
    testutil::StoreBlob(copy.path, "Master", MasterProperties(">=0"));
    if (!reference) {
      ASSERT_TRUE(testutil::DeleteRows(copy.path, "Master", "SERVICE", "USPS-4TH-NOSC").ok());
    }
    const auto before = ReadRows(copy.path, "Master");
    RecordingUi ui;
    EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), kTrue);
    EXPECT_EQ(ui.Boxes(), std::vector<std::string>{});
    if (reference) {
      ExpectClonedRow(before, ReadRows(copy.path, "Master"));
      ExpectSound(copy.path, true);
      continue;
    }
    Row added = FindRow(ReadRows(copy.path, "Master"), "SERVICE", "FirstClass");
    EXPECT_EQ(Text(added["ACTDELC"]) + " " + Text(added["ACTDELSIG"]) + " " + Text(added["ACK-S"]) +
                  " " + Text(added["ACK"]),
              "n Y 0 false");
    ExpectSound(copy.path, true,
                "\"FirstClass\",\"USPS First-Class Mail\",\"METER\",\"n\",0,\"Y\",0,");
  }
  // A rule the template's value breaks: the box shows the rule's
  // ValidationText and the Master half writes no byte.
  Copy copy(kSampleDb);
  testutil::StoreBlob(copy.path, "Master", MasterProperties("<0"));
  const std::string bytes = testutil::ReadFile(copy.path);
  RecordingUi ui;
  EXPECT_EQ(afc::CloneMasterRow(ui, afc::kServiceDescription, afc::kServiceCode, afc::kCarrier,
                                afc::kTemplateService, copy.path),
            afc::kFalse);
  EXPECT_EQ(ui.Boxes(),
            std::vector<std::string>{Warning("Master", "The rate breaks the rule <0.")});
  EXPECT_TRUE(testutil::ReadFile(copy.path) == bytes) << "a refused row was written";
}

TEST(InstallTest, NoTemplateRowLeavesMasterAsItWas) {
  Copy copy(kSampleDb);
  ASSERT_TRUE(testutil::DeleteRows(copy.path, "Master", "SERVICE", "USPS-PRI").ok());
  const auto master = ReadRows(copy.path, "Master");
  RecordingUi ui;
  EXPECT_EQ(afc::InstallFirstClass(ui, copy.path), afc::kFalse);
  // Reading the first copied column from the empty template fails; the
  // description stays in the status text, after the box.
  const std::string description = "There is no current row: the recordset is at its end.";
  EXPECT_EQ(ui.Boxes(), std::vector<std::string>{Warning("Master", description)});
  EXPECT_EQ(ui.shown.back(), description);
  EXPECT_EQ(ReadRows(copy.path, "Master").size(), master.size());
  ExpectSound(copy.path);
}

// A database of our own making, with the columns named in other letter
// cases (every text 30 characters) and a unique index that a copy of the
// template breaks.
class OwnDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(jet::CreateDatabase(path_, jet::JetVersion::kJet4).ok());
    auto db = testutil::OpenWritable(path_);
    auto table = [](const char* name, const std::vector<std::string>& columns) {
      jet::TableSpec t{name, {}, {}};
      for (const std::string& c : columns) t.columns.push_back({c, ColumnType::kText, 60});
      return t;
    };
    jet::TableSpec master = table("Master", {"Service", "description", "PosDept", "actdelc", "Ack",
                                             "ActDelSig", "Ack-S", "StationCode"});
    master.columns[6] = {"Ack-S", ColumnType::kLong};
    master.indexes = {{"PrimaryKey", {{"Service"}}, true},
                      {"StationCode", {{"StationCode"}}, false, true}};
    ASSERT_TRUE(jet::CreateTable(*db, master).ok());
    std::vector<std::string> panel = {"PanelName"};
    for (const char* kind : {"sv", "bd"}) {
      for (int n = 1; n <= 7; ++n) panel.push_back(kind + std::to_string(n));
    }
    ASSERT_TRUE(jet::CreateTable(*db, table("Panel", panel)).ok());

    auto t = testutil::TextValue;
    ASSERT_TRUE(jet::TableWriter::Open(*db, "Master")
                    .value()
                    ->InsertBatch({{t("USPS-PRI"), t("Priority"), t("SHIP"), t("N"), t("N"), t("N"),
                                    testutil::LongValue(1), t("ST-1")},
                                   {t("USPS-4TH-NOSC"), t("Fourth class"), t("SHIP"), t("Y"),
                                    t("Y"), t("S"), testutil::LongValue(7), t("ST-2")}})
                    .ok());
    std::vector<Value> row(15, testutil::NullValue(ColumnType::kText));
    row[0] = t("Domestic");
    row[1] = t("USPS-PRI");
    ASSERT_TRUE(jet::TableWriter::Open(*db, "Panel").value()->Insert(row).ok());
  }

  testutil::TempDir dir_;
  const std::string path_ = dir_.File("Tallowin.mdb");
};

TEST_F(OwnDatabaseTest, UniqueIndexViolationIsReportedAndNothingIsWritten) {
  const std::string before = testutil::ReadFile(path_);
  RecordingUi ui;
  afc::gDatabasePath = path_;
  EXPECT_EQ(afc::CloneMasterRow(ui, afc::kServiceDescription, afc::kServiceCode, afc::kCarrier,
                                afc::kTemplateService, path_),
            afc::kFalse);
  ASSERT_EQ(ui.Boxes().size(), 1u);
  const std::string box = ui.Boxes()[0];
  EXPECT_TRUE(testutil::StartsWith(box, Warning("Master", "The database refused the change")));
  EXPECT_TRUE(testutil::Has(box, "StationCode"));
  EXPECT_EQ("\r" + ui.shown.back(), box.substr(box.rfind('\r')));
  EXPECT_EQ(testutil::ReadFile(path_), before);
}

TEST_F(OwnDatabaseTest, ColumnNamesInOtherLetterCasesGetTheOverrides) {
  // Without the unique code in the way; a null text in the reference row
  // leaves the default, not the template's.
  ASSERT_TRUE(testutil::SetColumns(path_, "Master", "Service", "USPS-PRI",
                                   {{"StationCode", testutil::NullValue(ColumnType::kText)}})
                  .ok());
  ASSERT_TRUE(testutil::SetColumns(path_, "Master", "Service", "USPS-4TH-NOSC",
                                   {{"Ack", testutil::NullValue(ColumnType::kText)}})
                  .ok());
  RecordingUi ui;
  EXPECT_EQ(afc::InstallFirstClass(ui, path_), kTrue) << ui.shown.back();
  Row added = FindRow(ReadRows(path_, "Master"), "Service", "FirstClass");
  std::string got;
  for (const char* c : {"description", "PosDept", "actdelc", "Ack", "ActDelSig", "Ack-S"}) {
    got += Text(added[c]) + "|";
  }
  EXPECT_EQ(got, "USPS First-Class Mail|METER|Y|<null>|S|7|");
  Row panel = FindRow(ReadRows(path_, "Panel"), "PanelName", "Domestic");
  EXPECT_EQ(Text(panel["sv2"]) + "|" + Text(panel["bd2"]), "FirstClass|First-Class Mail");
  ExpectSound(path_, true);
}

TEST_F(OwnDatabaseTest, CaptionTooLongForItsColumnIsReported) {
  RecordingUi ui;
  const std::string caption(40, 'C');  // bd columns hold 30 characters
  EXPECT_EQ(afc::AssignPanelSlot(ui, caption, afc::kServiceCode, afc::kCarrier,
                                 afc::kTemplateService, path_),
            afc::kFalse);
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_TRUE(testutil::StartsWith(ui.Boxes()[0], Warning("Panel", "")));
  EXPECT_EQ(ui.Statuses().back(), ui.shown.back());  // the description, after the box
  EXPECT_TRUE(FindRow(ReadRows(path_, "Panel"), "PanelName", "Domestic")["sv2"].null);
}

// ---------------------------------------------------------------------------
// The sample Tallowin database (sample/): built from its text by
// build-sample.sh, it reads back exactly as written and holds what the
// installer expects of a Tallowin database.

// Every table of the text is in the database, and exports as exactly the
// lines it was imported from; in the Access 97 one too (its Currency column
// in place of the Decimal one exports the same text).
TEST(SampleDbTest, ExportsExactlyTheTextItWasBuiltFrom) {
  std::set<std::string> text_tables;
  for (const auto& e : std::filesystem::directory_iterator(kSampleDir + "/schema")) {
    if (e.path().extension() == ".json") text_tables.insert(e.path().stem().string());
  }
  for (const std::string& db : {kSampleDb, kSampleDb97, kSampleAccdb}) {
    SCOPED_TRACE(db);
    std::set<std::string> db_tables;
    std::istringstream listed(testutil::Jetdb(0, {"tables", db}).out);
    for (std::string t; std::getline(listed, t);) db_tables.insert(t);
    EXPECT_EQ(db_tables, text_tables);
    for (const std::string& t : text_tables) {
      EXPECT_EQ(testutil::Jetdb(0, {"export", db, t, "--format", "jsonl"}).out,
                testutil::ReadFile(kSampleDir + "/rows/" + t + ".jsonl"))
          << t;
    }
  }
  EXPECT_TRUE(testutil::Has(testutil::Jetdb(0, {"info", kSampleDb97}).out, "jet3"));
}

}  // namespace
