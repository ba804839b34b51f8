// SPDX-License-Identifier: Apache-2.0
// The SQL the installer sends, read and run against one table.
//
// The dialect is Jet's, cut down to what the installer's statements use:
//
//   SELECT * | Table.* | column [, column ...]
//   FROM table
//   [WHERE condition]            condition: column = literal, joined by
//                                AND / OR, grouped with parentheses
//
// Names may stand in square brackets ([ACK-S]) and may be qualified with the
// table's name. Text literals stand in single quotes, '' being one quote;
// numbers are plain decimals. Keywords and names are case-insensitive. Any
// other construct (ORDER BY, LIKE, <, joins, ...) is refused by name rather
// than misread.
//
// Text equality is Jet's: two texts are equal when the column's sort order
// gives them the same index key. That ignores case and trailing spaces but
// not accents, hyphens or apostrophes (docs/data-access.md has the evidence).

#ifndef DATA_SQL_H_
#define DATA_SQL_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "data/data_error.h"
#include "jet/database.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace afc::sql {

struct ColumnRef {
  std::string qualifier;  // the table name before the dot, if any
  std::string name;
};

struct Literal {
  bool is_text = true;
  std::string text;  // UTF-8, quotes undoubled
  double number = 0;
};

struct Condition {
  enum class Kind { kEquals, kAnd, kOr };
  Kind kind = Kind::kEquals;
  ColumnRef column;                        // kEquals
  Literal literal;                         // kEquals
  std::unique_ptr<Condition> left, right;  // kAnd, kOr
};

struct SelectItem {
  bool all = false;  // * or Table.*
  ColumnRef column;  // the qualifier also applies to Table.*
};

struct Select {
  std::vector<SelectItem> items;
  std::string table;
  std::unique_ptr<Condition> where;  // null without WHERE
};

// Reads one SELECT statement (an optional ';' may end it).
DataError Parse(const std::string& text, Select* out);

// A statement tied to the definition of its table: the columns it returns
// and the test a row must pass.
class BoundQuery {
 public:
  // Resolves every name against `table`; an unknown column or a comparison
  // of a column with the wrong kind of literal is an error here, before any
  // row is read.
  static DataError Bind(const Select& select, const jet::TableDef& table,
                        const jet::Database& db, BoundQuery* out);

  // Positions in the table's column order, in the order the query lists them.
  const std::vector<size_t>& columns() const { return columns_; }
  // Whether a row (every column of the table, in column order) passes WHERE.
  bool Matches(const std::vector<jet::Value>& row) const;

 private:
  struct Test {
    Condition::Kind kind = Condition::Kind::kEquals;
    size_t column = 0;
    Literal literal;
    std::unique_ptr<Test> left, right;
  };
  static DataError BindCondition(const Condition& c, const jet::TableDef& table,
                                 std::unique_ptr<Test>* out);
  bool Evaluate(const Test& test, const std::vector<jet::Value>& row) const;

  const jet::TableDef* table_ = nullptr;
  const jet::Database* db_ = nullptr;
  std::vector<size_t> columns_;
  std::unique_ptr<Test> where_;
};

// Jet's equality of two texts stored in `column`: equal index keys under the
// column's sort order. Falls back to comparing the texts without regard to
// case, trailing spaces removed, where the sort order or a character has no
// known key (or a text is longer than the 255 characters a key covers).
bool TextEquals(const jet::ColumnDef& column, const jet::Database& db, const std::string& a,
                const std::string& b);

// A text ready to stand between the single quotes of a literal: every
// quote in it doubled ("O'Hare" becomes "O''Hare").
std::string DoubleQuotes(const std::string& text);

}  // namespace afc::sql

#endif  // DATA_SQL_H_
