// SPDX-License-Identifier: Apache-2.0
// Format and the Format-like functions, with US English settings.
//
// Format(value, format, firstdayofweek, firstweekofyear). Named formats:
// General Number, Currency, Euro, Fixed, Standard, Percent, Scientific,
// Yes/No, True/False, On/Off, General Date, Long/Medium/Short Date,
// Long/Medium/Short Time. A custom format has up to four ;-sections
// (positive, negative, zero, Null) of one kind: number (format_number.cc),
// date (format_date.cc) or text (@ & < > !, here: at most two sections, the
// second for Null and ""). Literal text is quoted, follows a \, or is
// punctuation; a colour ([Red] ...) shows nothing. A value the format's
// kind cannot read (text that is not a number under a number format) is
// shown as it is. What is not supported (an unknown letter, a date mixed
// with digits) is refused as unsupported, when parsing for a literal format.
//
// FormatNumber, FormatCurrency, FormatPercent, FormatDateTime, MonthName
// and WeekdayName follow the VBA functions of those names.

#include "expr/format.h"

#include <cctype>
#include <optional>

#include "expr/calendar.h"
#include "expr/functions.h"

namespace expr {

namespace {

using Args = std::vector<Value>;

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

char Lower(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

struct Named {
  const char* name;
  const char* custom;  // the custom format it stands for; null when coded
};

const Named kNamed[] = {
    {"General Number", nullptr},
    {"Currency", "$#,##0.00;($#,##0.00)"},
    {"Euro", "\xE2\x82\xAC#,##0.00;(\xE2\x82\xAC#,##0.00)"},
    {"Fixed", "0.00"},
    {"Standard", "#,##0.00"},
    {"Percent", "0.00%"},
    {"Scientific", "0.00E+00"},
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

const char* const kColours[] = {"Black", "Blue", "Green", "Cyan", "Red", "Magenta", "Yellow",
                                "White"};

Status Refuse(const std::string& format) {
  return Status::Unsupported("format \"" + format + "\" is not supported");
}

// The bytes of the UTF-8 character at s[i].
size_t CharLength(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  return std::min(n, s.size() - i);
}

// Splits at the semicolons outside quotes, after backslashes and outside
// brackets.
std::vector<std::string> Sections(const std::string& format) {
  std::vector<std::string> out(1);
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '[') {
      quote = c == '"' ? '"' : ']';
    } else if (c == '\\' && i + 1 < format.size()) {
      out.back() += c;
      c = format[++i];
    } else if (c == ';') {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

bool StartsWithWord(const std::string& s, size_t i, const char* word) {
  std::string_view w(word);
  return s.size() - i >= w.size() && SameWord(std::string_view(s).substr(i, w.size()), w);
}

// The length of the clock marker at s[i] (AM/PM, AMPM, A/P in any case),
// or 0.
size_t ClockMarker(const std::string& s, size_t i) {
  if (StartsWithWord(s, i, "am/pm")) return 5;
  if (StartsWithWord(s, i, "ampm")) return 4;
  if (StartsWithWord(s, i, "a/p")) return 3;
  return 0;
}

bool IsDateLetter(char c) {
  c = Lower(c);
  return std::string_view("cdwmqyhnst").find(c) != std::string_view::npos;
}

// What a section formats, from its special characters.
SectionKind Classify(const std::string& s) {
  bool date = false, number = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      size_t j = s.find('"', i + 1);
      i = j == std::string::npos ? s.size() : j;
    } else if (c == '[') {
      size_t j = s.find(']', i + 1);
      i = j == std::string::npos ? s.size() : j;
    } else if (c == '\\') {
      ++i;
    } else if (c == '@' || c == '&' || c == '<' || c == '>' || c == '!') {
      return SectionKind::kText;
    } else if (IsDateLetter(c) || ClockMarker(s, i) || StartsWithWord(s, i, "aaaa")) {
      date = true;
    } else if (c == '0' || c == '#') {
      number = true;
    }
  }
  if (date) return SectionKind::kDate;
  return number ? SectionKind::kNumber : SectionKind::kLiteral;
}

// Splits a section of the given kind into items; false for what is not
// supported.
bool Lex(const std::string& s, SectionKind kind, std::vector<FormatItem>* out) {
  auto literal = [out](std::string text) { out->push_back({FormatItem::kLiteral, std::move(text)}); };
  auto token = [out](std::string text) { out->push_back({FormatItem::kToken, std::move(text)}); };
  for (size_t i = 0; i < s.size();) {
    char c = s[i];
    if (c == '"') {
      size_t j = s.find('"', i + 1);
      if (j == std::string::npos) return false;
      literal(s.substr(i + 1, j - i - 1));
      i = j + 1;
      continue;
    }
    if (c == '\\') {
      if (i + 1 >= s.size()) return false;
      size_t n = CharLength(s, i + 1);
      literal(s.substr(i + 1, n));
      i += 1 + n;
      continue;
    }
    if (c == '*') return false;  // Access's fill: a text result has no width to fill
    if (c == '[') {  // a colour, which a string result cannot show
      size_t j = s.find(']', i + 1);
      if (j == std::string::npos) return false;
      bool known = false;
      for (const char* colour : kColours) known = known || SameWord(s.substr(i + 1, j - i - 1), colour);
      if (!known) return false;
      i = j + 1;
      continue;
    }
    if (kind == SectionKind::kText) {
      if (c == '@' || c == '&' || c == '<' || c == '>' || c == '!') {
        token(std::string(1, c));
        ++i;
      } else {
        size_t n = CharLength(s, i);
        literal(s.substr(i, n));
        i += n;
      }
      continue;
    }
    bool letter = std::isalpha(static_cast<unsigned char>(c)) != 0;
    if (kind == SectionKind::kDate) {
      if (size_t n = ClockMarker(s, i)) {
        std::string t = s.substr(i, n);
        token(n == 4 ? "ampm" : t);
        i += n;
        continue;
      }
      if (StartsWithWord(s, i, "aaaa")) {
        token("aaaa");
        i += 4;
        continue;
      }
      if (IsDateLetter(c)) {
        size_t j = i;
        while (j < s.size() && Lower(s[j]) == Lower(c)) ++j;
        std::string run(j - i, Lower(c));
        static const char* const kRuns[] = {
            "c",  "d",    "dd", "ddd", "dddd", "ddddd", "dddddd", "w", "ww", "m",  "mm",
            "mmm", "mmmm", "q", "y",   "yy",   "yyyy",  "h",      "hh", "n", "nn", "s",
            "ss", "ttttt"};
        bool ok = false;
        for (const char* r : kRuns) ok = ok || run == r;
        if (!ok) return false;
        token(run);
        i = j;
        continue;
      }
      if (letter || c == '0' || c == '#' || c == '%' || c == '@' || c == '&') return false;
    } else {
      if (c == '0' || c == '#' || c == '.' || c == ',' || c == '%') {
        token(std::string(1, c));
        ++i;
        continue;
      }
      if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
        token(s.substr(i, 2));
        i += 2;
        continue;
      }
      if (letter || (c >= '1' && c <= '9')) return false;
    }
    size_t n = CharLength(s, i);
    literal(s.substr(i, n));
    i += n;
  }
  return true;
}

// A format read once: its sections' items and the kind they share.
struct Compiled {
  enum Coded { kNone, kGeneralNumber, kGeneralDate, kYesNo, kTrueFalse, kOnOff } coded = kNone;
  SectionKind kind = SectionKind::kLiteral;
  std::vector<std::vector<FormatItem>> sections;
  std::vector<bool> empty;  // a section with nothing in it
};

Status Compile(const std::string& format, Compiled* out) {
  std::string custom = format;
  for (const Named& n : kNamed) {
    if (!SameWord(format, n.name)) continue;
    if (n.custom) {
      custom = n.custom;
      break;
    }
    std::string_view name = n.name;
    out->coded = name == "General Number" ? Compiled::kGeneralNumber
                 : name == "General Date" ? Compiled::kGeneralDate
                 : name == "Yes/No"       ? Compiled::kYesNo
                 : name == "True/False"   ? Compiled::kTrueFalse
                                          : Compiled::kOnOff;
    return Status::Ok();
  }
  std::vector<std::string> sections = Sections(custom);
  if (sections.size() > 4) return Refuse(format);
  std::vector<SectionKind> kinds;
  for (const std::string& s : sections) {
    SectionKind k = Classify(s);
    kinds.push_back(k);
    if (k == SectionKind::kLiteral) continue;
    if (out->kind != SectionKind::kLiteral && out->kind != k) return Refuse(format);
    out->kind = k;
  }
  if (out->kind == SectionKind::kText && sections.size() > 2) return Refuse(format);
  if (out->kind == SectionKind::kDate && sections.size() > 1) return Refuse(format);
  for (size_t i = 0; i < sections.size(); ++i) {
    std::vector<FormatItem> items;
    SectionKind k = out->kind == SectionKind::kLiteral ? SectionKind::kNumber : out->kind;
    if (!Lex(sections[i], k, &items)) return Refuse(format);
    if (k == SectionKind::kNumber && !NumberSectionSupported(items)) return Refuse(format);
    out->sections.push_back(std::move(items));
    out->empty.push_back(sections[i].empty());
  }
  return Status::Ok();
}

// Upper or lower case for ASCII and Latin-1 letters.
char32_t MapCase(char32_t c, bool upper) {
  bool latin = c >= 0xC0 && c <= 0xFE && c != 0xD7 && c != 0xF7;
  if (upper && ((c >= 'a' && c <= 'z') || (latin && c >= 0xE0))) return c - 32;
  if (!upper && ((c >= 'A' && c <= 'Z') || (latin && c < 0xE0))) return c + 32;
  return c;
}

// A text section: @ shows a character or a space, & a character or
// nothing, filled from the right (from the left after !); characters left
// over go where the first (last) placeholder is; < and > change the case.
std::string FormatTextSection(const std::string& value, const std::vector<FormatItem>& items) {
  std::u32string text = DecodeUtf8(value);
  size_t slots = 0;
  bool left = false;
  int case_map = 0;  // -1 lower, 1 upper
  for (const FormatItem& it : items) {
    if (it.kind != FormatItem::kToken) continue;
    if (it.text == "@" || it.text == "&") ++slots;
    if (it.text == "!") left = true;
    if (it.text == "<") case_map = -1;
    if (it.text == ">") case_map = 1;
  }
  if (case_map)
    for (char32_t& c : text) c = MapCase(c, case_map > 0);
  if (slots == 0) {  // < or > alone: the text, then any literals
    std::string out = EncodeUtf8(text);
    for (const FormatItem& it : items)
      if (it.kind == FormatItem::kLiteral) out += it.text;
    return out;
  }
  size_t extra = text.size() > slots ? text.size() - slots : 0;
  size_t missing = text.size() < slots ? slots - text.size() : 0;
  std::u32string out;
  size_t slot = 0, next = 0;  // placeholders seen, characters used
  for (const FormatItem& it : items) {
    if (it.kind == FormatItem::kLiteral) {
      out += DecodeUtf8(it.text);
      continue;
    }
    if (it.text != "@" && it.text != "&") continue;
    bool first = slot == 0, last = slot + 1 == slots;
    ++slot;
    if (!left && first) {  // the leftmost placeholder also takes what is left over
      out += text.substr(0, extra);
      next = extra;
    }
    bool has = left ? next < text.size() : slot > missing;
    if (has)
      out += text[next++];
    else if (it.text == "@")
      out += U' ';
    if (left && last) out += text.substr(std::min(next, text.size()));
  }
  return EncodeUtf8(out);
}

// A value read as a number or a date; text that does not read as one is
// shown as it is (nullopt), any other failure is the error.
Result<std::optional<Value>> ReadAs(const Value& v, bool date) {
  Result<Value> r = date ? ToDate(v) : ToNumber(v);
  if (r.ok()) return std::optional<Value>(*r);
  if (v.type() == Type::kString) return std::optional<Value>();
  return r.status();
}

Result<Value> FormatCoded(const Value& v, Compiled::Coded coded) {
  if (v.is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(std::optional<Value> read, ReadAs(v, coded == Compiled::kGeneralDate));
  if (!read) return v;
  const Value& n = *read;
  if (coded == Compiled::kGeneralDate) return Value::String(DisplayText(n));
  if (coded == Compiled::kGeneralNumber)
    return Value::String(DisplayText(
        n.type() == Type::kDate || n.type() == Type::kBoolean ? Value::Double(n.AsDouble()) : n));
  bool b = n.type() == Type::kCurrency ? n.currency_units() != 0 : n.AsDouble() != 0;
  if (coded == Compiled::kYesNo) return Value::String(b ? "Yes" : "No");
  if (coded == Compiled::kTrueFalse) return Value::String(b ? "True" : "False");
  return Value::String(b ? "On" : "Off");
}

Result<Value> FormatNumberValue(const Value& v, const Compiled& c) {
  const auto& s = c.sections;
  if (v.is_null()) {
    if (s.size() < 4 || c.empty[3]) return Value::Null();
    return Value::String(FormatNumberSection(Value::Integer(0), s[3], false));
  }
  JET_ASSIGN_OR_RETURN(std::optional<Value> n, ReadAs(v, false));
  if (!n) return v;
  double sign = n->type() == Type::kCurrency ? double(n->currency_units()) : n->AsDouble();
  size_t section = 0;
  if (sign < 0 && s.size() > 1 && !c.empty[1]) section = 1;
  if (sign == 0 && s.size() > 2 && !c.empty[2]) section = 2;
  // The first section shows the sign itself; the others are written for it.
  return Value::String(FormatNumberSection(*n, s[section], sign < 0 && section == 0));
}

}  // namespace

Status CheckFormat(const std::string& format) {
  Compiled c;
  return Compile(format, &c);
}

Result<Value> FormatValue(const Value& v, const std::string& format, const WeekRule& rule) {
  if (format.empty()) return v.is_null() ? Value::Null() : Value::String(DisplayText(v));
  Compiled c;
  JET_RETURN_IF_ERROR(Compile(format, &c));
  if (c.coded != Compiled::kNone) return FormatCoded(v, c.coded);
  switch (c.kind) {
    case SectionKind::kText: {
      bool blank = v.is_null() || (v.type() == Type::kString && v.text().empty());
      if (blank && c.sections.size() > 1) return Value::String(FormatTextSection("", c.sections[1]));
      if (v.is_null()) return Value::Null();
      return Value::String(FormatTextSection(DisplayText(v), c.sections[0]));
    }
    case SectionKind::kDate: {
      if (v.is_null()) return Value::Null();
      JET_ASSIGN_OR_RETURN(std::optional<Value> d, ReadAs(v, true));
      if (!d) return v;
      return Value::String(FormatDateSection(d->real(), c.sections[0], rule));
    }
    default:
      return FormatNumberValue(v, c);
  }
}

Result<Value> FormatValue(const Value& v, const std::string& format) {
  return FormatValue(v, format, WeekRule{});
}

// ---- the functions

namespace {

Result<int64_t> WholeNumber(const Value& v) {
  if (v.is_null()) return InvalidUseOfNull();
  JET_ASSIGN_OR_RETURN(Value l, ToLong(v));
  return l.integer();
}

// An optional whole-number argument in [lo, hi], `absent` when left out.
Result<int64_t> Setting(const Args& a, size_t i, int64_t absent, int64_t lo, int64_t hi,
                        const char* what) {
  if (a.size() <= i) return absent;
  JET_ASSIGN_OR_RETURN(int64_t n, WholeNumber(a[i]));
  if (n < lo || n > hi) return InvalidCall(std::string(what) + " " + std::to_string(n));
  return n;
}

}  // namespace

Result<Value> FnFormat(const Args& a, const Context&) {
  if (a.size() < 2) return a[0].is_null() ? Value::Null() : Value::String(DisplayText(a[0]));
  if (a[1].is_null()) return InvalidUseOfNull();
  WeekRule rule;
  JET_ASSIGN_OR_RETURN(int64_t day, Setting(a, 2, 1, 0, 7, "first day of week"));
  JET_ASSIGN_OR_RETURN(int64_t week, Setting(a, 3, 1, 0, 3, "first week of year"));
  rule.first_day = day == 0 ? 1 : int(day);  // 0: the system's, Sunday in the US
  rule.first_week = week == 0 ? 1 : int(week);
  return FormatValue(a[0], DisplayText(a[1]), rule);
}

// FormatNumber, FormatCurrency and FormatPercent: digits after the point
// (-1: the regional two), then the tristates (-2 the regional setting, -1
// yes, 0 no) for a leading zero, parentheses for negatives and grouping.
// US settings: a leading zero, grouping, negatives with a minus sign except
// currency, which is in parentheses.
Result<Value> FormatFixed(const Args& a, char style) {
  JET_ASSIGN_OR_RETURN(int64_t places, Setting(a, 1, -1, -1, 255, "digits after decimal"));
  JET_ASSIGN_OR_RETURN(int64_t leading, Setting(a, 2, -2, -2, 0, "include leading digit"));
  JET_ASSIGN_OR_RETURN(int64_t parens, Setting(a, 3, -2, -2, 0, "use parentheses"));
  JET_ASSIGN_OR_RETURN(int64_t group, Setting(a, 4, -2, -2, 0, "group digits"));
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value n, ToNumber(a[0]));
  if (places < 0) places = 2;
  std::string format = group != 0 ? "#,##" : "#";
  format += leading != 0 ? "0" : "#";
  if (places > 0) format += "." + std::string(size_t(places), '0');
  if (style == '$') format = "$" + format;
  if (style == '%') format += "%";
  bool paren = parens == -1 || (parens == -2 && style == '$');
  if (paren) format += ";(" + format + ")";
  return FormatValue(n, format);
}

Result<Value> FnFormatNumber(const Args& a, const Context&) { return FormatFixed(a, 'n'); }
Result<Value> FnFormatCurrency(const Args& a, const Context&) { return FormatFixed(a, '$'); }
Result<Value> FnFormatPercent(const Args& a, const Context&) { return FormatFixed(a, '%'); }

Result<Value> FnFormatDateTime(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t named, Setting(a, 1, 0, 0, 4, "date format"));
  if (a[0].is_null()) return Value::Null();
  JET_ASSIGN_OR_RETURN(Value d, ToDate(a[0]));
  static const char* const kNames[] = {"General Date", "Long Date", "Short Date", "Long Time",
                                       "Short Time"};
  return FormatValue(d, kNames[named]);
}

Result<Value> FnMonthName(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t month, Setting(a, 0, 1, 1, 12, "month"));
  bool abbreviate = false;
  if (a.size() > 1) {
    if (a[1].is_null()) return InvalidUseOfNull();
    JET_ASSIGN_OR_RETURN(abbreviate, ToBoolean(a[1]));
  }
  return Value::String(MonthText(int(month), abbreviate));
}

Result<Value> FnWeekdayName(const Args& a, const Context&) {
  JET_ASSIGN_OR_RETURN(int64_t weekday, Setting(a, 0, 1, 1, 7, "weekday"));
  bool abbreviate = false;
  if (a.size() > 1) {
    if (a[1].is_null()) return InvalidUseOfNull();
    JET_ASSIGN_OR_RETURN(abbreviate, ToBoolean(a[1]));
  }
  JET_ASSIGN_OR_RETURN(int64_t first, Setting(a, 2, 1, 0, 7, "first day of week"));
  if (first == 0) first = 1;  // the system's: Sunday in the US
  return Value::String(DayText(int((weekday - 1 + first - 1) % 7 + 1), abbreviate));
}

}  // namespace expr
