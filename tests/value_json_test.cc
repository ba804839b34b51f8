// The JSON reader: exact numbers, strings and their escapes, strictness,
// error positions and the depth limit.
//
// Values: read from the host files, every fixed type, as JSON; and read
// back from export's JSON and CSV text: every type
// survives ValueToJson -> ValueFromJson and ToText -> ValueFromText, bad input is
// refused with the column named, and matching behaves as the CLI needs.
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

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "jet/jet.h"
#include "interchange/json.h"
#include "test_util.h"
#include "jet/format/value_text.h"
#include "values.h"

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Value;
using T = ColumnType;

// The columns of a row as a JSON object, in the order given.
std::string Json(const testutil::NamedRow& row, const std::string& columns) {
  std::string out;
  for (size_t at = 0; at < columns.size();) {
    size_t end = std::min(columns.find(',', at), columns.size());
    const std::string name = columns.substr(at, end - at);
    out += (out.empty() ? "{\"" : ",\"") + name + "\":" + jet::ValueToJson(row.at(name));
    at = end + 1;
  }
  return out + "}";
}

TEST(ValueReadTest, EveryFixedTypeOfTheHostMasterTable) {
  for (const char* file : {"hosts/tallowin-v2000.mdb", "hosts/tallowin-v2003.mdb"}) {
    SCOPED_TRACE(file);
    const auto rows = testutil::ReadRows(testutil::Fixture(file), "Master");
    ASSERT_EQ(rows.size(), 14u);
    // Booleans live in the null mask; Byte is unsigned; Currency has four
    // decimals; a Single shows as a float; PRECISE is a Decimal(18,4).
    EXPECT_EQ(
        Json(testutil::FindRow(rows, "SERVICE", "USPS-PRI"),
             "DESCRIPTION,ACK,ACTIVE,ACK-S,SORTNO,ZONEBYTE,RATE,MAXWEIGHT,SURCHARGE,CREATED,UID,"
             "PRECISE,Remarks"),
        R"({"DESCRIPTION":"USPS Priority Mail","ACK":false,"ACTIVE":true,"ACK-S":1,"SORTNO":10,)"
        R"("ZONEBYTE":200,"RATE":"8.9500","MAXWEIGHT":70,"SURCHARGE":1.25,)"
        R"("CREATED":"2019-03-14T09:26:53","UID":"{6F9619FF-8B86-D011-B42D-00C04FC964FF}",)"
        R"("PRECISE":"12345678901234.5678","Remarks":"Template service – do not delete"})");
    // A date before 1899-12-30, and nulls of every type.
    EXPECT_EQ(
        Json(testutil::FindRow(rows, "SERVICE", "PICKUP"), "PRECISE,SURCHARGE,CREATED"),
        R"({"PRECISE":"-99999999999999.9999","SURCHARGE":-0.5,"CREATED":"1850-06-15T12:00:00"})");
    EXPECT_EQ(Json(testutil::FindRow(rows, "SERVICE", "LOCAL-COURIER"),
                   "RATE,CREATED,UID,PRECISE,NOTES,LOGO,ACK-S"),
              R"({"RATE":null,"CREATED":null,"UID":null,"PRECISE":null,"NOTES":null,"LOGO":null,)"
              R"("ACK-S":null})");
  }
}

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

// Each text form in `good` must read back as exactly itself; then both
// readers give back a value that writes out the same. The shortest form of a
// float or double names exactly one value, so equal text is equal bits (-0
// and NaN included). Each form in `bad` is refused, as text or (`json`) as
// JSON, with the column named.
TEST(ValueRoundTripTest, EveryTypeAtItsLimitsAndWhatItRefuses) {
  const struct {
    ColumnDef column;
    std::vector<std::string> good, bad = {};
    bool json = false;
  } cases[] = {
      {Column(T::kByte), {"0", "1", "255"}, {"-1"}},
      {Column(T::kInteger), {"-32768", "-1", "0", "32767"}, {"32768", "-32769"}},
      {Column(T::kLong),
       {"-2147483648", "-1", "2147483647", ""},  // "" is null, and JSON null
       {"2147483648", "99999999999999999999999", "12a", " 12", "+12", "0x1F", "1e3", "--1", "-"}},
      // Currency keeps every ten-thousandth of its 64 bits.
      {Column(T::kCurrency),
       {"-922337203685477.5808", "-922337203685477.5807", "-0.0001", "0.0000", "0.0001", "123.4500",
        "922337203685477.5807"},
       {"-922337203685477.5809", "99999999999999999999", "1,000.00", ".5"}},
      // Floating point, bit for bit, special values too.
      {Column(T::kSingle),
       {"0", "-0", "0.1", "0.33333334", "1.1754944e-38", "3.4028235e+38", "-3.4028235e+38", "1e-45",
        "16777216", "Infinity", "-Infinity", "NaN"},
       {"3.5e38"}},
      {Column(T::kDouble),
       {"0", "-0", "0.1", "1e+20", "1e-07", "123456789012345680", "2.2250738585072014e-308",
        "1.7976931348623157e+308", "5e-324", "Infinity", "-Infinity", "NaN"},
       {"1e309", "nan", "inf", "1.5f", "0x1p3", " 1"}},
      // Dates to the millisecond on both sides of the epoch.
      {Column(T::kDateTime),
       {"1899-12-30T00:00:00", "1899-12-29T06:00:00", "1900-01-01T00:00:00.001",
        "0100-01-01T00:00:00", "9999-12-31T23:59:59.999", "2024-02-29T13:45:07.250",
        "1752-09-03T12:00:00", ""},
       {"2023-02-29T00:00:00", "2024-13-01T00:00:00", "2024-01-01T24:00:00", "2024-1-01",
        "24-01-01", "2024-01-01T10:00", "2024-01-01T10:00:00.5", "2024-01-01T10:00:00Z",
        "2024-01-01X10:00:00"}},
      // Decimals keep sign, scale and all 128 bits (precision 0: no limit).
      {Column(T::kNumeric, 28, 4),
       {"0.0000", "-0.0000", "0.0001", "-123.4500", "999999999999999999999999.9999", ""}},
      {Column(T::kNumeric, 0, 0), {"340282366920938463463374607431768211455"}},
      {Column(T::kNumeric, 5, 2), {}, {"1234.5"}},  // 6 digits once scaled
      {Column(T::kGuid),
       {"{00112233-4455-6677-8899-AABBCCDDEEFF}", ""},
       {"{00112233-4455-6677-8899-AABBCCDDEEF}", "00112233445566778899AABBCCDDEEFF",
        "{00112233-4455-6677-8899-AABBCCDDEEFG}", "(00112233-4455-6677-8899-AABBCCDDEEFF)"}},
      {Column(T::kBinary), {"0001ff"}},
      {Column(T::kOle), {std::string(10000, 'a')}, {"zz"}},
      {Column(T::kBoolean), {"true", "false"}, {"yes", "1"}},
      {Column(T::kText),
       {"plain", "quote \" back\\slash", "line\nbreak\ttab", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC",
        "\xF0\x9F\x98\x80", ""}},
      // JSON of the wrong kind; a Double takes a string only for the
      // non-finite values.
      {Column(T::kLong), {}, {"12.0", "1e2"}, true},
      {Column(T::kByte), {}, {"true"}, true},
      {Column(T::kText), {}, {"12", "[\"a\"]"}, true},
      {Column(T::kBoolean), {}, {"\"true\"", "1"}, true},
      {Column(T::kDouble), {}, {"\"1.5\""}, true},
      {Column(T::kDateTime), {}, {"45000"}, true},
      {Column(T::kCurrency), {}, {"1e3"}, true}};
  for (const auto& c : cases) {
    for (const std::string& text : c.good) {
      SCOPED_TRACE(std::string(jet::ColumnTypeName(c.column.type)) + " " + text);
      Value v;
      ASSERT_TRUE(jet::ValueFromText(c.column, text, &v).ok());
      EXPECT_EQ(v.ToText(), text);
      EXPECT_EQ(v.null, text.empty());
      auto json = jet::ParseJson(jet::ValueToJson(v));
      ASSERT_TRUE(json.ok()) << json.status().message();
      Value from_json;  // as left by an earlier row's null of another type
      from_json.null = true;
      from_json.type = ColumnType::kText;
      jet::Status s = jet::ValueFromJson(c.column, *json, &from_json);
      ASSERT_TRUE(s.ok()) << s.message();
      EXPECT_EQ(from_json.type, v.type);
      EXPECT_EQ(from_json.null, v.null);
      EXPECT_EQ(jet::ValueToJson(from_json), jet::ValueToJson(v));
    }
    for (const std::string& input : c.bad) ExpectRefused(c.column, input, c.json, "");
  }
  // Refusals whose message says what is wrong.
  const struct {
    ColumnDef column;
    const char* input;
    const char* words;
    bool json = false;
  } worded[] = {{Column(T::kByte), "256", "out of range (0 to 255)"},
                {Column(T::kCurrency), "922337203685477.5808", "out of range"},
                {Column(T::kNumeric, 5, 0), "123456", "precision 5"},
                // Past 128 bits, whatever the precision.
                {Column(T::kNumeric, 0, 0), "340282366920938463463374607431768211456", "too large"},
                {Column(T::kLong), "1.5", "not a whole number"},
                // The input is quoted with its quotes and control characters escaped.
                {Column(T::kLong), "1\"\\\t\x01\n", R"("1\"\\\t\u0001\n" is not a whole)"},
                {Column(T::kCurrency), "1.23456", "more than four decimals"},
                {Column(T::kNumeric, 10, 2), "1.239", "scale 2"},
                {Column(T::kBinary), "abc", "odd number"},
                {Column(T::kLong), "\"12\"", "expected a number", true}};
  for (const auto& c : worded) {
    ExpectRefused(c.column, c.input, c.json, c.words);
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
  // Non-finite values travel as strings in JSON.
  EXPECT_EQ(jet::ValueToJson(FromText(ColumnType::kDouble, "-Infinity")), "\"-Infinity\"");
  // Date only, and a space instead of T; fewer decimals than the scale, or
  // extra zeros.
  const std::pair<Value, const char*> typed[] = {
      {FromText(ColumnType::kDateTime, "2024-03-01"), "2024-03-01T00:00:00"},
      {FromText(ColumnType::kDateTime, "2024-03-01 10:11:12"), "2024-03-01T10:11:12"},
      {FromText(ColumnType::kNumeric, "-12.5", 28, 4), "-12.5000"},
      {FromText(ColumnType::kNumeric, "7.250000", 28, 4), "7.2500"},
  };
  for (const auto& [v, text] : typed) EXPECT_EQ(v.ToText(), text);
  Value v;
  ASSERT_TRUE(
      jet::ValueFromJson(Column(ColumnType::kNumeric, 28, 4), *jet::ParseJson("12.25"), &v).ok());
  EXPECT_EQ(v.ToText(), "12.2500");
}

TEST(ValueMatchesTest, ComparesAsJetDoes) {
  const struct {
    ColumnType type;
    const char* stored;
    const char* wanted;
    bool match;
  } cases[] = {
      {T::kText, "UPS Ground", "ups GROUND", true},
      {T::kText, "\xC3\x84rger", "\xC3\xA4RGER", true},  // Ä / ä
      {T::kText, "\xD0\x9C\xD0\xB8\xD1\x80", "\xD0\xBC\xD0\x98\xD0\xA0", true},
      {T::kText, "UPS", "UPS ", false},
      {T::kText, "a", "\xC3\xA4", false},  // accents count
      {T::kText, "", "", true},            // null and null
      {T::kText, "x", "", false},
      {T::kText, "", "x", false},
      {T::kDouble, "NaN", "NaN", true},
      {T::kDouble, "0", "-0", true},
      {T::kNumeric, "-0.00", "0.00", true},
      {T::kNumeric, "-0.05", "0.05", false},
      {T::kBinary, "4142", "6162", false},  // "AB" and "ab": binary compares exactly
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        jet::ValueMatches(FromText(c.type, c.stored, 10, 2), FromText(c.type, c.wanted, 10, 2)),
        c.match)
        << c.stored << " / " << c.wanted;
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

TEST(JsonNumberTest, KeepsSourceTextSoLargeIntegersAndFloatsAreExact) {
  // 2^53 + 1 does not survive a trip through double; the text does.
  jet::JsonValue v = Parse("9007199254740993");
  int64_t n = 0;
  ASSERT_TRUE(v.AsInt64(&n));
  EXPECT_EQ(n, 9007199254740993);
  EXPECT_EQ(v.text(), "9007199254740993");
  EXPECT_TRUE(Parse("-9223372036854775808").AsInt64(&n) && n == INT64_MIN);
  for (const char* not_int64 : {"9223372036854775808", "1.0", "1e2"}) {
    EXPECT_FALSE(Parse(not_int64).AsInt64(&n)) << not_int64;  // one past the top; not whole
  }
  double d = 0;
  EXPECT_TRUE(Parse("0.1").AsDouble(&d) && d == 0.1);
  EXPECT_TRUE(Parse("5e-324").AsDouble(&d) && d == 5e-324);
  EXPECT_TRUE(Parse("-0").AsDouble(&d) && std::signbit(d));
  EXPECT_NE(ErrorOf("1e999").find("overflow"), std::string::npos);  // past the largest double
  EXPECT_EQ(Parse("1e+20").text(), "1e+20");
  float f = 0;
  EXPECT_TRUE(Parse("0.1").AsFloat(&f) && f == 0.1f);
  EXPECT_FALSE(Parse("1e39").AsFloat(&f));
  EXPECT_TRUE(jet::IsJsonNumber("-12.5e-3"));
  EXPECT_FALSE(jet::IsJsonNumber(""));
  EXPECT_FALSE(jet::IsJsonNumber("12 "));
}

TEST(JsonStringTest, DecodesEscapesAndSurrogatePairsToUtf8) {
  EXPECT_EQ(Parse(R"("a\"b\\c\/d\b\f\n\r\t\u00e9\u20AC\ud83d\ude00")").text(),
            "a\"b\\c/d\b\f\n\r\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  // An escaped NUL is a character like any other.
  EXPECT_EQ(Parse(R"("x\u0000y")").text(), std::string("x\0y", 3));
  // Raw UTF-8 passes through untouched.
  EXPECT_EQ(Parse("\"\xE6\x97\xA5\xF0\x9F\x98\x80\"").text(), "\xE6\x97\xA5\xF0\x9F\x98\x80");
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

// Refused texts, grouped by the words their message must hold ("" for any).
TEST(JsonErrorTest, RefusesWhatJsonDoesNotAllowAndSaysWhereAndHowDeep) {
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
      {"U+D800..U+DBFF must be followed", {R"("\ud83d")", R"("\ud83dx")", R"("\ud83d\u0041")"}},
      {"must follow U+D800..U+DBFF", {R"("\ude00")"}},
      {"after backslash", {R"("\x")", "\"abc\\"}},
      {"control character", {"\"a\nb\"", "\"a\tb\""}},
      {"missing closing quote", {"\"abc"}},
      {"byte order mark", {"\357\273\2771"}},
      {"appears twice", {R"({"a": 1, "a": 2})"}},
      // Overlong NUL and '/', an encoded surrogate, past U+10FFFF, no such
      // lead byte, truncated twice, a lone continuation byte.
      {"UTF-8",
       {"\"\xC0\x80\"", "\"\xE0\x80\xAF\"", "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"",
        "\"\xF5\x80\x80\x80\"", "\"\xC3\"", "\"\xE2\x82\"", "\"\x80\""}},
      // Where: line and character column ("é" and "€" are one each).
      {"line 3, column 8: invalid literal", {"{\n  \"a\": 1,\n  \"b\": x\n}"}},
      {"line 1, column 8: unexpected ']'", {"{\"\xC3\xA9\xE2\x82\xAC\": ]"}},
      {"line 1, column 6: unexpected end of input", {"[1, 2"}},
      {"line 1, column 7: unexpected ']'", {"[1, 2,]"}},  // a trailing comma
      {"line 2, column 1: unexpected ','", {"{\"a\": 1}\n,"}},
      {"line 1, column 12: the key \"a\" appears twice", {R"({"a": 1, "a": 2})"}},
      {"line 1, column 2: invalid literal", {"[\x01]"}}};
  for (const auto& group : refused) {
    for (const std::string& text : group.texts) {
      EXPECT_NE(ErrorOf(text).find(group.words), std::string::npos) << text;
    }
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
