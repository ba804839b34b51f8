// The round trip through jetdb's own commands, for every user table of every
// fixture database:
//
//   jetdb new NEW
//   jetdb schema OLD TABLE --json  >  schema.json
//   jetdb create-table NEW schema.json
//   jetdb export OLD TABLE --format jsonl  >  rows.jsonl
//   jetdb import NEW TABLE rows.jsonl
//   jetdb export NEW TABLE --format jsonl   ==  rows.jsonl, byte for byte
//
// then `jetdb check NEW` passes, the new table's schema describes the same
// columns and indexes, and mdbtools reads the same number of rows from it.
// Access 97 (Jet 3) tables go into an Access 2000 (Jet 4) database.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "schema_json.h"
#include "test_util.h"

namespace {

using testutil::JetdbPath;
using testutil::RunProcess;

std::vector<std::string> AllFixtures() {
  std::vector<std::string> out = testutil::FixtureFiles("access");
  for (const std::string& f : testutil::FixtureFiles("hosts")) out.push_back(f);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// What create-table is given for a table (read back from `schema --json`):
// a line per column and per index, with every property it keeps.
std::vector<std::string> Definition(const std::string& json) {
  auto spec = jet::TableSpecFromJson(json, jet::JetVersion::kJet4);
  EXPECT_TRUE(spec.ok()) << spec.status().message();
  std::vector<std::string> out;
  for (const jet::ColumnSpec& c : spec.ok() ? spec->columns : std::vector<jet::ColumnSpec>{}) {
    std::ostringstream s;
    s << "column " << c.name << " type " << int(c.type) << " length " << c.length << " fixed "
      << c.fixed << " precision " << int(c.precision) << " scale " << int(c.scale) << " autonumber "
      << c.autonumber << c.guid_autonumber << " hyperlink " << c.hyperlink << " compressed "
      << c.compressed_unicode;
    out.push_back(s.str());
  }
  for (const jet::IndexSpec& i : spec.ok() ? spec->indexes : std::vector<jet::IndexSpec>{}) {
    std::ostringstream s;
    s << "index " << i.name << " primary " << i.primary << " unique " << i.unique
      << " ignore nulls " << i.ignore_nulls << " required " << i.required;
    for (const auto& c : i.columns) s << " " << c.name << (c.ascending ? " asc" : " desc");
    out.push_back(s.str());
  }
  return out;
}

class RoundTripTest : public ::testing::TestWithParam<std::string> {
 protected:
  static void TearDownTestSuite() {
    std::printf("Round trip: %zu files, %zu tables, %zu rows\n", files_, tables_, rows_);
  }

  static inline size_t files_ = 0, tables_ = 0, rows_ = 0;
};

TEST_P(RoundTripTest, EveryTableComesBackExactly) {
  const std::string source = GetParam();
  testutil::TempDir dir;
  const std::string target = dir.File("new.mdb");
  const std::string schema_path = dir.File("schema.json");
  const std::string rows_path = dir.File("rows.jsonl");

  auto r = RunProcess({JetdbPath(), "new", target});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunProcess({JetdbPath(), "tables", source});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> tables = Lines(r.out);

  for (const std::string& table : tables) {
    SCOPED_TRACE("table " + table);
    r = RunProcess({JetdbPath(), "schema", source, table, "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string old_schema = r.out;
    testutil::WriteFile(schema_path, old_schema);
    r = RunProcess({JetdbPath(), "export", source, table, "--format", "jsonl"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string original = r.out;
    testutil::WriteFile(rows_path, original);

    r = RunProcess({JetdbPath(), "create-table", target, schema_path});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    r = RunProcess({JetdbPath(), "import", target, table, rows_path});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const size_t rows = CountLines(original);
    EXPECT_EQ(r.out, "Imported " + std::to_string(rows) + " rows into " + table + "\n");

    r = RunProcess({JetdbPath(), "export", target, table, "--format", "jsonl"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.out == original) << "the export differs after the round trip";

    r = RunProcess({JetdbPath(), "schema", target, table, "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Definition(r.out), Definition(old_schema));

    if (testutil::HaveProgram("mdb-export")) {
      // -e keeps line breaks inside values escaped: one line per row.
      r = RunProcess({"mdb-export", "-H", "-e", "-b", "hex", target, table});
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(CountLines(r.out), rows) << "mdb-export reads a different number of rows";
    }
    ++tables_;
    rows_ += rows;
  }

  r = RunProcess({JetdbPath(), "check", target});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(": ok"), std::string::npos) << r.out;
  ++files_;
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
  const std::filesystem::path p(info.param);
  std::string name = p.parent_path().filename().string() + "_" + p.stem().string();
  for (char& c : name) {
    if (!std::isalnum(uint8_t(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTripTest, ::testing::ValuesIn(AllFixtures()), ParamName);

}  // namespace
