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

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "schema_json.h"
#include "test_util.h"

namespace {

std::vector<std::string> AllFixtures() {
  std::vector<std::string> out = testutil::FixtureFiles("access");
  for (const std::string& f : testutil::FixtureFiles("hosts")) out.push_back(f);
  return out;
}

size_t CountLines(const std::string& text) {
  return size_t(std::count(text.begin(), text.end(), '\n'));
}

// Runs jetdb (or, with `program`, that program), which must succeed; returns
// its output.
std::string Succeed(std::vector<std::string> args,
                    const std::string& program = testutil::JetdbPath()) {
  args.insert(args.begin(), program);
  const testutil::ProcessResult r = testutil::RunProcess(args);
  EXPECT_EQ(r.exit_code, 0) << args[1] << ": " << r.err;
  return r.out;
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

class RoundTripTest : public ::testing::TestWithParam<std::string> {};

TEST_P(RoundTripTest, EveryTableComesBackExactly) {
  const std::string source = GetParam();
  testutil::TempDir dir;
  const std::string target = dir.File("new.mdb");
  const std::string schema_path = dir.File("schema.json");
  const std::string rows_path = dir.File("rows.jsonl");
  Succeed({"new", target});
  std::istringstream tables(Succeed({"tables", source}));
  for (std::string table; std::getline(tables, table);) {
    SCOPED_TRACE("table " + table);
    const std::string old_schema = Succeed({"schema", source, table, "--json"});
    testutil::WriteFile(schema_path, old_schema);
    const std::string original = Succeed({"export", source, table, "--format", "jsonl"});
    testutil::WriteFile(rows_path, original);
    Succeed({"create-table", target, schema_path});
    const size_t rows = CountLines(original);
    EXPECT_EQ(Succeed({"import", target, table, rows_path}),
              "Imported " + std::to_string(rows) + " rows into " + table + "\n");
    EXPECT_TRUE(Succeed({"export", target, table, "--format", "jsonl"}) == original)
        << "the export differs after the round trip";
    EXPECT_EQ(Definition(Succeed({"schema", target, table, "--json"})), Definition(old_schema));
    if (testutil::HaveProgram("mdb-export")) {
      // -e keeps line breaks inside values escaped: one line per row.
      EXPECT_EQ(CountLines(Succeed({"-H", "-e", "-b", "hex", target, table}, "mdb-export")), rows)
          << "mdb-export reads a different number of rows";
    }
  }
  EXPECT_NE(Succeed({"check", target}).find(": ok"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTripTest, ::testing::ValuesIn(AllFixtures()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           const std::filesystem::path p(info.param);
                           std::string name =
                               p.parent_path().filename().string() + "_" + p.stem().string();
                           for (char& c : name) c = std::isalnum(uint8_t(c)) ? c : '_';
                           return name;
                         });

}  // namespace
