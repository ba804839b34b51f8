// SPDX-License-Identifier: Apache-2.0
// Format: the named formats and simple custom formats, with US settings.
//
// Named: General Number, Currency, Fixed, Standard, Percent, Scientific,
// Yes/No, True/False, On/Off, General Date, Long/Medium/Short Date,
// Long/Medium/Short Time. Custom number formats: 0 and # digits, one
// decimal point, thousands commas, %, literal text around the digits
// (quoted, after \, or one of $ + - ( ) space), up to four ;-sections
// (positive, negative, zero, Null; the later ones may be text alone).
// Custom date formats: d dd ddd dddd m
// mm mmm mmmm yy yyyy h hh n nn s ss AM/PM am/pm A/P a/p with / : - , .
// and spaces between. Anything else (exponents, @ and < > text formats,
// w, q, y alone...) is refused as unsupported, except the text formats
// "<" (lower case) and ">" (upper case) on their own.

#include <cctype>
#include <cmath>
#include <cstdio>

#include "expr/calendar.h"
#include "expr/functions.h"

namespace expr {

namespace {

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

struct Named {
  const char* name;
  const char* custom;  // the custom format it stands for; null when coded
};

const Named kNamed[] = {
    {"General Number", nullptr},
    {"Currency", "$#,##0.00;($#,##0.00)"},
    {"Fixed", "0.00"},
    {"Standard", "#,##0.00"},
    {"Percent", "0.00%"},
    {"Scientific", nullptr},
    {"Yes/No", nullptr},
    {"True/False", nullptr},
    {"On/Off", nullptr},
    {"General Date", nullptr},
    {"Long Date", "dddd, mmmm d, yyyy"},
    {"Medium Date", "dd-mmm-yy"},
    {"Short Date", "m/d/yyyy"},
    {"Long Time", "h:nn:ss AM/PM"},
    {"Medium Time", "hh:nn AM/PM"},
    {"Short Time", "hh:nn"},
};

// One element of a custom format.
struct Item {
  enum Kind { kLiteral, kToken } kind;
  std::string text;  // literal text, or the token ("dd", "0", "AM/PM", ...)
};

Status Refuse(const std::string& format) {
  return Status::Unsupported("format \"" + format + "\" is not supported");
}

bool IsDateLetter(char c) {
  c = char(std::tolower(static_cast<unsigned char>(c)));
  return c == 'd' || c == 'm' || c == 'y' || c == 'h' || c == 'n' || c == 's';
}

// Splits a section into items; false for what is not supported.
bool Lex(const std::string& s, std::vector<Item>* out, bool* is_date) {
  *is_date = false;
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == '"') {
      size_t j = s.find('"', i + 1);
      if (j == std::string::npos) return false;
      out->push_back({Item::kLiteral, s.substr(i + 1, j - i - 1)});
      i = j + 1;
    } else if (c == '\\') {
      if (i + 1 >= s.size()) return false;
      out->push_back({Item::kLiteral, s.substr(i + 1, 1)});
      i += 2;
    } else if (s.compare(i, 5, "AM/PM") == 0 || s.compare(i, 5, "am/pm") == 0) {
      out->push_back({Item::kToken, s.substr(i, 5)});
      *is_date = true;
      i += 5;
    } else if (s.compare(i, 3, "A/P") == 0 || s.compare(i, 3, "a/p") == 0) {
      out->push_back({Item::kToken, s.substr(i, 3)});
      *is_date = true;
      i += 3;
    } else if (IsDateLetter(c)) {
      size_t j = i;
      char lower = char(std::tolower(static_cast<unsigned char>(c)));
      while (j < s.size() && std::tolower(static_cast<unsigned char>(s[j])) == lower) ++j;
      std::string run(j - i, lower);
      static const char* const kOk[] = {"d",  "dd",   "ddd", "dddd", "m", "mm", "mmm", "mmmm",
                                        "yy", "yyyy", "h",   "hh",   "n", "nn", "s",   "ss"};
      bool ok = false;
      for (const char* k : kOk) ok = ok || run == k;
      if (!ok) return false;
      out->push_back({Item::kToken, run});
      *is_date = true;
      i = j;
    } else if (c == '0' || c == '#' || c == '.' || c == ',' || c == '%') {
      out->push_back({Item::kToken, std::string(1, c)});
      ++i;
    } else if (c == '/' || c == ':' || c == '-' || c == ' ' || c == '$' || c == '+' || c == '(' ||
               c == ')') {
      out->push_back({Item::kLiteral, std::string(1, c)});
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::vector<std::string> Sections(const std::string& format) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < format.size()) {
      out.back() += c;
      out.back() += format[++i];
      continue;
    }
    if (c == ';' && !quoted)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// A number section: literal prefix, digits, literal suffix.
struct NumberPattern {
  std::string prefix, suffix;
  int min_integer = 0;
  bool thousands = false;
  int min_decimals = 0, max_decimals = 0;
  bool percent = false;
};

bool ToNumberPattern(const std::vector<Item>& items, NumberPattern* p) {
  int state = 0;  // 0 prefix, 1 integer digits, 2 decimals, 3 suffix
  for (const Item& it : items) {
    if (it.kind == Item::kLiteral) {
      if (state == 1 || state == 2) state = 3;
      (state == 0 ? p->prefix : p->suffix) += it.text;
      continue;
    }
    char c = it.text[0];
    if (c == '%') {
      p->percent = true;
      if (state == 1 || state == 2) state = 3;
      (state == 0 ? p->prefix : p->suffix) += "%";
    } else if (c == '0' || c == '#') {
      if (state == 3) return false;
      if (state == 0) state = 1;
      if (state == 1 && c == '0') ++p->min_integer;
      if (state == 2) {
        if (c == '0' && p->max_decimals > p->min_decimals) return false;
        if (c == '0') ++p->min_decimals;
        ++p->max_decimals;
      }
    } else if (c == '.') {
      if (state >= 2) return false;
      state = 2;
    } else if (c == ',') {
      if (state != 1) return false;
      p->thousands = true;
    }
  }
  return state != 0;
}

std::string FormatNumber(double x, const NumberPattern& p) {
  if (p.percent) x *= 100;
  double scale = std::pow(10.0, p.max_decimals);
  // Half away from zero, as Format rounds.
  double r = std::round(std::fabs(x) * scale) / scale;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", p.max_decimals, r);
  std::string s = buf;
  std::string whole = s, frac;
  size_t dot = s.find('.');
  if (dot != std::string::npos) whole = s.substr(0, dot), frac = s.substr(dot + 1);
  while (int(frac.size()) > p.min_decimals && frac.back() == '0') frac.pop_back();
  if (whole == "0" && p.min_integer == 0) whole.clear();
  while (int(whole.size()) < p.min_integer) whole = "0" + whole;
  if (p.thousands && whole.size() > 3) {
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
      if (i && (whole.size() - i) % 3 == 0) grouped += ',';
      grouped += whole[i];
    }
    whole = grouped;
  }
  std::string out = whole;
  if (p.max_decimals > 0 && (!frac.empty() || p.min_decimals > 0))
    out += "." + frac;
  else if (p.max_decimals > 0)
    out += ".";
  return p.prefix + out + p.suffix;
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FormatDateItems(double serial, const std::vector<Item>& items) {
  DateParts p = SplitDate(serial);
  bool ampm = false;
  for (const Item& it : items)
    if (it.kind == Item::kToken && it.text.find('/') != std::string::npos) ampm = true;
  int hour = ampm ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
  std::string out;
  bool after_hour = false;
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& it = items[i];
    const std::string& t = it.text;
    if (it.kind == Item::kLiteral || t == "," || t == ".") {
      out += t;
      continue;
    }
    bool minute = false;
    if (t == "m" || t == "mm") {
      // m right after an hour, or right before seconds, is minutes.
      bool before_second = false;
      for (size_t k = i + 1; k < items.size(); ++k)
        if (items[k].kind == Item::kToken) {
          before_second = items[k].text == "s" || items[k].text == "ss";
          break;
        }
      minute = after_hour || before_second;
    }
    if (t == "d")
      out += std::to_string(p.day);
    else if (t == "dd")
      out += Two(p.day);
    else if (t == "ddd")
      out += std::string(DayName(WeekdayOf(serial))).substr(0, 3);
    else if (t == "dddd")
      out += DayName(WeekdayOf(serial));
    else if (t == "m" || t == "n")
      out += std::to_string(minute || t == "n" ? p.minute : p.month);
    else if (t == "mm" || t == "nn")
      out += Two(minute || t == "nn" ? p.minute : p.month);
    else if (t == "mmm")
      out += std::string(MonthName(p.month)).substr(0, 3);
    else if (t == "mmmm")
      out += MonthName(p.month);
    else if (t == "yy")
      out += Two(p.year % 100);
    else if (t == "yyyy")
      out += std::to_string(p.year);
    else if (t == "h")
      out += std::to_string(hour);
    else if (t == "hh")
      out += Two(hour);
    else if (t == "s")
      out += std::to_string(p.second);
    else if (t == "ss")
      out += Two(p.second);
    else if (t == "AM/PM")
      out += p.hour < 12 ? "AM" : "PM";
    else if (t == "am/pm")
      out += p.hour < 12 ? "am" : "pm";
    else if (t == "A/P")
      out += p.hour < 12 ? "A" : "P";
    else if (t == "a/p")
      out += p.hour < 12 ? "a" : "p";
    after_hour = t == "h" || t == "hh";
  }
  return out;
}

// The custom format a text stands for, after the names.
const char* Resolve(const std::string& format, bool* coded) {
  *coded = false;
  for (const Named& n : kNamed) {
    if (SameWord(format, n.name)) {
      *coded = n.custom == nullptr;
      return n.custom ? n.custom : n.name;
    }
  }
  return nullptr;
}

}  // namespace

Status CheckFormat(const std::string& format) {
  if (format == "<" || format == ">") return Status::Ok();
  bool coded;
  const char* named = Resolve(format, &coded);
  if (coded) return Status::Ok();
  std::string custom = named ? named : format;
  std::vector<std::string> sections = Sections(custom);
  if (sections.size() > 4) return Refuse(format);
  bool any_date = false, any_number = false;
  for (size_t i = 0; i < sections.size(); ++i) {
    const std::string& s = sections[i];
    std::vector<Item> items;
    bool is_date;
    if (!Lex(s, &items, &is_date)) return Refuse(format);
    if (is_date) {
      for (const Item& it : items)
        if (it.kind == Item::kToken && (it.text == "0" || it.text == "#" || it.text == "%"))
          return Refuse(format);
      any_date = true;
    } else {
      // Sections after the first may be literal text alone ("0;(0);-").
      bool digits = false;
      for (const Item& it : items)
        digits = digits || (it.kind == Item::kToken && (it.text == "0" || it.text == "#"));
      NumberPattern p;
      if (!s.empty() && (digits || i == 0) && !ToNumberPattern(items, &p)) return Refuse(format);
      any_number = true;
    }
  }
  if (any_date && (any_number || sections.size() > 1)) return Refuse(format);
  if (custom.empty()) return Refuse(format);
  return Status::Ok();
}

Result<Value> FormatValue(const Value& v, const std::string& format) {
  JET_RETURN_IF_ERROR(CheckFormat(format));
  if (format == "<" || format == ">") {  // the text in lower or upper case
    if (v.is_null()) return Value::Null();
    std::string s = DisplayText(v);
    for (char& c : s)
      c = char(format == "<" ? std::tolower(static_cast<unsigned char>(c))
                             : std::toupper(static_cast<unsigned char>(c)));
    return Value::String(s);
  }
  bool coded;
  const char* named = Resolve(format, &coded);
  if (coded) {
    std::string name = named;
    if (v.is_null()) return Value::Null();
    if (name == "General Date") {
      JET_ASSIGN_OR_RETURN(Value d, ToDate(v));
      return Value::String(DisplayText(d));
    }
    JET_ASSIGN_OR_RETURN(Value n, ToNumber(v));
    if (name == "General Number") {
      return Value::String(DisplayText(
          n.type() == Type::kDate || n.type() == Type::kBoolean ? Value::Double(n.AsDouble()) : n));
    }
    double x = n.type() == Type::kCurrency ? double(n.currency_units()) / 10000.0 : n.AsDouble();
    if (name == "Scientific") {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2E", x);
      std::string s = buf;
      size_t e = s.find('E');
      std::string exp = s.substr(e + 2);
      while (exp.size() > 2 && exp[0] == '0') exp.erase(0, 1);
      return Value::String(s.substr(0, e + 2) + exp);
    }
    bool b = x != 0;
    if (name == "Yes/No") return Value::String(b ? "Yes" : "No");
    if (name == "True/False") return Value::String(b ? "True" : "False");
    return Value::String(b ? "On" : "Off");
  }
  std::string custom = named ? named : format;
  std::vector<std::string> sections = Sections(custom);
  std::vector<Item> items;
  bool is_date;
  Lex(sections[0], &items, &is_date);
  if (is_date) {
    if (v.is_null()) return Value::Null();
    JET_ASSIGN_OR_RETURN(Value d, ToDate(v));
    return Value::String(FormatDateItems(d.real(), items));
  }
  // Numbers: the section for the sign, or the first.
  size_t section = 0;
  double x = 0;
  if (v.is_null()) {
    if (sections.size() < 4) return Value::Null();
    section = 3;
  } else {
    JET_ASSIGN_OR_RETURN(Value n, ToNumber(v));
    x = n.type() == Type::kCurrency ? double(n.currency_units()) / 10000.0 : n.AsDouble();
    if (x < 0 && sections.size() > 1 && !sections[1].empty()) section = 1;
    if (x == 0 && sections.size() > 2 && !sections[2].empty()) section = 2;
  }
  items.clear();
  Lex(sections[section], &items, &is_date);
  NumberPattern p;
  if (!ToNumberPattern(items, &p)) {
    // A section of literal text alone: the text itself.
    std::string literal;
    for (const Item& it : items) literal += it.text;
    return Value::String(literal);
  }
  std::string s = FormatNumber(x, p);
  if (x < 0 && section == 0) {
    NumberPattern unsigned_p = p;
    std::string body = FormatNumber(x, unsigned_p);
    // Only when the rounded number is not zero does the sign show.
    bool nonzero = body.find_first_of("123456789") != std::string::npos;
    s = nonzero ? "-" + body : body;
  }
  return Value::String(s);
}

}  // namespace expr
