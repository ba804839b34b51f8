// SPDX-License-Identifier: Apache-2.0
// The financial functions: annuities (Pmt, PV, FV, NPer, Rate, IPmt,
// PPmt) and depreciation (DDB, SLN, SYD). Every argument is a Double:
// Null is "invalid use of Null", text must read as a number. Arguments
// outside the function's range are "invalid procedure call", as in VBA.

#include <algorithm>
#include <array>
#include <cmath>

#include "expr/builtins.h"

namespace expr {

namespace {

// The arguments as Doubles (none of these functions takes more than six);
// one left out is its fallback, 0 unless given.
using Numbers = std::array<double, 6>;
Result<Numbers> Doubles(const Args& a, Numbers fallback = {}) {
  Numbers x = fallback;
  for (size_t i = 0; i < a.size() && i < x.size(); ++i) {
    JET_ASSIGN_OR_RETURN(Value d, ToDouble(a[i]));
    x[i] = d.real();
  }
  return x;
}

// a / b, or NaN (reported as out of range) when b is 0.
double Quotient(double a, double b) { return b == 0 ? std::nan("") : a / b; }

Result<Value> Finite(double r, const char* what) {
  if (!std::isfinite(r)) return InvalidCall(what);
  return Value::Double(r);
}

// (1 + rate)^nper, and the annuity factor ((1 + rate)^nper - 1) / rate
// (nper when rate is 0).
double Growth(double rate, double nper) { return std::pow(1 + rate, nper); }
double Annuity(double rate, double nper) {
  return rate == 0 ? nper : (Growth(rate, nper) - 1) / rate;
}

double Payment(double rate, double nper, double pv, double fv, double due) {
  return Quotient(-(fv + pv * Growth(rate, nper)), (1 + rate * due) * Annuity(rate, nper));
}

double FutureValue(double rate, double nper, double pmt, double pv, double due) {
  return -(pv * Growth(rate, nper) + pmt * (1 + rate * due) * Annuity(rate, nper));
}

// The type argument: payments due at the start of each period (1) or at
// the end (0).
double Due(double type) { return type != 0 ? 1.0 : 0.0; }

// The interest part of payment `per`.
double Interest(double rate, double per, double nper, double pv, double fv, double due) {
  double pmt = Payment(rate, nper, pv, fv, due);
  if (due && per == 1) return 0;
  double balance = FutureValue(rate, per - 1, pmt, pv, due);
  double interest = balance * rate;
  return due ? Quotient(interest, 1 + rate) : interest;
}

}  // namespace

Result<Value> FnPmt(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double rate = x[0], nper = x[1], pv = x[2], fv = x[3], due = Due(x[4]);
  if (nper == 0) return InvalidCall("Pmt with no periods");
  return Finite(Payment(rate, nper, pv, fv, due), "Pmt out of range");
}

Result<Value> FnFV(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double rate = x[0], nper = x[1], pmt = x[2], pv = x[3], due = Due(x[4]);
  return Finite(FutureValue(rate, nper, pmt, pv, due), "FV out of range");
}

Result<Value> FnPV(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double rate = x[0], nper = x[1], pmt = x[2], fv = x[3], due = Due(x[4]);
  double r = Quotient(-(fv + pmt * (1 + rate * due) * Annuity(rate, nper)), Growth(rate, nper));
  return Finite(r, "PV out of range");
}

Result<Value> FnNPer(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double rate = x[0], pmt = x[1], pv = x[2], fv = x[3], due = Due(x[4]);
  if (rate == 0) {
    if (pmt == 0) return InvalidCall("NPer with no payment");
    return Finite(-(pv + fv) / pmt, "NPer out of range");
  }
  if (rate <= -1) return InvalidCall("NPer with a rate of -100% or less");
  double p = pmt * (1 + rate * due);
  double ratio = Quotient(p - fv * rate, p + pv * rate);
  if (!(ratio > 0)) return InvalidCall("NPer: the payments never reach the value");
  return Finite(Quotient(std::log(ratio), std::log1p(rate)), "NPer out of range");
}

Result<Value> FnIPmt(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double rate = x[0], per = x[1], nper = x[2], pv = x[3], fv = x[4], due = Due(x[5]);
  if (!(per >= 1 && per <= nper)) return InvalidCall("IPmt period outside 1 to nper");
  return Finite(Interest(rate, per, nper, pv, fv, due), "IPmt out of range");
}

Result<Value> FnPPmt(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double rate = x[0], per = x[1], nper = x[2], pv = x[3], fv = x[4], due = Due(x[5]);
  if (!(per >= 1 && per <= nper)) return InvalidCall("PPmt period outside 1 to nper");
  double r = Payment(rate, nper, pv, fv, due) - Interest(rate, per, nper, pv, fv, due);
  return Finite(r, "PPmt out of range");
}

// Newton's method from the guess until a step is below 0.00001 percent;
// VBA gives up after 20 tries, and so does this.
Result<Value> FnRate(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a, {0, 0, 0, 0, 0, 0.1}));
  const double nper = x[0], pmt = x[1], pv = x[2], fv = x[3], due = Due(x[4]);
  double rate = x[5];  // the guess
  if (nper <= 0) return InvalidCall("Rate with no periods");
  auto f = [&](double r) {
    return pv * Growth(r, nper) + pmt * (1 + r * due) * Annuity(r, nper) + fv;
  };
  for (int i = 0; i < 20; ++i) {
    if (!(rate > -1) || !std::isfinite(rate)) break;
    double h = std::max(1e-7, std::fabs(rate) * 1e-7);
    double y = f(rate), slope = (f(rate + h) - f(rate - h)) / (2 * h);
    if (!std::isfinite(y) || !std::isfinite(slope) || slope == 0) break;
    double step = y / slope;
    rate -= step;
    if (std::fabs(step) < 1e-7) return Value::Double(rate);
  }
  return InvalidCall("Rate found no result in 20 tries");
}

Result<Value> FnDDB(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a, {0, 0, 0, 0, 2, 0}));
  const double cost = x[0], salvage = x[1], life = x[2], period = x[3], factor = x[4];
  if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || period > life || factor <= 0)
    return InvalidCall("DDB argument out of range");
  // The book value declines by factor / life of itself each period, and
  // never below the salvage value. The period's share is taken as a
  // product, not as the difference of two book values, which would lose
  // the last digits.
  double rate = std::min(1.0, factor / life);
  double before = cost * std::pow(1 - rate, period - 1), share = before * rate;
  double r = before - share < salvage ? std::max(0.0, before - salvage) : share;
  return Finite(r, "DDB out of range");
}

Result<Value> FnSLN(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double cost = x[0], salvage = x[1], life = x[2];
  if (life == 0) return InvalidCall("SLN with a life of 0");
  return Finite((cost - salvage) / life, "SLN out of range");
}

Result<Value> FnSYD(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(const Numbers x, Doubles(a));
  const double cost = x[0], salvage = x[1], life = x[2], period = x[3];
  if (life <= 0 || period <= 0 || period > life) return InvalidCall("SYD argument out of range");
  double r = (cost - salvage) * (life - period + 1) * 2 / (life * (life + 1));
  return Finite(r, "SYD out of range");
}

}  // namespace expr
