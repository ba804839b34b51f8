// SPDX-License-Identifier: Apache-2.0
// Evaluate: walks the tree with the Variant rules of VBA's operators.
//
// Arithmetic results take the type of the more precise operand in the
// order Integer, Long, Single, Double, Currency (Boolean counts as
// Integer, text as Double), except that Single with Long gives Double. An
// Integer result that overflows becomes a Long, a Long one a Double, as
// Variants do; Currency and Double overflow is an error. Null propagates,
// except through & (as "") and where And, Or and Imp know the answer
// without it. The logical operators are Jet's, not VBA's (see Logical).

#include <cmath>

#include "expr/calendar.h"
#include "expr/decimal.h"
#include "expr/expression.h"
#include "expr/functions.h"
#include "expr/node.h"

namespace expr {

namespace {

int Rank(Type t) {
  switch (t) {
    case Type::kByte:
      return 0;
    case Type::kBoolean:
    case Type::kInteger:
      return 1;
    case Type::kLong:
      return 2;
    case Type::kSingle:
      return 3;
    case Type::kDouble:
    case Type::kString:
      return 4;
    case Type::kCurrency:
      return 5;
    case Type::kDecimal:
      return 6;
    default:
      return 4;
  }
}

// The narrowest of (Byte,) Integer, Long or Double that holds v.
Value WidenedInteger(int64_t v, Type type) {
  if (type == Type::kByte && v >= 0 && v <= 255) return Value::Byte(uint8_t(v));
  if (type == Type::kByte) type = Type::kInteger;
  if (type == Type::kInteger && v >= -32768 && v <= 32767) return Value::Integer(int16_t(v));
  if (v >= INT32_MIN && v <= INT32_MAX) return Value::Long(int32_t(v));
  return Value::Double(double(v));
}

Result<Value> FromDouble(double d) {
  if (!std::isfinite(d)) return Overflow();
  return Value::Double(d);
}

constexpr double kInt64Limit = 9.2e18;

Result<Value> CurrencySum(int64_t x, int64_t y, bool subtract) {
  if (subtract) {
    if (y == INT64_MIN) return Overflow();
    y = -y;
  }
  if ((y > 0 && x > INT64_MAX - y) || (y < 0 && x < INT64_MIN - y)) return Overflow();
  return Value::Currency(x + y);
}

// x * y / 10000 in ten-thousandths, rounded half to even: exact while the
// product fits 64 bits, to double precision beyond.
Result<Value> CurrencyProduct(int64_t x, int64_t y) {
  double estimate = double(x) * double(y);
  if (std::fabs(estimate) < kInt64Limit) {
    int64_t product = x * y;
    int64_t q = product / 10000, r = product % 10000;
    if (r > 5000 || (r == 5000 && (q & 1))) ++q;
    if (r < -5000 || (r == -5000 && (q & 1))) --q;
    return Value::Currency(q);
  }
  double units = std::nearbyint(estimate / 10000.0);
  if (!(std::fabs(units) < kInt64Limit)) return Overflow();
  return Value::Currency(int64_t(units));
}

Result<Value> DecimalResult(DecimalOp op, const Value& a, const Value& b) {
  JET_ASSIGN_OR_RETURN(Value x, ToDecimal(a));
  JET_ASSIGN_OR_RETURN(Value y, ToDecimal(b));
  JET_ASSIGN_OR_RETURN(DecimalParts r, DecimalArithmetic(op, x.decimal(), y.decimal()));
  return Value::Decimal(r);
}

Result<Value> Arithmetic(Op op, Value a, Value b) {
  if (a.is_null() || b.is_null()) return Value::Null();
  // Dates: Date ± number is a Date, Date - Date a Double.
  if (op == Op::kAdd || op == Op::kSubtract) {
    bool da = a.type() == Type::kDate, db = b.type() == Type::kDate;
    if (da || db) {
      JET_ASSIGN_OR_RETURN(Value na, ToNumber(a));
      JET_ASSIGN_OR_RETURN(Value nb, ToNumber(b));
      double r = op == Op::kAdd ? na.AsDouble() + nb.AsDouble() : na.AsDouble() - nb.AsDouble();
      if (op == Op::kSubtract && da && db) return FromDouble(r);
      if (!InDateRange(r)) return DateOutOfRange(r);
      return Value::Date(r);
    }
  }
  JET_ASSIGN_OR_RETURN(a, ToNumber(a));
  JET_ASSIGN_OR_RETURN(b, ToNumber(b));
  if (a.type() == Type::kDate) a = Value::Double(a.real());
  if (b.type() == Type::kDate) b = Value::Double(b.real());
  int rank = std::max(Rank(a.type()), Rank(b.type()));
  if (rank == 3 && (a.type() == Type::kLong || b.type() == Type::kLong)) rank = 4;
  switch (rank) {
    case 0:
    case 1:
    case 2: {
      int64_t x = a.integer(), y = b.integer();
      int64_t r = op == Op::kAdd ? x + y : op == Op::kSubtract ? x - y : x * y;
      return WidenedInteger(r, rank == 0   ? Type::kByte
                               : rank == 1 ? Type::kInteger
                                           : Type::kLong);
    }
    case 3: {
      double r = op == Op::kAdd        ? double(float(a.AsDouble())) + float(b.AsDouble())
                 : op == Op::kSubtract ? double(float(a.AsDouble())) - float(b.AsDouble())
                                       : double(float(a.AsDouble())) * float(b.AsDouble());
      if (std::fabs(r) > 3.402823466e38) return FromDouble(r);
      return Value::Single(float(r));
    }
    case 4: {
      double x = a.AsDouble(), y = b.AsDouble();
      return FromDouble(op == Op::kAdd ? x + y : op == Op::kSubtract ? x - y : x * y);
    }
    case 6:
      return DecimalResult(op == Op::kAdd        ? DecimalOp::kAdd
                           : op == Op::kSubtract ? DecimalOp::kSubtract
                                                 : DecimalOp::kMultiply,
                           a, b);
    default: {
      JET_ASSIGN_OR_RETURN(Value ca, ToCurrency(a));
      JET_ASSIGN_OR_RETURN(Value cb, ToCurrency(b));
      if (op == Op::kMultiply) return CurrencyProduct(ca.currency_units(), cb.currency_units());
      return CurrencySum(ca.currency_units(), cb.currency_units(), op == Op::kSubtract);
    }
  }
}

Result<Value> Divide(Value a, Value b) {
  if (a.is_null() || b.is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(a, ToNumber(a));
  JET_ASSIGN_OR_RETURN(b, ToNumber(b));
  if (a.type() == Type::kDecimal || b.type() == Type::kDecimal)
    return DecimalResult(DecimalOp::kDivide, a, b);
  double y = b.AsDouble();
  if (y == 0) return DivisionByZero();
  double r = a.AsDouble() / y;
  if (a.type() == Type::kSingle && b.type() == Type::kSingle && std::fabs(r) <= 3.402823466e38)
    return Value::Single(float(r));
  return FromDouble(r);
}

// Operands of \ and Mod, and of the bitwise operators: whole numbers,
// rounded half to even; Integer when both were Integer (or Boolean), Byte
// when both were Byte.
Result<Value> AsWhole(const Value& v) {
  if (v.type() == Type::kBoolean) return Value::Integer(int16_t(v.integer()));
  if (v.type() == Type::kInteger || v.type() == Type::kLong || v.type() == Type::kByte) return v;
  return ToLong(v);
}

Result<Value> IntegerDivide(Op op, const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value x, AsWhole(a));
  JET_ASSIGN_OR_RETURN(Value y, AsWhole(b));
  if (y.integer() == 0) return DivisionByZero();
  int64_t r = op == Op::kIntDivide ? x.integer() / y.integer() : x.integer() % y.integer();
  if (x.type() == Type::kByte && y.type() == Type::kByte) return Value::Byte(uint8_t(r));
  bool both_integer = (x.type() == Type::kInteger || x.type() == Type::kByte) &&
                      (y.type() == Type::kInteger || y.type() == Type::kByte);
  if (both_integer && r >= -32768 && r <= 32767) return Value::Integer(int16_t(r));
  if (r < INT32_MIN || r > INT32_MAX) return Overflow();
  return Value::Long(int32_t(r));
}

Result<Value> Power(const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value x, ToNumber(a));
  JET_ASSIGN_OR_RETURN(Value y, ToNumber(b));
  double base = x.AsDouble(), exponent = y.AsDouble();
  if (base < 0 && exponent != std::floor(exponent))
    return InvalidCall("negative number to a fractional power");
  if (base == 0 && exponent < 0) return DivisionByZero();
  return FromDouble(std::pow(base, exponent));
}

Result<Value> Negate(const Value& v) {
  switch (v.type()) {
    case Type::kNull:
      return v;
    case Type::kBoolean:
    case Type::kByte:
    case Type::kInteger:
      return WidenedInteger(-v.integer(), Type::kInteger);
    case Type::kLong:
      return WidenedInteger(-v.integer(), Type::kLong);
    case Type::kSingle:
      return Value::Single(-float(v.real()));
    case Type::kDouble:
      return Value::Double(-v.real());
    case Type::kCurrency:
      if (v.currency_units() == INT64_MIN) return Overflow();
      return Value::Currency(-v.currency_units());
    case Type::kDate:
      if (!InDateRange(-v.real())) return DateOutOfRange(-v.real());
      return Value::Date(-v.real());
    case Type::kString: {
      JET_ASSIGN_OR_RETURN(Value n, ToNumber(v));
      return Value::Double(-n.AsDouble());
    }
    case Type::kDecimal: {
      DecimalParts d = v.decimal();
      d.negative = !d.negative;
      return Value::Decimal(d);
    }
  }
  return v;
}

// <0, 0, >0, or Null (nullopt) when either side is Null.
Result<std::optional<int>> Compare(const Context& ctx, const Value& a, const Value& b) {
  if (a.is_null() || b.is_null()) return std::optional<int>();
  if (a.type() == Type::kString && b.type() == Type::kString)
    return std::optional<int>(CompareText(ctx, a.text(), b.text()));
  Value x = a, y = b;
  for (Value* s : {&x, &y}) {
    if (s->type() != Type::kString) continue;
    const Value& other = s == &x ? b : a;
    if (other.type() == Type::kDate) {
      JET_ASSIGN_OR_RETURN(*s, ToDate(*s));
    } else {
      JET_ASSIGN_OR_RETURN(*s, ToNumber(*s));
    }
  }
  if (x.type() == Type::kCurrency && y.type() == Type::kCurrency) {
    int64_t p = x.currency_units(), q = y.currency_units();
    return std::optional<int>(p < q ? -1 : p > q ? 1 : 0);
  }
  if ((x.type() == Type::kDecimal || y.type() == Type::kDecimal) && x.type() != Type::kDate &&
      y.type() != Type::kDate) {
    JET_ASSIGN_OR_RETURN(Value p, ToDecimal(x));
    JET_ASSIGN_OR_RETURN(Value q, ToDecimal(y));
    return std::optional<int>(DecimalCompare(p.decimal(), q.decimal()));
  }
  double p = x.AsDouble(), q = y.AsDouble();
  return std::optional<int>(p < q ? -1 : p > q ? 1 : 0);
}

Result<Value> Comparison(Op op, const Context& ctx, const Value& a, const Value& b) {
  JET_ASSIGN_OR_RETURN(std::optional<int> c, Compare(ctx, a, b));
  if (!c) return Value::Null();
  bool r = false;
  switch (op) {
    case Op::kEqual:
      r = *c == 0;
      break;
    case Op::kNotEqual:
      r = *c != 0;
      break;
    case Op::kLess:
      r = *c < 0;
      break;
    case Op::kLessEqual:
      r = *c <= 0;
      break;
    case Op::kGreater:
      r = *c > 0;
      break;
    default:
      r = *c >= 0;
      break;
  }
  return Value::Boolean(r);
}

// And, Or, Xor, Eqv, Imp and Not are logical in Jet, not bitwise as in a
// VBA module: each operand counts as True when it is not zero (text is
// converted as CBool does), and the result is a Boolean, or Null by the
// three-valued truth tables. Microsoft KB 194206: "Attempts to use AND, OR,
// and XOR with numeric fields in a SQL statement return the result of a
// logical operation (true or false)"; the engine "does not support
// bit-wise operations", so Eqv, Imp and Not are logical too.
Result<std::optional<bool>> Truth(const Value& v) {
  if (v.is_null()) return std::optional<bool>();
  JET_ASSIGN_OR_RETURN(bool b, ToBoolean(v));
  return std::optional<bool>(b);
}

Result<Value> Logical(Op op, const Value& a, const Value& b) {
  JET_ASSIGN_OR_RETURN(std::optional<bool> x, Truth(a));
  JET_ASSIGN_OR_RETURN(std::optional<bool> y, Truth(b));
  const bool null = !x || !y;
  switch (op) {
    case Op::kAnd:
      if ((x && !*x) || (y && !*y)) return Value::Boolean(false);
      break;
    case Op::kOr:
      if ((x && *x) || (y && *y)) return Value::Boolean(true);
      break;
    case Op::kImp:
      // False Imp anything, and anything Imp True, is True.
      if ((x && !*x) || (y && *y)) return Value::Boolean(true);
      break;
    default:
      break;
  }
  if (null) return Value::Null();
  switch (op) {
    case Op::kXor:
      return Value::Boolean(*x != *y);
    case Op::kEqv:
      return Value::Boolean(*x == *y);
    case Op::kAnd:
      return Value::Boolean(true);
    case Op::kOr:
      return Value::Boolean(false);
    default:  // Imp: True Imp False
      return Value::Boolean(false);
  }
}

Result<Value> Not(const Value& v) {
  JET_ASSIGN_OR_RETURN(std::optional<bool> x, Truth(v));
  if (!x) return Value::Null();
  return Value::Boolean(!*x);
}

Result<Value> Eval(const Node& n, const Context& ctx);

Result<Value> EvalCall(const Node& n, const Context& ctx) {
  if (!n.function->call) {  // IIf: only the branch taken
    JET_ASSIGN_OR_RETURN(Value cond, Eval(*n.kids[0], ctx));
    bool take = false;
    if (!cond.is_null()) {
      JET_ASSIGN_OR_RETURN(take, ToBoolean(cond));
    }
    return Eval(*n.kids[take ? 1 : 2], ctx);
  }
  std::vector<Value> args;
  args.reserve(n.kids.size());
  for (const auto& k : n.kids) {
    JET_ASSIGN_OR_RETURN(Value v, Eval(*k, ctx));
    args.push_back(std::move(v));
  }
  return n.function->call(args, ctx);
}

Result<Value> Eval(const Node& n, const Context& ctx) {
  switch (n.op) {
    case Op::kLiteral:
      return n.literal;
    case Op::kImplicit:
      return ctx.implicit;
    case Op::kColumn: {
      std::optional<Value> v;
      if (ctx.column) v = ctx.column(n.name);
      if (!v) return Status::InvalidArgument("unknown column " + n.name);
      return *v;
    }
    case Op::kCall:
      return EvalCall(n, ctx);
    default:
      break;
  }
  JET_ASSIGN_OR_RETURN(Value a, Eval(*n.kids[0], ctx));
  switch (n.op) {
    case Op::kNegate:
      return Negate(a);
    case Op::kNot:
      return Not(a);
    case Op::kIsNull:
      return Value::Boolean(a.is_null() != n.negated);
    case Op::kBetween: {
      // Null anywhere gives Null; the bounds may come in either order.
      JET_ASSIGN_OR_RETURN(Value lo, Eval(*n.kids[1], ctx));
      JET_ASSIGN_OR_RETURN(Value hi, Eval(*n.kids[2], ctx));
      if (a.is_null() || lo.is_null() || hi.is_null()) return Value::Null();
      JET_ASSIGN_OR_RETURN(std::optional<int> order, Compare(ctx, lo, hi));
      if (*order > 0) std::swap(lo, hi);
      JET_ASSIGN_OR_RETURN(std::optional<int> above, Compare(ctx, a, lo));
      JET_ASSIGN_OR_RETURN(std::optional<int> below, Compare(ctx, a, hi));
      return Value::Boolean((*above >= 0 && *below <= 0) != n.negated);
    }
    case Op::kIn: {
      // "If expr is found in the list of values, the In operator returns
      // True; otherwise, it returns False" (Access's In operator page): a
      // Null in the list matches nothing. A Null expr stays Null, as any
      // comparison with Null does, so that a rule such as In ("Y","N")
      // lets an empty value through.
      if (a.is_null()) return Value::Null();
      for (size_t i = 1; i < n.kids.size(); ++i) {
        JET_ASSIGN_OR_RETURN(Value item, Eval(*n.kids[i], ctx));
        JET_ASSIGN_OR_RETURN(Value eq, Comparison(Op::kEqual, ctx, a, item));
        if (!eq.is_null() && eq.boolean()) return Value::Boolean(!n.negated);
      }
      return Value::Boolean(n.negated);
    }
    default:
      break;
  }
  JET_ASSIGN_OR_RETURN(Value b, Eval(*n.kids[1], ctx));
  switch (n.op) {
    case Op::kAdd:
      if (a.type() == Type::kString && b.type() == Type::kString)
        return Value::String(a.text() + b.text());
      return Arithmetic(n.op, a, b);
    case Op::kSubtract:
    case Op::kMultiply:
      return Arithmetic(n.op, a, b);
    case Op::kDivide:
      return Divide(a, b);
    case Op::kIntDivide:
    case Op::kMod:
      return IntegerDivide(n.op, a, b);
    case Op::kPower:
      return Power(a, b);
    case Op::kConcat:
      if (a.is_null() && b.is_null()) return Value::Null();
      return Value::String(DisplayText(a) + DisplayText(b));
    case Op::kEqual:
    case Op::kNotEqual:
    case Op::kLess:
    case Op::kLessEqual:
    case Op::kGreater:
    case Op::kGreaterEqual:
      return Comparison(n.op, ctx, a, b);
    case Op::kLike: {
      if (a.is_null() || b.is_null()) return Value::Null();
      JET_ASSIGN_OR_RETURN(bool m, LikeMatches(DisplayText(a), DisplayText(b)));
      return Value::Boolean(m != n.negated);
    }
    case Op::kAnd:
    case Op::kOr:
    case Op::kXor:
    case Op::kEqv:
    case Op::kImp:
      return Logical(n.op, a, b);
    default:
      return Status::InvalidArgument("internal: unknown operator");
  }
}

}  // namespace

Result<Value> Evaluate(const Expression& e, const Context& context) {
  // A date text without a year is in the year of the context's clock.
  CurrentYearScope year(&context.now);
  return Eval(e.root(), context);
}

Result<bool> RulePasses(const Expression& e, const Context& context) {
  JET_ASSIGN_OR_RETURN(Value v, Evaluate(e, context));
  if (v.is_null()) return true;
  return ToBoolean(v);
}

}  // namespace expr
