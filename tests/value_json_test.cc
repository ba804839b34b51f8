// Reading values back from export's JSON and CSV text: every type survives
// ToJson -> ValueFromJson and ToText -> ValueFromText, bad input is refused
// with the column named, and rows and matching behave as the CLI needs.

#include "value_json.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Value;

ColumnDef Column(ColumnType type, uint8_t precision = 18, uint8_t scale = 0) {
  ColumnDef c;
  c.name = "Col";
  c.type = type;
  c.precision = precision;
  c.scale = scale;
  return c;
}

Value Make(ColumnType type) {
  Value v;
  v.type = type;
  v.null = false;
  return v;
}
Value Int(ColumnType type, int64_t n) {
  Value v = Make(type);
  v.integer = n;
  return v;
}
Value Real(ColumnType type, double d) {
  Value v = Make(type);
  v.real = d;
  return v;
}
Value Single(float f) {
  Value v = Make(ColumnType::kSingle);
  v.single = f;
  return v;
}
Value Bytes(ColumnType type, const std::string& b) {
  Value v = Make(type);
  v.bytes = b;
  return v;
}
Value Dec(bool negative, uint8_t scale, uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
  Value v = Make(ColumnType::kNumeric);
  v.decimal.negative = negative;
  v.decimal.scale = scale;
  v.decimal.words[0] = w0;
  v.decimal.words[1] = w1;
  v.decimal.words[2] = w2;
  v.decimal.words[3] = w3;
  return v;
}

// Both readers give back a value that writes out the same. The shortest
// form of a float or double names exactly one value, so equal text is equal
// bits (-0 and NaN included).
void ExpectRoundTrips(const ColumnDef& c, const Value& v) {
  SCOPED_TRACE(std::string(jet::ColumnTypeName(c.type)) + " " + v.ToJson());
  auto json = jet::ParseJson(v.ToJson());
  ASSERT_TRUE(json.ok()) << json.status().message();
  Value from_json;
  jet::Status s = jet::ValueFromJson(c, *json, &from_json);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(from_json.type, v.type);
  EXPECT_EQ(from_json.null, v.null);
  EXPECT_EQ(from_json.ToJson(), v.ToJson());

  Value from_text;
  s = jet::ValueFromText(c, v.ToText(), &from_text);
  ASSERT_TRUE(s.ok()) << s.message();
  EXPECT_EQ(from_text.null, v.null);
  EXPECT_EQ(from_text.ToText(), v.ToText());
  EXPECT_EQ(from_text.ToJson(), v.ToJson());
}

TEST(ValueRoundTripTest, IntegersAtTheirLimits) {
  for (int64_t n : {0, 1, 255})
    ExpectRoundTrips(Column(ColumnType::kByte), Int(ColumnType::kByte, n));
  for (int64_t n : {-32768, -1, 0, 32767}) {
    ExpectRoundTrips(Column(ColumnType::kInteger), Int(ColumnType::kInteger, n));
  }
  for (int64_t n : {int64_t(INT32_MIN), int64_t(-1), int64_t(INT32_MAX)}) {
    ExpectRoundTrips(Column(ColumnType::kLong), Int(ColumnType::kLong, n));
  }
}

TEST(ValueRoundTripTest, CurrencyKeepsEveryTenThousandth) {
  for (int64_t n : {INT64_MIN, INT64_MIN + 1, int64_t(-1), int64_t(0), int64_t(1), int64_t(1234500),
                    INT64_MAX}) {
    ExpectRoundTrips(Column(ColumnType::kCurrency), Int(ColumnType::kCurrency, n));
  }
  EXPECT_EQ(Int(ColumnType::kCurrency, -1).ToText(), "-0.0001");
}

TEST(ValueRoundTripTest, FloatingPointIsBitExactIncludingSpecialValues) {
  const ColumnDef single = Column(ColumnType::kSingle);
  for (float f : {0.0f, -0.0f, 0.1f, 1.0f / 3, FLT_MIN, FLT_MAX, -FLT_MAX,
                  std::numeric_limits<float>::denorm_min(), 16777217.0f,
                  std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                  std::numeric_limits<float>::quiet_NaN()}) {
    ExpectRoundTrips(single, Single(f));
  }
  const ColumnDef dbl = Column(ColumnType::kDouble);
  for (double d :
       {0.0, -0.0, 0.1, 1e20, 1e-7, 123456789012345678.0, DBL_MIN, DBL_MAX,
        std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
    ExpectRoundTrips(dbl, Real(ColumnType::kDouble, d));
  }
  // Non-finite values travel as strings in JSON.
  EXPECT_EQ(Real(ColumnType::kDouble, -INFINITY).ToJson(), "\"-Infinity\"");
}

TEST(ValueRoundTripTest, DatesToTheMillisecondOnBothSidesOfTheEpoch) {
  const ColumnDef c = Column(ColumnType::kDateTime);
  // Values that DateTimeToJet gives back exactly: whole milliseconds.
  for (const char* text : {"1899-12-30T00:00:00", "1899-12-29T06:00:00", "1900-01-01T00:00:00.001",
                           "0100-01-01T00:00:00", "9999-12-31T23:59:59.999",
                           "2024-02-29T13:45:07.250", "1752-09-03T12:00:00"}) {
    Value v;
    ASSERT_TRUE(jet::ValueFromText(c, text, &v).ok()) << text;
    EXPECT_EQ(v.ToText(), text);
    ExpectRoundTrips(c, v);
  }
  // -1.25 is 1899-12-29 06:00: the fraction counts forward before the epoch.
  Value v;
  ASSERT_TRUE(jet::ValueFromText(c, "1899-12-29T06:00:00", &v).ok());
  EXPECT_EQ(v.real, -1.25);
  // Date only, and a space instead of T, as people type them.
  ASSERT_TRUE(jet::ValueFromText(c, "2024-03-01", &v).ok());
  EXPECT_EQ(v.ToText(), "2024-03-01T00:00:00");
  ASSERT_TRUE(jet::ValueFromText(c, "2024-03-01 10:11:12", &v).ok());
  EXPECT_EQ(v.ToText(), "2024-03-01T10:11:12");
}

TEST(ValueRoundTripTest, DecimalsKeepSignScaleAndAll128Bits) {
  const ColumnDef c28 = Column(ColumnType::kNumeric, 28, 4);
  for (const Value& v :
       {Dec(false, 4, 0, 0, 0, 0), Dec(true, 4, 0, 0, 0, 0),  // -0.0000
        Dec(true, 4, 0, 0, 0, 1234500), Dec(false, 4, 0, 0x204FCE5E, 0x3E250261, 0x0FFFFFFF)}) {
    ExpectRoundTrips(c28, v);
  }
  EXPECT_EQ(Dec(true, 4, 0, 0, 0, 1234500).ToText(), "-123.4500");
  // The largest magnitude the 16 bytes hold, with no precision limit.
  const ColumnDef wide = Column(ColumnType::kNumeric, 0, 0);
  ExpectRoundTrips(wide, Dec(false, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF));

  // Fewer decimals than the scale are filled in; extra zeros are harmless.
  Value v;
  ASSERT_TRUE(jet::ValueFromText(c28, "-12.5", &v).ok());
  EXPECT_EQ(v.ToText(), "-12.5000");
  ASSERT_TRUE(jet::ValueFromText(c28, "7.250000", &v).ok());
  EXPECT_EQ(v.ToText(), "7.2500");
  auto json = jet::ParseJson("12.25");
  ASSERT_TRUE(jet::ValueFromJson(c28, *json, &v).ok());
  EXPECT_EQ(v.ToText(), "12.2500");
}

TEST(ValueRoundTripTest, GuidsBinaryTextAndBooleans) {
  const std::string raw("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);
  Value guid = Bytes(ColumnType::kGuid, raw);
  EXPECT_EQ(guid.ToText(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  ExpectRoundTrips(Column(ColumnType::kGuid), guid);
  Value v;
  ASSERT_TRUE(
      jet::ValueFromText(Column(ColumnType::kGuid), "{00112233-4455-6677-8899-aabbccddeeff}", &v)
          .ok());
  EXPECT_EQ(v.bytes, raw);

  ExpectRoundTrips(Column(ColumnType::kBinary),
                   Bytes(ColumnType::kBinary, std::string("\0\x01\xFF", 3)));
  ExpectRoundTrips(Column(ColumnType::kOle), Bytes(ColumnType::kOle, std::string(5000, '\xA5')));
  ASSERT_TRUE(jet::ValueFromText(Column(ColumnType::kBinary), "0aFF", &v).ok());
  EXPECT_EQ(v.bytes, "\x0A\xFF");

  for (const char* s : {"plain", "quote \" back\\slash", "line\nbreak\ttab",
                        "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    ExpectRoundTrips(Column(ColumnType::kText), Bytes(ColumnType::kText, s));
    ExpectRoundTrips(Column(ColumnType::kMemo), Bytes(ColumnType::kMemo, s));
  }
  Value t = Make(ColumnType::kBoolean);
  for (bool b : {true, false}) {
    t.boolean = b;
    ExpectRoundTrips(Column(ColumnType::kBoolean), t);
  }
}

TEST(ValueRoundTripTest, NullIsJsonNullAndEmptyText) {
  for (ColumnType t : {ColumnType::kLong, ColumnType::kText, ColumnType::kDateTime,
                       ColumnType::kNumeric, ColumnType::kGuid}) {
    Value null;
    null.type = t;
    ExpectRoundTrips(Column(t, 10, 2), null);
  }
}

// The message of a refused value; it always names the column.
std::string RefusedText(ColumnType type, const std::string& text, uint8_t precision = 18,
                        uint8_t scale = 0) {
  Value v;
  jet::Status s = jet::ValueFromText(Column(type, precision, scale), text, &v);
  EXPECT_FALSE(s.ok()) << text << " was accepted as " << v.ToText();
  EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument);
  EXPECT_NE(s.message().find("Column 'Col'"), std::string::npos) << s.message();
  return s.message();
}

std::string RefusedJson(ColumnType type, const std::string& json) {
  auto parsed = jet::ParseJson(json);
  EXPECT_TRUE(parsed.ok()) << json;
  Value v;
  jet::Status s = jet::ValueFromJson(Column(type), *parsed, &v);
  EXPECT_FALSE(s.ok()) << json << " was accepted as " << v.ToText();
  EXPECT_NE(s.message().find("Column 'Col'"), std::string::npos) << s.message();
  return s.message();
}

TEST(ValueRefusalTest, OutOfRangeNumbers) {
  EXPECT_NE(RefusedText(ColumnType::kByte, "256").find("out of range (0 to 255)"),
            std::string::npos);
  RefusedText(ColumnType::kByte, "-1");
  RefusedText(ColumnType::kInteger, "32768");
  RefusedText(ColumnType::kInteger, "-32769");
  RefusedText(ColumnType::kLong, "2147483648");
  RefusedText(ColumnType::kLong, "99999999999999999999999");
  EXPECT_NE(RefusedText(ColumnType::kCurrency, "922337203685477.5808").find("out of range"),
            std::string::npos);
  RefusedText(ColumnType::kCurrency, "-922337203685477.5809");
  RefusedText(ColumnType::kCurrency, "99999999999999999999");
  RefusedText(ColumnType::kSingle, "3.5e38");
  RefusedText(ColumnType::kDouble, "1e309");
  EXPECT_NE(RefusedText(ColumnType::kNumeric, "123456", 5, 0).find("precision 5"),
            std::string::npos);
  RefusedText(ColumnType::kNumeric, "1234.5", 5, 2);  // 6 digits once scaled
  // Past 128 bits, whatever the precision.
  EXPECT_NE(RefusedText(ColumnType::kNumeric, "340282366920938463463374607431768211456", 0, 0)
                .find("too large"),
            std::string::npos);
}

TEST(ValueRefusalTest, MalformedText) {
  EXPECT_NE(RefusedText(ColumnType::kLong, "1.5").find("not a whole number"), std::string::npos);
  for (const char* bad : {"12a", " 12", "+12", "0x1F", "1e3", "--1", "-"}) {
    RefusedText(ColumnType::kLong, bad);
  }
  EXPECT_NE(RefusedText(ColumnType::kCurrency, "1.23456").find("more than four decimals"),
            std::string::npos);
  RefusedText(ColumnType::kCurrency, "1,000.00");
  RefusedText(ColumnType::kCurrency, ".5");
  EXPECT_NE(RefusedText(ColumnType::kNumeric, "1.239", 10, 2).find("scale 2"), std::string::npos);
  for (const char* bad : {"nan", "inf", "1.5f", "0x1p3", " 1"})
    RefusedText(ColumnType::kDouble, bad);
  for (const char* bad : {"2023-02-29T00:00:00", "2024-13-01T00:00:00", "2024-01-01T24:00:00",
                          "2024-1-01", "24-01-01", "2024-01-01T10:00", "2024-01-01T10:00:00.5",
                          "2024-01-01T10:00:00Z", "2024-01-01X10:00:00"}) {
    RefusedText(ColumnType::kDateTime, bad);
  }
  for (const char* bad :
       {"{00112233-4455-6677-8899-AABBCCDDEEF}", "00112233445566778899AABBCCDDEEFF",
        "{00112233-4455-6677-8899-AABBCCDDEEFG}", "(00112233-4455-6677-8899-AABBCCDDEEFF)"}) {
    RefusedText(ColumnType::kGuid, bad);
  }
  EXPECT_NE(RefusedText(ColumnType::kBinary, "abc").find("odd number"), std::string::npos);
  RefusedText(ColumnType::kOle, "zz");
  RefusedText(ColumnType::kBoolean, "yes");
  RefusedText(ColumnType::kBoolean, "1");
}

TEST(ValueRefusalTest, JsonOfTheWrongKind) {
  EXPECT_NE(RefusedJson(ColumnType::kLong, "\"12\"").find("expected a number"), std::string::npos);
  RefusedJson(ColumnType::kLong, "12.0");
  RefusedJson(ColumnType::kLong, "1e2");
  RefusedJson(ColumnType::kByte, "true");
  RefusedJson(ColumnType::kText, "12");
  RefusedJson(ColumnType::kText, "[\"a\"]");
  RefusedJson(ColumnType::kBoolean, "\"true\"");
  RefusedJson(ColumnType::kBoolean, "1");
  RefusedJson(ColumnType::kDouble, "\"1.5\"");  // only the non-finite values are strings
  RefusedJson(ColumnType::kDateTime, "45000");
  RefusedJson(ColumnType::kCurrency, "1e3");
}

jet::TableDef ThreeColumns() {
  jet::TableDef t;
  t.name = "Orders";
  for (auto [name, type] :
       {std::pair{"ID", ColumnType::kLong}, std::pair{"Name", ColumnType::kText},
        std::pair{"When", ColumnType::kDateTime}}) {
    ColumnDef c;
    c.name = name;
    c.type = type;
    t.columns.push_back(c);
  }
  return t;
}

// Unknown keys, non-object rows and bad values are pinned, with their line
// numbers, by the import tests of jetdb_write_cli_test.
TEST(RowFromJsonTest, MatchesKeysWithoutCaseAndRefusesAColumnGivenTwice) {
  const jet::TableDef t = ThreeColumns();
  std::vector<Value> row;
  auto obj = jet::ParseJson(R"({"name": "x", "ID": 7})");
  ASSERT_TRUE(jet::RowFromJson(t, *obj, &row).ok());
  ASSERT_EQ(row.size(), 3u);
  EXPECT_EQ(row[0].integer, 7);
  EXPECT_EQ(row[1].bytes, "x");
  EXPECT_TRUE(row[2].null);
  EXPECT_EQ(row[2].type, ColumnType::kDateTime);

  obj = jet::ParseJson(R"({"ID": 1, "id": 2})");
  jet::Status s = jet::RowFromJson(t, *obj, &row);
  EXPECT_NE(s.message().find("given twice"), std::string::npos) << s.message();
}

TEST(ValueMatchesTest, ComparesAsJetDoes) {
  auto text = [](const std::string& s) { return Bytes(ColumnType::kText, s); };
  EXPECT_TRUE(jet::ValueMatches(text("UPS Ground"), text("ups GROUND")));
  EXPECT_TRUE(jet::ValueMatches(text("\xC3\x84rger"), text("\xC3\xA4RGER")));  // Ä / ä
  EXPECT_TRUE(
      jet::ValueMatches(text("\xD0\x9C\xD0\xB8\xD1\x80"), text("\xD0\xBC\xD0\x98\xD0\xA0")));
  EXPECT_FALSE(jet::ValueMatches(text("UPS"), text("UPS ")));
  EXPECT_FALSE(jet::ValueMatches(text("a"), text("\xC3\xA4")));  // accents count

  Value null_text;
  null_text.type = ColumnType::kText;
  EXPECT_TRUE(jet::ValueMatches(null_text, null_text));
  EXPECT_TRUE(jet::ValueMatches(text(""), null_text));  // both export as an empty field
  EXPECT_FALSE(jet::ValueMatches(null_text, text("x")));
  EXPECT_FALSE(jet::ValueMatches(text("x"), null_text));

  // A stored date with a stray fraction of a millisecond still matches the
  // text it is shown as.
  Value when;
  ASSERT_TRUE(jet::ValueFromText(Column(ColumnType::kDateTime), "2024-01-02T03:04:05", &when).ok());
  EXPECT_TRUE(jet::ValueMatches(Real(ColumnType::kDateTime, when.real + 1e-10), when));
  EXPECT_FALSE(jet::ValueMatches(Real(ColumnType::kDateTime, when.real + 0.5), when));

  EXPECT_TRUE(jet::ValueMatches(Real(ColumnType::kDouble, NAN), Real(ColumnType::kDouble, NAN)));
  EXPECT_TRUE(jet::ValueMatches(Real(ColumnType::kDouble, 0.0), Real(ColumnType::kDouble, -0.0)));
  EXPECT_TRUE(jet::ValueMatches(Dec(true, 2, 0, 0, 0, 0), Dec(false, 2, 0, 0, 0, 0)));
  EXPECT_FALSE(jet::ValueMatches(Dec(true, 2, 0, 0, 0, 5), Dec(false, 2, 0, 0, 0, 5)));
  EXPECT_FALSE(
      jet::ValueMatches(Bytes(ColumnType::kBinary, "AB"), Bytes(ColumnType::kBinary, "ab")));
}

}  // namespace
