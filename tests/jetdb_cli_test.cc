// jetdb as a user runs it: exit codes, output streams and messages of each
// command; the writing commands (new, create-table, import, update, delete)
// also for what they leave in the file when they fail.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "schema_json.h"
#include "test_util.h"

namespace {

using testutil::Fixture;
using testutil::ProcessResult;
using testutil::TempDir;

ProcessResult Jetdb(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), testutil::JetdbPath());
  return testutil::RunProcess(args, input);
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST(JetdbCliTest, HelpGoesToStdoutWithExitZero) {
  auto r = Jetdb({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Contains(r.out, "Usage: jetdb"));
  EXPECT_TRUE(r.err.empty());
}

TEST(JetdbCliTest, BadUsageExitsTwoWithMessageOnStderrAndTouchesNothing) {
  TempDir dir;
  const std::string db = dir.File("x.mdb");
  ASSERT_EQ(Jetdb({"new", db}).exit_code, 0);
  const std::string before = testutil::ReadFile(db);
  const std::string v2000 = Fixture("access/testV2000.mdb");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--json"},
                                             {"--format", "csv"},
                                             {"frobnicate", "x.mdb"},
                                             {"info"},
                                             {"export", v2000},
                                             {"export", v2000, "Table1", "--format", "xml"},
                                             {"tables", v2000, "--bogus"},
                                             {"new"},
                                             {"new", dir.File("y.mdb"), "--json"},
                                             {"new", dir.File("y.mdb"), "--jet3", "--jet4"},
                                             {"tables", db, "--jet4"},
                                             {"create-table", db},
                                             {"import", db},
                                             {"import", db, "T", "a.jsonl", "b.jsonl"},
                                             {"update", db, "T", "--set", "A=1"},
                                             {"update", db, "T", "--where", "A=1"},
                                             {"update", db, "T", "--where", "A", "--set", "B=2"},
                                             {"update", db, "T", "--where", "A=1", "--set", "=2"},
                                             {"delete", db, "T"},
                                             {"delete", db, "T", "--where", "A=1", "--set", "B=2"},
                                             {"export", db, "T", "--where", "A=1"}}) {
    ProcessResult r = Jetdb(args);
    const std::string what = args.empty() ? "(none)" : args[0] + " " + std::to_string(args.size());
    EXPECT_EQ(r.exit_code, 2) << what;
    EXPECT_TRUE(Contains(r.err, "jetdb:")) << r.err;
    EXPECT_TRUE(r.out.empty()) << what;
  }
  EXPECT_EQ(testutil::ReadFile(db), before);
  EXPECT_FALSE(testutil::Exists(dir.File("y.mdb")));
}

TEST(JetdbCliTest, ErrorsExitOneWithMessageOnStderr) {
  auto r = Jetdb({"tables", "/nonexistent/Tallowin.mdb"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(Contains(r.err, "does not exist"));
  EXPECT_TRUE(Contains(r.err, "/nonexistent/Tallowin.mdb"));
  r = Jetdb({"export", Fixture("access/testV2000.mdb"), "NoSuchTable"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err, "NoSuchTable"));
}

TEST(JetdbCliTest, InfoAndTables) {
  auto r = Jetdb({"info", Fixture("access/testV1997.mdb")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* line :
       {"format: jet3", "page size: 2048", "page count: 58", "code page: 1252", "password: no"}) {
    EXPECT_TRUE(Contains(r.out, line)) << line;
  }
  r = Jetdb({"info", Fixture("hosts/tallowin-v2003.mdb")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* line :
       {"format: jet4", "page size: 4096", "sort order: General (legacy) (1033)"}) {
    EXPECT_TRUE(Contains(r.out, line)) << line;
  }
  // User tables, in catalog order.
  r = Jetdb({"tables", Fixture("hosts/tallowin-v2000.mdb")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Master\nPanel\nShipments\n");
}

const char kOrdersSchema[] = R"({
  "name": "Orders",
  "columns": [
    {"name": "ID", "type": "Long", "autonumber": true},
    {"name": "Code", "type": "Text", "length": 20},
    {"name": "Name", "type": "Text"},
    {"name": "Amount", "type": "Currency"},
    {"name": "When", "type": "DateTime"},
    {"name": "Note", "type": "Memo"}
  ],
  "indexes": [
    {"name": "PrimaryKey", "primary": true, "columns": ["ID"]},
    {"name": "Code", "unique": true, "ignore_nulls": true,
     "columns": [{"name": "Code", "ascending": false}]}
  ]
})";

// A new database with an empty Orders table.
class WriteCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessResult r = Jetdb({"new", db_});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    testutil::WriteFile(dir_.File("orders.json"), kOrdersSchema);
    r = Jetdb({"create-table", db_, dir_.File("orders.json")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  std::string Export(const std::string& table = "Orders") {
    ProcessResult r = Jetdb({"export", db_, table, "--format", "jsonl"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  }

  void ExpectCheckPasses() {
    ProcessResult r = Jetdb({"check", db_});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  }

  // Imports `rows` lines built by `line(i)` for i = 1..rows.
  template <typename F>
  ProcessResult ImportLines(int rows, F line) {
    std::string input;
    for (int i = 1; i <= rows; ++i) input += line(i) + "\n";
    testutil::WriteFile(dir_.File("rows.jsonl"), input);
    return Jetdb({"import", db_, "Orders", dir_.File("rows.jsonl")});
  }

  TempDir dir_;
  const std::string db_ = dir_.File("shop.mdb");
};

TEST(JetdbNewTest, CreatesAnEmptyJet4DatabaseAndNeverOverwrites) {
  TempDir dir;
  const std::string path = dir.File("new.mdb");
  ProcessResult r = Jetdb({"new", path, "--jet4"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Created " + path + " (Access 2000, Jet 4)\n");
  EXPECT_TRUE(r.err.empty());
  r = Jetdb({"info", path});
  EXPECT_TRUE(Contains(r.out, "format: jet4")) << r.out;
  r = Jetdb({"tables", path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Jetdb({"check", path}).exit_code, 0);

  const std::string before = testutil::ReadFile(path);
  r = Jetdb({"new", path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err, "exists")) << r.err;
  EXPECT_EQ(testutil::ReadFile(path), before);

  r = Jetdb({"new", dir.File("old.mdb"), "--jet3"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err, "not supported yet")) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_THROW(testutil::ReadFile(dir.File("old.mdb")), std::runtime_error);
}

TEST_F(WriteCliTest, CreateTableTakesBackWhatSchemaPrints) {
  ProcessResult r = Jetdb({"schema", db_, "Orders", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto def = jet::TableSpecFromJson(r.out);
  ASSERT_TRUE(def.ok()) << def.status().message();
  ASSERT_EQ(def->columns.size(), 6u);
  EXPECT_TRUE(def->columns[0].autonumber);
  EXPECT_EQ(def->columns[1].length, 20);
  EXPECT_EQ(def->columns[2].length, 510);  // the default: 255 characters
  EXPECT_EQ(def->columns[5].type, jet::ColumnType::kMemo);
  ASSERT_EQ(def->indexes.size(), 2u);
  EXPECT_TRUE(def->indexes[0].primary);
  EXPECT_TRUE(def->indexes[1].unique);
  EXPECT_TRUE(def->indexes[1].ignore_nulls);
  EXPECT_FALSE(def->indexes[1].columns[0].ascending);

  // The whole-database form (an array) creates every table in it; a
  // foreign-key index is left out without complaint.
  r = Jetdb({"schema", db_, "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::string all = r.out;
  ASSERT_EQ(all.front(), '[');
  const std::string renamed = "\"name\": \"Orders2\"";
  all.replace(all.find("\"name\": \"Orders\""), 16, renamed);
  all.replace(all.rfind("\"foreign_key\": false"), 20,
              "\"foreign_key\": true, \"related_table_page\": 2, \"related_index\": 0");
  testutil::WriteFile(dir_.File("all.json"), all);
  r = Jetdb({"create-table", db_, dir_.File("all.json")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Created table Orders2 (6 columns, 1 index)\n");
  r = Jetdb({"schema", db_, "Orders2"});
  EXPECT_TRUE(Contains(r.out, "PrimaryKey")) << r.out;
  EXPECT_FALSE(Contains(r.out, "    Code (")) << r.out;
  ExpectCheckPasses();
}

TEST_F(WriteCliTest, CreateTableRefusesBadSchemasBeforeWriting) {
  const std::string before = testutil::ReadFile(db_);
  struct Case {
    std::string schema, message;
  };
  for (const Case& c : std::vector<Case>{
           {R"({"name": "T", "columns": [{"name": "A", "type": "Long", "autonumbr": true}]})",
            "unknown key \"autonumbr\""},
           {R"({"name": "T", "columns": [{"name": "A", "type": "Float"}]})",
            "unknown type \"Float\""},
           {R"({"name": "T", "columns": [{"name": "A", "type": "Text", "length": -2}]})",
            "\"length\" must be between 0 and 65535"},
           {R"({"name": "T", "columns": [{"name": "A"}]})", "\"type\" is missing"},
           {R"({"name": "T", "columns": {"name": "A", "type": "Long"}})",
            "\"columns\" must be an array"},
           {R"({"name": "T", "columns": [{"name": "A", "type": "Long"},]})",
            "line 1, column 57: a trailing comma"},
           {kOrdersSchema, "exists already"}}) {
    testutil::WriteFile(dir_.File("bad.json"), c.schema);
    ProcessResult r = Jetdb({"create-table", db_, dir_.File("bad.json")});
    EXPECT_EQ(r.exit_code, 1) << c.schema;
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(testutil::ReadFile(db_), before);
  EXPECT_EQ(Jetdb({"create-table", db_, dir_.File("missing.json")}).exit_code, 1);
}

TEST_F(WriteCliTest, ImportMatchesKeysInAnyCaseAndKeepsAutonumbers) {
  const std::string input =
      R"({"ID":10,"Code":"A1","Name":"Alice","Amount":"12.5000","When":"2024-01-02T00:00:00","Note":"first"})"
      "\n"
      R"({"note":null,"name":"Bob","code":"B2","amount":7,"id":20})"
      "\n\n"  // a blank line is skipped
      R"({"Name":"Carol","When":"1899-12-29T06:00:00.125","Note":"two\nlines \u00e9"})"
      "\r\n";
  ProcessResult r = Jetdb({"import", db_, "orders", "-"}, input);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Imported 3 rows into Orders\n");
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(
      Export(),
      R"({"ID":10,"Code":"A1","Name":"Alice","Amount":"12.5000","When":"2024-01-02T00:00:00","Note":"first"})"
      "\n"
      R"({"ID":20,"Code":"B2","Name":"Bob","Amount":"7.0000","When":null,"Note":null})"
      "\n"
      R"({"ID":21,"Code":null,"Name":"Carol","Amount":null,"When":"1899-12-29T06:00:00.125","Note":"two\nlines é"})"
      "\n");
  ExpectCheckPasses();
}

TEST_F(WriteCliTest, ImportNamesTheLineOfABadRowAndImportsNothingOfItsBatch) {
  struct Case {
    std::string bad_line, message;
  };
  for (const Case& c : std::vector<Case>{
           {R"({"Name":"x","Colour":"red"})", "Line 3: Table 'Orders' has no column \"Colour\""},
           {R"({"Name":"x",})", "Line 3: column 13: a trailing comma before '}'"},
           {R"({"Amount":"1.23456"})", "Line 3: Column 'Amount' (Currency)"},
           {R"({"Code":"ABCDEFGHIJK"})", "Line 3: Column 'Code'"},  // 11 characters, room for 10
           {R"({"ID":1})", "Line 3: "},                             // the key exists already
           {R"(["Name"])", "Line 3: A row must be a JSON object"}}) {
    ProcessResult r = ImportLines(4, [&](int i) {
      return i == 3 ? c.bad_line : R"({"Name":"row)" + std::to_string(i) + "\"}";
    });
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
    EXPECT_TRUE(Contains(r.err, "0 rows were imported before the failure; nothing from line 1 on"))
        << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(Export(), "");
  }
  ExpectCheckPasses();
}

TEST_F(WriteCliTest, FailingImportKeepsEarlierBatchesAndNothingOfTheFailingOne) {
  auto row = [](int i) {
    return R"({"ID":)" + std::to_string(i) + R"(,"Code":"C)" + std::to_string(i) +
           R"(","Amount":")" + std::to_string(i) + R"(.25"})";
  };
  // A duplicate key in the third batch: only the writer can see it.
  ProcessResult r = ImportLines(4500, [&](int i) { return i == 4321 ? row(17) : row(i); });
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err, "line 4321") || Contains(r.err, "Line 4321")) << r.err;
  EXPECT_TRUE(Contains(r.err,
                       "4000 rows were imported before the failure; nothing from line "
                       "4001 on was imported"))
      << r.err;
  std::string out = Export();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4000);
  EXPECT_TRUE(Contains(out, row(4000).substr(0, 20)));
  EXPECT_FALSE(Contains(out, "\"C4001\""));
  ExpectCheckPasses();

  // A malformed value in the second batch of a further import.
  r = ImportLines(3000, [&](int i) {
    return i == 2500 ? R"({"When":"2024-02-30T00:00:00"})" : row(10000 + i);
  });
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err,
                       "Line 2500: Column 'When' (DateTime): \"2024-02-30T00:00:00\" is "
                       "not a real date"))
      << r.err;
  EXPECT_TRUE(Contains(r.err,
                       "2000 rows were imported before the failure; nothing from line "
                       "2001 on"))
      << r.err;
  out = Export();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6000);
  ExpectCheckPasses();
}

TEST_F(WriteCliTest, UpdateChangesEveryRowThatMatchesTheTypedValue) {
  ProcessResult r = ImportLines(5, [](int i) {
    const char* names[] = {"Alice", "ALICE", "Bob", "alice ", "Dave"};
    return R"({"Name":")" + std::string(names[i - 1]) + R"(","Amount":")" + std::to_string(i) +
           R"(","When":"2024-01-0)" + std::to_string(i) + R"("})";
  });
  ASSERT_EQ(r.exit_code, 0) << r.err;

  // Text matches without regard to case, but trailing spaces count.
  r = Jetdb(
      {"update", db_, "Orders", "--where", "Name=alice", "--set", "Note=hi, there", "Amount=99.5"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Updated 2 rows\n");
  // Typed: 3 and 3.0000 are the same amount; dates match without the time.
  r = Jetdb({"update", db_, "Orders", "--where=Amount=3", "--where", "When=2024-01-03", "--set",
             "Code=X", "--set", "When="});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Updated 1 row\n");
  r = Jetdb({"update", db_, "Orders", "--where", "Name=nobody", "--set", "Code=Y"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Updated 0 rows\n");

  EXPECT_EQ(
      Export(),
      R"({"ID":1,"Code":null,"Name":"Alice","Amount":"99.5000","When":"2024-01-01T00:00:00","Note":"hi, there"})"
      "\n"
      R"({"ID":2,"Code":null,"Name":"ALICE","Amount":"99.5000","When":"2024-01-02T00:00:00","Note":"hi, there"})"
      "\n"
      R"({"ID":3,"Code":"X","Name":"Bob","Amount":"3.0000","When":null,"Note":null})"
      "\n"
      R"({"ID":4,"Code":null,"Name":"alice ","Amount":"4.0000","When":"2024-01-04T00:00:00","Note":null})"
      "\n"
      R"({"ID":5,"Code":null,"Name":"Dave","Amount":"5.0000","When":"2024-01-05T00:00:00","Note":null})"
      "\n");
  ExpectCheckPasses();
}

TEST_F(WriteCliTest, UpdateReportsBadValuesAndHowFarItGot) {
  ASSERT_EQ(
      ImportLines(3, [](int i) { return R"({"Name":"n)" + std::to_string(i) + "\"}"; }).exit_code,
      0);
  const std::string before = testutil::ReadFile(db_);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{"--where", "Name=n1", "--set", "Amount=abc"}, "Column 'Amount' (Currency): \"abc\""},
           {{"--where", "Colour=red", "--set", "Name=x"}, "no column 'Colour'"},
           {{"--where", "ID=x", "--set", "Name=x"}, "Column 'ID' (Long)"},
           {{"--where", "Name=n1", "--set", "ID=7"}, "autonumber"},
           {{"--where", "Name=n1", "--set", "Code=ABCDEFGHIJK"}, "longer than 10"}}) {
    std::vector<std::string> args = {"update", db_, "Orders"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = Jetdb(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(testutil::ReadFile(db_), before);
  EXPECT_EQ(Jetdb({"update", db_, "NoSuchTable", "--where", "A=1", "--set", "B=2"}).exit_code, 1);

  // The second of two rows breaks the unique index: the first stays changed.
  ProcessResult r = Jetdb({"update", db_, "Orders", "--where", "Code=", "--set", "Code=SAME"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Contains(r.err, "1 of the 3 matching rows were updated before the failure")) << r.err;
  const std::string out = Export();
  size_t same = 0;
  for (size_t at = out.find("\"SAME\""); at != std::string::npos;
       at = out.find("\"SAME\"", at + 1)) {
    ++same;
  }
  EXPECT_EQ(same, 1u);
  ExpectCheckPasses();
}

TEST_F(WriteCliTest, DeleteRemovesTheMatchingRowsOnly) {
  ASSERT_EQ(ImportLines(300,
                        [](int i) {
                          return R"({"Code":"K)" + std::to_string(i) + R"(","Name":")" +
                                 (i % 3 == 0 ? "Fizz" : "Other") + "\"}";
                        })
                .exit_code,
            0);
  ProcessResult r = Jetdb({"delete", db_, "Orders", "--where", "name=FIZZ"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Deleted 100 rows\n");
  r = Jetdb({"delete", db_, "Orders", "--where", "Code=K1", "--where", "Name=Fizz"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Deleted 0 rows\n");
  r = Jetdb({"delete", db_, "Orders", "--where", "ID=1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Deleted 1 row\n");

  const std::string out = Export();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 199);
  EXPECT_FALSE(Contains(out, "Fizz"));
  EXPECT_FALSE(Contains(out, "\"K1\""));
  EXPECT_TRUE(Contains(out, "\"K2\""));
  ExpectCheckPasses();
  if (testutil::HaveProgram("mdb-export")) {
    r = testutil::RunProcess({"mdb-export", "-H", db_, "Orders"});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 199);
  }
}

}  // namespace
