// Small builders for engine values and writable databases, shared by the
// tests that write rows.

#ifndef TESTS_VALUES_H_
#define TESTS_VALUES_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// Opens a database for writing; a failure fails the test and gives null.
inline std::unique_ptr<jet::Database> OpenWritable(const std::string& path) {
  jet::Database::Options options;
  options.writable = true;
  auto db = jet::Database::Open(path, options);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? std::move(db).value() : nullptr;
}

}  // namespace testutil

#endif  // TESTS_VALUES_H_
