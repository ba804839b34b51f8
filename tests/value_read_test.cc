// Values read from the host files, every fixed type, as JSON; dates across
// the whole range; the text decoders and decimal digits on their own.
//
// Every value of every fixture (memos and OLE values over several pages,
// Access 97 code-page text, compressed Unicode, deleted and moved rows,
// deleted columns, fixed-length text, dates of four centuries) is compared
// with mdbtools' independent reading in mdbtools_compare_test, and the JSON
// form of every type is pinned by the sample database's export
// (SampleDbTest.ExportsExactlyTheTextItWasBuiltFrom).

#include <gtest/gtest.h>

#include "jet/jet.h"
#include "test_util.h"
#include "text.h"
#include "values.h"

namespace {

using testutil::NamedRow;

// The columns of a row as a JSON object, in the order given.
std::string Json(const NamedRow& row, const std::string& columns) {
  std::string out;
  for (size_t at = 0; at < columns.size();) {
    size_t end = std::min(columns.find(',', at), columns.size());
    const std::string name = columns.substr(at, end - at);
    out += (out.empty() ? "{\"" : ",\"") + name + "\":" + row.at(name).ToJson();
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

TEST(ValueReadTest, DatesAcrossTheWholeRange) {
  const std::pair<double, const char*> dates[] = {
      // Access's range is 100-01-01 to 9999-12-31 23:59:59.
      {-657434.0, "0100-01-01T00:00:00"},
      {2958465.0 + 86399.0 / 86400.0, "9999-12-31T23:59:59"},
      {0.0, "1899-12-30T00:00:00"},
      // Before the epoch the fraction still runs forward from midnight.
      {-1.25, "1899-12-29T06:00:00"},
      {-0.5, "1899-12-30T12:00:00"},
      {2.0 + 0.5 / 86400.0, "1900-01-01T00:00:00.500"},
      // Rounding to the millisecond may carry into the next day.
      {1.0 - 1e-10, "1899-12-31T00:00:00"},
  };
  for (const auto& [days, text] : dates) EXPECT_EQ(jet::FormatDateTime(days), text) << days;
  // (The way back, DateTimeToJet, is pinned by value_json_test.)
}

TEST(ValueReadTest, TextDecodersAndDecimalDigits) {
  // Windows-1252's own characters in 0x80..0x9F.
  const uint8_t euro_dash[] = {0x80, 0x96, 0x9F};
  EXPECT_EQ(jet::DecodeCodePageText(jet::ByteView(euro_dash, 3), 1252),
            "\xE2\x82\xAC\xE2\x80\x93\xC5\xB8");
  // Switching between one- and two-byte runs inside one compressed value.
  const uint8_t mixed[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x1C, 0x04, 0x00, 'c'};
  EXPECT_EQ(jet::DecodeJet4Text(jet::ByteView(mixed, sizeof mixed)),
            "ab\xD0\x9C"
            "c");
  jet::Decimal d;
  d.scale = 4;
  d.words[3] = 1;
  EXPECT_EQ(d.ToString(), "0.0001");
  jet::Decimal big;  // 2^96 - 1, the largest 28-digit magnitude Access uses
  big.words[1] = big.words[2] = big.words[3] = 0xFFFFFFFF;
  EXPECT_EQ(big.ToString(), "79228162514264337593543950335");
}

}  // namespace
