// SPDX-License-Identifier: Apache-2.0
// Expression: Jet's expression language as DefaultValue and ValidationRule
// properties hold it.
//
// Text is parsed once into an Expression and evaluated as often as needed
// against a Context that supplies the row's column values, the value of the
// column a column rule belongs to, the clock and the text comparison.
// Anything the language has but this module does not implement (a function
// it does not know, a domain aggregate, a form reference) is refused when
// parsing, with the construct named; nothing is guessed.
//
//   auto rule = expr::Parse("Is Null Or Between 0 And 150", expr::Kind::kColumnRule);
//   expr::Context ctx;
//   ctx.implicit = expr::Value::Long(42);
//   auto ok = expr::RulePasses(*rule, ctx);  // true

#ifndef EXPR_EXPRESSION_H_
#define EXPR_EXPRESSION_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expr/value.h"

namespace expr {

enum class Kind {
  // A column's DefaultValue: no column references; a leading '=' is allowed.
  kDefaultValue,
  // A column's ValidationRule: a comparison with no left operand ("> 0",
  // "Between 1 And 9", "Like 'A*'", "Is Null") compares the column's own
  // value, anywhere an operand may start (so "Is Null Or > 0" works); an
  // operand of And, Or, Not... that is not a test, or a whole rule that is
  // not one, is compared with the column for equality ("0 Or >100",
  // "Not 42", "15").
  kColumnRule,
  // A table's ValidationRule: columns only by name.
  kTableRule,
};

struct Node;

class Expression {
 public:
  Kind kind() const { return kind_; }
  const std::string& text() const { return text_; }
  // The column names the text refers to, as written, each once.
  const std::vector<std::string>& columns() const { return columns_; }
  const Node& root() const { return *root_; }

 private:
  friend Result<Expression> Parse(std::string_view text, Kind kind);
  Expression() = default;  // only Parse makes one
  Kind kind_ = Kind::kTableRule;
  std::string text_;
  std::vector<std::string> columns_;
  std::shared_ptr<const Node> root_;
};

// Three-way comparison of two texts: <0, 0 or >0.
using TextComparer = std::function<int(std::string_view, std::string_view)>;

// The default comparer, an approximation of Jet's General sort order that
// ignores case: spaces and punctuation (by code point) sort before digits,
// digits before letters; Latin letters (ASCII and Latin-1) compare by
// their base letter, so "é" sorts between "e" and "f", and only where the
// letters are the same do accents decide ("e" before "é"). Other scripts
// follow, by code point. Jet's own order differs in details (it ignores
// hyphens and apostrophes, expands "æ" and "ß"); the caller should pass a
// comparer built on the column's sort order where those matter.
int CompareTextDefault(std::string_view a, std::string_view b);

struct Context {
  // A column's value by name (the lookup is the caller's; Jet's names are
  // case-insensitive). nullopt: no such column, an evaluation error.
  std::function<std::optional<Value>(std::string_view name)> column;
  // The value a column rule tests.
  Value implicit;
  // Now, as a Jet Date (local time). Unset: this computer's clock.
  std::function<double()> now;
  // Unset: CompareTextDefault.
  TextComparer compare;
};

// A Context::column over one row's name/value pairs; names match without
// regard to case (as CompareTextDefault folds them).
std::function<std::optional<Value>(std::string_view name)> LookupByName(
    std::vector<std::pair<std::string, Value>> row);

// Parses text. Errors: kInvalidArgument for text that is not an expression
// ("missing ')' at offset 7"), kUnsupported for constructs refused
// ("function DLookup is not supported").
Result<Expression> Parse(std::string_view text, Kind kind);

// Evaluation errors (kInvalidArgument): "type mismatch", "overflow",
// "division by zero", "invalid use of Null", "invalid procedure call: ...",
// "unknown column X".
Result<Value> Evaluate(const Expression& e, const Context& context);

// A rule passes when it evaluates to Null or to anything true.
Result<bool> RulePasses(const Expression& e, const Context& context);

// Jet's Like: * any run, ? one character, # one digit, [a-z] [!a-z] one
// character in or out of a set ([] matches no character at all); letters
// match regardless of case. A '[' without its ']' is an error.
Result<bool> LikeMatches(std::string_view text, std::string_view pattern);

}  // namespace expr

#endif  // EXPR_EXPRESSION_H_
