// SPDX-License-Identifier: Apache-2.0
// Node: the parsed form of an expression, a tree the evaluator walks.

#ifndef EXPR_NODE_H_
#define EXPR_NODE_H_

#include <memory>
#include <string>
#include <vector>

#include "expr/value.h"

namespace expr {

struct Function;

enum class Op {
  kLiteral,
  kColumn,    // name
  kImplicit,  // the column a column rule belongs to
  kNegate,
  kNot,
  kPower,
  kMultiply,
  kDivide,
  kIntDivide,
  kMod,
  kAdd,
  kSubtract,
  kConcat,
  kEqual,
  kNotEqual,
  kLess,
  kLessEqual,
  kGreater,
  kGreaterEqual,
  kLike,     // kids: value, pattern
  kBetween,  // kids: value, low, high
  kIn,       // kids: value, list...
  kIsNull,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
  kCall,  // function, kids: arguments
};

struct Node {
  Op op = Op::kLiteral;
  bool negated = false;  // Not Like, Not Between, Not In, Is Not Null
  Value literal;
  std::string name;
  const Function* function = nullptr;
  std::vector<std::unique_ptr<Node>> kids;
};

}  // namespace expr

#endif  // EXPR_NODE_H_
