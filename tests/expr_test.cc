// SPDX-License-Identifier: Apache-2.0
// The expression module: every line of tests/data/expressions/cases.tsv,
// the values Access gives, plus the refusals, the column-rule forms and
// what the context supplies.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "expr/expression.h"
#include "test_util.h"

namespace {

using expr::Context;
using expr::Kind;
using expr::Type;
using expr::Value;

// The clock the cases see: 2024-06-15 10:30:00, a Saturday.
double FixedNow() { return 45458.4375; }

Value Literal(const std::string& text) {
  auto e = expr::Parse(text, Kind::kDefaultValue);
  if (!e.ok()) return Value::String("<bad literal " + text + ">");
  Context ctx;
  ctx.now = FixedNow;
  auto v = expr::Evaluate(*e, ctx);
  return v.ok() ? *v : Value::String("<bad literal " + text + ">");
}

std::vector<std::string> SplitOutsideQuotes(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  char quote = 0;
  for (char c : s) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'' || c == '#') {
      quote = c;
    } else if (c == sep) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

bool SameValue(const Value& want, const Value& got) {
  if (want.is_null() || got.is_null()) return want.is_null() && got.is_null();
  if (want.type() == Type::kString || got.type() == Type::kString)
    return want.type() == got.type() && want.text() == got.text();
  if (want.type() == Type::kDate || got.type() == Type::kDate)
    return std::fabs(want.AsDouble() - got.AsDouble()) < 0.5 / 86400;
  if (got.type() == Type::kBoolean || want.type() == Type::kBoolean)
    return want.AsDouble() == got.AsDouble();
  double w = want.AsDouble(), g = got.AsDouble();
  // A Single is as precise as its seven digits.
  if (got.type() == Type::kSingle)
    return expr::DisplayText(Value::Single(float(w))) == expr::DisplayText(got);
  return w == g || std::fabs(w - g) <= 1e-12 * std::fabs(w);
}

std::string Show(const Value& v) {
  std::string s = v.type() == Type::kString ? "\"" + v.text() + "\"" : expr::DisplayText(v);
  return s + " (" + expr::TypeName(v.type()) + ")";
}

// One case: the failure, or "" when it passes.
std::string RunCase(const std::string& text, const std::string& context,
                    const std::string& expected, const std::string& type) {
  Context ctx;
  ctx.now = FixedNow;
  Kind kind = context == "default" ? Kind::kDefaultValue : Kind::kTableRule;
  std::vector<std::pair<std::string, Value>> columns;
  if (context.rfind("col=", 0) == 0) {
    kind = Kind::kColumnRule;
    ctx.implicit = Literal(context.substr(4));
  } else if (kind == Kind::kTableRule && !context.empty()) {
    for (const std::string& part : SplitOutsideQuotes(context, ';')) {
      size_t eq = part.find("]=");
      if (part.empty() || part[0] != '[' || eq == std::string::npos)
        return "malformed context " + context;
      columns.emplace_back(part.substr(1, eq - 1), Literal(part.substr(eq + 2)));
    }
  }
  ctx.column = expr::LookupByName(std::move(columns));
  auto parsed = expr::Parse(text, kind);
  auto result = parsed.ok() ? expr::Evaluate(*parsed, ctx) : expr::Result<Value>(parsed.status());
  if (expected.rfind("error:", 0) == 0) {
    if (result.ok()) return "expected an error (" + expected + "), got " + Show(*result);
    // Every word of the reason is in the message or the error's kind.
    std::string message =
        jet::ErrorKindName(result.status().kind()) + (" " + result.status().message());
    for (char& c : message) c = char(std::tolower(static_cast<unsigned char>(c)));
    std::stringstream reason(expected.substr(6));
    for (std::string word; reason >> word;) {
      for (char& c : word) c = char(std::tolower(static_cast<unsigned char>(c)));
      if (message.find(word) == std::string::npos)
        return "expected " + expected + ", got error: " + result.status().message();
    }
    return "";
  }
  if (!result.ok()) return "error: " + result.status().message();
  Value want = Literal(expected);
  if (!SameValue(want, *result)) return "expected " + expected + ", got " + Show(*result);
  if (!type.empty() && type != expr::TypeName(result->type()))
    return "expected type " + type + ", got " + Show(*result);
  return "";
}

// cases.tsv holds the values Microsoft's documentation gives; own_cases.tsv
// our own cases for what it may not reach.
TEST(ExpressionTest, EveryCaseGivesWhatAccessGives) {
  int cases = 0;
  for (const char* file : {"expressions/cases.tsv", "expressions/own_cases.tsv"}) {
    for (testutil::DataLine& line : testutil::DataLines(file)) {
      std::vector<std::string>& f = line.fields;
      if (f[0] == "expression") continue;  // the header
      f.resize(5);
      ++cases;
      EXPECT_EQ(RunCase(f[0], f[1], f[2], f[3]), "")
          << file << ":" << line.number << ": " << f[0] << "  [" << f[4] << "]";
    }
  }
  EXPECT_GT(cases, 300);
}

// Refusals and malformed text are cases in own_cases.tsv.
TEST(ExpressionTest, NestingThatWouldExhaustTheStackIsRefused) {
  const std::string deep = std::string(150, '(') + "1" + std::string(150, ')');
  EXPECT_EQ(expr::Parse(deep, Kind::kTableRule).status().message(),
            "expression nested too deeply at offset 100");
  EXPECT_EQ(expr::Parse("", Kind::kTableRule).status().kind(), jet::ErrorKind::kInvalidArgument);
}

TEST(ExpressionTest, ContextSuppliesColumnsComparerAndRuleOutcome) {
  auto rule = expr::Parse("[Start] <= [end] And [Name] > \"m\"", Kind::kTableRule);
  ASSERT_TRUE(rule.ok()) << rule.status().message();
  EXPECT_EQ(rule->columns(), (std::vector<std::string>{"Start", "end", "Name"}));
  Context ctx;
  ctx.column = expr::LookupByName(
      {{"START", Value::Long(1)}, {"End", Value::Null()}, {"name", Value::String("Zoe")}});
  // Null And True is Null, and a rule that is Null passes.
  EXPECT_TRUE(*expr::RulePasses(*rule, ctx));
  // A binary comparer puts "Zoe" before "m" and turns the verdict.
  ctx.compare = [](std::string_view a, std::string_view b) { return a.compare(b); };
  ctx.column = expr::LookupByName(
      {{"START", Value::Long(1)}, {"End", Value::Long(2)}, {"name", Value::String("Zoe")}});
  EXPECT_FALSE(*expr::RulePasses(*rule, ctx));
  ctx.column = expr::LookupByName({{"START", Value::Long(1)}, {"End", Value::Long(2)}});
  EXPECT_EQ(expr::RulePasses(*rule, ctx).status().message(), "unknown column Name");
  // Text the rule cannot read as true is an error, not a pass.
  auto text = expr::Parse("\"maybe\"", Kind::kTableRule);
  EXPECT_EQ(expr::RulePasses(*text, ctx).status().message(), "type mismatch");
}

}  // namespace
