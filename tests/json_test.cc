// The JSON reader: exact numbers, strings and their escapes, strictness,
// error positions and the depth limit.

#include "json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using jet::JsonValue;
using jet::ParseJson;

JsonValue Parse(const std::string& text) {
  auto v = ParseJson(text);
  EXPECT_TRUE(v.ok()) << text << ": " << v.status().message();
  return v.ok() ? *v : JsonValue();
}

std::string ErrorOf(const std::string& text) {
  auto v = ParseJson(text);
  EXPECT_FALSE(v.ok()) << "accepted: " << text;
  return v.ok() ? "" : v.status().message();
}

TEST(JsonNumberTest, KeepsSourceTextSoLargeIntegersAndFloatsAreExact) {
  // 2^53 + 1 does not survive a trip through double; the text does.
  JsonValue v = Parse("9007199254740993");
  int64_t n = 0;
  ASSERT_TRUE(v.AsInt64(&n));
  EXPECT_EQ(n, 9007199254740993);
  EXPECT_EQ(v.text(), "9007199254740993");
  ASSERT_TRUE(Parse("-9223372036854775808").AsInt64(&n));
  EXPECT_EQ(n, INT64_MIN);
  for (const char* not_int64 : {"9223372036854775808", "1.0", "1e2"}) {
    EXPECT_FALSE(Parse(not_int64).AsInt64(&n)) << not_int64;  // one past the top; not whole
  }
  double d = 0;
  ASSERT_TRUE(Parse("0.1").AsDouble(&d));
  EXPECT_EQ(d, 0.1);
  ASSERT_TRUE(Parse("5e-324").AsDouble(&d));
  EXPECT_EQ(d, 5e-324);
  EXPECT_EQ(Parse("1e+20").text(), "1e+20");
  ASSERT_TRUE(Parse("-0").AsDouble(&d));
  EXPECT_TRUE(std::signbit(d));
  EXPECT_FALSE(Parse("1e999").AsDouble(&d));
  float f = 0;
  ASSERT_TRUE(Parse("0.1").AsFloat(&f));
  EXPECT_EQ(f, 0.1f);
  EXPECT_FALSE(Parse("1e39").AsFloat(&f));
  EXPECT_TRUE(jet::IsJsonNumber("-12.5e-3"));
  EXPECT_FALSE(jet::IsJsonNumber(""));
  EXPECT_FALSE(jet::IsJsonNumber("12 "));
}

TEST(JsonStringTest, DecodesEscapesAndSurrogatePairsToUtf8) {
  JsonValue v = Parse(R"("a\"b\\c\/d\b\f\n\r\t\u00e9\u20AC\ud83d\ude00")");
  EXPECT_EQ(v.text(), "a\"b\\c/d\b\f\n\r\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  // An escaped NUL is a character like any other.
  EXPECT_EQ(Parse(R"("x\u0000y")").text(), std::string("x\0y", 3));
  // Raw UTF-8 passes through untouched.
  EXPECT_EQ(Parse("\"\xE6\x97\xA5\xF0\x9F\x98\x80\"").text(), "\xE6\x97\xA5\xF0\x9F\x98\x80");
}

TEST(JsonStructureTest, ObjectsKeepKeyOrderAndRefuseRepeatedKeys) {
  JsonValue v = Parse(R"({"z": 1, "a": [true, false, null], "m": {}})");
  ASSERT_TRUE(v.is_object());
  ASSERT_EQ(v.members().size(), 3u);
  EXPECT_EQ(v.members()[0].first + v.members()[1].first + v.members()[2].first, "zam");
  ASSERT_NE(v.Find("a"), nullptr);
  ASSERT_EQ(v.Find("a")->items().size(), 3u);
  EXPECT_TRUE(v.Find("a")->items()[0].boolean());
  EXPECT_TRUE(v.Find("a")->items()[2].is_null());
  EXPECT_EQ(v.Find("A"), nullptr);  // keys are exact
  EXPECT_TRUE(v.Find("m")->is_object());
  // Past the size where repeated keys are looked up in a set.
  std::string many = "{";
  for (int i = 0; i < 40; ++i) many += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ",";
  EXPECT_TRUE(ParseJson(many + "\"last\": 0}").ok());
  EXPECT_NE(ErrorOf(many + "\"k3\": 0}").find("\"k3\" appears twice"), std::string::npos);
  // Keys differing only by case are two keys.
  EXPECT_TRUE(ParseJson(R"({"a": 1, "A": 2})").ok());
  // Space, tab, CR and LF around values are fine.
  EXPECT_TRUE(Parse(" \t\r\n[ 1 , { \"a\" : null } ]\r\n ").is_array());
}

// Refused texts, grouped by the words their message must hold ("" for any).
TEST(JsonErrorTest, RefusesWhatJsonDoesNotAllowAndSaysWhere) {
  const struct {
    const char* words;
    std::vector<std::string> texts;
  } refused[] = {
      // Numbers; escapes; structure (a repeated key spelt with an escape too).
      {"",
       {"01", "-01", "1.", ".5", "+1", "-", "1e", "1e+", "0x10", "NaN", "Infinity", "-Infinity",
        "1.5.2", "--1"}},
      {"", {R"("\u12")",  R"("\u12G4")", R"({"a": 1, "\u0061": 2})",
            "",           "   ",         "[1,]",
            "{\"a\":1,}", "[1 2]",       "{\"a\" 1}",
            "{a: 1}",     "{'a': 1}",    "['a']",
            "[1,,2]",     "{\"a\":}",    "[",
            "{",          "]",           "tru",
            "nul",        "True",        "1 2",
            "{} {}",      "// c\n1",     "/* c */ 1",
            "[1] x",      "\f1",         "\357\273\2771"}},  // after a byte order mark
      {"high surrogate", {R"("\ud83d")", R"("\ud83dx")", R"("\ud83d\u0041")"}},
      {"low surrogate", {R"("\ude00")"}},
      {"unknown escape", {R"("\x")"}},
      {"control character", {"\"a\nb\"", "\"a\tb\""}},
      {"unterminated", {"\"abc", "\"abc\\"}},
      {"appears twice", {R"({"a": 1, "a": 2})"}},
      // Overlong NUL and '/', an encoded surrogate, past U+10FFFF, no such
      // lead byte, truncated twice, a lone continuation byte.
      {"UTF-8",
       {"\"\xC0\x80\"", "\"\xE0\x80\xAF\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"",
        "\"\xF5\x80\x80\x80\"", "\"\xC3\"", "\"\xE2\x82\"", "\"\x80\""}},
      // Where: line and character column ("é" and "€" are one each).
      {"line 3, column 8: expected a value, found 'x'", {"{\n  \"a\": 1,\n  \"b\": x\n}"}},
      {"line 1, column 8: expected a value, found ']'", {"{\"\xC3\xA9\xE2\x82\xAC\": ]"}},
      {"line 1, column 6: expected ',' or ']', found end of input", {"[1, 2"}},
      {"line 1, column 7: a trailing comma before ']'", {"[1, 2,]"}},
      {"line 2, column 1: unexpected ',' after the value", {"{\"a\": 1}\n,"}},
      {"line 1, column 2: expected a value, found byte 0x01", {"[\x01]"}}};
  for (const auto& group : refused) {
    for (const std::string& text : group.texts) {
      EXPECT_NE(ErrorOf(text).find(group.words), std::string::npos) << text;
    }
  }
}

TEST(JsonDepthTest, LimitsNestingWithoutExhaustingTheStack) {
  jet::JsonParseOptions options;
  options.max_depth = 5;
  EXPECT_TRUE(ParseJson("[[[[[1]]]]]", options).ok());
  auto deep = ParseJson("[[[[[[1]]]]]]", options);
  ASSERT_FALSE(deep.ok());
  EXPECT_NE(deep.status().message().find("deeper than 5"), std::string::npos);
  EXPECT_FALSE(ParseJson(R"({"a":{"b":{"c":{"d":{"e":{"f":1}}}}}})", options).ok());
  // Far deeper than any stack would take: refused at the default limit.
  auto r = ParseJson(std::string(1000000, '['));
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.status().message().find("deeper than 64"), std::string::npos);
  EXPECT_EQ(r.status().kind(), jet::ErrorKind::kInvalidArgument);
}

}  // namespace
