// SPDX-License-Identifier: Apache-2.0
// Referential integrity on copies of Access-made databases. In the indexTest
// files Table1.otherfk1 refers to Table2.id (deletes cascade) and
// Table1.otherfk2 to Table3.id (updates cascade); in two others the
// navigation-pane tables form a chain whose deletes cascade. Every accepted
// change must leave a database that our checker and mdbtools read as
// expected; every refused one must leave the file byte for byte as it was.

#include "jet/jet.h"
#include "jet/table/relationships.h"
#include "values.h"

namespace {

using jet::ErrorKind;
using jet::Value;

Value Long(int64_t n) { return testutil::LongValue(n); }
Value Text(const std::string& s) { return testutil::TextValue(s); }

using Changes = std::map<std::string, Value>;
using Rows = std::set<std::string>;

// A copy of a fixture, changed the way a program would change it: each
// change opens the database, changes one row (found by its id) and closes
// it again.
struct Scratch {
  explicit Scratch(const std::string& fixture)
      : path_(testutil::CopyOf(dir_, "access/" + fixture)), before(testutil::ReadFile(path_)) {}
  const std::string& path() const { return path_; }

  jet::Status Insert(const std::string& table, std::vector<std::vector<Value>> rows) {
    testutil::OpenTable w(path_, table);
    return w.w ? w->InsertBatch(std::move(rows)) : jet::Status::NotFound(table);
  }
  jet::Status Update(const std::string& table, int64_t id, const Changes& changes) {
    return testutil::SetColumns(path_, table, "id", std::to_string(id), changes);
  }
  jet::Status Delete(const std::string& table, int64_t id) {
    return testutil::DeleteRows(path_, table, "id", std::to_string(id));
  }

  // Every row as "a:b:c", the values of `columns` (all of them if none).
  Rows Read(const std::string& table, const std::vector<std::string>& columns) const {
    Rows out;
    for (const testutil::NamedRow& row : testutil::ReadRows(path_, table)) {
      std::string line;
      for (const std::string& name : columns) line += ":" + row.at(name).ToText();
      out.insert(line.substr(1));
    }
    return out;
  }
  size_t Count(const std::string& table) const { return testutil::ReadRows(path_, table).size(); }

  // Our checker finds nothing wrong, and mdbtools reads `table` as we do.
  void ExpectSound(const std::string& table) const {
    testutil::ExpectConsistent(path_);
    testutil::ExpectMdbExportAgrees(path_, table);
  }

  testutil::TempDir dir_;
  std::string path_;
  const std::string before;  // the bytes of the copy as it was made
};

// Refused with kConstraint, saying `what`, and the file untouched.
void ExpectRefused(const Scratch& db, const jet::Status& s, const std::string& what) {
  EXPECT_EQ(s.kind(), ErrorKind::kConstraint) << s.ToString();
  EXPECT_NE(s.message().find(what), std::string::npos) << s.message();
  EXPECT_TRUE(testutil::ReadFile(db.path()) == db.before) << "a refused change wrote to the file";
}

const std::vector<std::string> kKeys = {"id", "otherfk1", "otherfk2"};

std::vector<Value> Table1Row(int64_t id, Value fk1, Value fk2) {
  return {Long(id), fk1, fk2, Text("row " + std::to_string(id)), Long(0)};
}

class RelationshipTest : public ::testing::TestWithParam<std::string> {};

TEST_P(RelationshipTest, ReferencingRowsMustMatchAReferencedRow) {
  Scratch db(GetParam());
  const Value null = testutil::NullValue(jet::ColumnType::kLong);
  ExpectRefused(db, db.Insert("Table1", {Table1Row(10, Long(7), Long(10))}),
                "The change would break the relationship 'Table2Table1': no row of 'Table2' "
                "has id = 7");
  // One orphan spoils the whole batch.
  ExpectRefused(
      db, db.Insert("Table1", {Table1Row(10, Long(0), Long(10)), Table1Row(11, Long(2), Long(99))}),
      "Row 2: The change would break the relationship 'Table3Table1': no row of "
      "'Table3' has id = 99");
  ExpectRefused(db, db.Update("Table1", 3, {{"otherfk1", Long(3)}}),
                "no row of 'Table2' has id = 3");

  // A null foreign key refers to nothing; matching ones are accepted.
  ASSERT_TRUE(
      db.Insert("Table1", {Table1Row(10, null, Long(12)), Table1Row(11, Long(2), null)}).ok());
  ASSERT_TRUE(db.Update("Table1", 3, {{"otherfk1", Long(0)}}).ok());
  ASSERT_TRUE(db.Insert("Table3", {{Long(14), Text("bar14")}}).ok());
  ASSERT_TRUE(db.Insert("Table1", {Table1Row(12, Long(1), Long(14))}).ok());
  EXPECT_EQ(db.Read("Table1", kKeys),
            (Rows{"0:0:10", "1:1:11", "2:1:11", "3:0:13", "10::12", "11:2:", "12:1:14"}));
  db.ExpectSound("Table1");
}

TEST_P(RelationshipTest, DeletingAReferencedRowCascadesOnlyWhereTheRelationshipSaysSo) {
  Scratch db(GetParam());
  ExpectRefused(db, db.Delete("Table3", 13),
                "'Table3Table1': a row of 'Table1' refers to the row of 'Table3' with id = 13, "
                "and the relationship does not cascade deletes");
  ASSERT_TRUE(db.Delete("Table3", 12).ok());  // nothing refers to it
  db.ExpectSound("Table3");

  ASSERT_TRUE(db.Delete("Table2", 1).ok());
  EXPECT_EQ(db.Read("Table2", {"id"}), (Rows{"0", "2"}));
  EXPECT_EQ(db.Read("Table1", kKeys), (Rows{"0:0:10", "3:2:13"}));
  db.ExpectSound("Table1");
  db.ExpectSound("Table2");
}

// The foreign-key index only says that deletes cascade; a relationship
// whose catalog flags say "set null" keeps the referencing rows.
TEST_P(RelationshipTest, DeletesThatSetNullKeepTheReferencingRows) {
  Scratch db(GetParam());
  ASSERT_TRUE(testutil::SetColumns(db.path(), "MSysRelationships", "szRelationship", "Table2Table1",
                                   {{"grbit", Long(jet::kRelationshipCascadeNulls)}})
                  .ok());
  ASSERT_TRUE(db.Delete("Table2", 1).ok());
  EXPECT_EQ(db.Read("Table1", kKeys), (Rows{"0:0:10", "1::11", "2::11", "3:2:13"}));
  db.ExpectSound("Table1");
}

TEST_P(RelationshipTest, ChangingAReferencedKeyCascadesOnlyWhereTheRelationshipSaysSo) {
  Scratch db(GetParam());
  ExpectRefused(db, db.Update("Table2", 1, {{"id", Long(5)}}),
                "'Table2Table1': 2 rows of 'Table1' refer to the row of 'Table2' with id = 1, "
                "and the relationship does not cascade updates");
  // Other columns of a referenced row are free to change.
  ASSERT_TRUE(db.Update("Table2", 1, {{"data", Text("renamed")}}).ok());

  ASSERT_TRUE(db.Update("Table3", 11, {{"id", Long(21)}}).ok());
  EXPECT_EQ(db.Read("Table3", {"id"}), (Rows{"10", "12", "13", "21"}));
  EXPECT_EQ(db.Read("Table1", kKeys), (Rows{"0:0:10", "1:1:21", "2:1:21", "3:2:13"}));
  db.ExpectSound("Table1");
  db.ExpectSound("Table3");
}

TEST_P(RelationshipTest, ACascadeThatFailsPartWayWritesNothing) {
  Scratch db(GetParam());
  // Deleting Table2's row 1 cascades to Table1's rows 1 and 2, in that
  // order. Damage row 2's slot, so that the cascade fails after it has
  // already deleted row 1.
  auto open = jet::Database::Open(db.path()).value();
  jet::TableScanner scan(*open, open->GetTable("Table1").value());
  std::vector<Value> row;
  jet::RowId id;
  while (*scan.Next(&row, &id) && row[0].integer != 2) continue;
  ASSERT_EQ(row[0].integer, 2);
  const jet::Format& f = open->format();
  const size_t slot = size_t(id.page) * f.page_size + f.data_first_row_slot + 2 * id.row;
  open.reset();  // lets the file go
  std::string bytes = testutil::ReadFile(db.path());
  bytes[slot] = char(0xFF);
  bytes[slot + 1] = 0x1F;
  testutil::WriteFile(db.path(), bytes);

  jet::Status s = db.Delete("Table2", 1);
  EXPECT_EQ(s.kind(), ErrorKind::kCorrupt) << s.ToString();
  EXPECT_TRUE(testutil::ReadFile(db.path()) == bytes) << "a failed cascade wrote to the file";
}

INSTANTIATE_TEST_SUITE_P(Relationships, RelationshipTest,
                         ::testing::Values("indexTestV1997.mdb", "indexTestV2000.mdb",
                                           "indexTestV2003.mdb"),
                         [](const auto& info) { return info.param.substr(9, 5); });

// Categories -> groups -> links of groups to objects: category 2 holds
// groups 1 to 7, and group 1 holds every link.
TEST(RelationshipCascadeTest, DeletesCascadeThroughAChainOfTables) {
  for (const char* fixture : {"indexTestV2000.mdb", "testUnicodeCompV2003.mdb"}) {
    SCOPED_TRACE(fixture);
    Scratch db(fixture);
    ASSERT_GE(db.Count("MSysNavPaneGroupToObjects"), 9u);
    jet::Status s = db.Delete("MSysNavPaneGroupCategories", 2);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(db.Read("MSysNavPaneGroups", {"GroupCategoryID"}).count("2"), 0u);
    EXPECT_GE(db.Count("MSysNavPaneGroups"), 2u);
    EXPECT_EQ(db.Count("MSysNavPaneGroupToObjects"), 0u);
    db.ExpectSound("MSysNavPaneGroups");
  }
}

}  // namespace
