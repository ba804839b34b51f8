// Table and column properties (LvProp): the parser checked against Debian's
// mdb-prop on every fixture, and what the writer and the data layer do with
// Required, AllowZeroLength, ValidationRule and DefaultValue.

#include "properties.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ado.h"
#include "jet/jet.h"
#include "table_writer.h"
#include "test_util.h"
#include "values.h"

namespace {

using testutil::Fixture;

// --- mdb-prop cross-check ----------------------------------------------------

// mdb-prop prints one "name: OBJECT" line per block ("(none)" for the table
// itself), then "\tNAME: VALUE" per property in no particular order.
using Printed = std::vector<std::pair<std::string, std::map<std::string, std::string>>>;

Printed ParseMdbProp(const std::string& out) {
  Printed blocks;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    if (line.rfind("name: ", 0) == 0) {
      blocks.emplace_back(line.substr(6), std::map<std::string, std::string>());
    } else if (!line.empty() && line[0] == '\t' && !blocks.empty()) {
      const size_t colon = line.find(": ");
      if (colon != std::string::npos) {
        blocks.back().second[line.substr(1, colon - 1)] = line.substr(colon + 2);
      }
    }
  }
  return blocks;
}

// A property as mdb-prop shows it. GUIDs are compared by their digits only:
// mdb-prop leaves out the dash between the 4th and 5th group.
std::string AsMdbPropShows(const jet::Format& f, uint16_t cp, const jet::Property& p) {
  using jet::ColumnType;
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

std::string Digits(std::string s) {
  std::erase_if(s, [](char c) { return c == '{' || c == '}' || c == '-'; });
  return s;
}

// The name of the last catalog row, in scan order, before the row `id` whose
// LvProp is not null; empty if there is none.
std::string LastPropertiesBefore(jet::Database& db, int32_t id) {
  auto catalog = db.GetTable("MSysObjects");
  if (!catalog.ok()) return "";
  const auto& cols = (*catalog)->columns;
  const size_t id_pos = size_t((*catalog)->FindColumn("Id") - cols.data());
  const size_t name_pos = size_t((*catalog)->FindColumn("Name") - cols.data());
  const size_t prop_pos = size_t((*catalog)->FindColumn("LvProp") - cols.data());
  jet::TableScanner scan(db, *catalog);
  std::vector<jet::Value> row;
  std::string last;
  while (true) {
    auto more = scan.Next(&row);
    if (!more.ok() || !*more || row[id_pos].integer == id) return last;
    if (!row[prop_pos].null && !row[prop_pos].bytes.empty()) last = row[name_pos].bytes;
  }
}

TEST(PropertiesTest, EveryFixtureMatchesMdbProp) {
  if (!testutil::HaveProgram("mdb-prop") || !testutil::HaveProgram("mdb-tables")) {
    GTEST_SKIP() << "mdbtools is not installed";
  }
  std::vector<std::string> files = testutil::FixtureFiles("access");
  for (const std::string& f : testutil::FixtureFiles("hosts")) files.push_back(f);
  int tables = 0, compared = 0, with_rules = 0, mdbtools_stale = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    auto db = jet::Database::Open(file);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto list = (*db)->ListTables();
    ASSERT_TRUE(list.ok());
    for (const jet::CatalogEntry& e : *list) {
      SCOPED_TRACE(e.name);
      ++tables;
      auto table = (*db)->GetTable(e.name);
      ASSERT_TRUE(table.ok());
      auto blob = jet::ReadPropertyBlob(**db, **table);
      ASSERT_TRUE(blob.ok()) << blob.status().ToString();
      auto run = testutil::RunProcess({"mdb-prop", file, e.name});
      if (blob->empty()) {
        // mdb-prop's fault: for a null LvProp it prints the properties of
        // the last catalog row before it that had some.
        const std::string stale = LastPropertiesBefore(**db, e.id);
        if (run.out.find("No properties") == std::string::npos && !stale.empty()) {
          EXPECT_EQ(run.out, testutil::RunProcess({"mdb-prop", file, stale}).out);
          ++mdbtools_stale;
        } else {
          EXPECT_NE(run.out.find("No properties"), std::string::npos) << run.out;
        }
        continue;
      }
      auto blocks = jet::ParseProperties(
          (*db)->format(), (*db)->header().code_page,
          jet::ByteView(reinterpret_cast<const uint8_t*>(blob->data()), blob->size()));
      ASSERT_TRUE(blocks.ok()) << blocks.status().ToString();
      const Printed printed = ParseMdbProp(run.out);
      ASSERT_EQ(printed.size(), blocks->size()) << run.out;
      for (size_t b = 0; b < blocks->size(); ++b) {
        const jet::PropertyBlock& block = (*blocks)[b];
        EXPECT_EQ(printed[b].first, block.object.empty() ? "(none)" : block.object);
        EXPECT_EQ(printed[b].second.size(), block.properties.size());
        for (const jet::Property& p : block.properties) {
          auto it = printed[b].second.find(p.name);
          ASSERT_NE(it, printed[b].second.end()) << block.object << "." << p.name;
          std::string ours = AsMdbPropShows((*db)->format(), (*db)->header().code_page, p);
          if (ours.empty()) continue;
          std::string theirs = it->second;
          if (p.data.size() == 16 && jet::NamesEqual(p.name, "GUID")) theirs = Digits(theirs);
          EXPECT_EQ(ours, theirs) << block.object << "." << p.name;
          ++compared;
        }
      }
      // What the writer acts on agrees with the blocks.
      auto rules = jet::ReadColumnProperties(**db, **table);
      ASSERT_TRUE(rules.ok()) << rules.status().ToString();
      for (size_t b = 0; b < printed.size(); ++b) {
        const jet::ColumnDef* c = (*table)->FindColumn(printed[b].first);
        if (!c) continue;
        const jet::ColumnRules& r = rules->columns[size_t(c - (*table)->columns.data())];
        const auto& m = printed[b].second;
        EXPECT_EQ(r.required, m.count("Required") && m.at("Required") == "yes") << c->name;
        EXPECT_EQ(r.allow_zero_length,
                  !m.count("AllowZeroLength") || m.at("AllowZeroLength") == "yes")
            << c->name;
        EXPECT_EQ(r.default_value.value_or("<none>"),
                  m.count("DefaultValue") ? m.at("DefaultValue") : "<none>")
            << c->name;
        with_rules += r.required || !r.allow_zero_length || r.default_value.has_value();
      }
    }
  }
  std::printf(
      "[properties] %d tables, %d property values compared, %d columns with rules; mdb-prop "
      "showed another object's properties for %d tables\n",
      tables, compared, with_rules, mdbtools_stale);
  EXPECT_GT(compared, 1000);
}

// --- what the writer refuses ------------------------------------------------

std::string Copy(const testutil::TempDir& dir, const std::string& fixture) {
  return testutil::CopyOf(dir, "access/" + fixture);
}

size_t Pos(const jet::TableWriter& w, const std::string& column) {
  return testutil::ColumnIndex(w.table(), column);
}

// A table opened for writing, with its first row and where that is.
struct Writable {
  Writable(const std::string& path, const std::string& table) : db(testutil::OpenWritable(path)) {
    jet::TableScanner scan(*db, *db->GetTable(table));
    EXPECT_TRUE(*scan.Next(&row, &id));
    w = std::move(jet::TableWriter::Open(*db, table).value());
  }
  size_t Pos(const std::string& column) const { return ::Pos(*w, column); }
  std::unique_ptr<jet::Database> db;
  std::vector<jet::Value> row;
  jet::RowId id;
  std::unique_ptr<jet::TableWriter> w;
};

void ExpectRefused(const jet::Status& s, const std::string& words) {
  EXPECT_EQ(s.kind(), jet::ErrorKind::kConstraint) << s.ToString();
  EXPECT_NE(s.message().find(words), std::string::npos) << s.message();
}

TEST(PropertiesTest, RequiredAndZeroLengthAreRefusedBeforeAnyByteIsWritten) {
  testutil::TempDir dir;
  // users: every column Required.
  std::string path = Copy(dir, "fixedTextTestV2000.mdb");
  std::string before = testutil::ReadFile(path);
  {
    Writable t(path, "users");
    std::vector<jet::Value> insert = t.row;
    insert[t.Pos("c_user_name")] = testutil::NullValue(jet::ColumnType::kText);
    ExpectRefused(t.w->Insert(insert).status(),
                  "The field 'users.c_user_name' cannot contain a Null value");
    ExpectRefused(t.w->InsertBatch({insert}), "Row 1: The field 'users.c_user_name'");
    std::vector<jet::Value> update = t.row;
    update[t.Pos("d_stamp_")] = testutil::NullValue(jet::ColumnType::kDateTime);
    ExpectRefused(t.w->Update(t.id, update), "Required property");
    // "" is a value: Required does not refuse it where zero length is allowed.
    update = t.row;
    update[t.Pos("c_user_session")] = testutil::TextValue("");
    EXPECT_TRUE(t.w->Update(t.id, update).ok());
  }
  EXPECT_TRUE(testutil::ReadFile(path) != before);  // the last update was stored
  // Table1: A and B do not allow zero-length strings.
  path = Copy(dir, "testV2000.mdb");
  before = testutil::ReadFile(path);
  {
    Writable t(path, "Table1");
    t.row[t.Pos("B")] = testutil::TextValue("");
    ExpectRefused(t.w->Insert(t.row).status(), "Field 'Table1.B' cannot be a zero-length string.");
    ExpectRefused(t.w->Update(t.id, t.row), "zero-length");
  }
  EXPECT_TRUE(testutil::ReadFile(path) == before);
}

// A Jet 4 property value with a name pool and one block per object ("" for
// the table).
struct Prop {
  std::string name;
  jet::ColumnType type;
  std::string data;
};

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

void Put16(std::string& s, size_t n) { s += {char(n & 0xFF), char(n >> 8)}; }
void Put32(std::string& s, size_t n) {
  Put16(s, n & 0xFFFF);
  Put16(s, n >> 16);
}

std::string BuildBlob(const std::vector<std::pair<std::string, std::vector<Prop>>>& objects) {
  std::vector<std::string> names;
  for (const auto& o : objects) {
    for (const Prop& p : o.second) names.push_back(p.name);
  }
  std::string pool;
  for (const std::string& n : names) {
    Put16(pool, 2 * n.size());
    pool += Utf16(n);
  }
  std::string blob("MR2\0", 4);
  Put32(blob, 6 + pool.size());
  Put16(blob, 0x80);
  blob += pool;
  size_t index = 0;
  for (const auto& o : objects) {
    std::string body;
    Put32(body, o.first.empty() ? 6 : 6 + 2 * o.first.size());
    Put16(body, 2 * o.first.size());
    body += Utf16(o.first);
    for (const Prop& p : o.second) {
      Put16(body, 8 + p.data.size());
      body += {'\0', char(p.type)};
      Put16(body, index++);
      Put16(body, p.data.size());
      body += p.data;
    }
    Put32(blob, 6 + body.size());
    Put16(blob, o.first.empty() ? 0 : 1);
    blob += body;
  }
  return blob;
}

// Replaces the table's LvProp in the copy at `path`, through the engine.
void StoreBlob(const std::string& path, const std::string& table, const std::string& blob) {
  int32_t object = 0;
  for (const jet::CatalogEntry& e : *jet::Database::Open(path).value()->ListTables()) {
    if (e.name == table) object = e.id;
  }
  jet::Status s =
      testutil::ChangeRows(path, "MSysObjects", "Id", std::to_string(object),
                           [&](jet::TableWriter& w, jet::RowId at, std::vector<jet::Value>& row) {
                             jet::Value& lv = row[Pos(w, "LvProp")];
                             lv.null = false;
                             lv.bytes = blob;
                             return w.Update(at, row);
                           });
  ASSERT_TRUE(s.ok()) << s.ToString();
}

TEST(PropertiesTest, ValidationRulesRefuseWhatTheyWouldHaveToCheck) {
  testutil::TempDir dir;
  const std::string path = Copy(dir, "testV2000.mdb");
  const std::string rule = Utf16(">0");
  StoreBlob(path, "Table1", BuildBlob({{"E", {{"ValidationRule", jet::ColumnType::kText, rule}}}}));
  {
    Writable t(path, "Table1");
    const std::string before = testutil::ReadFile(path);
    ExpectRefused(t.w->Insert(t.row).status(),
                  "The column 'E' of table 'Table1' has a validation rule");
    std::vector<jet::Value> changed = t.row;
    changed[t.Pos("E")] = testutil::LongValue(7);
    ExpectRefused(t.w->Update(t.id, changed), "cannot check; nothing was written");
    EXPECT_TRUE(testutil::ReadFile(path) == before);
    // An update that leaves E alone needs no rule checked.
    changed = t.row;
    changed[t.Pos("D")].integer = 5;
    EXPECT_TRUE(t.w->Update(t.id, changed).ok());
  }
  // A table-level rule covers every column.
  StoreBlob(path, "Table1", BuildBlob({{"", {{"ValidationRule", jet::ColumnType::kMemo, rule}}}}));
  Writable t(path, "Table1");
  EXPECT_TRUE(t.w->Update(t.id, t.row).ok());  // nothing changes
  t.row[t.Pos("D")].integer = 6;
  ExpectRefused(t.w->Update(t.id, t.row), "The table 'Table1' has a validation rule");
}

TEST(PropertiesTest, DamagedPropertiesAreCorruptNeverACrash) {
  const std::string good =
      BuildBlob({{"", {{"ValidationRule", jet::ColumnType::kText, Utf16("x")}}},
                 {"A",
                  {{"Required", jet::ColumnType::kBoolean, std::string(1, '\1')},
                   {"DefaultValue", jet::ColumnType::kMemo, Utf16("\"N\"")}}}});
  auto db = jet::Database::Open(Fixture("access/testV2000.mdb"));
  ASSERT_TRUE(db.ok());
  auto parse = [&](const std::string& b) {
    return jet::ParseProperties(
        (*db)->format(), 0, jet::ByteView(reinterpret_cast<const uint8_t*>(b.data()), b.size()));
  };
  auto blocks = parse(good);
  ASSERT_TRUE(blocks.ok()) << blocks.status().ToString();
  ASSERT_EQ(blocks->size(), 2u);
  EXPECT_EQ((*blocks)[1].object, "A");
  // Every cut and every single-byte change either parses or is kCorrupt.
  for (size_t n = 0; n < good.size(); ++n) {
    auto cut = parse(good.substr(0, n));
    EXPECT_TRUE(cut.ok() || cut.status().kind() == jet::ErrorKind::kCorrupt) << n;
    for (int v : {0x00, 0x7F, 0xFF}) {
      std::string bad = good;
      bad[n] = char(v);
      auto r = parse(bad);
      EXPECT_TRUE(r.ok() || r.status().kind() == jet::ErrorKind::kCorrupt) << n;
    }
  }
  EXPECT_FALSE(parse(good.substr(0, good.size() - 1)).ok());
  std::string bad_index = good;
  bad_index[bad_index.size() - 8 - 6 - 4] = 9;  // DefaultValue's name index
  EXPECT_FALSE(parse(bad_index).ok());

  // Through the writer: a damaged value refuses the write and names the table.
  testutil::TempDir dir;
  const std::string path = Copy(dir, "testV2000.mdb");
  StoreBlob(path, "Table1", good.substr(0, good.size() - 3));
  const std::string before = testutil::ReadFile(path);
  {
    Writable t(path, "Table1");
    jet::Status s = t.w->Update(t.id, t.row);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kCorrupt) << s.ToString();
    EXPECT_NE(s.message().find("Table1"), std::string::npos) << s.message();
  }
  EXPECT_TRUE(testutil::ReadFile(path) == before);
}

// --- defaults in the data layer ---------------------------------------------

TEST(PropertiesTest, DefaultLiteralsAndWhatIsNotOne) {
  jet::ColumnDef text, lng, dbl, boolean, date;
  text.type = jet::ColumnType::kText;
  lng.type = jet::ColumnType::kLong;
  dbl.type = jet::ColumnType::kDouble;
  boolean.type = jet::ColumnType::kBoolean;
  date.type = jet::ColumnType::kDateTime;
  struct Case {
    const jet::ColumnDef* column;
    const char* default_value;
    const char* stored;  // ToText, "<null>", or "" for error 3251
  } cases[] = {{&text, "\"N\"", "N"},
               {&text, "='it''s'", "it's"},
               {&text, "\"\"", ""},
               {&text, "0", "0"},
               {&lng, " = -12 ", "-12"},
               {&dbl, "-1.5", "-1.5"},
               {&lng, "Null", "<null>"},
               {&boolean, "Yes", "true"},
               {&boolean, "off", "false"},
               {&lng, "True", "-1"},
               {&date, "#2024-01-31#", "2024-01-31T00:00:00"},
               {&date, "#1/31/2024 13:05#", "2024-01-31T13:05:00"},
               {&date, "Date()", nullptr},
               {&text, "GenGUID()", nullptr},
               {&lng, "1+2", nullptr},
               {&text, "\"a\" & \"b\"", nullptr},
               {&lng, "&H10", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.default_value);
    jet::Value v;
    afc::DataError e = afc::ado::DefaultForColumn(*c.column, c.default_value, &v);
    if (!c.stored) {
      EXPECT_EQ(e.number, afc::kErrUnsupportedDefault);
      continue;
    }
    ASSERT_TRUE(e.ok()) << e.description;
    EXPECT_EQ(v.type, c.column->type);
    EXPECT_EQ(v.null ? "<null>" : v.ToText(), c.stored);
  }
}

struct Opened {
  std::shared_ptr<afc::ado::Connection> connection = std::make_shared<afc::ado::Connection>();
  afc::ado::Recordset rs;
};

void OpenTable(const std::string& path, const std::string& table, Opened* o) {
  ASSERT_TRUE(o->connection->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path).ok());
  o->rs.SetCursorLocation(afc::ado::kAdUseClient);
  afc::DataError e =
      o->rs.Open("SELECT * FROM " + table, o->connection, afc::ado::kAdOpenForwardOnly,
                 afc::ado::kAdLockOptimistic, afc::ado::kAdCmdText);
  ASSERT_TRUE(e.ok()) << e.description;
}

void Set(afc::ado::Recordset& rs, const std::string& column, const afc::Variant& v) {
  afc::ado::Field f;
  ASSERT_TRUE(rs.Fields().Item(column, &f).ok());
  ASSERT_TRUE(f.SetValue(v).ok());
}

TEST(PropertiesTest, AddNewAppliesLiteralDefaultsAndRefusesOthers) {
  testutil::TempDir dir;
  const std::string path = Copy(dir, "testV2000.mdb");
  {
    // Table1: C, D, E, F and H have DefaultValue 0, G none; D is set to
    // Null explicitly.
    Opened o;
    OpenTable(path, "Table1", &o);
    ASSERT_TRUE(o.rs.AddNew().ok());
    Set(o.rs, "A", afc::Variant::Text("new"));
    Set(o.rs, "B", afc::Variant::Text("row"));
    Set(o.rs, "D", afc::Variant::Null());
    afc::DataError e = o.rs.Update();
    ASSERT_TRUE(e.ok()) << e.description;
  }
  {
    auto db = jet::Database::Open(path);
    ASSERT_TRUE(db.ok());
    auto def = (*db)->GetTable("Table1");
    jet::TableScanner scan(**db, *def);
    std::vector<jet::Value> row;
    std::string got;
    while (scan.Next(&row).value()) {
      if (row[0].bytes != "new") continue;
      for (size_t i = 2; i < 8; ++i) got += (row[i].null ? "-" : row[i].ToText()) + " ";
    }
    EXPECT_EQ(got, "0 - 0 0 - 0.0000 ");
  }
  {
    // Table4's "data" is a replication ID with DefaultValue GenGUID(): the
    // engine gives it its GUID, as Access would.
    const std::string other = dir.File("ref.mdb");
    testutil::CopyFile(Fixture("access/testRefGlobalV2000.mdb"), other);
    Opened o;
    OpenTable(other, "Table4", &o);
    ASSERT_TRUE(o.rs.AddNew().ok());
    Set(o.rs, "name", afc::Variant::Text("x"));
    afc::DataError e = o.rs.Update();
    EXPECT_TRUE(e.ok()) << e.description;
  }
  // A default that is a function, on a column the caller left alone: the
  // row is refused and nothing is written.
  StoreBlob(path, "Table1",
            BuildBlob({{"G", {{"DefaultValue", jet::ColumnType::kMemo, Utf16("=Date()")}}}}));
  const std::string before = testutil::ReadFile(path);
  Opened o;
  OpenTable(path, "Table1", &o);
  ASSERT_TRUE(o.rs.AddNew().ok());
  Set(o.rs, "A", afc::Variant::Text("other"));
  afc::DataError e = o.rs.Update();
  EXPECT_EQ(e.number, afc::kErrUnsupportedDefault);
  EXPECT_NE(e.description.find("'G' has the default value =Date()"), std::string::npos)
      << e.description;
  // Given a value, the row goes in.
  Set(o.rs, "G", afc::Variant::Date(45000));
  e = o.rs.Update();
  EXPECT_TRUE(e.ok()) << e.description;
  o.rs.Close();
  o.connection->Close();
  EXPECT_TRUE(testutil::ReadFile(path) != before);
}

}  // namespace
