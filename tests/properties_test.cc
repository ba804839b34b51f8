// SPDX-License-Identifier: Apache-2.0
// Table and column properties (LvProp): the parser checked against Debian's
// mdb-prop on every fixture, and what the writer and the data layer do with
// Required, AllowZeroLength, ValidationRule and DefaultValue.

#include "jet/db/properties.h"

#include "data/ado.h"
#include "data/recordset_access.h"
#include "jet/table/expressions.h"
#include "property_blob.h"

namespace {

using jet::ColumnType;
using testutil::ColumnIndex;

jet::ByteView View(const std::string& s) {
  return jet::ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// --- mdb-prop cross-check ----------------------------------------------------

// mdb-prop prints one "name: OBJECT" line per block ("(none)" for the table
// itself), then "\tNAME: VALUE" per property in no particular order.
using Printed = std::vector<std::pair<std::string, std::map<std::string, std::string>>>;

Printed ParseMdbProp(const std::string& out) {
  Printed blocks;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    if (line.rfind("name: ", 0) == 0) {
      blocks.emplace_back(line.substr(6), std::map<std::string, std::string>());
    } else if (line[0] == '\t' && !blocks.empty() && colon != std::string::npos) {
      blocks.back().second[line.substr(1, colon - 1)] = line.substr(colon + 2);
    }
  }
  return blocks;
}

// A property as mdb-prop shows it. GUIDs are compared by their digits only:
// mdb-prop leaves out the dash between the 4th and 5th group.
std::string AsMdbPropShows(const jet::Format& f, uint16_t cp, const jet::Property& p) {
  const auto* d = reinterpret_cast<const uint8_t*>(p.data.data());
  switch (ColumnType(p.type)) {
    case ColumnType::kBoolean:
      return p.boolean() ? "yes" : "no";
    case ColumnType::kByte:
      return p.data.size() >= 1 ? std::to_string(d[0]) : "?";
    case ColumnType::kInteger:
      return p.data.size() >= 2 ? std::to_string(int16_t(jet::Le16(d))) : "?";
    case ColumnType::kLong:
      return p.data.size() >= 4 ? std::to_string(int32_t(jet::Le32(d))) : "?";
    case ColumnType::kText:
    case ColumnType::kMemo:
      return jet::PropertyText(f, cp, p);
    case ColumnType::kBinary:
      if (p.data.size() == 16 && jet::NamesEqual(p.name, "GUID")) {
        // Data1..3 little-endian, the rest as stored.
        std::string g = testutil::Hex(p.data);
        return g.substr(6, 2) + g.substr(4, 2) + g.substr(2, 2) + g.substr(0, 2) + g.substr(10, 2) +
               g.substr(8, 2) + g.substr(14, 2) + g.substr(12, 2) + g.substr(16);
      }
      [[fallthrough]];
    case ColumnType::kOle:
      return "(binary data of length " + std::to_string(p.data.size()) + ")";
    default:
      return "";  // not compared
  }
}

// The name of the last catalog row, in scan order, before the row `id` whose
// LvProp is not null; empty if there is none.
std::string LastPropertiesBefore(jet::Database& db, int32_t id) {
  auto catalog = db.GetTable("MSysObjects");
  jet::TableScanner scan(db, *catalog);
  std::vector<jet::Value> row;
  std::string last;
  for (auto more = scan.Next(&row); more.ok() && *more; more = scan.Next(&row)) {
    if (row[ColumnIndex(**catalog, "Id")].integer == id) break;
    const jet::Value& prop = row[ColumnIndex(**catalog, "LvProp")];
    if (!prop.null && !prop.bytes.empty()) last = row[ColumnIndex(**catalog, "Name")].bytes;
  }
  return last;
}

TEST(PropertiesTest, EveryFixtureMatchesMdbProp) {
  if (!testutil::HaveProgram("mdb-prop")) GTEST_SKIP() << "mdbtools is not installed";
  int compared = 0;
  for (const std::string& file : testutil::AllFixtureFiles()) {
    SCOPED_TRACE(file);
    auto db = jet::Database::Open(file).value();
    const jet::Format& format = db->format();
    for (const jet::CatalogEntry& e : db->ListTables().value()) {
      SCOPED_TRACE(e.name);
      auto table = db->GetTable(e.name).value();
      auto blob = jet::ReadPropertyBlob(*db, *table);
      ASSERT_TRUE(blob.ok()) << blob.status().ToString();
      const std::string out = testutil::RunProcess({"mdb-prop", file, e.name}).out;
      if (blob->empty()) {
        // mdb-prop's fault: for a null LvProp it prints the properties of
        // the last catalog row before it that had some.
        const std::string stale = LastPropertiesBefore(*db, e.id);
        if (out.find("No properties") == std::string::npos && !stale.empty()) {
          EXPECT_EQ(out, testutil::RunProcess({"mdb-prop", file, stale}).out);
        } else {
          EXPECT_NE(out.find("No properties"), std::string::npos) << out;
        }
        continue;
      }
      auto blocks = jet::ParseProperties(format, db->header().code_page, View(*blob));
      ASSERT_TRUE(blocks.ok()) << blocks.status().ToString();
      const Printed printed = ParseMdbProp(out);
      ASSERT_EQ(printed.size(), blocks->size()) << out;
      for (size_t b = 0; b < blocks->size(); ++b) {
        const jet::PropertyBlock& block = (*blocks)[b];
        const auto& shown = printed[b].second;
        EXPECT_EQ(printed[b].first, block.object.empty() ? "(none)" : block.object);
        EXPECT_EQ(shown.size(), block.properties.size());
        for (const jet::Property& p : block.properties) {
          SCOPED_TRACE(block.object + "." + p.name);
          auto it = shown.find(p.name);
          ASSERT_NE(it, shown.end());
          const std::string ours = AsMdbPropShows(format, db->header().code_page, p);
          std::string theirs = it->second;
          if (p.data.size() == 16 && jet::NamesEqual(p.name, "GUID")) {
            std::erase_if(theirs, [](char c) { return c == '{' || c == '}' || c == '-'; });
          }
          EXPECT_EQ(ours.empty() ? theirs : ours, theirs);
          compared += !ours.empty();
        }
      }
      // What the writer acts on agrees with the blocks.
      auto rules = jet::ReadColumnProperties(*db, *table);
      ASSERT_TRUE(rules.ok()) << rules.status().ToString();
      for (const auto& entry : printed) {
        const auto& m = entry.second;
        const jet::ColumnDef* c = table->FindColumn(entry.first);
        if (!c) continue;
        const jet::ColumnRules& r = rules->columns[size_t(c - table->columns.data())];
        auto shown = [&](const char* name, const std::string& absent) {
          return m.count(name) ? m.at(name) : absent;
        };
        EXPECT_EQ(r.required, shown("Required", "no") == "yes") << c->name;
        EXPECT_EQ(r.allow_zero_length, shown("AllowZeroLength", "yes") == "yes") << c->name;
        EXPECT_EQ(r.default_value.value_or("<none>"), shown("DefaultValue", "<none>")) << c->name;
      }
    }
  }
  EXPECT_GT(compared, 1000);
}

// --- what the writer refuses ------------------------------------------------

// A copy of an Access fixture with one table opened for writing: its first
// row and where that is.
struct Writable : testutil::OpenTable {
  Writable(const std::string& path, const std::string& table) : OpenTable(path, table) {
    jet::TableScanner scan(*db, *db->GetTable(table));
    EXPECT_TRUE(*scan.Next(&row, &id));
  }
  jet::Value& operator[](const std::string& column) { return row[ColumnIndex(w->table(), column)]; }
  std::vector<jet::Value> row;
  jet::RowId id;
};

void ExpectRefused(const jet::Status& s, const std::string& words,
                   jet::ErrorKind kind = jet::ErrorKind::kConstraint) {
  EXPECT_EQ(s.kind(), kind) << s.ToString();
  EXPECT_NE(s.message().find(words), std::string::npos) << s.message();
}

void ExpectJetError(const jet::Status& s, int32_t number, const std::string& message) {
  EXPECT_EQ(std::tuple(s.kind(), s.jet_error(), s.message()),
            std::tuple(jet::ErrorKind::kConstraint, number, message));
}

TEST(PropertiesTest, RequiredAndZeroLengthAreRefusedBeforeAnyByteIsWritten) {
  testutil::TempDir dir;
  // users: every column Required.
  std::string path = testutil::CopyOf(dir, "access/fixedTextTestV2000.mdb");
  std::string before = testutil::ReadFile(path);
  {
    Writable t(path, "users");
    const std::vector<jet::Value> row = t.row;
    t["c_user_name"] = testutil::NullValue(ColumnType::kText);
    ExpectJetError(t->Insert(t.row).status(), 3314,
                   "The field 'users.c_user_name' cannot contain a Null value because the "
                   "Required property for this field is set to True. Enter a value in this field.");
    ExpectRefused(t->InsertBatch({t.row}), "Row 1: The field 'users.c_user_name'");
    t.row = row;
    t["d_stamp_"] = testutil::NullValue(ColumnType::kDateTime);
    ExpectRefused(t->Update(t.id, t.row), "Required property");
    // "" is a value: Required does not refuse it where zero length is allowed.
    t.row = row;
    t["c_user_session"] = testutil::TextValue("");
    EXPECT_TRUE(t->Update(t.id, t.row).ok());
  }
  EXPECT_TRUE(testutil::ReadFile(path) != before);  // the last update was stored
  // Table1: A and B do not allow zero-length strings.
  path = testutil::CopyOf(dir, "access/testV2000.mdb");
  before = testutil::ReadFile(path);
  {
    Writable t(path, "Table1");
    t["B"] = testutil::TextValue("");
    ExpectJetError(t->Insert(t.row).status(), 3315, "Field 'Table1.B' cannot be a zero-length string.");
    ExpectRefused(t->Update(t.id, t.row), "zero-length");
  }
  EXPECT_TRUE(testutil::ReadFile(path) == before);
}

using testutil::BuildBlob;
using testutil::StoreBlob;
using testutil::Text16;

TEST(PropertiesTest, ColumnRulesAreEvaluatedWhenTheirColumnChanges) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV2000.mdb");
  StoreBlob(
      path, "Table1",
      BuildBlob({{"E",
                  {{"ValidationRule", ColumnType::kText, Text16(">0")},
                   {"ValidationText", ColumnType::kText, Text16("E must be positive")}}},
                 {"B", {{"ValidationRule", ColumnType::kMemo, Text16("In (\"Y\",\"N\")")}}}}));
  Writable t(path, "Table1");
  const std::vector<jet::Value> first = t.row;
  const std::string before = testutil::ReadFile(path);
  t["A"] = testutil::TextValue("new");
  t["B"] = testutil::TextValue("n");  // compares without regard to case
  t["E"] = testutil::LongValue(0);
  ExpectJetError(t->Insert(t.row).status(), 3317, "E must be positive");
  t["E"] = testutil::LongValue(7);
  t["B"] = testutil::TextValue("x");
  ExpectJetError(t->Update(t.id, t.row), 3317,
                 "One or more values are prohibited by the validation rule 'In (\"Y\",\"N\")' set "
                 "for 'Table1.B'. Enter a value that the expression for this field can accept.");
  EXPECT_TRUE(testutil::ReadFile(path) == before);
  // Null passes; so does an update that leaves a failing column as it was.
  t["B"] = testutil::NullValue(ColumnType::kText);
  EXPECT_TRUE(t->Insert(t.row).ok()) << t->Insert(t.row).status().ToString();
  t.row = first;  // its B is neither Y nor N
  t["D"].integer = 5;
  EXPECT_TRUE(t->Update(t.id, t.row).ok());
}

TEST(PropertiesTest, TableRulesAndRulesThisProgramCannotEvaluate) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV2000.mdb");
  StoreBlob(path, "Table1",
            BuildBlob({{"", {{"ValidationRule", ColumnType::kMemo, Text16("[D] < [e]")}}}}));
  {
    Writable t(path, "Table1");
    t["D"] = testutil::LongValue(3);
    t["D"].type = ColumnType::kInteger;
    t["E"] = testutil::LongValue(3);
    ExpectJetError(t->Insert(t.row).status(), 3317,
                   "One or more values are prohibited by the validation rule '[D] < [e]' set for "
                   "'Table1'. Enter a value that the expression for this field can accept.");
    t["E"].integer = 4;
    t["A"] = testutil::TextValue("new");
    EXPECT_TRUE(t->Insert(t.row).ok()) << t->Insert(t.row).status().ToString();
  }
  StoreBlob(
      path, "Table1",
      BuildBlob({{"",
                  {{"ValidationRule", ColumnType::kMemo, Text16("[D] < [E]")},
                   {"ValidationText", ColumnType::kText, Text16("D before E")}}},
                 {"F", {{"ValidationRule", ColumnType::kText, Text16("DLookUp(\"x\",\"y\")")}}}}));
  Writable t(path, "Table1");
  const std::vector<jet::Value> row = t.row;
  t["D"].null = false;
  t["D"].integer = 9;
  t["E"] = testutil::LongValue(1);
  ExpectJetError(t->Update(t.id, t.row), 3316, "D before E");
  // A rule the expression module does not implement refuses the rows it
  // would have to check, naming what it lacks.
  t.row = row;
  t["F"] = testutil::DoubleValue(2.5);
  ExpectRefused(t->Update(t.id, t.row), "function DLookUp is not supported");
}

TEST(PropertiesTest, DamagedPropertiesAreCorruptNeverACrash) {
  const std::string good = BuildBlob({{"", {{"ValidationRule", ColumnType::kText, Text16("x")}}},
                                      {"A",
                                       {{"Required", ColumnType::kBoolean, std::string(1, '\1')},
                                        {"DefaultValue", ColumnType::kMemo, Text16("\"N\"")}}}});
  auto db = jet::Database::Open(testutil::Fixture("access/testV2000.mdb")).value();
  auto parse = [&](const std::string& b) { return jet::ParseProperties(db->format(), 0, View(b)); };
  auto parses_or_is_corrupt = [&](const std::string& b) {
    auto r = parse(b);
    return r.ok() || r.status().kind() == jet::ErrorKind::kCorrupt;
  };
  auto blocks = parse(good);
  ASSERT_TRUE(blocks.ok()) << blocks.status().ToString();
  ASSERT_EQ(blocks->size(), 2u);
  EXPECT_EQ((*blocks)[1].object, "A");
  // Every cut and every single-byte change either parses or is kCorrupt.
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_TRUE(parses_or_is_corrupt(good.substr(0, n))) << n;
    for (char v : {'\x00', '\x7F', '\xFF'}) {
      EXPECT_TRUE(parses_or_is_corrupt(good.substr(0, n) + v + good.substr(n + 1))) << n;
    }
  }
  EXPECT_FALSE(parse(good.substr(0, good.size() - 1)).ok());
  std::string bad_index = good;
  bad_index[bad_index.size() - 8 - 6 - 4] = 9;  // DefaultValue's name index
  EXPECT_FALSE(parse(bad_index).ok());

  // Through the writer: a damaged value refuses the write and names the table.
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV2000.mdb");
  StoreBlob(path, "Table1", good.substr(0, good.size() - 3));
  const std::string before = testutil::ReadFile(path);
  {
    Writable t(path, "Table1");
    ExpectRefused(t->Update(t.id, t.row), "Table1", jet::ErrorKind::kCorrupt);
  }
  EXPECT_TRUE(testutil::ReadFile(path) == before);
}

// --- defaults in the data layer ---------------------------------------------

TEST(PropertiesTest, DefaultsAreEvaluatedAndStoredAsJetConvertsThem) {
  auto db = jet::Database::Open(testutil::Fixture("access/testV2000.mdb")).value();
  const double now = 45292.75;  // 2024-01-01 18:00
  for (testutil::DataLine& line : testutil::DataLines("values/defaults.tsv")) {
    std::vector<std::string>& f = line.fields;
    f.resize(3);
    jet::ColumnDef column;
    column.name = "X";
    column.length = 10;  // five characters of Jet 4 text
    ASSERT_TRUE(jet::ColumnTypeFromName(f[0], &column.type)) << line.number;
    auto v = jet::DefaultValueFor(column, f[1], db->header(), now);
    const std::string got = !v.ok()                  ? std::to_string(v.status().jet_error())
                            : v->type != column.type ? "wrong type"
                                                     : testutil::Text(*v);
    EXPECT_EQ(got, f[2]) << "defaults.tsv:" << line.number << ": " << v.status().ToString();
  }
}

// An updatable recordset on the whole table, with a new row being edited.
struct NewRow {
  NewRow(const std::string& path, const std::string& table) {
    std::string description;
    int32_t number = 0;
    EXPECT_EQ(
        afc::OpenRecordset(path, "SELECT * FROM " + table, rs, description, number, afc::kFalse),
        afc::kTrue)
        << description;
    EXPECT_TRUE(rs->AddNew().ok());
  }
  ~NewRow() { afc::CloseRecordset(rs); }
  afc::DataError Update(const std::vector<std::pair<std::string, afc::Variant>>& values) {
    for (const auto& [column, value] : values) {
      afc::ado::Field f;
      EXPECT_TRUE(rs->Fields().Item(column, &f).ok() && f.SetValue(value).ok()) << column;
    }
    return rs->Update();
  }
  std::unique_ptr<afc::ado::Recordset> rs = std::make_unique<afc::ado::Recordset>();
};

TEST(PropertiesTest, AddNewAppliesDefaultsAndRefusesWhatItCannotEvaluate) {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, "access/testV2000.mdb");
  // Table1: C, D, E, F and H have DefaultValue 0, G none; D is set to Null
  // explicitly.
  afc::DataError e = NewRow(path, "Table1")
                         .Update({{"A", afc::Variant::Text("new")},
                                  {"B", afc::Variant::Text("row")},
                                  {"D", afc::Variant::Null()}});
  ASSERT_TRUE(e.ok()) << e.description;
  std::string got;
  for (const testutil::NamedRow& row : testutil::ReadRows(path, "Table1")) {
    if (row.at("A").bytes != "new") continue;
    for (const char* c : {"C", "D", "E", "F", "G", "H"}) got += testutil::Text(row.at(c)) + " ";
  }
  EXPECT_EQ(got, "0 <null> 0 0 <null> 0.0000 ");
  // Table4's "data" is a replication ID with DefaultValue GenGUID(): the
  // engine gives it its GUID, as Access would.
  const std::string ref = testutil::CopyOf(dir, "access/testRefGlobalV2000.mdb", "ref.mdb");
  e = NewRow(ref, "Table4").Update({{"name", afc::Variant::Text("x")}});
  EXPECT_TRUE(e.ok()) << e.description;

  // A default the expression module does not implement, on a column the
  // caller left alone: the row is refused and nothing is written.
  StoreBlob(
      path, "Table1",
      BuildBlob({{"G", {{"DefaultValue", ColumnType::kMemo, Text16("=DMax(\"G\",\"T\")")}}}}));
  const std::string before = testutil::ReadFile(path);
  {
    NewRow added(path, "Table1");
    e = added.Update({{"A", afc::Variant::Text("other")}});
    EXPECT_EQ(e.number, afc::kErrUnsupportedDefault);
    EXPECT_NE(e.description.find("'Table1.G' cannot be evaluated by this program (function DMax"),
              std::string::npos)
        << e.description;
    // Given a value, the row goes in.
    e = added.Update({{"G", afc::Variant::Date(45000)}});
    EXPECT_TRUE(e.ok()) << e.description;
  }
  EXPECT_TRUE(testutil::ReadFile(path) != before);
}

}  // namespace
