// Writing rows: insert, update and delete on copies of Access-made
// databases, read back by our reader and by mdbtools.

#include <gtest/gtest.h>

#include "create.h"
#include "jet/jet.h"
#include "table_writer.h"
#include "test_util.h"
#include "values.h"

namespace {

using jet::ColumnType;
using jet::Value;

Value Text(const std::string& s) { return testutil::TextValue(s); }
Value Null(ColumnType t) { return testutil::NullValue(t); }

std::vector<std::vector<std::string>> ReadTexts(const std::string& path, const std::string& table) {
  std::vector<std::vector<std::string>> out;
  auto db = jet::Database::Open(path);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return out;
  auto def = (*db)->GetTable(table);
  EXPECT_TRUE(def.ok());
  jet::TableScanner scan(**db, *def);
  std::vector<Value> row;
  while (true) {
    auto more = scan.Next(&row);
    EXPECT_TRUE(more.ok()) << more.status().ToString();
    if (!more.ok() || !*more) break;
    std::vector<std::string> texts;
    for (const Value& v : row) texts.push_back(v.null ? "<null>" : v.ToText());
    out.push_back(texts);
  }
  return out;
}

using testutil::OpenWritable;

class TableWriterTest : public ::testing::TestWithParam<std::string> {};

// Nine text columns, no indexes: Access 97, 2000 and 2003 versions.
TEST_P(TableWriterTest, InsertUpdateDeleteReadBack) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  testutil::CopyFile(testutil::Fixture("access/" + GetParam()), path);
  auto before = ReadTexts(path, "Table1");
  ASSERT_EQ(before.size(), 7u);

  {
    auto db = OpenWritable(path);
    ASSERT_TRUE(db);
    auto writer = jet::TableWriter::Open(*db, "Table1");
    ASSERT_TRUE(writer.ok()) << writer.status().ToString();
    // Enough rows to fill the table's page and start new ones.
    for (int i = 0; i < 120; ++i) {
      std::vector<Value> row(9, Null(ColumnType::kText));
      row[0] = Text("new" + std::to_string(i));
      row[8] = Text(std::string(40, char('a' + i % 26)));
      auto at = (*writer)->Insert(row);
      ASSERT_TRUE(at.ok()) << at.status().ToString();
    }
  }
  auto after = ReadTexts(path, "Table1");
  ASSERT_EQ(after.size(), 127u);
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(after[i], before[i]);
  EXPECT_EQ(after[7][0], "new0");
  EXPECT_EQ(after[126][8], std::string(40, char('a' + 119 % 26)));
  EXPECT_EQ(after[126][1], "<null>");

  // Grow one row past its room (it moves) and shrink another; delete a third.
  {
    auto db = OpenWritable(path);
    auto writer = jet::TableWriter::Open(*db, "Table1");
    ASSERT_TRUE(writer.ok());
    jet::TableScanner scan(*db, (*db->GetTable("Table1")));
    std::vector<Value> row;
    std::vector<jet::RowId> ids;
    jet::RowId id;
    while (*scan.Next(&row, &id)) ids.push_back(id);
    ASSERT_EQ(ids.size(), 127u);
    std::vector<Value> grown(9, Text(std::string(45, 'g')));
    ASSERT_TRUE((*writer)->Update(ids[0], grown).ok());
    std::vector<Value> shrunk(9, Null(ColumnType::kText));
    shrunk[0] = Text("s");
    ASSERT_TRUE((*writer)->Update(ids[10], shrunk).ok());
    ASSERT_TRUE((*writer)->Delete(ids[20]).ok());
    EXPECT_EQ((*writer)->table().row_count, 126u);
    // A deleted row is gone for good.
    EXPECT_EQ((*writer)->Delete(ids[20]).kind(), jet::ErrorKind::kNotFound);
  }
  auto last = ReadTexts(path, "Table1");
  ASSERT_EQ(last.size(), 126u);
  EXPECT_EQ(last[0], std::vector<std::string>(9, std::string(45, 'g')));
  EXPECT_EQ(last[10][0], "s");
  EXPECT_EQ(last[10][5], "<null>");

  // mdbtools reads the same rows (it lists moved rows last).
  if (testutil::HaveProgram("mdb-export")) {
    auto r = testutil::RunProcess({"mdb-export", path, "Table1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(std::string(45, 'g')), std::string::npos);
    EXPECT_NE(r.out.find("\"new119\""), std::string::npos);
    size_t lines = 0;
    for (char c : r.out) lines += c == '\n';
    EXPECT_EQ(lines, 127u);  // header + rows
  }
}

INSTANTIATE_TEST_SUITE_P(AllVersions, TableWriterTest,
                         ::testing::Values("overflowTestV1997.mdb", "overflowTestV2000.mdb",
                                           "overflowTestV2003.mdb"));

TEST(TableWriterRefusalTest, OversizedTextIsRefusedAndFileUnchanged) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  testutil::CopyFile(testutil::Fixture("access/overflowTestV2000.mdb"), path);
  const std::string original = testutil::ReadFile(path);
  {
    auto db = OpenWritable(path);
    auto writer = jet::TableWriter::Open(*db, "Table1");
    ASSERT_TRUE(writer.ok());
    std::vector<Value> row(9, Null(ColumnType::kText));
    row[0] = Text(std::string(51, 'x'));  // the column holds 50 characters
    auto at = (*writer)->Insert(row);
    EXPECT_EQ(at.status().kind(), jet::ErrorKind::kInvalidArgument);
    EXPECT_NE(at.status().message().find("data1"), std::string::npos);
  }
  EXPECT_EQ(testutil::ReadFile(path), original);
}

// Fixed-length text in a column flagged for compression keeps every
// character, is padded to the column's length in characters, and reads the
// same in mdbtools.
TEST(TableWriterFixedTextTest, FixedTextKeepsItsCharacters) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  ASSERT_TRUE(jet::CreateDatabase(path, jet::JetVersion::kJet4).ok());
  {
    auto db = OpenWritable(path);
    jet::TableSpec design{"Codes", {}, {}};
    for (auto [name, chars] : {std::pair{"CUR", 3}, std::pair{"FLAG", 1}}) {
      jet::ColumnSpec c{name, ColumnType::kText, uint16_t(chars * 2)};
      c.fixed = true;
      design.columns.push_back(c);
    }
    ASSERT_TRUE(jet::CreateTable(*db, design).ok());
    auto writer = jet::TableWriter::Open(*db, "Codes");
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE((*writer)->Insert({Text("USD"), Text("N")}).ok());
    ASSERT_TRUE((*writer)->Insert({Text("CA"), Text("")}).ok());
  }
  EXPECT_EQ(ReadTexts(path, "Codes"),
            (std::vector<std::vector<std::string>>{{"USD", "N"}, {"CA ", " "}}));
  if (testutil::HaveProgram("mdb-export")) {
    auto r = testutil::RunProcess({"mdb-export", path, "Codes"});
    EXPECT_EQ(r.out, "CUR,FLAG\n\"USD\",\"N\"\n\"CA \",\" \"\n");
  }
}

}  // namespace
