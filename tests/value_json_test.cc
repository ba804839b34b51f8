// SPDX-License-Identifier: Apache-2.0
// The JSON reader: exact numbers, strings and their escapes, strictness,
// error positions and the depth limit.
//
// Values read back from export's JSON and CSV text: every type survives
// ValueToJson -> ValueFromJson and ToText -> ValueFromText, bad input is
// refused with the column named, and matching behaves as the CLI needs (the
// cases are in tests/data/values/).
// (Rows of JSON, their keys in any case and given twice, are the import
// tests' of jetdb_cli_test.)
//
// Every value of every fixture (memos and OLE values over several pages,
// Access 97 code-page text, compressed Unicode, deleted and moved rows,
// deleted columns, fixed-length text, dates of four centuries) is compared
// with mdbtools' independent reading in mdbtools_compare_test, and the JSON
// form of every type is pinned by the sample database's export
// (SampleDbTest.ExportsExactlyTheTextItWasBuiltFrom). That comparison also
// holds every stored date to the instant its text names, to the millisecond.

#include "interchange/value_json.h"

#include <charconv>
#include <cstdio>
#include <tuple>

#include "interchange/json.h"
#include "jet/format/value_text.h"
#include "values.h"

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Value;
using T = ColumnType;

ColumnDef Column(ColumnType type, uint8_t precision = 18, uint8_t scale = 0) {
  ColumnDef c;
  c.name = "Col";
  c.type = type;
  c.precision = precision;
  c.scale = scale;
  return c;
}

// The value `text` reads as; a refusal fails the test.
Value FromText(ColumnType type, const std::string& text, uint8_t precision = 18,
               uint8_t scale = 0) {
  Value v;
  const jet::Status s = jet::ValueFromText(Column(type, precision, scale), text, &v);
  EXPECT_TRUE(s.ok()) << text << ": " << s.message();
  return v;
}

// Refused text and JSON: the message always names the column, and where
// given holds the words.
void ExpectRefused(const ColumnDef& c, const std::string& input, bool json, const char* words) {
  SCOPED_TRACE(input);
  Value v;
  jet::Status s;
  if (json) {
    s = jet::ValueFromJson(c, jet::ParseJson(input).value(), &v);
  } else {
    s = jet::ValueFromText(c, input, &v);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument);
  }
  EXPECT_FALSE(s.ok()) << "read as " << v.ToText();
  EXPECT_NE(s.message().find("Column 'Col'"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find(words), std::string::npos) << s.message();
}

// Each line of values/text_forms.tsv: a text form that reads back as
// exactly itself, as text and through its JSON form (equal text is equal
// bits, -0 and NaN included), or one that is refused, naming the column.
TEST(ValueRoundTripTest, EveryTypeAtItsLimitsAndWhatItRefuses) {
  for (testutil::DataLine& line : testutil::DataLines("values/text_forms.tsv", true)) {
    std::vector<std::string>& f = line.fields;
    f.resize(4);
    SCOPED_TRACE("text_forms.tsv:" + std::to_string(line.number));
    int precision = 18, scale = 0;
    ColumnType type;
    std::sscanf(f[0].c_str(), "Decimal(%d,%d)", &precision, &scale);
    ASSERT_TRUE(jet::ColumnTypeFromName(f[0].substr(0, f[0].find('(')), &type));
    const ColumnDef c = Column(type, uint8_t(precision), uint8_t(scale));
    if (f[1] == "bad" || f[1] == "json-bad") {
      ExpectRefused(c, f[2], f[1] == "json-bad", f[3].c_str());
      continue;
    }
    const std::string& text = f[2];
    Value v;
    const jet::Status read = f[1] == "json-reads"
                                 ? jet::ValueFromJson(c, jet::ParseJson(text).value(), &v)
                                 : jet::ValueFromText(c, text, &v);
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(v.ToText(), f[1] == "good" ? text : f[3]);
    if (f[1] != "good") continue;
    EXPECT_EQ(v.null, text.empty());
    auto json = jet::ParseJson(jet::ValueToJson(v));
    ASSERT_TRUE(json.ok()) << json.status().message();
    Value from_json;  // as left by an earlier row's null of another type
    from_json.null = true;
    from_json.type = ColumnType::kText;
    jet::Status s = jet::ValueFromJson(c, *json, &from_json);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(from_json.type, v.type);
    EXPECT_EQ(from_json.null, v.null);
    EXPECT_EQ(jet::ValueToJson(from_json), jet::ValueToJson(v));
  }
  // What is stored, and the forms people type.
  EXPECT_EQ(FromText(ColumnType::kCurrency, "-0.0001").integer, -1);
  // -1.25 is 1899-12-29 06:00: the fraction counts forward before the epoch.
  EXPECT_EQ(FromText(ColumnType::kDateTime, "1899-12-29T06:00:00").real, -1.25);
  const jet::Decimal d = FromText(ColumnType::kNumeric, "-123.4500", 28, 4).decimal;
  EXPECT_EQ(std::tuple(d.negative, d.scale, d.words[3]), std::tuple(true, 4, 1234500u));
  EXPECT_EQ(FromText(ColumnType::kGuid, "{00112233-4455-6677-8899-aabbccddeeff}").bytes,
            std::string("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16));
  EXPECT_EQ(FromText(ColumnType::kBinary, "0aFF").bytes, "\x0A\xFF");
  EXPECT_EQ(FromText(ColumnType::kOle, std::string(10000, 'A')).bytes, std::string(5000, '\xAA'));
  EXPECT_EQ(FromText(ColumnType::kOle, std::string(10000, 'a')).ToText(), std::string(10000, 'a'));
  // Non-finite values travel as strings in JSON.
  EXPECT_EQ(jet::ValueToJson(FromText(ColumnType::kDouble, "-Infinity")), "\"-Infinity\"");
}

TEST(ValueMatchesTest, ComparesAsJetDoes) {
  for (testutil::DataLine& line : testutil::DataLines("values/matches.tsv")) {
    std::vector<std::string>& f = line.fields;
    ColumnType type;
    ASSERT_TRUE(f.size() == 4 && jet::ColumnTypeFromName(f[0], &type)) << line.number;
    EXPECT_EQ(jet::ValueMatches(FromText(type, f[1], 10, 2), FromText(type, f[2], 10, 2)),
              f[3] == "yes")
        << "matches.tsv:" << line.number;
  }
  // A stored date with a stray fraction of a millisecond still matches the
  // text it is shown as.
  const Value when = FromText(T::kDateTime, "2024-01-02T03:04:05");
  Value near = when, far = when;
  near.real += 1e-10;
  far.real += 0.5;
  EXPECT_TRUE(jet::ValueMatches(near, when));
  EXPECT_FALSE(jet::ValueMatches(far, when));
  // An empty text and a null both export as an empty field.
  Value empty = FromText(T::kText, "");
  empty.null = false;
  EXPECT_TRUE(jet::ValueMatches(empty, FromText(T::kText, "")));
}

jet::JsonValue Parse(const std::string& text) {
  auto v = jet::ParseJson(text);
  EXPECT_TRUE(v.ok()) << text << ": " << v.status().message();
  return v.ok() ? *v : jet::JsonValue();
}

std::string ErrorOf(const std::string& text) {
  auto v = jet::ParseJson(text);
  EXPECT_FALSE(v.ok()) << "accepted: " << text;
  return v.ok() ? "" : v.status().message();
}

// Each line of values/json_read.tsv: a number read as each type (its
// source text kept, so that large integers and floats are exact), or a
// string's escapes decoded.
TEST(JsonReadTest, NumbersKeepTheirSourceTextAndStringsDecodeToUtf8) {
  for (testutil::DataLine& line : testutil::DataLines("values/json_read.tsv", true)) {
    std::vector<std::string>& f = line.fields;
    ASSERT_EQ(f.size(), 3u) << line.number;
    std::string got;
    if (f[1] == "number") {
      got = jet::IsJsonNumber(f[0]) ? "yes" : "no";
    } else {
      const jet::JsonValue v = Parse(f[0]);
      int64_t n = 0;
      double d = 0;
      float x = 0;
      char buf[64];
      got = f[1] == "text"    ? v.text()
            : f[1] == "int64" ? (v.AsInt64(&n) ? std::to_string(n) : "no")
            : f[1] == "double"
                ? (v.AsDouble(&d) ? std::string(buf, std::to_chars(buf, buf + 64, d).ptr) : "no")
                : (v.AsFloat(&x) ? std::string(buf, std::to_chars(buf, buf + 64, x).ptr) : "no");
    }
    EXPECT_EQ(got, f[2]) << "json_read.tsv:" << line.number;
  }
  EXPECT_NE(ErrorOf("1e999").find("overflow"), std::string::npos);  // past the largest double
}

TEST(JsonStructureTest, ObjectsKeepKeyOrderAndRefuseRepeatedKeys) {
  jet::JsonValue v = Parse(R"({"z": 1, "a": [true, false, null], "m": {}})");
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
  EXPECT_TRUE(jet::ParseJson(many + "\"last\": 0}").ok());
  EXPECT_NE(ErrorOf(many + "\"k3\": 0}").find("\"k3\" appears twice"), std::string::npos);
  // Keys differing only by case are two keys.
  EXPECT_TRUE(jet::ParseJson(R"({"a": 1, "A": 2})").ok());
  // Space, tab, CR and LF around values are fine.
  EXPECT_TRUE(Parse(" \t\r\n[ 1 , { \"a\" : null } ]\r\n ").is_array());
}

// Each line of values/json_refused.tsv: a text refused, its message
// holding the words given.
TEST(JsonErrorTest, RefusesWhatJsonDoesNotAllowAndSaysWhereAndHowDeep) {
  for (testutil::DataLine& line : testutil::DataLines("values/json_refused.tsv", true)) {
    line.fields.resize(2);
    EXPECT_NE(ErrorOf(line.fields[1]).find(line.fields[0]), std::string::npos)
        << "json_refused.tsv:" << line.number;
  }
  // Nesting is limited, far below what would exhaust the stack.
  jet::JsonParseOptions options;
  options.max_depth = 5;
  EXPECT_TRUE(jet::ParseJson("[[[[[1]]]]]", options).ok());
  auto deep = jet::ParseJson("[[[[[[1]]]]]]", options);
  ASSERT_FALSE(deep.ok());
  EXPECT_NE(deep.status().message().find("deeper than 5"), std::string::npos);
  EXPECT_FALSE(jet::ParseJson(R"({"a":{"b":{"c":{"d":{"e":{"f":1}}}}}})", options).ok());
  // Far deeper than any stack would take: refused at the default limit.
  auto r = jet::ParseJson(std::string(1000000, '['));
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.status().message().find("deeper than 64"), std::string::npos);
  EXPECT_EQ(r.status().kind(), jet::ErrorKind::kInvalidArgument);
}

}  // namespace
