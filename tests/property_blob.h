// SPDX-License-Identifier: Apache-2.0
// Property values (LvProp) for tests: built by hand and stored into a
// copy's catalog through the engine, to give a table the properties a test
// needs.

#ifndef TESTS_PROPERTY_BLOB_H_
#define TESTS_PROPERTY_BLOB_H_

#include <tuple>
#include <utility>

#include "jet/jet.h"
#include "values.h"

namespace testutil {

// Each property is (name, type, value as stored); text values as Text16
// (or Text8 for Access 97) gives them.
using Props = std::vector<std::tuple<std::string, jet::ColumnType, std::string>>;

// ASCII text as Jet 4 stores it.
inline std::string Text16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

inline std::string LeBytes(size_t n, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += char((n >> (8 * i)) & 0xFF);
  return s;
}

// A property value with a name pool and one block per object ("" for the
// table). `jet3`: Access 97's form, names in the code page (ASCII here).
inline std::string BuildBlob(const std::vector<std::pair<std::string, Props>>& objects,
                             bool jet3 = false) {
  auto text = [&](const std::string& s) { return jet3 ? s : Text16(s); };
  std::string pool, blocks;
  size_t index = 0;
  for (const auto& [object, props] : objects) {
    const std::string name = text(object);
    std::string body =
        LeBytes(object.empty() ? 6 : 6 + name.size(), 4) + LeBytes(name.size(), 2) + name;
    for (const auto& [prop, type, data] : props) {
      pool += LeBytes(text(prop).size(), 2) + text(prop);
      body += LeBytes(8 + data.size(), 2) + '\0' + char(type) + LeBytes(index++, 2) +
              LeBytes(data.size(), 2) + data;
    }
    blocks += LeBytes(6 + body.size(), 4) + LeBytes(object.empty() ? 0 : 1, 2) + body;
  }
  return std::string(jet3 ? "KKD\0" : "MR2\0", 4) + LeBytes(6 + pool.size(), 4) + LeBytes(0x80, 2) +
         pool + blocks;
}

// Replaces the table's LvProp in the copy at `path`, through the engine.
// (No other catalog row may have the table's name.)
inline void StoreBlob(const std::string& path, const std::string& table, const std::string& blob) {
  jet::Status s = ChangeRows(path, "MSysObjects", "Name", table,
                             [&](jet::TableWriter& w, jet::RowId at, std::vector<jet::Value>& row) {
                               jet::Value& lv = row[ColumnIndex(w.table(), "LvProp")];
                               lv.null = false;
                               lv.bytes = blob;
                               return w.Update(at, row);
                             });
  ASSERT_TRUE(s.ok()) << s.ToString();
}

}  // namespace testutil

#endif  // TESTS_PROPERTY_BLOB_H_
