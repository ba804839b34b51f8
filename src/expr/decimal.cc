// SPDX-License-Identifier: Apache-2.0
// Decimal arithmetic on 256-bit scratch magnitudes, rounded back into 96
// bits and at most 28 places.

#include "expr/decimal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace expr {

namespace {

// An unsigned 256-bit number, 32-bit limbs, least significant first.
struct Big {
  std::array<uint32_t, 8> limb{};

  static Big Of(const DecimalParts& d) {
    Big b;
    b.limb[0] = uint32_t(d.lo);
    b.limb[1] = uint32_t(d.lo >> 32);
    b.limb[2] = d.hi;
    return b;
  }
  bool IsZero() const {
    for (uint32_t l : limb)
      if (l) return false;
    return true;
  }
  // Fits the 96 bits of a Decimal.
  bool Fits96() const {
    for (size_t i = 3; i < limb.size(); ++i)
      if (limb[i]) return false;
    return true;
  }
  // False when the product does not fit 256 bits.
  bool MulSmall(uint32_t m) {
    uint64_t carry = 0;
    for (uint32_t& l : limb) {
      uint64_t p = uint64_t(l) * m + carry;
      l = uint32_t(p);
      carry = p >> 32;
    }
    return carry == 0;
  }
  bool AddSmall(uint32_t a) {
    uint64_t carry = a;
    for (uint32_t& l : limb) {
      if (!carry) break;
      uint64_t s = uint64_t(l) + carry;
      l = uint32_t(s);
      carry = s >> 32;
    }
    return carry == 0;
  }
  uint32_t DivSmall(uint32_t d) {  // returns the remainder
    uint64_t rem = 0;
    for (size_t i = limb.size(); i-- > 0;) {
      uint64_t cur = (rem << 32) | limb[i];
      limb[i] = uint32_t(cur / d);
      rem = cur % d;
    }
    return uint32_t(rem);
  }
  bool Add(const Big& o) {
    uint64_t carry = 0;
    for (size_t i = 0; i < limb.size(); ++i) {
      uint64_t s = uint64_t(limb[i]) + o.limb[i] + carry;
      limb[i] = uint32_t(s);
      carry = s >> 32;
    }
    return carry == 0;
  }
  void Sub(const Big& o) {  // *this >= o
    int64_t borrow = 0;
    for (size_t i = 0; i < limb.size(); ++i) {
      int64_t s = int64_t(limb[i]) - int64_t(o.limb[i]) - borrow;
      borrow = s < 0;
      limb[i] = uint32_t(s + (borrow ? (int64_t(1) << 32) : 0));
    }
  }
  int Compare(const Big& o) const {
    for (size_t i = limb.size(); i-- > 0;)
      if (limb[i] != o.limb[i]) return limb[i] < o.limb[i] ? -1 : 1;
    return 0;
  }
  bool Bit(int i) const { return (limb[size_t(i) / 32] >> (i % 32)) & 1; }
  void ShiftLeft1() {
    for (size_t i = limb.size(); i-- > 0;)
      limb[i] = (limb[i] << 1) | (i ? limb[i - 1] >> 31 : 0);
  }
};

// Two magnitudes of at most 128 bits each.
Big Multiply(const Big& a, const Big& b) {
  Big r;
  for (size_t i = 0; i < 4; ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < 4; ++j) {
      uint64_t p = uint64_t(a.limb[i]) * b.limb[j] + r.limb[i + j] + carry;
      r.limb[i + j] = uint32_t(p);
      carry = p >> 32;
    }
    for (size_t k = i + 4; carry && k < r.limb.size(); ++k) {
      uint64_t s = uint64_t(r.limb[k]) + carry;
      r.limb[k] = uint32_t(s);
      carry = s >> 32;
    }
  }
  return r;
}

// Quotient of a / b (b not zero), and whether a remainder was left.
Big Divide(const Big& a, const Big& b, bool* inexact) {
  Big q, r;
  for (int i = 255; i >= 0; --i) {
    r.ShiftLeft1();
    if (a.Bit(i)) r.limb[0] |= 1;
    if (r.Compare(b) >= 0) {
      r.Sub(b);
      q.limb[size_t(i) / 32] |= uint32_t(1) << (i % 32);
    }
  }
  *inexact = !r.IsZero();
  return q;
}

// Rounds m / 10^scale into a Decimal: half to even, dropping places until
// it fits 96 bits and 28 places. `sticky` says digits below m were lost.
Result<DecimalParts> Normalize(Big m, int scale, bool negative, bool sticky = false) {
  while (scale > 28 || !m.Fits96()) {
    uint32_t last = 0;
    while (scale > 28 || !m.Fits96()) {
      if (scale == 0) return Overflow();
      sticky = sticky || last != 0;
      last = m.DivSmall(10);
      --scale;
    }
    if (last > 5 || (last == 5 && (sticky || (m.limb[0] & 1)))) m.AddSmall(1);
    sticky = sticky || last != 0;
  }
  DecimalParts d;
  d.lo = uint64_t(m.limb[0]) | (uint64_t(m.limb[1]) << 32);
  d.hi = m.limb[2];
  d.scale = uint8_t(scale);
  d.negative = negative && (d.lo || d.hi);
  return d;
}

// Drops trailing zero places.
DecimalParts Trim(DecimalParts d) {
  Big m = Big::Of(d);
  while (d.scale > 0) {
    Big t = m;
    if (t.DivSmall(10) != 0) break;
    m = t;
    --d.scale;
  }
  d.lo = uint64_t(m.limb[0]) | (uint64_t(m.limb[1]) << 32);
  d.hi = m.limb[2];
  return d;
}

}  // namespace

DecimalParts DecimalFromInteger(int64_t i, int scale) {
  DecimalParts d;
  d.negative = i < 0;
  d.lo = d.negative ? uint64_t(0) - uint64_t(i) : uint64_t(i);
  d.scale = uint8_t(scale);
  return d;
}

std::string DecimalText(const DecimalParts& d) {
  Big m = Big::Of(d);
  std::string digits;
  while (!m.IsZero()) digits.insert(digits.begin(), char('0' + m.DivSmall(10)));
  size_t scale = d.scale;
  if (digits.size() <= scale) digits.insert(0, scale - digits.size() + 1, '0');
  std::string whole = digits.substr(0, digits.size() - scale);
  std::string frac = digits.substr(digits.size() - scale);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  std::string s = frac.empty() ? whole : whole + "." + frac;
  return d.negative && s != "0" ? "-" + s : s;
}

double DecimalToDouble(const DecimalParts& d) {
  return std::strtod(DecimalText(d).c_str(), nullptr);
}

Result<std::optional<DecimalParts>> DecimalFromText(const std::string& text) {
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits;
  int scale = 0;
  bool any = false, point = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (digits.empty() && c == '0') {
        if (point) ++scale;
        continue;
      }
      digits += c;
      if (point) ++scale;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return std::optional<DecimalParts>();
  long exponent = 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    size_t j = i + 1;
    bool eneg = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) eneg = text[j++] == '-';
    size_t start = j;
    while (j < n && text[j] >= '0' && text[j] <= '9' && exponent < 100000)
      exponent = exponent * 10 + (text[j++] - '0');
    if (j == start) return std::optional<DecimalParts>();
    if (eneg) exponent = -exponent;
    i = j;
  }
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i != n) return std::optional<DecimalParts>();
  if (digits.empty()) return std::optional<DecimalParts>(DecimalParts{});
  // Digits beyond what 256 bits hold only decide the rounding.
  bool sticky = false;
  if (digits.size() > 70) {
    for (size_t k = 70; k < digits.size(); ++k) sticky = sticky || digits[k] != '0';
    scale -= int(digits.size() - 70);
    digits.resize(70);
  }
  long s = long(scale) - exponent;
  if (s + long(digits.size()) < -29) return Overflow();
  Big m;
  for (char c : digits) {
    m.MulSmall(10);
    m.AddSmall(uint32_t(c - '0'));
  }
  for (; s < 0; ++s)
    if (!m.MulSmall(10)) return Overflow();
  if (s > 28 + 80) return std::optional<DecimalParts>(DecimalParts{});  // rounds to 0
  JET_ASSIGN_OR_RETURN(DecimalParts d, Normalize(m, int(s), negative, sticky));
  return std::optional<DecimalParts>(d);
}

Result<DecimalParts> DecimalFromDouble(double v, int digits) {
  if (!std::isfinite(v)) return Overflow();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
  JET_ASSIGN_OR_RETURN(std::optional<DecimalParts> d, DecimalFromText(buf));
  if (!d) return Overflow();
  return Trim(*d);
}

int DecimalCompare(const DecimalParts& a, const DecimalParts& b) {
  auto r = DecimalArithmetic(DecimalOp::kSubtract, a, b);
  if (!r.ok()) {
    // Too far apart to subtract: the signs decide.
    return a.negative ? -1 : 1;
  }
  if (!r->lo && !r->hi) return 0;
  return r->negative ? -1 : 1;
}

Result<DecimalParts> DecimalArithmetic(DecimalOp op, const DecimalParts& a,
                                       const DecimalParts& b) {
  Big x = Big::Of(a), y = Big::Of(b);
  switch (op) {
    case DecimalOp::kAdd:
    case DecimalOp::kSubtract: {
      int scale = std::max(a.scale, b.scale);
      for (int i = a.scale; i < scale; ++i) x.MulSmall(10);
      for (int i = b.scale; i < scale; ++i) y.MulSmall(10);
      bool yneg = b.negative != (op == DecimalOp::kSubtract);
      if (a.negative == yneg) {
        x.Add(y);
        return Normalize(x, scale, a.negative);
      }
      if (x.Compare(y) >= 0) {
        x.Sub(y);
        return Normalize(x, scale, a.negative);
      }
      y.Sub(x);
      return Normalize(y, scale, yneg);
    }
    case DecimalOp::kMultiply:
      return Normalize(Multiply(x, y), a.scale + b.scale, a.negative != b.negative);
    case DecimalOp::kDivide: {
      if (y.IsZero()) return DivisionByZero();
      // 38 more places than needed, so that the quotient keeps 29 digits
      // before rounding.
      for (int i = 0; i < 38; ++i) x.MulSmall(10);
      bool inexact = false;
      Big q = Divide(x, y, &inexact);
      int scale = a.scale + 38 - b.scale;
      JET_ASSIGN_OR_RETURN(DecimalParts d, Normalize(q, scale, a.negative != b.negative, inexact));
      return Trim(d);
    }
  }
  return Overflow();
}

DecimalParts DecimalRound(const DecimalParts& d, int places, DecimalRounding how) {
  if (d.scale <= places) return d;
  Big m = Big::Of(d);
  bool sticky = false;
  uint32_t last = 0;
  for (int s = d.scale; s > places; --s) {
    sticky = sticky || last != 0;
    last = m.DivSmall(10);
  }
  bool up = false;
  if (how == DecimalRounding::kFloor)
    up = d.negative && (last || sticky);
  else if (how == DecimalRounding::kHalfEven)
    up = last > 5 || (last == 5 && (sticky || (m.limb[0] & 1)));
  if (up) m.AddSmall(1);  // at most 10^28 / 10: fits
  DecimalParts r;
  r.lo = uint64_t(m.limb[0]) | (uint64_t(m.limb[1]) << 32);
  r.hi = m.limb[2];
  r.scale = uint8_t(places);
  r.negative = d.negative && (r.lo || r.hi);
  return r;
}

Result<int64_t> DecimalToCurrencyUnits(const DecimalParts& d) {
  Big m = Big::Of(d);
  int scale = d.scale;
  for (; scale < 4; ++scale) m.MulSmall(10);
  JET_ASSIGN_OR_RETURN(DecimalParts r, Normalize(m, scale, d.negative));
  // Normalize rounds to 28 places; now to 4.
  Big u = Big::Of(r);
  bool sticky = false;
  uint32_t digit = 0;
  for (int s = r.scale; s > 4; --s) {
    sticky = sticky || digit != 0;
    digit = u.DivSmall(10);
  }
  if (digit > 5 || (digit == 5 && (sticky || (u.limb[0] & 1)))) u.AddSmall(1);
  if (u.limb[2] || u.limb[1] >= 0x80000000u) {
    // Only -2^63 itself reaches the top bit.
    if (!(d.negative && u.limb[2] == 0 && u.limb[1] == 0x80000000u && u.limb[0] == 0))
      return Overflow();
    return INT64_MIN;
  }
  int64_t units = int64_t((uint64_t(u.limb[1]) << 32) | u.limb[0]);
  return d.negative ? -units : units;
}

}  // namespace expr
