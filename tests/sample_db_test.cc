// The sample Tallowin database (sample/): built from its text by
// build-sample.sh, it reads back exactly as written and holds what the
// installer expects of a Tallowin database.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "jet/jet.h"
#include "test_util.h"
#include "values.h"

namespace {

const std::string kSampleDir = AFC_SAMPLE_DIR;
const std::string kSampleDb = AFC_SAMPLE_DB;  // built by build-sample.sh

// Every table of the text is in the database, and exports as exactly the
// lines it was imported from.
TEST(SampleDbTest, ExportsExactlyTheTextItWasBuiltFrom) {
  std::set<std::string> text_tables, db_tables;
  for (const auto& e : std::filesystem::directory_iterator(kSampleDir + "/schema")) {
    if (e.path().extension() == ".json") text_tables.insert(e.path().stem().string());
  }
  std::istringstream listed(testutil::RunProcess({testutil::JetdbPath(), "tables", kSampleDb}).out);
  for (std::string t; std::getline(listed, t);) db_tables.insert(t);
  EXPECT_EQ(db_tables, text_tables);
  for (const std::string& t : text_tables) {
    auto r =
        testutil::RunProcess({testutil::JetdbPath(), "export", kSampleDb, t, "--format", "jsonl"});
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
TEST(SampleDbTest, TemplateAndReferenceTellACopyFromTheWrongRow) {
  const auto rows = testutil::ReadRows(kSampleDb, "Master");
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
