// SPDX-License-Identifier: Apache-2.0
// Number sections of a custom format: 0 and # digit placeholders, one
// decimal point, thousands commas (between placeholders: grouping; right
// before the point or at the end of the digits: divide by 1000 each), %,
// scientific E+ E- e+ e-, and literal text anywhere, also between
// placeholders ("000-00-0000").
//
// The number is turned into decimal digits first (15 significant for a
// Double, 7 for a Single, exact for integers and Currency) and rounded on
// those digits, half away from zero, so that 2.675 shows as 2.68 to two
// places as it does in Access, and a scale by 100 or 1000 only moves the
// decimal point.

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "expr/format.h"

namespace expr {

namespace {

// value = 0.d1 d2 d3 ... x 10^point; no leading or trailing zeros in d;
// zero is d empty.
struct Digits {
  std::string d;
  int64_t point = 0;
};

void Trim(Digits* x) {
  size_t lead = x->d.find_first_not_of('0');
  if (lead == std::string::npos) {
    *x = Digits{};
    return;
  }
  x->d.erase(0, lead);
  x->point -= int64_t(lead);
  x->d.erase(x->d.find_last_not_of('0') + 1);
}

Digits FromUnsigned(uint64_t u, int64_t decimals) {
  Digits x;
  x.d = std::to_string(u);
  x.point = int64_t(x.d.size()) - decimals;
  Trim(&x);
  return x;
}

Digits FromReal(double v, int significant) {
  Digits x;
  v = std::fabs(v);
  if (!std::isfinite(v) || v == 0) return x;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", significant - 1, v);
  // d.ddddde[+-]xx
  std::string s = buf;
  size_t e = s.find('e');
  x.d = s.substr(0, 1) + s.substr(2, e - 2);
  x.point = std::atoi(s.c_str() + e + 1) + 1;
  Trim(&x);
  return x;
}

// The magnitude of a numeric value as decimal digits.
Digits MagnitudeOf(const Value& n) {
  switch (n.type()) {
    case Type::kBoolean:
    case Type::kInteger:
    case Type::kLong: {
      int64_t i = n.integer();
      return FromUnsigned(i < 0 ? uint64_t(0) - uint64_t(i) : uint64_t(i), 0);
    }
    case Type::kCurrency: {
      int64_t u = n.currency_units();
      return FromUnsigned(u < 0 ? uint64_t(0) - uint64_t(u) : uint64_t(u), 4);
    }
    case Type::kSingle:
      return FromReal(n.real(), 7);
    default:
      return FromReal(n.AsDouble(), 15);
  }
}

// Rounds to `places` digits after the point, half away from zero.
void RoundTo(Digits* x, int64_t places) {
  int64_t keep = x->point + places;
  if (keep >= int64_t(x->d.size())) return;
  if (keep < 0) {
    *x = Digits{};
    return;
  }
  bool up = x->d[size_t(keep)] >= '5';
  x->d.resize(size_t(keep));
  if (up) {
    size_t i = x->d.size();
    while (i > 0 && x->d[i - 1] == '9') x->d[--i] = '0';
    if (i == 0) {
      x->d.insert(0, 1, '1');
      ++x->point;
    } else {
      ++x->d[i - 1];
    }
  }
  Trim(x);
}

// The digits before the point ("" for less than one).
std::string WholeDigits(const Digits& x) {
  if (x.point <= 0) return "";
  std::string s = x.d.substr(0, size_t(std::min<int64_t>(x.point, int64_t(x.d.size()))));
  s.append(size_t(x.point - int64_t(s.size())), '0');
  return s;
}

// The i-th digit after the point.
char FractionDigit(const Digits& x, int64_t i) {
  int64_t at = x.point + i;
  return at >= 0 && at < int64_t(x.d.size()) ? x.d[size_t(at)] : '0';
}

bool IsDigitSlot(const FormatItem& it) {
  return it.kind == FormatItem::kToken && (it.text == "0" || it.text == "#");
}

struct Layout {
  int64_t int_slots = 0, frac_slots = 0, frac_min = 0, exp_slots = 0, exp_min = 0;
  int64_t scale = 0;  // thousands divided away
  bool point = false, grouped = false, percent = false, scientific = false, exp_plus = false;
};

bool ReadLayout(const std::vector<FormatItem>& items, Layout* l) {
  int region = 0;  // 0 whole digits, 1 after the point, 2 exponent
  int64_t pending_commas = 0;
  bool slot_seen = false;
  for (const FormatItem& it : items) {
    if (it.kind == FormatItem::kLiteral) continue;
    const std::string& t = it.text;
    if (t == "0" || t == "#") {
      if (region == 0) {
        if (pending_commas && slot_seen) l->grouped = true;
        pending_commas = 0;
        ++l->int_slots;
        slot_seen = true;
      } else if (region == 1) {
        ++l->frac_slots;
        if (t == "0") l->frac_min = l->frac_slots;
      } else {
        ++l->exp_slots;
        if (t == "0") ++l->exp_min;
      }
    } else if (t == ".") {
      if (region != 0) return false;
      if (slot_seen) l->scale += pending_commas;
      pending_commas = 0;
      region = 1;
      l->point = true;
    } else if (t == ",") {
      if (region == 0) ++pending_commas;
    } else if (t == "%") {
      l->percent = true;
    } else {  // E+ E- e+ e-
      if (region == 2 || (!slot_seen && l->frac_slots == 0)) return false;
      if (region == 0 && slot_seen) l->scale += pending_commas;
      pending_commas = 0;
      region = 2;
      l->scientific = true;
      l->exp_plus = t[1] == '+';
    }
  }
  if (region == 0 && slot_seen) l->scale += pending_commas;
  // An exponent needs at least one digit placeholder of its own.
  return !l->scientific || l->exp_slots > 0;
}

}  // namespace

bool NumberSectionSupported(const std::vector<FormatItem>& items) {
  Layout l;
  return ReadLayout(items, &l);
}

std::string FormatNumberSection(const Value& number, const std::vector<FormatItem>& items,
                                bool negative) {
  Layout l;
  ReadLayout(items, &l);
  Digits x = MagnitudeOf(number);
  if (l.percent) x.point += 2;
  x.point -= 3 * l.scale;
  if (x.d.empty()) x.point = 0;

  int64_t exponent = 0;
  if (l.scientific && !x.d.empty()) {
    int64_t whole = std::max<int64_t>(1, l.int_slots);
    exponent = x.point - whole;
    x.point = whole;
    RoundTo(&x, l.frac_slots);
    if (x.point > whole) {  // 9.99 rounded up to 10.0
      ++exponent;
      x.point = whole;
    }
  } else {
    RoundTo(&x, l.frac_slots);
  }
  bool any_slot = l.int_slots + l.frac_slots > 0;

  // What each whole-digit placeholder shows, the leftmost taking every
  // digit the others leave.
  std::string whole = WholeDigits(x);
  std::vector<std::string> slots;
  {
    int64_t n = int64_t(whole.size()), j = l.int_slots - 1;
    for (const FormatItem& it : items) {
      if (!IsDigitSlot(it)) continue;
      if (j < 0) break;
      std::string s;
      if (j == l.int_slots - 1 && n > j)
        s = whole.substr(0, size_t(n - j));
      else if (j < n)
        s = whole.substr(size_t(n - 1 - j), 1);
      else if (it.text == "0")
        s = "0";
      slots.push_back(s);
      --j;
    }
  }
  int64_t total = 0;
  for (const std::string& s : slots) total += int64_t(s.size());
  // The fraction: trailing zeros go down to the last 0 placeholder.
  int64_t shown = l.frac_slots;
  while (shown > l.frac_min && FractionDigit(x, shown - 1) == '0') --shown;
  std::string exp_text = std::to_string(exponent < 0 ? -exponent : exponent);
  if (int64_t(exp_text.size()) < l.exp_min)
    exp_text.insert(0, size_t(l.exp_min - int64_t(exp_text.size())), '0');

  std::string out;
  if (negative && any_slot && !x.d.empty()) out = "-";
  int region = 0;
  size_t slot = 0;
  int64_t placed = 0, frac = 0;
  bool exp_written = false;
  for (const FormatItem& it : items) {
    const std::string& t = it.text;
    if (it.kind == FormatItem::kLiteral) {
      out += t;
    } else if (t == "0" || t == "#") {
      if (region == 0) {
        for (char c : slots[slot]) {
          out += c;
          int64_t from_right = total - 1 - placed++;
          if (l.grouped && from_right > 0 && from_right % 3 == 0) out += ',';
        }
        ++slot;
      } else if (region == 1) {
        if (frac < shown) out += FractionDigit(x, frac);
        ++frac;
      } else if (!exp_written) {
        out += exp_text;
        exp_written = true;
      }
    } else if (t == ".") {
      if (l.int_slots == 0) out += whole;
      out += '.';
      region = 1;
    } else if (t == "%") {
      out += '%';
    } else if (t == ",") {
      // grouping and scaling, done above
    } else {
      out += t[0];
      if (exponent < 0)
        out += '-';
      else if (l.exp_plus)
        out += '+';
      region = 2;
    }
  }
  return out;
}

}  // namespace expr
