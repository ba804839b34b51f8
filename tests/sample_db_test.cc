// The sample Tallowin database (sample/): built from its text by
// build-sample.sh, it reads back exactly as written and holds what the
// installer expects of a Tallowin database.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/jet.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using testutil::ProcessResult;
using testutil::RunProcess;

const std::string kSampleDir = AFC_SAMPLE_DIR;

// Builds the sample once for all the tests here.
class SampleDbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testutil::TempDir;
    build_ = new ProcessResult(
        RunProcess({"bash", kSampleDir + "/build-sample.sh", testutil::JetdbPath(), Db()}));
  }
  static void TearDownTestSuite() {
    delete build_;
    delete dir_;
  }
  void SetUp() override { ASSERT_EQ(build_->exit_code, 0) << build_->out << build_->err; }

  static std::string Db() { return dir_->File("Tallowin.mdb"); }

  // Every row of a table, in scan order.
  static std::vector<std::vector<jet::Value>> Rows(jet::Database& db, const std::string& table,
                                                   std::shared_ptr<const jet::TableDef>* def) {
    auto t = db.GetTable(table);
    EXPECT_TRUE(t.ok()) << t.status().ToString();
    if (!t.ok()) return {};
    *def = *t;
    jet::TableScanner scan(db, *t);
    std::vector<std::vector<jet::Value>> rows;
    std::vector<jet::Value> row;
    while (true) {
      auto more = scan.Next(&row);
      EXPECT_TRUE(more.ok()) << more.status().ToString();
      if (!more.ok() || !*more) break;
      rows.push_back(row);
    }
    return rows;
  }

  static testutil::TempDir* dir_;
  static ProcessResult* build_;
};

testutil::TempDir* SampleDbTest::dir_ = nullptr;
ProcessResult* SampleDbTest::build_ = nullptr;

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Every table of the text is in the database, and exports as exactly the
// lines it was imported from.
TEST_F(SampleDbTest, ExportsExactlyTheTextItWasBuiltFrom) {
  std::set<std::string> text_tables;
  for (const auto& e : fs::directory_iterator(kSampleDir + "/schema")) {
    if (e.path().extension() == ".json") text_tables.insert(e.path().stem().string());
  }
  ProcessResult tables = RunProcess({testutil::JetdbPath(), "tables", Db()});
  ASSERT_EQ(tables.exit_code, 0) << tables.err;
  std::set<std::string> db_tables;
  for (size_t at = 0, nl; (nl = tables.out.find('\n', at)) != std::string::npos; at = nl + 1) {
    db_tables.insert(tables.out.substr(at, nl - at));
  }
  EXPECT_EQ(db_tables, text_tables);

  for (const std::string& t : text_tables) {
    ProcessResult r = RunProcess({testutil::JetdbPath(), "export", Db(), t, "--format", "jsonl"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, testutil::ReadFile(kSampleDir + "/rows/" + t + ".jsonl")) << t;
  }
}

TEST_F(SampleDbTest, HoldsTheTemplateTheReferenceAndAFreePanelSlot) {
  auto db = jet::Database::Open(Db());
  ASSERT_TRUE(db.ok()) << db.status().ToString();

  // No table mentions the service the installer adds.
  auto list = (*db)->ListTables();
  ASSERT_TRUE(list.ok());
  for (const jet::CatalogEntry& entry : *list) {
    std::shared_ptr<const jet::TableDef> def;
    for (const auto& row : Rows(**db, entry.name, &def)) {
      for (const jet::Value& v : row) {
        if (v.type != jet::ColumnType::kText && v.type != jet::ColumnType::kMemo) continue;
        EXPECT_EQ(Lower(v.bytes).find("firstclass"), std::string::npos)
            << entry.name << ": " << v.bytes.substr(0, 60);
      }
    }
  }

  std::shared_ptr<const jet::TableDef> master;
  std::map<std::string, std::vector<jet::Value>> services;
  for (auto& row : Rows(**db, "Master", &master)) services[row[0].bytes] = row;
  ASSERT_EQ(master->columns[0].name, "SERVICE");
  ASSERT_TRUE(services.count("USPS-PRI"));
  ASSERT_TRUE(services.count("USPS-4TH-NOSC"));
  const auto& tmpl = services["USPS-PRI"];
  const auto& ref = services["USPS-4TH-NOSC"];
  auto col = [&](const char* name) {
    const jet::ColumnDef* c = master->FindColumn(name);
    EXPECT_NE(c, nullptr) << name;
    return c ? size_t(c - master->columns.data()) : 0;
  };

  // The template's memo needs more than one page of its own; its logo is set.
  const jet::Value& notes = tmpl[col("NOTES")];
  EXPECT_FALSE(notes.null);
  EXPECT_GT(notes.bytes.size(), (*db)->format().page_size);
  EXPECT_FALSE(tmpl[col("LOGO")].null);
  EXPECT_FALSE(tmpl[col("LOGO")].bytes.empty());

  // The reference's settings are all set and all differ from the template's,
  // so that a copy from the wrong row shows.
  for (const char* name : {"ACTDELC", "ACK", "ACTDELSIG", "ACK-S"}) {
    const jet::Value& r = ref[col(name)];
    const jet::Value& t = tmpl[col(name)];
    EXPECT_FALSE(r.null) << name;
    EXPECT_FALSE(t.null) << name;
    EXPECT_NE(r.ToText(), t.ToText()) << name;
  }

  // The first panel that shows the template has a free slot after its
  // last button.
  std::shared_ptr<const jet::TableDef> panel;
  const auto panels = Rows(**db, "Panel", &panel);
  auto slot = [&](const std::vector<jet::Value>& row, int i) -> const jet::Value& {
    const jet::ColumnDef* c = panel->FindColumn("SV" + std::to_string(i));
    EXPECT_NE(c, nullptr);
    return row[c ? size_t(c - panel->columns.data()) : 0];
  };
  auto shows = [&](const std::vector<jet::Value>& row) {
    for (int i = 1; i <= 7; ++i) {
      if (!slot(row, i).null && slot(row, i).bytes == "USPS-PRI") return true;
    }
    return false;
  };
  auto first = std::find_if(panels.begin(), panels.end(), shows);
  ASSERT_NE(first, panels.end());
  int last_filled = 0;
  for (int i = 1; i <= 7; ++i) {
    if (!slot(*first, i).null && !slot(*first, i).bytes.empty()) last_filled = i;
  }
  EXPECT_LT(last_filled, 7);
}

}  // namespace
