// SPDX-License-Identifier: Apache-2.0
// Complex fields of an Access 2010 file exported as arrays of their values,
// and attachment data decoded, or refused when damaged.

#include <cstdio>
#include <string>

#include "interchange/export.h"
#include "jet/complex_values.h"
#include "test_util.h"
#include "values.h"

namespace {

std::string Export(jet::ExportFormat format) {
  auto db = jet::Database::Open(testutil::Fixture("access/complexDataTestV2010.accdb"));
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  return db.ok() ? testutil::ExportToString(**db, "Table1", format) : "";
}

std::string Hex(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
  return out;
}

// The values Access stored (Jackcess's own tests state the same).
TEST(ComplexExportTest, MultiValuesAndAttachmentsAreArrays) {
  const std::string a1 = R"({"file_name":"test_data.txt","type":"txt","data":")" +
                         Hex("this is some test data for attachment.") + "\"}";
  const std::string a2 = R"({"file_name":"test_data2.txt","type":"txt","data":")" +
                         Hex("this is some more test data for attachment.") + "\"}";
  const std::string history = R"("VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880":)";
  EXPECT_EQ(Export(jet::ExportFormat::kJsonl),
            R"({"id":"row1",)" + history + R"("1","memo-data":null,"append-memo-data":null,)"
            R"("multi-value-data":[],"attach-data":[]})" "\n"
            R"({"id":"row2",)" + history + R"("2","memo-data":"row2-memo","append-memo-data":"row2-memo",)"
            R"("multi-value-data":["value1","value4"],"attach-data":[)" + a1 + "," + a2 + "]}\n"
            R"({"id":"row3",)" + history + R"("3","memo-data":"row3-memo","append-memo-data":"row3-memo-again",)"
            R"("multi-value-data":["value1","value2","value3","value4"],"attach-data":[]})" "\n"
            R"({"id":"row4",)" + history + R"("4","memo-data":"row4-memo","append-memo-data":"row4-memo",)"
            R"("multi-value-data":[],"attach-data":[)" + a2 + "]}\n");
  // CSV holds the same JSON text, quoted as any field with quotes is.
  const std::string csv = Export(jet::ExportFormat::kCsv);
  EXPECT_NE(csv.find(R"(,row3-memo,row3-memo-again,"[""value1"",""value2"",""value3"",""value4""]",[])"),
            std::string::npos) << csv;
}

TEST(ComplexExportTest, AttachmentDataDecodesOrIsRefused) {
  // Stored raw: flag 0, the decoded length, the content header, the file.
  const std::string header("\x14\0\0\0\x01\0\0\0\x04\0\0\0t\0x\0t\0\0\0", 20);
  const std::string raw = std::string("\0\0\0\0\x17\0\0\0", 8) + header + "abc";
  std::string data;
  ASSERT_TRUE(jet::DecodeAttachmentData(raw, &data).ok());
  EXPECT_EQ(data, "abc");
  const std::string deflated = std::string("\x01\0\0\0\x3a\0\0\0", 8) +
                               "\x78\x5e\x13\x61\x60\x60\x60\x04\x62\x16\x20\x2e\x61\xa8\x00";
  for (const std::string& bad :
       {raw.substr(0, 7), raw.substr(0, 30), std::string("\x02", 1) + raw.substr(1),
        std::string("\0\0\0\0\x17\0\0\0\x30\0\0\0", 12) + raw.substr(12), deflated,
        std::string("\x01\0\0\0\xff\xff\xff\x7f", 8) + deflated.substr(8)}) {
    jet::Status s = jet::DecodeAttachmentData(bad, &data);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kCorrupt) << s.ToString();
  }
}

}  // namespace
