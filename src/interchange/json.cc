// SPDX-License-Identifier: Apache-2.0
// The JSON reader: nlohmann/json's SAX parser, building a JsonValue tree.

#include "interchange/json.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>
#include <unordered_set>

#include "interchange/json_quote.h"
#include "jet/value.h"
#include "jet/value_text.h"

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

// The text as nlohmann's lexer reads it, one byte at a time, through a
// cursor the reader can see: where the lexer is when a key or a bracket
// arrives is where an error about it is reported.
class Cursor {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  explicit Cursor(const char** live) : live_(live) {}
  explicit Cursor(const char* fixed) : fixed_(fixed) {}
  const char& operator*() const { return *At(); }
  Cursor& operator++() {
    ++*live_;
    return *this;
  }
  Cursor operator++(int) {
    Cursor before = *this;
    ++*live_;
    return before;
  }
  bool operator==(const Cursor& other) const { return At() == other.At(); }
  bool operator!=(const Cursor& other) const { return At() != other.At(); }

 private:
  const char* At() const { return live_ ? *live_ : fixed_; }
  const char** live_ = nullptr;
  const char* fixed_ = nullptr;
};

// Objects with fewer keys than this look for a repeated key one by one.
constexpr size_t kLinearKeys = 16;

// Builds the JsonValue tree from nlohmann's SAX events, adding what the
// library leaves to its caller: numbers keep their text, a key may not
// appear twice in one object, and nesting is limited.
class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  TreeBuilder(std::string_view text, const char** cursor, int max_depth)
      : text_(text), cursor_(cursor), max_depth_(max_depth) {}

  bool null() override { return Add(JsonValue::Null()); }
  bool boolean(bool b) override { return Add(JsonValue::Bool(b)); }
  // Negative integers: the lexer sends "-0" here as 0.
  bool number_integer(number_integer_t n) override {
    return Add(JsonValue::Number(n == 0 ? "-0" : std::to_string(n)));
  }
  bool number_unsigned(number_unsigned_t n) override {
    return Add(JsonValue::Number(std::to_string(n)));
  }
  // Numbers with a fraction or exponent, and integers past 64 bits: as written.
  bool number_float(number_float_t, const string_t& text) override {
    return Add(JsonValue::Number(text));
  }
  bool string(string_t& s) override { return Add(JsonValue::String(std::move(s))); }
  bool binary(binary_t&) override { return false; }  // not produced by JSON text

  bool start_object(std::size_t) override { return Open(true); }
  bool key(string_t& key) override {
    Frame& f = stack_.back();
    bool twice = false;
    if (f.members.size() < kLinearKeys) {
      for (const auto& m : f.members) twice = twice || m.first == key;
    } else {
      if (f.seen.empty()) {
        for (const auto& m : f.members) f.seen.insert(m.first);
      }
      twice = !f.seen.insert(key).second;
    }
    if (twice) return Fail(Offset() - 1, "the key " + JsonQuote(key) + " appears twice");
    f.key = std::move(key);
    return true;
  }
  bool end_object() override {
    Frame f = std::move(stack_.back());
    stack_.pop_back();
    return Add(JsonValue::Object(std::move(f.members)));
  }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_array() override {
    Frame f = std::move(stack_.back());
    stack_.pop_back();
    return Add(JsonValue::Array(std::move(f.items)));
  }

  bool parse_error(std::size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& e) override {
    // The lexer has read the byte it stopped at (or the end of input).
    std::string why = e.what();
    if (size_t at = why.find(": syntax error while parsing "); at != std::string::npos) {
      why.erase(0, why.find(" - ", at) + 3);
    } else if (size_t colon = why.find("] "); colon != std::string::npos) {
      why.erase(0, colon + 2);
    }
    // Where is said by line and column; the text read is left out, as it
    // may be a whole long value.
    (void)last_token;
    if (size_t last = why.find("; last read: "); last != std::string::npos) why.erase(last);
    return Fail(position > 0 ? position - 1 : 0, why);
  }

  Status status() const { return status_; }
  JsonValue TakeRoot() { return std::move(root_); }

 private:
  struct Frame {
    bool object;
    std::vector<JsonValue> items;
    std::vector<JsonValue::Member> members;
    std::unordered_set<std::string> seen;  // filled once the object grows
    std::string key;
  };

  size_t Offset() const { return size_t(*cursor_ - text_.data()); }

  bool Open(bool object) {
    if (int(stack_.size()) >= max_depth_) {
      return Fail(Offset() - 1, "nested deeper than " + std::to_string(max_depth_) + " levels");
    }
    stack_.push_back(Frame{object, {}, {}, {}, {}});
    return true;
  }

  bool Add(JsonValue v) {
    if (stack_.empty()) {
      root_ = std::move(v);
    } else if (Frame& f = stack_.back(); f.object) {
      f.members.emplace_back(std::move(f.key), std::move(v));
    } else {
      f.items.push_back(std::move(v));
    }
    return true;
  }

  // "line L, column C: message" for the byte at `at`; the column counts
  // characters, not bytes.
  bool Fail(size_t at, const std::string& message) {
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
    status_ = Status::InvalidArgument("line " + std::to_string(line) + ", column " +
                                      std::to_string(column) + ": " + message);
    return false;
  }

  std::string_view text_;
  const char** cursor_;
  int max_depth_;
  std::vector<Frame> stack_;
  JsonValue root_;
  Status status_;
};

}  // namespace

bool IsJsonNumber(std::string_view text) { return IsNumberText(text); }

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

Result<JsonValue> ParseJson(std::string_view text, const JsonParseOptions& options) {
  // nlohmann skips a byte order mark; JSON text has none (RFC 8259, 8.1).
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    return Status::InvalidArgument("line 1, column 1: a byte order mark before the value");
  }
  const char* cursor = text.data();
  TreeBuilder builder(text, &cursor, options.max_depth);
  const bool ok = nlohmann::json::sax_parse(Cursor(&cursor), Cursor(text.data() + text.size()),
                                            &builder, nlohmann::json::input_format_t::json,
                                            /*strict=*/true, /*ignore_comments=*/false);
  if (!ok) {
    if (builder.status().ok()) return Status::InvalidArgument("invalid JSON");
    return builder.status();
  }
  return builder.TakeRoot();
}

}  // namespace jet
