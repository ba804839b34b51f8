// SPDX-License-Identifier: Apache-2.0
// Expressions: the table's DefaultValue and ValidationRule properties,
// evaluated as Jet evaluates them (through the expression module, expr/).
//
// Validation rules. A column's rule tests the column's value (a rule that
// starts with an operator, "> 0", compares the column itself); the table's
// rule may name any of its columns. A rule passes when it gives True or
// Null. A rule that fails refuses the row with Jet's error:
//
//   column rule  3317  the column's ValidationText, or "One or more values
//                      are prohibited by the validation rule '<rule>' set
//                      for '<table>.<column>'. Enter a value that the
//                      expression for this field can accept."
//   table rule   3316  the table's ValidationText
//                3317  without one: as above, set for '<table>'
//
// Default values. A column a new row leaves unassigned takes its
// DefaultValue, evaluated and converted to the column's type as Jet stores
// a value: numbers round half to even into integer columns, text becomes a
// number or a date as CDbl and CDate read it, and a value that does not fit
// is Jet's error (3349 overflow, 3163 text too long, 3421 any other
// conversion).
//
// Text compares as the column's sort order sorts it: by the index keys the
// engine builds for that sort order (so without regard to case), and where
// it builds none, letters without regard to case and the rest by code
// point (expr::CompareTextDefault).
//
// A rule or default whose text uses something the expression module does
// not implement is refused (kUnsupported) with the construct named; so is a
// rule that would have to compare a Binary, OLE or very long Decimal value.

#ifndef JET_TABLE_EXPRESSIONS_H_
#define JET_TABLE_EXPRESSIONS_H_

#include "jet/internal/guard.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "expr/expression.h"
#include "jet/db/properties.h"
#include "jet/format/table_def.h"
#include "jet/storage/header.h"
#include "jet/value.h"

namespace jet {

// Jet's numbers for the failures reported here.
constexpr int32_t kJetErrorFieldTooSmall = 3163;
// Required and AllowZeroLength, which the table writer checks itself.
constexpr int32_t kJetErrorRequired = 3314;
constexpr int32_t kJetErrorZeroLength = 3315;
constexpr int32_t kJetErrorTableRule = 3316;
constexpr int32_t kJetErrorColumnRule = 3317;
constexpr int32_t kJetErrorOverflow = 3349;
constexpr int32_t kJetErrorConversion = 3421;
// What this program reports for a default it cannot evaluate.
constexpr int32_t kJetErrorUnsupported = 3251;

// A stored value as the expression module sees it: Byte and Integer as
// Integer, Decimal as Double (refused past 15 significant digits), a GUID
// as its "{...}" text; Binary and OLE values are refused.
Result<expr::Value> ToExpressionValue(const Value& value);

// An expression's value as the column stores it (see above).
Result<Value> ToColumnValue(const ColumnDef& column, const expr::Value& value,
                            const DatabaseHeader& header);

// A column's default from its DefaultValue text, outside any table.
Result<Value> DefaultValueFor(const ColumnDef& column, const std::string& text,
                              const DatabaseHeader& header,
                              std::optional<double> now = std::nullopt);

// How text compares in the rules of a column (null: the table's rule).
expr::TextComparer TextComparerFor(const ColumnDef* column, const DatabaseHeader& header);

// The rules and defaults of one table, each parsed once, when first needed.
class TableExpressions {
 public:
  TableExpressions(std::shared_ptr<const TableDef> table, ColumnProperties properties,
                   const DatabaseHeader& header);

  // Checks the rules for `values`; `old` is the row it replaces (null for a
  // new row). A column's rule is checked when its value changes (every
  // column of a new row), the table's rule on every row that changes.
  Status CheckRules(const std::vector<Value>& values, const std::vector<Value>* old);

  // Fills each column whose `assigned` is false, that has a DefaultValue
  // and is not an autonumber, with its evaluated default. `now` (a Jet
  // date) stands in for the clock where given.
  Status ApplyDefaults(const std::vector<bool>& assigned, std::vector<Value>* values,
                       std::optional<double> now = std::nullopt);

  // One column's default: its evaluated DefaultValue, or null without one.
  Result<Value> DefaultFor(size_t column, std::optional<double> now = std::nullopt);

 private:
  struct Parsed {
    bool done = false;
    std::optional<Result<expr::Expression>> expression;  // unset: no text
  };
  Result<const expr::Expression*> Get(Parsed& slot, const std::optional<std::string>& text,
                                      expr::Kind kind, const std::string& where);

  std::shared_ptr<const TableDef> table_;
  ColumnProperties properties_;
  DatabaseHeader header_;
  std::vector<Parsed> rules_, defaults_;
  Parsed table_rule_;
};

}  // namespace jet

#endif  // JET_TABLE_EXPRESSIONS_H_
