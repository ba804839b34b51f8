// SPDX-License-Identifier: Apache-2.0
// A new database of either format: the system objects of the empty database
// it is copied from, and nothing of who made that one or when.

#include "jet/storage/header.h"
#include "jet/table/create.h"
#include "property_blob.h"

namespace {

using jet::JetVersion;

double JetTime(bool whole_second) {
  jet::DateTimeParts now = jet::LocalNow();
  if (whole_second) now.millisecond = 0;
  double days = 0;
  jet::DateTimeToJet(now, &days);
  return days;
}

TEST(NewDatabaseTest, CarriesNoTraceOfItsSourceAndIsDatedWhenMade) {
  for (JetVersion version : {JetVersion::kJet3, JetVersion::kJet4}) {
    SCOPED_TRACE(version == JetVersion::kJet3 ? "Access 97" : "Access 2000");
    testutil::TempDir dir;
    const std::string path = dir.File("new.mdb");
    const double before = JetTime(true);
    ASSERT_TRUE(jet::CreateDatabase(path, version).ok());
    const double after = JetTime(false);

    // The source's author and title, in either encoding.
    const std::string bytes = testutil::ReadFile(path);
    for (const char* trace : {"Ahlborn", "James", "db1"}) {
      EXPECT_EQ(bytes.find(trace), std::string::npos) << trace;
      EXPECT_EQ(bytes.find(testutil::Text16(trace)), std::string::npos) << trace;
    }

    auto rows = testutil::ReadRows(path, "MSysObjects");
    ASSERT_FALSE(rows.empty());
    for (auto& row : rows) {
      SCOPED_TRACE(testutil::Text(row["Name"]));
      for (const char* column : {"DateCreate", "DateUpdate"}) {
        EXPECT_GE(row[column].real, before) << column;
        EXPECT_LE(row[column].real, after) << column;
      }
    }

    // Jet 4's header date masks the password: re-masked, none is set.
    auto db = jet::Database::Open(path).value();
    EXPECT_FALSE(db->header().has_password);
    if (version == JetVersion::kJet4) {
      std::vector<uint8_t> page(bytes.begin(), bytes.begin() + db->format().page_size);
      jet::ApplyHeaderMask(page.data(), db->format());
      const double made =
          jet::BitsToDouble(jet::Le64(&page[uint32_t(db->format().header_creation_date)]));
      EXPECT_GE(made, before);
      EXPECT_LE(made, after);
    }
    auto report = jet::CheckDatabase(*db);
    ASSERT_TRUE(report.ok());
    EXPECT_TRUE(report->ok()) << report->problems.front();
  }
}

}  // namespace
