// SPDX-License-Identifier: Apache-2.0
// Databases with a database password: copies of the fixtures given one as
// Access stores it open only with exactly that password, then read as the
// plain files do; writing to them leaves the header, password and all, as
// it was.

#include <gtest/gtest.h>

#include "jet/jet.h"
#include "jet/storage/header.h"
#include "test_util.h"

namespace {

using jet::ErrorKind;
using namespace std::string_literals;
using testutil::Fixture;
using testutil::Jetdb;

constexpr char16_t kPassword[] = u"Tällöwin";
constexpr char kPasswordUtf8[] = "Tällöwin";

// Sets the database password of the file at `path` as Access stores it: at
// 0x42 in the masked header, zero-padded; Jet 3 in code page 1252 (the
// fixtures'), one byte a character; Jet 4 in UTF-16LE, XORed with the whole
// days of the creation date as a little-endian 32-bit value.
void SetPassword(const std::string& path, const std::u16string& password) {
  std::string file = testutil::ReadFile(path);
  auto* page = reinterpret_cast<uint8_t*>(file.data());
  const bool jet4 = page[0x14] == 1;
  const jet::Format& f = jet4 ? jet::Jet4Format() : jet::Jet3Format();
  jet::ApplyHeaderMask(page, f);
  std::vector<uint8_t> field(f.header_password_size, 0);
  for (size_t i = 0; i < password.size(); ++i) {
    if (jet4) {
      field.at(2 * i) = uint8_t(password[i]);
      field.at(2 * i + 1) = uint8_t(password[i] >> 8);
    } else {
      ASSERT_TRUE(password[i] < 0x80 || (password[i] >= 0xA0 && password[i] <= 0xFF));
      field.at(i) = uint8_t(password[i]);  // Latin-1 letters keep their code in 1252
    }
  }
  uint8_t mask[4] = {0, 0, 0, 0};
  if (jet4) {
    const double date = jet::BitsToDouble(jet::Le64(page + f.header_creation_date));
    ASSERT_NE(int32_t(date), 0) << "the fixture needs a creation date";
    jet::PutLe32(mask, uint32_t(int32_t(date)));
  }
  for (size_t i = 0; i < field.size(); ++i) page[f.header_password + i] = field[i] ^ mask[i % 4];
  jet::ApplyHeaderMask(page, f);
  testutil::WriteFile(path, file);
}

jet::Status OpenWith(const std::string& path, const std::string& password) {
  return jet::Database::Open(path, {.password = password}).status();
}

const char* const kFixtures[] = {"access/testV1997.mdb", "hosts/tallowin-v2000.mdb"};

// A copy of the fixture, given kPassword.
std::string Protected(const testutil::TempDir& dir, const char* fixture) {
  const std::string path = testutil::CopyOf(dir, fixture);
  SetPassword(path, kPassword);
  return path;
}

void ExpectRefused(const jet::Status& s, const char* words) {
  EXPECT_EQ(s.kind(), ErrorKind::kPasswordProtected) << s.ToString();
  EXPECT_NE(s.message().find(words), std::string::npos) << s.ToString();
}

TEST(PasswordTest, OpensOnlyWithExactlyItsPassword) {
  for (const char* fixture : kFixtures) {
    SCOPED_TRACE(fixture);
    testutil::TempDir dir;
    const std::string path = Protected(dir, fixture);
    EXPECT_TRUE(jet::Database::ReadInfo(path)->has_password);
    ExpectRefused(jet::Database::Open(path).status(), "none was given");
    // Case, the accents (the text's encoding), a prefix, an extension.
    for (const std::string& wrong : {"tällöwin"s, "TÄLLÖWIN"s, "Tallowin"s, "Tällöwi"s,
                                     "Tällöwin "s, "Tällöwin\xff"s, "Tällöwin\0"s}) {
      SCOPED_TRACE(wrong);
      ExpectRefused(OpenWith(path, wrong), "wrong");
    }
    EXPECT_TRUE(OpenWith(path, kPasswordUtf8).ok());
    // A database without a password ignores one.
    EXPECT_TRUE(OpenWith(Fixture(fixture), "anything").ok());

    // The field holds 20 characters, and no more.
    SetPassword(path, u"ABCDEFGHIJKLMNOPQRST");
    EXPECT_TRUE(OpenWith(path, "ABCDEFGHIJKLMNOPQRST").ok());
    ExpectRefused(OpenWith(path, "ABCDEFGHIJKLMNOPQRSTU"), "wrong");
    ExpectRefused(OpenWith(path, "ABCDEFGHIJKLMNOPQRS"), "wrong");
    // Encoding the pages leaves the password as it is.
    testutil::EncodeDatabase(path, 0x5A17C3E9);
    ExpectRefused(jet::Database::Open(path).status(), "none was given");
    EXPECT_TRUE(OpenWith(path, "ABCDEFGHIJKLMNOPQRST").ok());
    // Stored bytes equal to the mask are the empty password (read unmasked,
    // they would be taken for one).
    SetPassword(path, u"");
    EXPECT_FALSE(jet::Database::ReadInfo(path)->has_password);
    EXPECT_TRUE(jet::Database::Open(path).ok());
  }
}

// What a user does with jetdb: reads the tables as from the plain file,
// writes, and the header comes through byte for byte; mdbtools, which
// ignores the password, reads the change.
TEST(PasswordTest, JetdbReadsAndWritesWithThePasswordAndKeepsTheHeader) {
  for (const char* fixture : kFixtures) {
    SCOPED_TRACE(fixture);
    testutil::TempDir dir;
    const std::string plain = Fixture(fixture), path = Protected(dir, fixture);
    const std::string pass_file = dir.File("password.txt");
    testutil::WriteFile(pass_file, std::string(kPasswordUtf8) + "\r\n");

    EXPECT_NE(Jetdb(0, {"info", path}).out.find("password: yes"), std::string::npos);
    EXPECT_NE(Jetdb(1, {"tables", path}).err.find("password"), std::string::npos);
    EXPECT_NE(Jetdb(1, {"tables", path, "--password", "tallowin"}).err.find("wrong"),
              std::string::npos);
    const std::string tables = Jetdb(0, {"tables", plain}).out;
    EXPECT_EQ(Jetdb(0, {"tables", path, "--password-file", pass_file}).out, tables);
    const std::string table = tables.substr(0, tables.find('\n'));
    EXPECT_EQ(Jetdb(0, {"export", path, table, "--format", "jsonl", "--password=Tällöwin"}).out,
              Jetdb(0, {"export", plain, table, "--format", "jsonl"}).out);

    // add-firstclass takes no password: it refuses, and says what to do.
    const std::string before = testutil::ReadFile(path);
    const std::string err = testutil::RunProcess({AFC_APP_PATH, "--install", path}).err;
    EXPECT_NE(err.find("password, and none was given. Remove the password in Access first."),
              std::string::npos)
        << err;
    EXPECT_EQ(testutil::ReadFile(path), before);

    const size_t page_size = jet::Database::ReadInfo(path)->page_size;
    const std::string header = testutil::ReadFile(path).substr(0, page_size);
    const std::string schema = dir.File("schema.json"), rows = dir.File("rows.jsonl");
    testutil::WriteFile(schema, R"({"name":"Added","columns":[{"name":"ID","type":"Long"},)"
                                R"({"name":"Note","type":"Text","length":50}]})");
    testutil::WriteFile(rows, "{\"ID\":1,\"Note\":\"Grüße\"}\n{\"ID\":2,\"Note\":\"Tällöwin\"}\n");
    Jetdb(0, {"create-table", path, schema, "--password", kPasswordUtf8});
    Jetdb(0, {"import", path, "Added", rows, "--password-file", pass_file});
    EXPECT_EQ(testutil::ReadFile(path).substr(0, page_size), header);
    EXPECT_NE(Jetdb(0, {"check", path, "--password", kPasswordUtf8}).out.find(": ok"),
              std::string::npos);
    if (testutil::HaveProgram("mdb-export")) {
      EXPECT_EQ(testutil::RunProcess({"mdb-export", path, "Added"}).out,
                "ID,Note\n1,\"Grüße\"\n2,\"Tällöwin\"\n");
    }
  }
}

}  // namespace
