// SPDX-License-Identifier: Apache-2.0
// Fuzz target: any text through the expression parser, each kind, and
// whatever parses through the evaluator, with a column of every type.

#include <cstddef>
#include <cstdint>
#include <string>

#include "expr/expression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const expr::Value columns[] = {expr::Value::Null(),          expr::Value::Integer(-7),
                                 expr::Value::Currency(12345), expr::Value::Date(-1.25),
                                 expr::Value::String("Ab*"),   expr::Value::Double(1e300),
                                 expr::Value::Byte(200),
                                 expr::Value::Decimal({0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFu, 3, true})};
  for (expr::Kind kind :
       {expr::Kind::kDefaultValue, expr::Kind::kColumnRule, expr::Kind::kTableRule}) {
    auto e = expr::Parse(text, kind);
    if (!e.ok()) continue;
    for (const expr::Value& v : columns) {
      expr::Context ctx;
      ctx.implicit = v;
      ctx.now = [] { return 45458.4375; };
      ctx.column = [&v](std::string_view) -> std::optional<expr::Value> { return v; };
      auto r = expr::Evaluate(*e, ctx);
      if (r.ok()) (void)expr::DisplayText(*r);
    }
  }
  return 0;
}
