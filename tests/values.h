// Small builders for engine values and writable databases, and the readers
// and checks that the tests which write rows share.

#ifndef TESTS_VALUES_H_
#define TESTS_VALUES_H_

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "checker.h"
#include "jet/jet.h"

namespace testutil {

inline jet::Value NullValue(jet::ColumnType type) {
  jet::Value v;
  v.type = type;
  return v;
}

inline jet::Value TextValue(const std::string& s) {
  jet::Value v = NullValue(jet::ColumnType::kText);
  v.null = false;
  v.bytes = s;
  return v;
}

inline jet::Value LongValue(int64_t n) {
  jet::Value v = NullValue(jet::ColumnType::kLong);
  v.null = false;
  v.integer = n;
  return v;
}

inline jet::Value DoubleValue(double d, jet::ColumnType type = jet::ColumnType::kDouble) {
  jet::Value v = NullValue(type);
  v.null = false;
  v.real = d;
  return v;
}

// A value as the tests compare it: its text, or "<null>".
inline std::string Text(const jet::Value& v) { return v.null ? "<null>" : v.ToText(); }

// Opens a database for writing; a failure fails the test and gives null.
inline std::unique_ptr<jet::Database> OpenWritable(const std::string& path) {
  jet::Database::Options options;
  options.writable = true;
  auto db = jet::Database::Open(path, options);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(db).value() : nullptr;
}

// A table's rows in scan order, each as column name -> value; a failure
// fails the test and ends the list.
using NamedRow = std::map<std::string, jet::Value>;
inline std::vector<NamedRow> ReadRows(const std::string& path, const std::string& table) {
  std::vector<NamedRow> rows;
  auto db = jet::Database::Open(path);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return rows;
  auto def = (*db)->GetTable(table);
  EXPECT_TRUE(def.ok()) << def.status().ToString();
  if (!def.ok()) return rows;
  jet::TableScanner scan(**db, *def);
  std::vector<jet::Value> values;
  while (true) {
    auto more = scan.Next(&values);
    EXPECT_TRUE(more.ok()) << more.status().ToString();
    if (!more.ok() || !*more) break;
    NamedRow row;
    for (size_t i = 0; i < values.size(); ++i) row[(*def)->columns[i].name] = values[i];
    rows.push_back(std::move(row));
  }
  return rows;
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

// The checker finds nothing wrong with the database.
inline void ExpectConsistent(const std::string& path) {
  auto db = jet::Database::Open(path);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  auto report = jet::CheckDatabase(**db);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const auto& p : report->problems) ADD_FAILURE() << path << ": " << p;
}

}  // namespace testutil

#endif  // TESTS_VALUES_H_
