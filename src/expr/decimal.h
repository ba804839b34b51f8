// SPDX-License-Identifier: Apache-2.0
// Decimal arithmetic: VBA's Decimal, exact to 28 or 29 digits.

#ifndef EXPR_DECIMAL_H_
#define EXPR_DECIMAL_H_

#include <optional>
#include <string>

#include "expr/value.h"

namespace expr {

enum class DecimalOp { kAdd, kSubtract, kMultiply, kDivide };

// The digits of d, "-" first when negative, no trailing zeros after the
// point ("1.5", "-0.25", "100").
std::string DecimalText(const DecimalParts& d);
double DecimalToDouble(const DecimalParts& d);

// Text as a number, exactly when it has at most 29 significant digits;
// nullopt when it is not a plain number ([sign] digits [. digits] [E exp]).
// An error when it is one but does not fit.
Result<std::optional<DecimalParts>> DecimalFromText(const std::string& text);
// A Double rounded to 15 significant digits, as VBA converts one.
Result<DecimalParts> DecimalFromDouble(double d, int digits = 15);
DecimalParts DecimalFromInteger(int64_t i, int scale = 0);

// Results round half to even to what 96 bits and 28 places hold; beyond
// that, "overflow". Division by zero is the error "division by zero".
Result<DecimalParts> DecimalArithmetic(DecimalOp op, const DecimalParts& a, const DecimalParts& b);
int DecimalCompare(const DecimalParts& a, const DecimalParts& b);
enum class DecimalRounding { kTruncate, kFloor, kHalfEven };
// To `places` decimal places (0..28); the scale shrinks, never grows.
DecimalParts DecimalRound(const DecimalParts& d, int places, DecimalRounding how);
// To ten-thousandths, half to even; "overflow" beyond 64 bits.
Result<int64_t> DecimalToCurrencyUnits(const DecimalParts& d);

}  // namespace expr

#endif  // EXPR_DECIMAL_H_
