// SPDX-License-Identifier: Apache-2.0
// Mathematical functions, Rnd, CByte and CDec, VarType and TypeName,
// Choose and Switch.

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "expr/builtins.h"

namespace expr {

namespace {

// The argument as a Double; Null stays Null (nullopt).
Result<std::optional<double>> NumberOrNull(const Value& v) {
  if (v.is_null()) return std::optional<double>();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(v));
  return std::optional<double>(n.AsDouble());
}

template <double (*F)(double)>
Result<Value> Math(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::optional<double> x, NumberOrNull(a[0]));
  if (!x) return Value::Null();
  double r = F(*x);
  if (!std::isfinite(r)) return Overflow();
  return Value::Double(r);
}

double Atan(double x) { return std::atan(x); }
double Sine(double x) { return std::sin(x); }
double Cosine(double x) { return std::cos(x); }
double Tangent(double x) { return std::tan(x); }
double Power(double x) { return std::exp(x); }

}  // namespace

Result<Value> FnAtn(const Args& a, const Context& c) { return Math<Atan>(a, c); }
Result<Value> FnSin(const Args& a, const Context& c) { return Math<Sine>(a, c); }
Result<Value> FnCos(const Args& a, const Context& c) { return Math<Cosine>(a, c); }
Result<Value> FnTan(const Args& a, const Context& c) { return Math<Tangent>(a, c); }
Result<Value> FnExp(const Args& a, const Context& c) { return Math<Power>(a, c); }

Result<Value> FnLog(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::optional<double> x, NumberOrNull(a[0]));
  if (!x) return Value::Null();
  if (*x <= 0) return InvalidCall("Log of a number not above 0");
  return Value::Double(std::log(*x));
}

Result<Value> FnSqr(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(std::optional<double> x, NumberOrNull(a[0]));
  if (!x) return Value::Null();
  if (*x < 0) return InvalidCall("Sqr of a negative number");
  return Value::Double(std::sqrt(*x));
}

// Rnd: VBA's 24-bit generator, x = (x * &H43FD43FD + &HC39EC3) mod 2^24,
// seeded once per process from the clock (as Randomize would); a negative
// argument seeds it from the number's bits, 0 repeats the last number.
Result<Value> FnRnd(const Args& a, const Context&) {
  static std::mutex mutex;
  static uint32_t seed = [] {
    auto t = std::chrono::system_clock::now().time_since_epoch().count();
    return uint32_t(uint64_t(t) ^ (uint64_t(t) >> 24)) & 0xFFFFFF;
  }();
  double n = 1;
  if (!a.empty()) {
    if (a[0].is_null()) return InvalidUseOfNull();
    JET_ASSIGN_OR_RETURN(Value s, ToSingle(a[0]));
    n = s.real();
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (n < 0) {
    float f = float(n);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    seed = (bits + (bits >> 24)) & 0xFFFFFF;
  }
  if (n != 0) seed = uint32_t((uint64_t(seed) * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFF);
  return Value::Single(float(seed) / 16777216.0f);
}

Result<Value> FnCByte(const Args& a, const Context&) { return ToByte(a[0]); }
Result<Value> FnCDec(const Args& a, const Context&) { return ToDecimal(a[0]); }

Result<Value> FnVarType(const Args& a, const Context&) {
  switch (a[0].type()) {
    case Type::kNull:
      return Value::Integer(1);
    case Type::kInteger:
      return Value::Integer(2);
    case Type::kLong:
      return Value::Integer(3);
    case Type::kSingle:
      return Value::Integer(4);
    case Type::kDouble:
      return Value::Integer(5);
    case Type::kCurrency:
      return Value::Integer(6);
    case Type::kDate:
      return Value::Integer(7);
    case Type::kString:
      return Value::Integer(8);
    case Type::kBoolean:
      return Value::Integer(11);
    case Type::kDecimal:
      return Value::Integer(14);
    case Type::kByte:
      return Value::Integer(17);
  }
  return Value::Integer(0);
}

Result<Value> FnTypeName(const Args& a, const Context&) {
  return Value::String(TypeName(a[0].type()));
}

// Choose and Switch evaluate every argument (the evaluator hands them
// over evaluated), as Access does: its Switch help says an error in any
// expression is an error.
Result<Value> FnChoose(const Args& a, const Context&) {
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(a[0]));
  double index = std::nearbyint(n.AsDouble());
  if (!(index >= 1 && index <= double(a.size() - 1))) return Value::Null();
  return a[size_t(index)];
}

Result<Value> FnSwitch(const Args& a, const Context&) {
  if (a.size() % 2) return InvalidCall("Switch with an expression and no value");
  for (size_t i = 0; i < a.size(); i += 2) {
    if (a[i].is_null()) continue;
    JET_ASSIGN_OR_RETURN(bool b, ToBoolean(a[i]));
    if (b) return a[i + 1];
  }
  return Value::Null();
}

}  // namespace expr
