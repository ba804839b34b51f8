// SPDX-License-Identifier: Apache-2.0
// Access 97 text in code pages other than Windows-1252: read, written and
// refused by the code page the database's header names (or, where it names
// none, the sort order's locale).

#include <gtest/gtest.h>

#include "jet/jet.h"
#include "jet/storage/header.h"
#include "jet/storage/text.h"
#include "test_util.h"

namespace {

using testutil::Fixture;
using testutil::TempDir;

std::string Decode(const std::string& bytes, uint16_t code_page) {
  return jet::DecodeCodePageText(
      jet::ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), code_page);
}

TEST(CodePageTest, BytesReadAsTheirCodePageSaysAndAssignedOnesWriteBack) {
  // "محمد" as Access 97 stored it in an Arabic database (code page 1256).
  EXPECT_EQ(Decode("\xE3\xCD\xE3\xCF", 1256), "محمد");
  EXPECT_EQ(Decode("\xFD\xDE\xF0", 1254), "ıŞğ");
  EXPECT_EQ(Decode("\x80\x81\xE9", 1252),
            "€\xC2\x81"
            "é");  // 0x81: unassigned, kept
  // Unassigned above 0xA0, and any byte above ASCII in a code page the engine
  // does not know, read as U+FFFD rather than as some other character.
  EXPECT_EQ(Decode("\xD9", 1255), "\xEF\xBF\xBD");
  EXPECT_EQ(Decode("a\xB0\xA1", 936), "a\xEF\xBF\xBD\xEF\xBF\xBD");

  for (uint16_t cp : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    for (int b = 0; b < 256; ++b) {
      const std::string text = Decode(std::string(1, char(b)), cp);
      std::u16string units;
      ASSERT_TRUE(jet::Utf8ToUtf16(text, &units));
      ASSERT_EQ(units.size(), 1u);
      uint8_t back = 0;
      if (units[0] == 0xFFFD) {
        EXPECT_FALSE(jet::EncodeCodePageChar(units[0], cp, &back)) << cp << " " << b;
      } else {
        ASSERT_TRUE(jet::EncodeCodePageChar(units[0], cp, &back)) << cp << " " << b;
        EXPECT_EQ(back, b) << cp;
      }
    }
  }
  uint8_t b = 0;
  EXPECT_FALSE(jet::EncodeCodePageChar(0x4E2D, 936, &b));

  EXPECT_EQ(jet::Jet3TextCodePage(1256, 1025), 1256);
  EXPECT_EQ(jet::Jet3TextCodePage(0, 1055), 1254);  // Turkish sort order
  EXPECT_EQ(jet::Jet3TextCodePage(0, 0x0804), 936);
  EXPECT_EQ(jet::Jet3TextCodePage(0, 1033), 1252);
}

// An Access 97 file whose header names Cyrillic takes Cyrillic text in that
// code page, refuses what the code page lacks without writing, and reads
// back the same in mdbtools.
TEST(CodePageTest, Access97DatabaseWritesTextInItsOwnCodePage) {
  TempDir dir;
  const std::string path = dir.File("cyrillic.mdb");
  testutil::CopyFile(Fixture("access/delTestV1997.mdb"), path);
  std::string bytes = testutil::ReadFile(path);
  auto* page = reinterpret_cast<uint8_t*>(bytes.data());
  const jet::Format& format = jet::Jet3Format();
  jet::ApplyHeaderMask(page, format);
  jet::PutLe16(page + format.header_code_page, 1251);
  jet::ApplyHeaderMask(page, format);
  testutil::WriteFile(path, bytes);

  testutil::Jetdb(0, {"import", path, "Table", "-"}, "{\"a\": \"Привет\", \"b\": \"мир\"}\n");
  EXPECT_NE(testutil::ReadFile(path).find("\xCF\xF0\xE8\xE2\xE5\xF2"), std::string::npos);

  const std::string before = testutil::ReadFile(path);
  const std::string err =
      testutil::Jetdb(1, {"import", path, "Table", "-"}, "{\"a\": \"café\"}\n").err;
  EXPECT_NE(err.find("code page"), std::string::npos) << err;
  EXPECT_EQ(testutil::ReadFile(path), before);

  EXPECT_NE(testutil::Jetdb(0, {"export", path, "Table"}).out.find("Привет,мир"),
            std::string::npos);
  if (testutil::HaveProgram("mdb-export")) {
    auto r = testutil::RunProcess({"mdb-export", path, "Table"});
    EXPECT_NE(r.out.find("\"Привет\",\"мир\""), std::string::npos) << r.out;
  }
}

}  // namespace
