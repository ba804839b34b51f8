// SPDX-License-Identifier: Apache-2.0
// A strict JSON reader: text in, a tree of JsonValue out. The parsing is
// nlohmann/json's (its SAX interface); what it leaves to its caller is added
// here: repeated keys, number text and the depth limit.
//
// Strict means RFC 8259 and nothing more: no comments, no trailing commas,
// no single quotes, no NaN or Infinity literals, no leading zeros, no raw
// control characters inside strings, no byte order mark, valid UTF-8 only,
// no lone surrogate escapes, and no key twice in one object. Errors say what
// was wrong and where (line and column, both from 1; the column counts
// characters), in the library's words.
//
// Objects keep their keys in source order. Numbers keep their text (an
// integer as its digits, "-0" included; any other number as written), so
// that a 64-bit integer or a shortest-form float reads back exactly; the
// caller picks the type it wants with AsInt64 / AsDouble / AsFloat. A number
// too large for a double is refused.

#ifndef INTERCHANGE_JSON_H_
#define INTERCHANGE_JSON_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/status.h"

namespace jet {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  using Member = std::pair<std::string, JsonValue>;

  JsonValue() = default;
  static JsonValue Null() { return JsonValue(); }
  static JsonValue Bool(bool b);
  static JsonValue Number(std::string source_text);
  static JsonValue String(std::string s);
  static JsonValue Array(std::vector<JsonValue> items);
  static JsonValue Object(std::vector<Member> members);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }
  bool is_bool() const { return kind_ == Kind::kBool; }
  bool is_number() const { return kind_ == Kind::kNumber; }
  bool is_string() const { return kind_ == Kind::kString; }
  bool is_array() const { return kind_ == Kind::kArray; }
  bool is_object() const { return kind_ == Kind::kObject; }

  bool boolean() const { return bool_; }
  // The number exactly as written, or the string's (unescaped, UTF-8) text.
  const std::string& text() const { return text_; }
  const std::vector<JsonValue>& items() const { return items_; }
  const std::vector<Member>& members() const { return members_; }

  // The member named `key` (exact match), or null if there is none.
  const JsonValue* Find(std::string_view key) const;

  // A number as a 64-bit integer: false if it has a fraction or exponent
  // part, or does not fit.
  bool AsInt64(int64_t* out) const;
  // A number as the nearest double / float: false if it is out of range.
  bool AsDouble(double* out) const;
  bool AsFloat(float* out) const;

 private:
  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<Member> members_;
};

// "null", "boolean", "number", "string", "array", "object".
const char* JsonKindName(JsonValue::Kind kind);

struct JsonParseOptions {
  // Deepest nesting of arrays and objects accepted.
  int max_depth = 64;
};

// True if `text` is exactly a JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJsonNumber(std::string_view text);

// Parses one JSON value that fills `text` (whitespace around it allowed).
// Errors are kInvalidArgument, "line L, column C: what was wrong".
Result<JsonValue> ParseJson(std::string_view text, const JsonParseOptions& options = {});

}  // namespace jet

#endif  // INTERCHANGE_JSON_H_
