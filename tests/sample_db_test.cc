// The sample Tallowin database (sample/): built from its text by
// build-sample.sh, it reads back exactly as written and holds what the
// installer expects of a Tallowin database.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "jet/jet.h"
#include "test_util.h"
#include "values.h"

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

  static testutil::TempDir* dir_;
  static ProcessResult* build_;
};

testutil::TempDir* SampleDbTest::dir_ = nullptr;
ProcessResult* SampleDbTest::build_ = nullptr;

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

// The reference's settings are all set and all differ from the template's,
// so that a copy from the wrong row shows in the installation tests, which
// also need the template's memo to take more than a page and its logo set.
// (That no table mentions FirstClass and that the first panel showing the
// template has a free slot, InstallTest.FirstRunClonesTheTemplateAndPlaces-
// TheButton needs to succeed on the sample.)
TEST_F(SampleDbTest, TemplateAndReferenceTellACopyFromTheWrongRow) {
  const auto rows = testutil::ReadRows(Db(), "Master");
  const testutil::NamedRow tmpl = testutil::FindRow(rows, "SERVICE", "USPS-PRI");
  const testutil::NamedRow ref = testutil::FindRow(rows, "SERVICE", "USPS-4TH-NOSC");
  ASSERT_FALSE(tmpl.empty() || ref.empty());
  EXPECT_GT(tmpl.at("NOTES").bytes.size(), 4096u);
  EXPECT_FALSE(tmpl.at("LOGO").bytes.empty());
  for (const char* name : {"ACTDELC", "ACK", "ACTDELSIG", "ACK-S"}) {
    EXPECT_FALSE(ref.at(name).null) << name;
    EXPECT_FALSE(tmpl.at(name).null) << name;
    EXPECT_NE(ref.at(name).ToText(), tmpl.at(name).ToText()) << name;
  }
}

}  // namespace
