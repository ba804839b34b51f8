// The JSON reader: a recursive-descent parser over the whole text, with a
// depth limit, that reports the first fault with its line and column.

#include "json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <unordered_set>

#include "jet/value.h"
#include "text.h"

namespace jet {

JsonValue JsonValue::Bool(bool b) {
  JsonValue v;
  v.kind_ = Kind::kBool;
  v.bool_ = b;
  return v;
}

JsonValue JsonValue::Number(std::string source_text) {
  JsonValue v;
  v.kind_ = Kind::kNumber;
  v.text_ = std::move(source_text);
  return v;
}

JsonValue JsonValue::String(std::string s) {
  JsonValue v;
  v.kind_ = Kind::kString;
  v.text_ = std::move(s);
  return v;
}

JsonValue JsonValue::Array(std::vector<JsonValue> items) {
  JsonValue v;
  v.kind_ = Kind::kArray;
  v.items_ = std::move(items);
  return v;
}

JsonValue JsonValue::Object(std::vector<Member> members) {
  JsonValue v;
  v.kind_ = Kind::kObject;
  v.members_ = std::move(members);
  return v;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const Member& m : members_) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

bool JsonValue::AsInt64(int64_t* out) const {
  if (kind_ != Kind::kNumber || text_.find_first_of(".eE") != std::string::npos) return false;
  const char* end = text_.data() + text_.size();
  auto res = std::from_chars(text_.data(), end, *out);
  return res.ec == std::errc() && res.ptr == end;
}

bool JsonValue::AsDouble(double* out) const {
  if (kind_ != Kind::kNumber) return false;
  const char* end = text_.data() + text_.size();
  auto res = std::from_chars(text_.data(), end, *out);
  return res.ec == std::errc() && res.ptr == end && std::isfinite(*out);
}

bool JsonValue::AsFloat(float* out) const {
  if (kind_ != Kind::kNumber) return false;
  const char* end = text_.data() + text_.size();
  auto res = std::from_chars(text_.data(), end, *out);
  return res.ec == std::errc() && res.ptr == end && std::isfinite(*out);
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the JSON number at the start of `text`, or 0 if it is malformed:
// then *error says what was expected at offset *error_at, or is null for a
// leading zero.
size_t ScanNumber(std::string_view text, const char** error, size_t* error_at) {
  size_t i = 0;
  auto fail = [&](const char* why) {
    *error = why;
    *error_at = i;
    return size_t(0);
  };
  if (i < text.size() && text[i] == '-') ++i;
  if (i >= text.size() || !IsDigit(text[i])) return fail("a digit");
  if (text[i] == '0') {
    ++i;
    if (i < text.size() && IsDigit(text[i])) {
      *error_at = 0;
      *error = nullptr;  // a leading zero
      return 0;
    }
  } else {
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (i >= text.size() || !IsDigit(text[i])) return fail("a digit after the decimal point");
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= text.size() || !IsDigit(text[i])) return fail("a digit in the exponent");
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  return i;
}

}  // namespace

bool IsJsonNumber(std::string_view text) {
  const char* error;
  size_t at;
  return !text.empty() && ScanNumber(text, &error, &at) == text.size();
}

const char* JsonKindName(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::kNull:
      return "null";
    case JsonValue::Kind::kBool:
      return "boolean";
    case JsonValue::Kind::kNumber:
      return "number";
    case JsonValue::Kind::kString:
      return "string";
    case JsonValue::Kind::kArray:
      return "array";
    case JsonValue::Kind::kObject:
      return "object";
  }
  return "value";
}

namespace {

// Objects with fewer keys than this look for a repeated key one by one.
constexpr size_t kLinearKeys = 16;

class Parser {
 public:
  Parser(std::string_view text, const JsonParseOptions& options)
      : text_(text), max_depth_(options.max_depth) {}

  Result<JsonValue> ParseDocument() {
    JsonValue v;
    SkipSpace();
    JET_RETURN_IF_ERROR(ParseValue(0, &v));
    SkipSpace();
    if (pos_ < text_.size())
      return ErrorAt(pos_, "unexpected " + Describe(pos_) + " after the value");
    return v;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipSpace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++pos_;
    }
  }

  // "line L, column C: message" for the character at `at`.
  Status ErrorAt(size_t at, const std::string& message) const {
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at && i < text_.size(); ++i) {
      unsigned char c = uint8_t(text_[i]);
      if (c == '\n') {
        ++line;
        column = 1;
      } else if ((c & 0xC0) != 0x80) {  // continuation bytes are part of one character
        ++column;
      }
    }
    return Status::InvalidArgument("line " + std::to_string(line) + ", column " +
                                   std::to_string(column) + ": " + message);
  }

  // What sits at `at`, for messages: "end of input", "'x'" or "byte 0x.."
  std::string Describe(size_t at) const {
    if (at >= text_.size()) return "end of input";
    unsigned char c = uint8_t(text_[at]);
    if (c >= 0x20 && c < 0x7F) return std::string("'") + char(c) + "'";
    char buf[16];
    std::snprintf(buf, sizeof buf, "byte 0x%02X", c);
    return buf;
  }

  Status Expected(const std::string& what) const {
    return ErrorAt(pos_, "expected " + what + ", found " + Describe(pos_));
  }

  Status ParseValue(int depth, JsonValue* out) {
    if (AtEnd()) return Expected("a value");
    switch (Peek()) {
      case '{':
        return ParseObject(depth + 1, out);
      case '[':
        return ParseArray(depth + 1, out);
      case '"': {
        std::string s;
        JET_RETURN_IF_ERROR(ParseString(&s));
        *out = JsonValue::String(std::move(s));
        return Status::Ok();
      }
      case 't':
        return ParseLiteral("true", JsonValue::Bool(true), out);
      case 'f':
        return ParseLiteral("false", JsonValue::Bool(false), out);
      case 'n':
        return ParseLiteral("null", JsonValue::Null(), out);
      default:
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return ParseNumber(out);
        return Expected("a value");
    }
  }

  Status ParseLiteral(std::string_view word, JsonValue value, JsonValue* out) {
    if (text_.substr(pos_, word.size()) != word) return Expected("a value");
    pos_ += word.size();
    *out = std::move(value);
    return Status::Ok();
  }

  Status ParseNumber(JsonValue* out) {
    const char* error = nullptr;
    size_t error_at = 0;
    const size_t n = ScanNumber(text_.substr(pos_), &error, &error_at);
    if (n == 0) {
      if (!error) return ErrorAt(pos_, "a number may not start with 0");
      pos_ += error_at;
      return Expected(error);
    }
    *out = JsonValue::Number(std::string(text_.substr(pos_, n)));
    pos_ += n;
    return Status::Ok();
  }

  Status ParseHex4(uint32_t* unit) {
    *unit = 0;
    for (int i = 0; i < 4; ++i, ++pos_) {
      if (AtEnd()) return Expected("four hex digits after \\u");
      char c = Peek();
      uint32_t d;
      if (c >= '0' && c <= '9') {
        d = uint32_t(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        d = uint32_t(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        d = uint32_t(c - 'A' + 10);
      } else {
        return Expected("four hex digits after \\u");
      }
      *unit = *unit * 16 + d;
    }
    return Status::Ok();
  }

  // One UTF-8 sequence starting at pos_ (its first byte is >= 0x80): checked
  // for shortest form, surrogates and range, and copied to `out`.
  Status CopyUtf8(std::string* out) {
    const size_t start = pos_;
    const unsigned char b0 = uint8_t(text_[pos_]);
    size_t n;
    uint32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      n = 2;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      n = 3;
      cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      n = 4;
      cp = b0 & 0x07;
    } else {
      return ErrorAt(start, "invalid UTF-8 (" + Describe(start) + ")");
    }
    if (text_.size() - pos_ < n) return ErrorAt(start, "invalid UTF-8 (a truncated sequence)");
    for (size_t i = 1; i < n; ++i) {
      unsigned char b = uint8_t(text_[pos_ + i]);
      if ((b & 0xC0) != 0x80) return ErrorAt(start, "invalid UTF-8 (a truncated sequence)");
      cp = (cp << 6) | (b & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF) {
      return ErrorAt(start, "invalid UTF-8 (an overlong or out-of-range sequence)");
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) return ErrorAt(start, "invalid UTF-8 (an encoded surrogate)");
    out->append(text_.substr(pos_, n));
    pos_ += n;
    return Status::Ok();
  }

  Status ParseString(std::string* out) {
    const size_t open = pos_;
    ++pos_;  // the opening quote
    out->clear();
    while (true) {
      // Copy the run of plain ASCII characters in one step.
      size_t run = pos_;
      while (run < text_.size()) {
        unsigned char c = uint8_t(text_[run]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++run;
      }
      out->append(text_.substr(pos_, run - pos_));
      pos_ = run;
      if (AtEnd()) return ErrorAt(open, "unterminated string");
      unsigned char c = uint8_t(Peek());
      if (c == '"') {
        ++pos_;
        return Status::Ok();
      }
      if (c < 0x20) {
        return ErrorAt(
            pos_, "a control character (" + Describe(pos_) + ") must be escaped inside a string");
      }
      if (c >= 0x80) {
        JET_RETURN_IF_ERROR(CopyUtf8(out));
        continue;
      }
      // A backslash escape.
      const size_t escape = pos_;
      ++pos_;
      if (AtEnd()) return ErrorAt(open, "unterminated string");
      char e = Peek();
      ++pos_;
      switch (e) {
        case '"':
          out->push_back('"');
          break;
        case '\\':
          out->push_back('\\');
          break;
        case '/':
          out->push_back('/');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          uint32_t unit;
          JET_RETURN_IF_ERROR(ParseHex4(&unit));
          if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return ErrorAt(escape, "a low surrogate escape without a high one before it");
          }
          if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") {
              return ErrorAt(escape, "a high surrogate escape without a low one after it");
            }
            pos_ += 2;
            uint32_t low;
            JET_RETURN_IF_ERROR(ParseHex4(&low));
            if (low < 0xDC00 || low > 0xDFFF) {
              return ErrorAt(escape, "a high surrogate escape without a low one after it");
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(*out, unit);
          break;
        }
        default:
          return ErrorAt(escape, "unknown escape '\\" + std::string(1, e) + "'");
      }
    }
  }

  Status CheckDepth(int depth) const {
    if (depth > max_depth_) {
      return ErrorAt(pos_, "nested deeper than " + std::to_string(max_depth_) + " levels");
    }
    return Status::Ok();
  }

  Status ParseArray(int depth, JsonValue* out) {
    JET_RETURN_IF_ERROR(CheckDepth(depth));
    ++pos_;  // '['
    std::vector<JsonValue> items;
    SkipSpace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      *out = JsonValue::Array(std::move(items));
      return Status::Ok();
    }
    while (true) {
      SkipSpace();
      JsonValue item;
      JET_RETURN_IF_ERROR(ParseValue(depth, &item));
      items.push_back(std::move(item));
      SkipSpace();
      if (AtEnd()) return Expected("',' or ']'");
      if (Peek() == ',') {
        ++pos_;
        SkipSpace();
        if (!AtEnd() && Peek() == ']') return ErrorAt(pos_, "a trailing comma before ']'");
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        *out = JsonValue::Array(std::move(items));
        return Status::Ok();
      }
      return Expected("',' or ']'");
    }
  }

  Status ParseObject(int depth, JsonValue* out) {
    JET_RETURN_IF_ERROR(CheckDepth(depth));
    ++pos_;  // '{'
    std::vector<JsonValue::Member> members;
    std::unordered_set<std::string> seen;  // filled once the object grows
    SkipSpace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      *out = JsonValue::Object(std::move(members));
      return Status::Ok();
    }
    while (true) {
      SkipSpace();
      if (AtEnd() || Peek() != '"') return Expected("a key in double quotes");
      const size_t key_at = pos_;
      std::string key;
      JET_RETURN_IF_ERROR(ParseString(&key));
      bool twice = false;
      if (members.size() < kLinearKeys) {
        for (const auto& m : members) twice = twice || m.first == key;
      } else {
        if (seen.empty()) {
          for (const auto& m : members) seen.insert(m.first);
        }
        twice = !seen.insert(key).second;
      }
      if (twice) return ErrorAt(key_at, "the key " + JsonQuote(key) + " appears twice");
      SkipSpace();
      if (AtEnd() || Peek() != ':') return Expected("':' after the key");
      ++pos_;
      SkipSpace();
      JsonValue value;
      JET_RETURN_IF_ERROR(ParseValue(depth, &value));
      members.emplace_back(std::move(key), std::move(value));
      SkipSpace();
      if (AtEnd()) return Expected("',' or '}'");
      if (Peek() == ',') {
        ++pos_;
        SkipSpace();
        if (!AtEnd() && Peek() == '}') return ErrorAt(pos_, "a trailing comma before '}'");
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        *out = JsonValue::Object(std::move(members));
        return Status::Ok();
      }
      return Expected("',' or '}'");
    }
  }

  std::string_view text_;
  int max_depth_;
  size_t pos_ = 0;
};

}  // namespace

Result<JsonValue> ParseJson(std::string_view text, const JsonParseOptions& options) {
  return Parser(text, options).ParseDocument();
}

}  // namespace jet
