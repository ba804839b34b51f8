// SPDX-License-Identifier: Apache-2.0
// Builtins: the functions kept outside functions.cc, for its table, and
// the argument readers they share.

#ifndef EXPR_BUILTINS_H_
#define EXPR_BUILTINS_H_

#include <vector>

#include "expr/functions.h"

namespace expr {

using Args = std::vector<Value>;

// A whole-number argument (a count, a position, a mode), rounded half to
// even; Null is "invalid use of Null".
inline Result<int64_t> WholeNumber(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  JET_ASSIGN_OR_RETURN(Value l, ToLong(v));
  return l.integer();
}

// An optional whole-number argument: `fallback` when absent.
inline Result<int64_t> OptionalWhole(const Args& a, size_t i, int64_t fallback) {
  if (a.size() <= i) return fallback;
  return WholeNumber(a[i]);
}

// Text functions (string_functions.cc).
Result<Value> FnAscW(const Args& a, const Context& c);
Result<Value> FnChrW(const Args& a, const Context& c);
Result<Value> FnHex(const Args& a, const Context& c);
Result<Value> FnOct(const Args& a, const Context& c);
Result<Value> FnInStrRev(const Args& a, const Context& c);
Result<Value> FnReplace(const Args& a, const Context& c);
Result<Value> FnStrComp(const Args& a, const Context& c);
Result<Value> FnStrConv(const Args& a, const Context& c);
Result<Value> FnStrReverse(const Args& a, const Context& c);

// Numbers, conversions and the Variant (number_functions.cc).
Result<Value> FnAtn(const Args& a, const Context& c);
Result<Value> FnCos(const Args& a, const Context& c);
Result<Value> FnExp(const Args& a, const Context& c);
Result<Value> FnLog(const Args& a, const Context& c);
Result<Value> FnSin(const Args& a, const Context& c);
Result<Value> FnSqr(const Args& a, const Context& c);
Result<Value> FnTan(const Args& a, const Context& c);
Result<Value> FnRnd(const Args& a, const Context& c);
Result<Value> FnCByte(const Args& a, const Context& c);
Result<Value> FnCDec(const Args& a, const Context& c);
Result<Value> FnVarType(const Args& a, const Context& c);
Result<Value> FnTypeName(const Args& a, const Context& c);
Result<Value> FnChoose(const Args& a, const Context& c);
Result<Value> FnSwitch(const Args& a, const Context& c);

// Financial functions (finance.cc).
Result<Value> FnDDB(const Args& a, const Context& c);
Result<Value> FnFV(const Args& a, const Context& c);
Result<Value> FnIPmt(const Args& a, const Context& c);
Result<Value> FnNPer(const Args& a, const Context& c);
Result<Value> FnPmt(const Args& a, const Context& c);
Result<Value> FnPPmt(const Args& a, const Context& c);
Result<Value> FnPV(const Args& a, const Context& c);
Result<Value> FnRate(const Args& a, const Context& c);
Result<Value> FnSLN(const Args& a, const Context& c);
Result<Value> FnSYD(const Args& a, const Context& c);

}  // namespace expr

#endif  // EXPR_BUILTINS_H_
