// Exact values read from databases that Access (or, for hosts/, another Jet
// library) wrote: one group of checks per data type and storage form.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "jet/jet.h"
#include "test_util.h"
#include "text.h"
#include "values.h"

namespace {

using Row = testutil::NamedRow;

std::vector<Row> ReadAll(const std::string& fixture, const std::string& table) {
  return testutil::ReadRows(testutil::Fixture(fixture), table);
}

const Row* FindRow(const std::vector<Row>& rows, const std::string& column,
                   const std::string& text) {
  for (const Row& r : rows) {
    auto it = r.find(column);
    if (it != r.end() && !it->second.null && it->second.ToText() == text) return &r;
  }
  return nullptr;
}

}  // namespace

TEST(ValueReadTest, EveryFixedTypeOfTheHostMasterTable) {
  for (const char* file : {"hosts/tallowin-v2000.mdb", "hosts/tallowin-v2003.mdb"}) {
    SCOPED_TRACE(file);
    auto rows = ReadAll(file, "Master");
    ASSERT_EQ(rows.size(), 14u);
    const Row* pri = FindRow(rows, "SERVICE", "USPS-PRI");
    ASSERT_NE(pri, nullptr);
    const Row& r = *pri;
    EXPECT_EQ(r.at("DESCRIPTION").ToText(), "USPS Priority Mail");
    EXPECT_EQ(r.at("ACK").ToJson(), "false");        // Boolean, kept in the null mask
    EXPECT_EQ(r.at("ACTIVE").ToJson(), "true");
    EXPECT_EQ(r.at("ACK-S").ToJson(), "1");          // Long
    EXPECT_EQ(r.at("SORTNO").ToJson(), "10");        // Integer
    EXPECT_EQ(r.at("ZONEBYTE").ToJson(), "200");     // Byte is unsigned
    EXPECT_EQ(r.at("RATE").ToJson(), "\"8.9500\"");  // Currency, four decimals
    EXPECT_EQ(r.at("MAXWEIGHT").ToJson(), "70");     // Double
    EXPECT_EQ(r.at("SURCHARGE").ToJson(), "1.25");   // Single
    EXPECT_EQ(r.at("CREATED").ToText(), "2019-03-14T09:26:53");
    EXPECT_EQ(r.at("UID").ToText(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    EXPECT_EQ(r.at("PRECISE").ToText(), "12345678901234.5678");  // Decimal(18,4)
    EXPECT_EQ(r.at("Remarks").ToText(), "Template service \xE2\x80\x93 do not delete");

    const Row* pickup = FindRow(rows, "SERVICE", "PICKUP");
    ASSERT_NE(pickup, nullptr);
    EXPECT_EQ(pickup->at("PRECISE").ToText(), "-99999999999999.9999");
    EXPECT_EQ(pickup->at("SURCHARGE").ToJson(), "-0.5");
    EXPECT_EQ(pickup->at("CREATED").ToText(), "1850-06-15T12:00:00");  // before 1899-12-30

    const Row* fedex = FindRow(rows, "SERVICE", "FEDEX-2DAY");
    ASSERT_NE(fedex, nullptr);
    EXPECT_EQ(fedex->at("Remarks").ToJson(), "\"quotes \\\"and\\\" backslash \\\\ test\"");
    EXPECT_EQ(fedex->at("SURCHARGE").ToJson(), "1.8");  // a float shown as a float

    const Row* local = FindRow(rows, "SERVICE", "LOCAL-COURIER");
    ASSERT_NE(local, nullptr);
    for (const char* col : {"RATE", "CREATED", "UID", "PRECISE", "NOTES", "LOGO", "ACK-S"}) {
      EXPECT_TRUE(local->at(col).null) << col;
    }
  }
}

TEST(ValueReadTest, MemoAndOleChainedOverSeveralPages) {
  auto rows = ReadAll("hosts/tallowin-v2000.mdb", "Master");
  const Row* pri = FindRow(rows, "SERVICE", "USPS-PRI");
  ASSERT_NE(pri, nullptr);
  // 3,000 characters stored as 6,000 bytes of UTF-16: more than one page.
  const std::string notes = pri->at("NOTES").ToText();
  std::u16string units;
  ASSERT_TRUE(jet::Utf8ToUtf16(notes, &units));
  EXPECT_EQ(units.size(), 3000u);
  EXPECT_EQ(notes.substr(0, 40), "001: Priority Mail handling note; weigh ");
  EXPECT_NE(notes.find("\r\n002: Priority Mail"), std::string::npos);
  EXPECT_EQ(pri->at("LOGO").bytes.size(), 5000u);

  // The same 22,970-byte OLE value in three databases, one per Access
  // version: a chain over many pages, read identically every time.
  std::string first;
  for (const char* file : {"access/test2V1997.mdb", "access/test2V2000.mdb",
                           "access/test2V2003.mdb"}) {
    SCOPED_TRACE(file);
    auto projects = ReadAll(file, "MSP_PROJECTS");
    ASSERT_FALSE(projects.empty());
    const std::string& blob = projects[0].at("RESERVED_BINARY_DATA").bytes;
    EXPECT_EQ(blob.size(), 22970u);
    if (first.empty()) first = blob;
    EXPECT_EQ(blob, first);
  }
}

TEST(ValueReadTest, Jet3TextIsReadInTheDatabaseCodePage) {
  auto rows = ReadAll("access/testIndexCodesV1997.mdb", "Table1");
  ASSERT_EQ(rows.size(), 275u);
  EXPECT_EQ(FindRow(rows, "name", "row163")->at("data").ToText(), "AA\xC2\xA3" "AA");  // £
  EXPECT_EQ(FindRow(rows, "name", "row196")->at("data").ToText(), "AA\xC3\x84" "AA");  // Ä
  EXPECT_EQ(FindRow(rows, "name", "row255")->at("data").ToText(), "AA\xC3\xBF" "AA");  // ÿ
  // Windows-1252's own characters in 0x80..0x9F.
  const uint8_t euro_dash[] = {0x80, 0x96, 0x9F};
  EXPECT_EQ(jet::DecodeCodePageText(jet::ByteView(euro_dash, 3), 1252),
            "\xE2\x82\xAC\xE2\x80\x93\xC5\xB8");
}

TEST(ValueReadTest, CompressedUnicodeInEveryScript) {
  auto rows = ReadAll("access/testUnicodeCompV2003.mdb", "Table");
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0].at("Unicode").ToText(), "only ascii chars");
  EXPECT_EQ(rows[1].at("Unicode").ToText(), "\xC3\xA4\xC3\xA4kk\xC3\xB6si\xC3\xA4");  // ääkkösiä
  EXPECT_EQ(rows[2].at("Unicode").ToText(), "\xD0\x9C\xD0\xB8\xD1\x80");             // Мир
  EXPECT_EQ(rows[4].at("Unicode").ToText(),
            "\xE6\xBC\xA2\xE5\xAD\x97\xE4\xBB\xAE\xE5\x90\x8D\xE4\xBA\xA4\xE3\x81\x98"
            "\xE3\x82\x8A\xE6\x96\x87");  // 漢字仮名交じり文
  // Switching between one- and two-byte runs inside one value.
  const uint8_t mixed[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x1C, 0x04, 0x00, 'c'};
  EXPECT_EQ(jet::DecodeJet4Text(jet::ByteView(mixed, sizeof mixed)), "ab\xD0\x9C" "c");
}

TEST(ValueReadTest, DatesAcrossTheWholeRange) {
  // Access's range is 100-01-01 to 9999-12-31 23:59:59.
  EXPECT_EQ(jet::FormatDateTime(-657434.0), "0100-01-01T00:00:00");
  EXPECT_EQ(jet::FormatDateTime(2958465.0 + 86399.0 / 86400.0), "9999-12-31T23:59:59");
  EXPECT_EQ(jet::FormatDateTime(0.0), "1899-12-30T00:00:00");
  // Before the epoch the fraction still runs forward from midnight.
  EXPECT_EQ(jet::FormatDateTime(-1.25), "1899-12-29T06:00:00");
  EXPECT_EQ(jet::FormatDateTime(-0.5), "1899-12-30T12:00:00");
  EXPECT_EQ(jet::FormatDateTime(2.0 + 0.5 / 86400.0), "1900-01-01T00:00:00.500");
  // Rounding to the millisecond may carry into the next day.
  EXPECT_EQ(jet::FormatDateTime(1.0 - 1e-10), "1899-12-31T00:00:00");
  // (The way back, DateTimeToJet, is pinned by value_json_test's date round
  // trips and refusals.)

  // Dates from the 17th to the 44th century that Access 97 stored.
  auto rows = ReadAll("access/testIndexCodesV1997.mdb", "Table6");
  std::set<std::string> dates;
  for (const Row& r : rows) {
    for (const auto& [name, v] : r) {
      if (v.type == jet::ColumnType::kDateTime && !v.null) dates.insert(v.ToText());
    }
  }
  for (const char* d : {"1668-07-20T00:00:00", "1899-12-29T02:24:00", "4374-07-17T00:00:00",
                        "4103-12-19T08:18:03"}) {
    EXPECT_TRUE(dates.count(d)) << d;
  }
}

TEST(ValueReadTest, DeletedRowsAreSkippedAndMovedRowsFollowed) {
  for (const char* file : {"access/delTestV1997.mdb", "access/delTestV2000.mdb",
                           "access/delTestV2003.mdb"}) {
    auto rows = ReadAll(file, "Table");
    ASSERT_EQ(rows.size(), 2u) << file;
    EXPECT_EQ(rows[0].at("a").ToText(), "z");
    EXPECT_EQ(rows[1].at("b").ToText(), "u");
  }
  for (const char* file : {"access/overflowTestV1997.mdb", "access/overflowTestV2000.mdb",
                           "access/overflowTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    auto rows = ReadAll(file, "Table1");
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[2].at("data9").ToText(), "row3col9");
    EXPECT_TRUE(rows[2].at("data1").null);
  }
}

TEST(ValueReadTest, TablesWithDeletedColumnsReadByColumnNumber) {
  for (const char* file : {"access/delColTestV1997.mdb", "access/delColTestV2000.mdb",
                           "access/delColTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    auto rows = ReadAll(file, "Table1");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("id").ToText(), "0");
    EXPECT_EQ(rows[0].at("id2").ToText(), "2");
    EXPECT_EQ(rows[0].at("data2").ToText(), "foo2");
    EXPECT_EQ(rows[1].at("id").ToText(), "3");
    EXPECT_EQ(rows[1].at("data").ToText(), "bar");
  }
}

TEST(ValueReadTest, FixedLengthTextAndDecimal) {
  auto users = ReadAll("access/fixedTextTestV2000.mdb", "users");
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0].at("c_flag_").ToText(), "N");
  EXPECT_EQ(users[1].at("d_stamp_").ToText(), "2009-10-22T03:57:13");
  auto numbers = ReadAll("access/fixedNumericTestV2003.mdb", "test");
  ASSERT_EQ(numbers.size(), 1u);
  EXPECT_EQ(numbers[0].at("col5").ToText(), "4");
  EXPECT_EQ(numbers[0].at("col6").ToText(), "-1");
}

TEST(ValueReadTest, DecimalFormatting) {
  jet::Decimal d;
  d.scale = 4;
  d.words[3] = 1;
  EXPECT_EQ(d.ToString(), "0.0001");
  jet::Decimal big;  // 2^96 - 1, the largest 28-digit magnitude Access uses
  big.words[1] = big.words[2] = big.words[3] = 0xFFFFFFFF;
  EXPECT_EQ(big.ToString(), "79228162514264337593543950335");
}
