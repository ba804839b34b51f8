// SPDX-License-Identifier: Apache-2.0
// jetdb as a user runs it: exit codes, output streams and messages of each
// command; the writing commands (new, create-table, import, update, delete)
// also for what they leave in the file when they fail; and the round trip of
// every fixture through them.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <tuple>

#include "interchange/schema_json.h"
#include "property_blob.h"

namespace {

using testutil::Fixture;
using testutil::Has;
using testutil::Jetdb;
using testutil::ProcessResult;
using testutil::TempDir;

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

size_t Lines(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

TEST(JetdbCliTest, HelpInfoTablesAndErrors) {
  EXPECT_TRUE(Has(Jetdb(0, {"--help"}).out, "Usage: jetdb"));
  std::string out = Jetdb(0, {"info", Fixture("access/testV1997.mdb")}).out;
  for (const char* line :
       {"format: jet3", "page size: 2048", "page count: 58", "code page: 1252", "password: no"}) {
    EXPECT_TRUE(Has(out, line));
  }
  out = Jetdb(0, {"info", Fixture("hosts/tallowin-v2003.mdb")}).out;
  for (const char* line :
       {"format: jet4", "page size: 4096", "sort order: General (legacy) (1033)"}) {
    EXPECT_TRUE(Has(out, line));
  }
  // User tables, in catalog order.
  EXPECT_EQ(Jetdb(0, {"tables", Fixture("hosts/tallowin-v2000.mdb")}).out,
            "Master\nPanel\nShipments\n");
  const std::string err = Jetdb(1, {"tables", "/nonexistent/Tallowin.mdb"}).err;
  EXPECT_TRUE(Has(err, "does not exist") && Has(err, "/nonexistent/Tallowin.mdb"));
  EXPECT_TRUE(
      Has(Jetdb(1, {"export", Fixture("access/testV2000.mdb"), "NoSuchTable"}).err, "NoSuchTable"));
}

TEST(JetdbCliTest, BadUsageExitsTwoWithMessageOnStderrAndTouchesNothing) {
  TempDir dir;
  const std::string db = dir.File("x.mdb");
  Jetdb(0, {"new", db});
  const std::string before = testutil::ReadFile(db);
  // Argument lists between bars: DB is the new database, V an Access one, Y
  // a file that must not be made.
  std::map<std::string, std::string> names = {
      {"DB", db}, {"V", Fixture("access/testV2000.mdb")}, {"Y", dir.File("y.mdb")}};
  std::istringstream lines(
      "|--json|--format csv|frobnicate x.mdb|info|export V|export V Table1 --format xml|"
      "tables V --bogus|new|new Y --json|new Y --jet3 --jet4|tables DB --jet4|create-table DB|"
      "import DB|import DB T a.jsonl b.jsonl|update DB T --set A=1|update DB T --where A=1|"
      "update DB T --where A --set B=2|update DB T --where A=1 --set =2|delete DB T|"
      "delete DB T --where A=1 --set B=2|export DB T --where A=1|new Y --password x|"
      "tables V --password|tables V --password a --password-file b|"
      "import DB T --password-file -");
  for (std::string line; std::getline(lines, line, '|');) {
    SCOPED_TRACE(line);
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string w; words >> w;) args.push_back(names.count(w) ? names[w] : w);
    Jetdb(2, args);
  }
  EXPECT_EQ(testutil::ReadFile(db), before);
  EXPECT_FALSE(testutil::Exists(dir.File("y.mdb")));
}

TEST(JetdbNewTest, CreatesEmptyDatabasesOfBothFormatsAndNeverOverwrites) {
  TempDir dir;
  const std::string path = dir.File("new.mdb");
  EXPECT_EQ(Jetdb(0, {"new", path, "--jet4"}).out, "Created " + path + " (Access 2000, Jet 4)\n");
  EXPECT_TRUE(Has(Jetdb(0, {"info", path}).out, "format: jet4"));
  EXPECT_EQ(Jetdb(0, {"tables", path}).out, "");
  const std::string before = testutil::ReadFile(path);
  EXPECT_TRUE(Has(Jetdb(1, {"new", path}).err, "exists"));
  EXPECT_EQ(testutil::ReadFile(path), before);

  const std::string old = dir.File("old.mdb");
  EXPECT_EQ(Jetdb(0, {"new", old, "--jet3"}).out, "Created " + old + " (Access 97, Jet 3)\n");
  // (Jet 3's page size and code page: HelpInfoTablesAndErrors.)
  EXPECT_TRUE(Has(Jetdb(0, {"info", old}).out, "sort order: General (1033)"));
  if (testutil::HaveProgram("mdb-tables")) {
    // mdbtools sees the system tables, and reads the catalog.
    EXPECT_EQ(testutil::RunProcess({"mdb-tables", "-S", "-1", old}).out,
              "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\nMSysModules2\nMSysModules\n");
    EXPECT_EQ(Lines(testutil::RunProcess({"mdb-export", "-H", "-e", old, "MSysObjects"}).out), 18u);
    EXPECT_EQ(testutil::RunProcess({"mdb-ver", old}).out, "JET3\n");
  }
}

// Test data of this file, with line ends as on Linux whatever the checkout did.
std::string Data(const std::string& name) {
  std::string text = testutil::ReadFile(Fixture("jetdb/" + name));
  std::erase(text, '\r');
  return text;
}

// A new database with an empty Orders table; every test ends with a check
// that passes.
class WriteCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Jetdb(0, {"new", db_});
    Jetdb(0, {"create-table", db_, Fixture("jetdb/orders.json")});
  }
  void TearDown() override { Jetdb(0, {"check", db_}); }

  std::string Export() { return Jetdb(0, {"export", db_, "Orders", "--format", "jsonl"}).out; }

  // Imports `rows` lines built by `line(i)` for i = 1..rows.
  template <typename F>
  ProcessResult ImportLines(int code, int rows, F line, std::vector<std::string> options = {}) {
    std::string input;
    for (int i = 1; i <= rows; ++i) input += line(i) + "\n";
    testutil::WriteFile(dir_.File("rows.jsonl"), input);
    std::vector<std::string> args = {"import", db_, "Orders", dir_.File("rows.jsonl")};
    args.insert(args.end(), options.begin(), options.end());
    return Jetdb(code, args);
  }

  TempDir dir_;
  const std::string db_ = dir_.File("shop.mdb");
};

TEST_F(WriteCliTest, CreateTableTakesBackWhatSchemaPrints) {
  auto def = jet::TableSpecFromJson(Jetdb(0, {"schema", db_, "Orders", "--json"}).out);
  ASSERT_TRUE(def.ok()) << def.status().message();
  // The hand-written schema's defaults filled in and its index options kept;
  // the rest is the round trip's, over every fixture table (below).
  ASSERT_EQ(def->columns.size(), 6u);
  EXPECT_EQ(def->columns[2].length, 510);  // the default: 255 characters
  ASSERT_EQ(def->indexes.size(), 2u);
  EXPECT_TRUE(def->indexes[1].unique && def->indexes[1].ignore_nulls);
  EXPECT_FALSE(def->indexes[1].columns[0].ascending);

  // The whole-database form (an array) creates every table in it; a
  // foreign-key index is left out without complaint.
  std::string all = Jetdb(0, {"schema", db_, "--json"}).out;
  ASSERT_EQ(all.front(), '[');
  all.replace(all.find("\"name\": \"Orders\""), 16, "\"name\": \"Orders2\"");
  all.replace(all.rfind("\"foreign_key\": false"), 20,
              "\"foreign_key\": true, \"related_table_page\": 2, \"related_index\": 0");
  testutil::WriteFile(dir_.File("all.json"), all);
  EXPECT_EQ(Jetdb(0, {"create-table", db_, dir_.File("all.json")}).out,
            "Created table Orders2 (6 columns, 1 index)\n");
  const std::string schema = Jetdb(0, {"schema", db_, "Orders2"}).out;
  EXPECT_TRUE(Contains(schema, "PrimaryKey") && !Contains(schema, "    Code (")) << schema;
}

TEST_F(WriteCliTest, CreateTableRefusesBadSchemasBeforeWriting) {
  const std::string before = testutil::ReadFile(db_);
  for (const testutil::DataLine& line : testutil::DataLines("jetdb/bad_schemas.tsv")) {
    testutil::WriteFile(dir_.File("bad.json"), line.fields.at(1));
    EXPECT_TRUE(Has(Jetdb(1, {"create-table", db_, dir_.File("bad.json")}).err, line.fields[0]));
  }
  EXPECT_TRUE(
      Has(Jetdb(1, {"create-table", db_, Fixture("jetdb/orders.json")}).err, "exists already"));
  EXPECT_EQ(testutil::ReadFile(db_), before);
}

TEST_F(WriteCliTest, ImportMatchesKeysInAnyCaseAndKeepsAutonumbers) {
  const std::string input =
      R"({"ID":10,"Code":"A1","Name":"Alice","Amount":"12.5000","When":"2024-01-02T00:00:00","Note":"first"})"
      "\n"
      R"({"note":null,"name":"Bob","code":"B2","amount":7,"id":20})"
      "\n\n"  // a blank line is skipped
      R"({"Name":"Carol","When":"1899-12-29T06:00:00.125","Note":"two\nlines \u00e9"})"
      "\r\n";
  EXPECT_EQ(Jetdb(0, {"import", db_, "orders", "-"}, input).out, "Imported 3 rows into Orders\n");
  EXPECT_EQ(Export(), Data("import_any_case.expected.jsonl"));
}

// A missing key takes the column's DefaultValue, evaluated; an explicit null
// stays null; the rules are checked.
TEST(ImportDefaultsTest, MissingKeysTakeTheirDefaultsAndRulesAreChecked) {
  testutil::TempDir dir;
  const std::string db = testutil::CopyOf(dir, "access/testV2000.mdb");
  // Table1's properties become these alone: defaults for E and G, a rule on E.
  testutil::StoreBlob(
      db, "Table1",
      testutil::BuildBlob(
          {{"G", {{"DefaultValue", jet::ColumnType::kMemo, testutil::Text16("=Date()")}}},
           {"E",
            {{"DefaultValue", jet::ColumnType::kText, testutil::Text16("=2*3")},
             {"ValidationRule", jet::ColumnType::kText, testutil::Text16("<>7")},
             {"ValidationText", jet::ColumnType::kText, testutil::Text16("not 7")}}}}));
  EXPECT_EQ(Jetdb(0, {"import", db, "Table1", "-"}, "{\"A\":\"new\",\"D\":null}\n").out,
            "Imported 1 rows into Table1\n");
  const std::string rows = Jetdb(0, {"export", db, "Table1", "--format", "jsonl"}).out;
  const size_t at = rows.find(R"({"A":"new")");
  ASSERT_NE(at, std::string::npos) << rows;
  jet::DateTimeParts day = jet::LocalNow();
  day.hour = day.minute = day.second = day.millisecond = 0;
  double days = 0;
  ASSERT_TRUE(jet::DateTimeToJet(day, &days));
  const std::string today = jet::FormatDateTime(days);
  EXPECT_EQ(rows.substr(at, rows.find('\n', at) - at),
            R"({"A":"new","B":null,"C":null,"D":null,"E":6,"F":null,"G":")" + today +
                R"(","H":null,"I":false})");
  EXPECT_TRUE(
      Has(Jetdb(1, {"import", db, "Table1", "-"}, "{\"A\":\"x\",\"E\":7}\n").err, "Line 1: not 7"));
}

TEST_F(WriteCliTest, ImportNamesTheLineOfABadRowAndImportsNothing) {
  for (const testutil::DataLine& bad : testutil::DataLines("jetdb/import_bad_lines.tsv")) {
    const std::string err =
        ImportLines(1, 4, [&](int i) {
          return i == 3 ? bad.fields.at(1) : R"({"Name":"row)" + std::to_string(i) + "\"}";
        }).err;
    EXPECT_TRUE(Has(err, bad.fields[0]));
    EXPECT_TRUE(Has(err, "nothing was imported; the table is as it was"));
    EXPECT_EQ(Export(), "");
  }
}

TEST_F(WriteCliTest, ImportWithBatchesKeepsEarlierBatchesAndNothingOfTheFailingOne) {
  auto row = [](int i) {
    return R"({"ID":)" + std::to_string(i) + R"(,"Code":"C)" + std::to_string(i) +
           R"(","Amount":")" + std::to_string(i) + R"(.25"})";
  };
  // A duplicate key in the third batch: only the writer can see it.
  const std::vector<std::string> batches = {"--batch", "2000"};
  const std::string err = ImportLines(
                              1, 4500, [&](int i) { return i == 4321 ? row(17) : row(i); }, batches)
                              .err;
  EXPECT_TRUE(Contains(err, "line 4321") || Contains(err, "Line 4321")) << err;
  EXPECT_TRUE(Has(err,
                  "4000 rows were imported before the failure; nothing from line "
                  "4001 on was imported"));
  EXPECT_EQ(Lines(Export()), 4000u);
}

TEST_F(WriteCliTest, UpdateChangesEveryRowThatMatchesTheTypedValue) {
  ImportLines(0, 5, [](int i) {
    const char* names[] = {"Alice", "ALICE", "Bob", "alice ", "Dave"};
    return R"({"Name":")" + std::string(names[i - 1]) + R"(","Amount":")" + std::to_string(i) +
           R"(","When":"2024-01-0)" + std::to_string(i) + R"("})";
  });
  // Text matches without regard to case, but trailing spaces count.
  EXPECT_EQ(Jetdb(0, {"update", db_, "Orders", "--where", "Name=alice", "--set", "Note=hi, there",
                      "Amount=99.5"})
                .out,
            "Updated 2 rows\n");
  // Typed: 3 and 3.0000 are the same amount; dates match without the time.
  EXPECT_EQ(Jetdb(0, {"update", db_, "Orders", "--where=Amount=3", "--where", "When=2024-01-03",
                      "--set", "Code=X", "--set", "When="})
                .out,
            "Updated 1 row\n");
  // Options may come before the command, and a --set's assignments before the file.
  EXPECT_EQ(
      Jetdb(0, {"--where", "Name=nobody", "update", "--set", "Code=Y", "Note=Z", db_, "Orders"})
          .out,
      "Updated 0 rows\n");
  EXPECT_EQ(Export(), Data("update.expected.jsonl"));
}

TEST_F(WriteCliTest, UpdateRefusesBadValuesAndChangesNothing) {
  ImportLines(0, 3, [](int i) { return R"({"Name":"n)" + std::to_string(i) + "\"}"; });
  const std::string before = testutil::ReadFile(db_);
  for (const testutil::DataLine& line : testutil::DataLines("jetdb/update_refused.tsv")) {
    const std::vector<std::string>& f = line.fields;
    const std::string err =
        Jetdb(1, {"update", db_, "Orders", "--where", f.at(0), "--set", f.at(1)}).err;
    EXPECT_TRUE(Has(err, f.at(2)));
  }
  EXPECT_EQ(testutil::ReadFile(db_), before);

  // The second of three rows breaks the unique index: the update is one
  // step, so none of them changes.
  const std::string err =
      Jetdb(1, {"update", db_, "Orders", "--where", "Code=", "--set", "Code=SAME"}).err;
  EXPECT_TRUE(Has(err, "Row 2: ")) << err;
  EXPECT_TRUE(Has(err, "no row was updated; the table is as it was")) << err;
  EXPECT_EQ(testutil::ReadFile(db_), before);
}

TEST_F(WriteCliTest, DeleteRemovesTheMatchingRowsOnly) {
  ImportLines(0, 300, [](int i) {
    return R"({"Code":"K)" + std::to_string(i) + R"(","Name":")" + (i % 3 == 0 ? "Fizz" : "Other") +
           "\"}";
  });
  EXPECT_EQ(Jetdb(0, {"delete", db_, "Orders", "--where", "name=FIZZ"}).out, "Deleted 100 rows\n");
  EXPECT_EQ(Jetdb(0, {"delete", db_, "Orders", "--where", "Code=K1", "--where", "Name=Fizz"}).out,
            "Deleted 0 rows\n");
  EXPECT_EQ(Jetdb(0, {"delete", db_, "Orders", "--where", "ID=1"}).out, "Deleted 1 row\n");
  const std::string out = Export();
  EXPECT_EQ(Lines(out), 199u);
  EXPECT_FALSE(Contains(out, "Fizz") || Contains(out, "\"K1\""));
  EXPECT_TRUE(Has(out, "\"K2\""));
  testutil::ExpectMdbExportRows(db_, "Orders", 199);
}

// ---------------------------------------------------------------------------
// The round trip through jetdb's own commands, for every user table of every
// fixture database:
//
//   jetdb new NEW [--jet3]
//   jetdb schema OLD TABLE --json  >  schema.json
//   jetdb create-table NEW schema.json
//   jetdb export OLD TABLE --format jsonl  >  rows.jsonl
//   jetdb import NEW TABLE rows.jsonl
//   jetdb export NEW TABLE --format jsonl   ==  rows.jsonl, byte for byte
//
// then `jetdb check NEW` passes, the new table's schema describes the same
// columns and indexes, and mdbtools reads the same number of rows from it.
// Every table goes into an Access 2000 (Jet 4) database; those of the
// Access 97 fixtures also into an Access 97 one.

// What `schema` prints of a table but its foreign-key indexes, which
// create-table leaves out; `unmark` drops the compression that Access 97
// text takes in an Access 2000 database.
std::string Design(const std::string& path, const std::string& table, bool unmark) {
  std::istringstream lines(Jetdb(0, {"schema", path, table}).out);
  std::string out;
  for (std::string line; std::getline(lines, line);) {
    if (Contains(line, " foreign-key") || line == "  Indexes:") continue;
    if (const size_t at = line.find(" compressed"); unmark && at != std::string::npos) {
      line.erase(at, 11);
    }
    out += line + "\n";
  }
  return out;
}

void RoundTrip(const std::string& source, bool jet3) {
  testutil::TempDir dir;
  // An .accdb goes into a new one of its Access release (2010: 2016's).
  const bool accdb = Has(source, ".accdb");
  const std::string target = dir.File(accdb ? "new.accdb" : "new.mdb");
  const std::string schema_path = dir.File("schema.json");
  const std::string rows_path = dir.File("rows.jsonl");
  Jetdb(0, {"new", target,
            !accdb                  ? (jet3 ? "--jet3" : "--jet4")
            : Has(source, "V2007") ? "--accdb"
                                    : "--accdb=2016"});
  std::istringstream tables(Jetdb(0, {"tables", source}).out);
  for (std::string table; std::getline(tables, table);) {
    SCOPED_TRACE("table " + table);
    testutil::WriteFile(schema_path, Jetdb(0, {"schema", source, table, "--json"}).out);
    const std::string original = Jetdb(0, {"export", source, table, "--format", "jsonl"}).out;
    testutil::WriteFile(rows_path, original);
    Jetdb(0, {"create-table", target, schema_path});
    const size_t rows = Lines(original);
    if (source.find("testUnicodeComp") != std::string::npos && table == "Table") {
      // Its indexed text holds every character up to U+00FF, Æ followed by
      // accented letters among them; how Access 2000-2003 key that is not
      // known, so no row of it may go in.
      const std::string err = Jetdb(1, {"import", target, table, rows_path}).err;
      EXPECT_TRUE(Has(err, "U+00C6 stands for several"));
      EXPECT_EQ(Jetdb(0, {"export", target, table, "--format", "jsonl"}).out, "");
      continue;
    }
    EXPECT_EQ(Jetdb(0, {"import", target, table, rows_path}).out,
              "Imported " + std::to_string(rows) + " rows into " + table + "\n");
    EXPECT_TRUE(Jetdb(0, {"export", target, table, "--format", "jsonl"}).out == original)
        << "the export differs after the round trip";
    const bool unmark = !jet3 && source.find("V1997") != std::string::npos;
    EXPECT_EQ(Design(target, table, unmark), Design(source, table, unmark));
    testutil::ExpectMdbExportRows(target, table, rows);
  }
  EXPECT_TRUE(Has(Jetdb(0, {"check", target}).out, ": ok"));
}

class RoundTripTest : public ::testing::TestWithParam<std::tuple<std::string, bool>> {};

TEST_P(RoundTripTest, EveryTableComesBackExactly) {
  RoundTrip(std::get<0>(GetParam()), std::get<1>(GetParam()));
}

std::vector<std::tuple<std::string, bool>> RoundTrips() {
  std::vector<std::tuple<std::string, bool>> out;
  for (const std::string& f : testutil::AllFixtureFiles()) {
    // Calculated, complex and Date/Time Extended columns have no .mdb form.
    if (Has(f, "calcField") || Has(f, "complexData") || Has(f, "extDate")) continue;
    out.emplace_back(f, false);
    if (f.find("V1997") != std::string::npos) out.emplace_back(f, true);
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTripTest, ::testing::ValuesIn(RoundTrips()),
                         [](const auto& info) {
                           const std::filesystem::path p(std::get<0>(info.param));
                           std::string name = p.parent_path().filename().string() + "_" +
                                              p.stem().string() +
                                              (std::get<1>(info.param) ? "_to_jet3" : "");
                           for (char& c : name) c = std::isalnum(uint8_t(c)) ? c : '_';
                           return name;
                         });

}  // namespace
