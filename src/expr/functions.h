// SPDX-License-Identifier: Apache-2.0
// Functions: the built-in functions an expression may call, by name.

#ifndef EXPR_FUNCTIONS_H_
#define EXPR_FUNCTIONS_H_

#include <string>
#include <string_view>
#include <vector>

#include "expr/expression.h"

namespace expr {

struct Function {
  const char* name;  // as VBA spells it
  int min_args, max_args;
  // Arguments come evaluated; null for IIf, which the evaluator runs
  // itself so that only the branch taken is evaluated.
  Result<Value> (*call)(const std::vector<Value>& args, const Context& context);
};

// Case-insensitive; nullptr for a name this module does not implement.
const Function* FindFunction(std::string_view name);

// Format(value, format): the named formats and the custom ones (see
// format.cc). kUnsupported for a format it does not implement.
Status CheckFormat(const std::string& format);
Result<Value> FormatValue(const Value& value, const std::string& format);

// Format and the Format-like functions (format.cc).
Result<Value> FnFormat(const std::vector<Value>& args, const Context& context);
Result<Value> FnFormatNumber(const std::vector<Value>& args, const Context& context);
Result<Value> FnFormatCurrency(const std::vector<Value>& args, const Context& context);
Result<Value> FnFormatPercent(const std::vector<Value>& args, const Context& context);
Result<Value> FnFormatDateTime(const std::vector<Value>& args, const Context& context);
Result<Value> FnMonthName(const std::vector<Value>& args, const Context& context);
Result<Value> FnWeekdayName(const std::vector<Value>& args, const Context& context);

// The comparer a context asks for, or the default.
int CompareText(const Context& context, std::string_view a, std::string_view b);

// Case folding as the default comparer does it, for InStr and Like.
std::u32string FoldCase(std::string_view utf8);
std::u32string DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::u32string_view text);

}  // namespace expr

#endif  // EXPR_FUNCTIONS_H_
