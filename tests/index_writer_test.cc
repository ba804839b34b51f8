// Keeping indexes exact while rows change: thousands of seeded random
// inserts, updates and deletes, with the whole database checked after each
// batch, and the refusals that must leave the file untouched.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "checker.h"
#include "jet/jet.h"
#include "table_writer.h"
#include "test_util.h"
#include "values.h"

namespace {

using jet::ColumnType;
using jet::Value;

using testutil::OpenWritable;

Value Text(const std::string& s) { return testutil::TextValue(s); }
Value Double(double d) { return testutil::DoubleValue(d); }
Value Date(double d) { return testutil::DoubleValue(d, ColumnType::kDateTime); }
Value Null(ColumnType t) { return testutil::NullValue(t); }

void ExpectConsistent(const std::string& path) {
  auto db = jet::Database::Open(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto report = jet::CheckDatabase(**db);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const auto& p : report->problems) ADD_FAILURE() << p;
}

// Rows of Shipments by tracking number, as read back.
std::map<std::string, std::string> ReadShipments(const std::string& path) {
  std::map<std::string, std::string> out;
  auto db = jet::Database::Open(path);
  auto def = (*db)->GetTable("Shipments");
  jet::TableScanner scan(**db, *def);
  std::vector<Value> row;
  while (*scan.Next(&row)) out[row[1].ToText()] = row[2].ToText() + "|" + row[3].ToText();
  return out;
}

std::string Tracking(std::mt19937& rng) {
  static const char* chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string s = "1Z";
  for (int i = 0; i < 16; ++i) s.push_back(chars[rng() % 36]);
  return s;
}

TEST(IndexWriterTest, SeededMixedOperationsKeepEveryIndexExact) {
  const char* kServices[] = {"UPS-GND", "USPS-PRI", "FEDEX-2DAY", "DHL-INTL", "usps-pri",
                             "Zoo Ä", "zoo a", "", "LOCAL COURIER"};
  for (const char* fixture : {"hosts/tallowin-v2000.mdb", "hosts/tallowin-v2003.mdb"}) {
    SCOPED_TRACE(fixture);
    testutil::TempDir dir;
    const std::string path = dir.File("db.mdb");
    testutil::CopyFile(testutil::Fixture(fixture), path);
    std::map<std::string, std::string> expected = ReadShipments(path);
    ASSERT_EQ(expected.size(), 2000u);
    std::mt19937 rng(20261206);

    for (int batch = 0; batch < 4; ++batch) {
      SCOPED_TRACE("batch " + std::to_string(batch));
      {
        auto db = OpenWritable(path);
        ASSERT_TRUE(db);
        auto writer = jet::TableWriter::Open(*db, "Shipments");
        ASSERT_TRUE(writer.ok()) << writer.status().ToString();
        // Current rows with their ids, to pick from.
        std::vector<std::pair<jet::RowId, std::vector<Value>>> rows;
        {
          jet::TableScanner scan(*db, *db->GetTable("Shipments"));
          std::vector<Value> row;
          jet::RowId id;
          while (*scan.Next(&row, &id)) rows.emplace_back(id, row);
        }
        std::set<size_t> touched;
        for (int op = 0; op < 400; ++op) {
          const int kind = int(rng() % 10);
          if (kind < 6 || rows.empty()) {
            std::vector<Value> row = {Null(ColumnType::kLong), Text(Tracking(rng)),
                                      Text(kServices[rng() % 9]), Double(double(rng() % 100000) / 7),
                                      Date(40000 + double(rng() % 4000))};
            const std::string tracking = row[1].bytes;
            auto at = (*writer)->Insert(row);
            ASSERT_TRUE(at.ok()) << at.status().ToString();
            expected[tracking] = row[2].ToText() + "|" + row[3].ToText();
          } else {
            size_t pick = rng() % rows.size();
            if (!touched.insert(pick).second) continue;  // each old row changes once
            auto& [id, old] = rows[pick];
            if (kind < 8) {
              auto del = (*writer)->Delete(id);
              ASSERT_TRUE(del.ok()) << del.ToString();
              expected.erase(old[1].ToText());
            } else {
              std::vector<Value> row = old;
              row[1] = Text(Tracking(rng));
              row[2] = Text(kServices[rng() % 9]);
              auto s = (*writer)->Update(id, row);
              ASSERT_TRUE(s.ok()) << s.ToString();
              expected.erase(old[1].ToText());
              expected[row[1].bytes] = row[2].ToText() + "|" + row[3].ToText();
            }
          }
        }
      }
      ExpectConsistent(path);
      ASSERT_EQ(ReadShipments(path), expected);
    }
  }
}

TEST(IndexWriterTest, MasterRowWithMemoAndOleIsIndexedAndReadable) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  testutil::CopyFile(testutil::Fixture("hosts/tallowin-v2000.mdb"), path);
  {
    auto db = OpenWritable(path);
    auto writer = jet::TableWriter::Open(*db, "Master");
    ASSERT_TRUE(writer.ok());
    jet::TableScanner scan(*db, *db->GetTable("Master"));
    std::vector<Value> row, templ;
    while (*scan.Next(&row)) {
      if (row[0].ToText() == "USPS-PRI") templ = row;
    }
    ASSERT_FALSE(templ.empty());
    templ[0] = Text("FirstClass");
    templ[1] = Text("USPS First-Class Mail");
    auto at = (*writer)->Insert(templ);
    ASSERT_TRUE(at.ok()) << at.status().ToString();
  }
  ExpectConsistent(path);
  auto db = jet::Database::Open(path);
  jet::TableScanner scan(**db, *(*db)->GetTable("Master"));
  std::vector<Value> row;
  std::map<std::string, std::vector<Value>> by_key;
  while (*scan.Next(&row)) by_key[row[0].ToText()] = row;
  ASSERT_TRUE(by_key.count("FirstClass"));
  const auto& added = by_key["FirstClass"];
  const auto& pri = by_key["USPS-PRI"];
  for (size_t i = 2; i < added.size(); ++i) EXPECT_EQ(added[i].ToText(), pri[i].ToText()) << i;
  EXPECT_EQ(added[16].bytes.size(), pri[16].bytes.size());  // the 3,000-character memo
  EXPECT_EQ(added[17].bytes, pri[17].bytes);                // the 5,000-byte OLE value

  if (testutil::HaveProgram("mdb-export")) {
    auto r = testutil::RunProcess({"mdb-export", path, "Master"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("\"FirstClass\",\"USPS First-Class Mail\""), std::string::npos);
  }
}

TEST(IndexWriterTest, RefusalsLeaveTheFileByteForByteUnchanged) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  testutil::CopyFile(testutil::Fixture("hosts/tallowin-v2003.mdb"), path);
  const std::string original = testutil::ReadFile(path);
  auto db = OpenWritable(path);
  auto master = jet::TableWriter::Open(*db, "Master");
  ASSERT_TRUE(master.ok());
  std::vector<Value> row((*master)->table().columns.size());
  for (size_t i = 0; i < row.size(); ++i) row[i] = Null((*master)->table().columns[i].type);

  // Duplicate primary key, in another letter case: Jet compares text
  // without regard to case, so this is the same key.
  row[0] = Text("usps-pri");
  auto dup = (*master)->Insert(row);
  EXPECT_EQ(dup.status().kind(), jet::ErrorKind::kConstraint);
  EXPECT_NE(dup.status().message().find("PrimaryKey"), std::string::npos);

  // A missing value in a required (primary key) column.
  row[0] = Null(ColumnType::kText);
  EXPECT_EQ((*master)->Insert(row).status().kind(), jet::ErrorKind::kConstraint);

  // A character no sort order table has a code for.
  row[0] = Text("\xF0\x9F\x98\x80");  // U+1F600
  EXPECT_EQ((*master)->Insert(row).status().kind(), jet::ErrorKind::kUnsupported);

  // Oversized text.
  row[0] = Text(std::string(21, 'x'));
  EXPECT_EQ((*master)->Insert(row).status().kind(), jet::ErrorKind::kInvalidArgument);

  // An update that would duplicate another row's unique tracking number.
  auto ships = jet::TableWriter::Open(*db, "Shipments");
  ASSERT_TRUE(ships.ok());
  jet::TableScanner scan(*db, *db->GetTable("Shipments"));
  std::vector<Value> first, second;
  jet::RowId first_id, second_id;
  ASSERT_TRUE(*scan.Next(&first, &first_id));
  ASSERT_TRUE(*scan.Next(&second, &second_id));
  second[1] = first[1];
  EXPECT_EQ((*ships)->Update(second_id, second).kind(), jet::ErrorKind::kConstraint);

  db.reset();
  EXPECT_EQ(testutil::ReadFile(path), original);
}

}  // namespace
