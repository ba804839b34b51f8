// SPDX-License-Identifier: Apache-2.0
// Encrypted .accdb files, one with RC4 CryptoAPI and one agile (AES-256,
// SHA-512): they open only with their password, then read as a plain file
// does, and are never opened for writing.

#include <gtest/gtest.h>

#include "jet/jet.h"
#include "test_util.h"

namespace {

using jet::ErrorKind;
using testutil::Has;

struct Encrypted {
  const char* file;
  const char* how;
};

class AccdbPasswordTest : public ::testing::TestWithParam<Encrypted> {
 protected:
  std::string path() const { return testutil::Fixture(GetParam().file); }
};

INSTANTIATE_TEST_SUITE_P(Files, AccdbPasswordTest,
                         ::testing::Values(Encrypted{"access/encrypted/rc4-cryptoapi.accdb",
                                                     "RC4 CryptoAPI, 128-bit key"},
                                           Encrypted{"access/encrypted/agile.accdb",
                                                     "agile AES-256, SHA-512"}),
                         [](const auto& info) { return info.index == 0 ? "Rc4" : "Agile"; });

constexpr char kPassword[] = "password";
// Table1 as jetdb exports it (mdb-reader's tests name only the table).
constexpr char kRows[] = "ID,Data\r\n1,One\r\n2,Two\r\n3,Three\r\n";

TEST_P(AccdbPasswordTest, OpensOnlyWithItsPasswordAndReadsItsRows) {
  auto info = jet::Database::ReadInfo(path());
  ASSERT_TRUE(info.ok()) << info.status().ToString();
  EXPECT_EQ(info->encryption, GetParam().how);
  EXPECT_TRUE(info->has_password);
  EXPECT_TRUE(Has(testutil::Jetdb(0, {"info", path()}).out,
                  std::string("encrypted: yes (") + GetParam().how + ")"));

  jet::Status none = jet::Database::Open(path()).status();
  EXPECT_EQ(none.kind(), ErrorKind::kPasswordProtected);
  EXPECT_TRUE(Has(none.message(), "none was given"));
  for (const char* wrong : {"Password", "passwor", "password "}) {
    jet::Status s = jet::Database::Open(path(), {.password = wrong}).status();
    EXPECT_EQ(s.kind(), ErrorKind::kPasswordProtected) << wrong;
    EXPECT_TRUE(Has(s.message(), "the password given is wrong")) << wrong;
  }
  EXPECT_EQ(testutil::Jetdb(0, {"export", path(), "Table1", "--password", kPassword}).out, kRows);
}

// Decrypted page by page, with the header's encoding key cleared, the file
// is a plain .accdb, which mdbtools (that cannot decrypt) reads alike.
TEST_P(AccdbPasswordTest, DecryptsToAFileMdbtoolsReads) {
  testutil::TempDir dir;
  const std::string plain = dir.File("plain.accdb");
  ASSERT_EQ(testutil::RunProcess({AFC_DECRYPT_COPY_PATH, path(), plain, kPassword}).exit_code, 0);
  EXPECT_TRUE(jet::Database::ReadInfo(plain)->encryption.empty());
  EXPECT_EQ(testutil::Jetdb(0, {"export", plain, "Table1"}).out, kRows);
  if (testutil::HaveProgram("mdb-export")) {
    EXPECT_EQ(testutil::RunProcess({"mdb-export", plain, "Table1"}).out,
              "ID,Data\n1,\"One\"\n2,\"Two\"\n3,\"Three\"\n");
  }
}

TEST_P(AccdbPasswordTest, RefusesToOpenForWritingAndChangesNothing) {
  testutil::TempDir dir;
  const std::string copy = testutil::CopyOf(dir, path(), "Encrypted.accdb");
  const std::string before = testutil::ReadFile(copy);
  for (const char* password : {"", kPassword}) {
    jet::Status s = jet::Database::Open(copy, {.password = password, .writable = true}).status();
    EXPECT_EQ(s.kind(), ErrorKind::kUnsupported) << s.ToString();
    EXPECT_TRUE(Has(s.message(), GetParam().how));
  }
  EXPECT_EQ(testutil::ReadFile(copy), before);
  EXPECT_EQ(testutil::FolderNames(dir.path()), std::vector<std::string>{"Encrypted.accdb"});
}

}  // namespace
