// SPDX-License-Identifier: Apache-2.0
// Encrypted .accdb files, one with RC4 CryptoAPI and one agile (AES-256,
// SHA-512): they open only with their password, then read as a plain file
// does, and are never opened for writing.

#include <gtest/gtest.h>

#include "jet/jet.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"
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
  auto db = jet::Database::Open(path(), {.password = kPassword});
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  std::string bytes = testutil::ReadFile(path());
  const uint32_t size = (*db)->format().page_size;
  for (uint32_t n = 1; n < (*db)->pager().page_count(); ++n) {
    auto page = (*db)->pager().Read(n);
    ASSERT_TRUE(page.ok()) << page.status().ToString();
    bytes.replace(size_t(n) * size, size, reinterpret_cast<const char*>((*page)->bytes.data()),
                  size);
  }
  auto* header = reinterpret_cast<uint8_t*>(bytes.data());
  jet::ApplyHeaderMask(header, (*db)->format());
  jet::PutLe32(header + 0x3E, 0);
  // The Jet 4 password field is not empty in these files: clear it, as the
  // mask of the creation date's whole days.
  uint8_t mask[4];
  jet::PutLe32(mask, uint32_t(int32_t(jet::BitsToDouble(jet::Le64(header + 0x72)))));
  for (int i = 0; i < 40; ++i) header[0x42 + i] = mask[i % 4];
  jet::ApplyHeaderMask(header, (*db)->format());
  testutil::TempDir dir;
  const std::string plain = dir.File("plain.accdb");
  testutil::WriteFile(plain, bytes);
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
