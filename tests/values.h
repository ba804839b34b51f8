// SPDX-License-Identifier: Apache-2.0
// Small builders for engine values and writable databases, and the readers
// and checks that the tests which write rows share.

#ifndef TESTS_VALUES_H_
#define TESTS_VALUES_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interchange/export.h"
#include "jet/check/checker.h"
#include "jet/jet.h"
#include "jet/table/create.h"
#include "jet/table/table_writer.h"
#include "test_util.h"

namespace testutil {

inline jet::Value NullValue(jet::ColumnType type, bool null = true) {
  jet::Value v;
  v.type = type;
  v.null = null;
  return v;
}

inline jet::Value TextValue(const std::string& s) {
  jet::Value v = NullValue(jet::ColumnType::kText, false);
  v.bytes = s;
  return v;
}

inline jet::Value LongValue(int64_t n) {
  jet::Value v = NullValue(jet::ColumnType::kLong, false);
  v.integer = n;
  return v;
}

inline jet::Value DoubleValue(double d, jet::ColumnType type = jet::ColumnType::kDouble) {
  jet::Value v = NullValue(type, false);
  v.real = d;
  return v;
}

// A value as the tests compare it: its text, or "<null>".
inline std::string Text(const jet::Value& v) { return v.null ? "<null>" : v.ToText(); }

// Opens a database for writing; a failure fails the test and gives null.
inline std::unique_ptr<jet::Database> OpenWritable(const std::string& path) {
  auto db = jet::Database::Open(path, {.writable = true});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(db).value() : nullptr;
}

// A database opened for writing and a writer on one of its tables; a
// failure fails the test and leaves `w` null.
struct OpenTable {
  OpenTable(const std::string& path, const std::string& table) : db(OpenWritable(path)) {
    if (!db) return;
    auto opened = jet::TableWriter::Open(*db, table);
    EXPECT_TRUE(opened.ok()) << opened.status().ToString();
    if (opened.ok()) w = std::move(opened).value();
  }
  jet::TableWriter* operator->() const { return w.get(); }
  std::unique_ptr<jet::Database> db;
  std::unique_ptr<jet::TableWriter> w;
};

// A new Access 2000 database at `path` holding one new table, and a writer
// on that table.
inline OpenTable NewTable(const std::string& path, const jet::TableSpec& design) {
  EXPECT_TRUE(jet::CreateDatabase(path, jet::JetVersion::kJet4).ok());
  EXPECT_TRUE(jet::CreateTable(*OpenWritable(path), design).ok());
  return OpenTable(path, design.name);
}

// The first `limit` rows of a table in scan order, and where each is; a
// failure fails the test and ends the list.
inline void ScanTable(jet::Database& db, const std::string& table, std::vector<jet::RowId>* ids,
                      std::vector<std::vector<jet::Value>>* rows, size_t limit = SIZE_MAX) {
  jet::TableScanner scan(db, *db.GetTable(table));
  std::vector<jet::Value> row;
  jet::RowId id;
  auto more = scan.Next(&row, &id);
  for (; more.ok() && *more && ids->size() < limit; more = scan.Next(&row, &id)) {
    ids->push_back(id);
    if (rows) rows->push_back(row);
  }
  EXPECT_TRUE(more.ok()) << more.status().ToString();
}

// A table's rows in scan order, each as column name -> value; a failure
// fails the test and ends the list.
using NamedRow = std::map<std::string, jet::Value>;
inline std::vector<NamedRow> ReadRows(const std::string& path, const std::string& table) {
  std::vector<NamedRow> rows;
  auto db = jet::Database::Open(path);
  auto def = db.ok() ? (*db)->GetTable(table) : db.status();
  EXPECT_TRUE(def.ok()) << def.status().ToString();
  if (!def.ok()) return rows;
  jet::TableScanner scan(**db, *def);
  std::vector<jet::Value> values;
  auto more = scan.Next(&values);
  for (; more.ok() && *more; more = scan.Next(&values)) {
    NamedRow& row = rows.emplace_back();
    for (size_t i = 0; i < values.size(); ++i) row[(*def)->columns[i].name] = values[i];
  }
  EXPECT_TRUE(more.ok()) << more.status().ToString();
  return rows;
}

// Every row as column name -> text, to compare whole tables.
inline std::vector<std::map<std::string, std::string>> Texts(const std::vector<NamedRow>& rows) {
  std::vector<std::map<std::string, std::string>> out;
  for (const NamedRow& row : rows) {
    auto& texts = out.emplace_back();
    for (const auto& [name, value] : row) texts[name] = Text(value);
  }
  return out;
}

// The first row whose `column` reads as `text`; fails the test when there is
// none.
inline NamedRow FindRow(const std::vector<NamedRow>& rows, const std::string& column,
                        const std::string& text) {
  for (const NamedRow& row : rows) {
    auto it = row.find(column);
    if (it != row.end() && Text(it->second) == text) return row;
  }
  ADD_FAILURE() << "no row with " << column << " = " << text;
  return {};
}

// Where a column is in the table's rows; fails the test when it has none.
inline size_t ColumnIndex(const jet::TableDef& table, const std::string& name) {
  const jet::ColumnDef* c = table.FindColumn(name);
  EXPECT_NE(c, nullptr) << "no column " << name << " in " << table.name;
  return c ? size_t(c - table.columns.data()) : 0;
}

// Opens the database for writing and hands each row of `table` whose
// `column` reads as `text` to `change`, with the writer and where the row
// is; returns the first failure, or kNotFound when no row matches.
using RowChange =
    std::function<jet::Status(jet::TableWriter&, jet::RowId, std::vector<jet::Value>&)>;
inline jet::Status ChangeRows(const std::string& path, const std::string& table,
                              const std::string& column, const std::string& text,
                              const RowChange& change) {
  auto db = jet::Database::Open(path, {.writable = true});
  if (!db.ok()) return db.status();
  auto writer = jet::TableWriter::Open(**db, table);
  if (!writer.ok()) return writer.status();
  const size_t c = ColumnIndex((*writer)->table(), column);
  std::vector<std::pair<jet::RowId, std::vector<jet::Value>>> found;
  jet::TableScanner scan(**db, *(*db)->GetTable(table));
  std::vector<jet::Value> row;
  jet::RowId id;
  while (*scan.Next(&row, &id)) {
    if (Text(row[c]) == text) found.emplace_back(id, row);
  }
  if (found.empty())
    return jet::Status::NotFound("no row of " + table + " with " + column + " = " + text);
  for (auto& [at, values] : found) {
    jet::Status s = change(**writer, at, values);
    if (!s.ok()) return s;
  }
  return jet::Status::Ok();
}

// Sets the named columns of those rows.
inline jet::Status SetColumns(const std::string& path, const std::string& table,
                              const std::string& column, const std::string& text,
                              const std::map<std::string, jet::Value>& values) {
  return ChangeRows(path, table, column, text,
                    [&](jet::TableWriter& w, jet::RowId at, std::vector<jet::Value>& row) {
                      for (const auto& [name, v] : values) row[ColumnIndex(w.table(), name)] = v;
                      return w.Update(at, row);
                    });
}

inline jet::Status DeleteRows(const std::string& path, const std::string& table,
                              const std::string& column, const std::string& text) {
  return ChangeRows(
      path, table, column, text,
      [](jet::TableWriter& w, jet::RowId at, std::vector<jet::Value>&) { return w.Delete(at); });
}

// A random value a column accepts (or, now and then, null).
inline jet::Value RandomValue(const jet::ColumnDef& c, bool jet3, std::mt19937& rng) {
  jet::Value v;
  v.type = c.type;
  if (c.autonumber()) return v;  // the writer fills it in
  if (c.type != jet::ColumnType::kBoolean && rng() % 10 == 0) return v;
  v.null = false;
  static const char* kText[] = {"a", "B", "z",        "Q",        "0",        "9",
                                " ", "-", "\xC3\xA9", "\xC3\x84", "\xC3\x9F", "x"};
  auto text = [&](size_t max_chars) {
    std::string s;
    size_t n = rng() % (max_chars + 1);
    for (size_t i = 0; i < n; ++i) s += kText[rng() % (sizeof kText / sizeof kText[0])];
    return s;
  };
  auto bytes = [&](size_t n) {
    std::string s(n, '\0');
    for (char& b : s) b = char(rng());
    return s;
  };
  switch (c.type) {
    case jet::ColumnType::kBoolean:
      v.boolean = rng() % 2;
      break;
    case jet::ColumnType::kByte:
      v.integer = rng() % 256;
      break;
    case jet::ColumnType::kInteger:
      v.integer = int64_t(rng() % 65536) - 32768;
      break;
    case jet::ColumnType::kLong:
      v.integer = int64_t(int32_t(rng()));
      break;
    case jet::ColumnType::kCurrency:
      v.integer = int64_t(rng() % 100000000) - 50000000;
      break;
    case jet::ColumnType::kSingle:
      v.single = float(int(rng() % 200000) - 100000) / 64.0f;
      break;
    case jet::ColumnType::kDouble:
      v.real = double(int64_t(rng()) - (1ll << 31)) / 1024.0;
      break;
    case jet::ColumnType::kDateTime:
      v.real = double(rng() % 80000) - 10000 + double(rng() % 86400) / 86400;
      break;
    case jet::ColumnType::kGuid:
      v.bytes = bytes(16);
      break;
    case jet::ColumnType::kNumeric:
      v.decimal.scale = c.scale;
      v.decimal.words[3] = rng() % 1000000;
      v.decimal.negative = v.decimal.words[3] != 0 && rng() % 2;
      break;
    case jet::ColumnType::kText: {
      size_t chars = jet3 ? c.length : c.length / 2;
      v.bytes = c.fixed() ? text(chars) : text(std::min<size_t>(chars, 24));
      break;
    }
    case jet::ColumnType::kMemo:
      v.bytes = text(rng() % 3 == 0 ? 2500 : 40);
      break;
    case jet::ColumnType::kBinary:
      v.bytes = bytes(rng() % (std::min<size_t>(c.length, 30) + 1));
      break;
    case jet::ColumnType::kOle:
      v.bytes = bytes(rng() % 6000);
      break;
    default:
      v.null = true;
      break;
  }
  return v;
}

// A random row for the table, one RandomValue per column.
inline std::vector<jet::Value> RandomRow(const jet::TableDef& t, bool jet3, std::mt19937& rng) {
  std::vector<jet::Value> row;
  for (const jet::ColumnDef& c : t.columns) row.push_back(RandomValue(c, jet3, rng));
  return row;
}

// The checker finds nothing wrong with the database.
inline void ExpectConsistent(const std::string& path) {
  auto db = jet::Database::Open(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto report = jet::CheckDatabase(**db);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const auto& p : report->problems) ADD_FAILURE() << path << ": " << p;
}

// mdb-export, a reader we did not write, reads the table's rows as the
// engine does, in any order. Its -Q output leaves text unquoted, so this is
// for tables of plain text and whole numbers. Nothing to do without mdbtools.
inline void ExpectMdbExportAgrees(const std::string& path, const std::string& table) {
  if (!HaveProgram("mdb-export")) return;
  ProcessResult r = RunProcess({"mdb-export", "-Q", "-d", "\t", path, table});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::istringstream lines(r.out), header(r.out.substr(0, r.out.find('\n')));
  std::vector<std::string> columns;  // in mdbtools' order
  for (std::string name; std::getline(header, name, '\t');) columns.push_back(name);
  std::multiset<std::string> theirs, ours;
  std::string line;
  for (std::getline(lines, line); std::getline(lines, line);) theirs.insert(line);
  for (const NamedRow& row : ReadRows(path, table)) {
    line.clear();
    for (size_t i = 0; i < columns.size(); ++i) {
      const jet::Value& v = row.at(columns[i]);
      line += (i ? "\t" : "") + (v.null ? std::string() : v.ToText());
    }
    ours.insert(line);
  }
  EXPECT_EQ(theirs, ours) << "mdb-export reads " << table << " otherwise";
}

// `table` exported in format `f`, as text.
inline std::string ExportToString(jet::Database& db, const std::string& table,
                                  jet::ExportFormat f) {
  std::FILE* tmp = std::tmpfile();
  EXPECT_NE(tmp, nullptr);
  if (tmp == nullptr) return "";
  jet::Status s = jet::ExportTable(db, table, f, tmp);
  EXPECT_TRUE(s.ok()) << s.ToString();
  std::string out;
  std::rewind(tmp);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, tmp)) > 0;) out.append(buf, n);
  std::fclose(tmp);
  return out;
}

}  // namespace testutil

#endif  // TESTS_VALUES_H_
