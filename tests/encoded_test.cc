// SPDX-License-Identifier: Apache-2.0
// Encoded databases: copies of the fixtures encoded as Access encodes them
// read as the plain files do, and a change to one leaves exactly the file
// that encoding the same changed plain file gives, which mdbtools, decoding
// on its own, reads row for row as it reads the plain one.

#include "install/installer.h"
#include "jet/storage/page_codec.h"
#include "recording_ui.h"
#include "values.h"

namespace {

constexpr uint32_t kKey = 0x5A17C3E9;

// The user tables and the catalog, each as text rows.
std::vector<std::vector<std::map<std::string, std::string>>> AllRows(const std::string& path) {
  auto db = jet::Database::Open(path);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return {};
  std::vector<std::vector<std::map<std::string, std::string>>> out;
  out.push_back(testutil::Texts(testutil::ReadRows(path, "MSysObjects")));
  for (const jet::CatalogEntry& t : (*db)->ListTables().value()) {
    out.push_back(testutil::Texts(testutil::ReadRows(path, t.name)));
  }
  return out;
}

// Access leaves the header and blank pages plain; a blank page read encoded
// would be noise.
TEST(EncodedTest, HeaderAndBlankPagesAreLeftPlain) {
  const jet::PageCodec codec(kKey);
  std::vector<uint8_t> blank(2048, 0), header(2048, 7);
  codec.Decode(5, blank);
  codec.Encode(0, header);
  EXPECT_EQ(blank, std::vector<uint8_t>(2048, 0));
  EXPECT_EQ(header, std::vector<uint8_t>(2048, 7));
}

std::string Header(const std::string& path) {
  return testutil::ReadFile(path).substr(0, jet::Database::ReadInfo(path)->page_size);
}

// The same change made to a plain copy and to an encoded copy; the encoded
// one must end up as the plain one encoded, and read as it does.
struct Twins {
  explicit Twins(const std::string& fixture)
      : plain(testutil::CopyOf(dir, fixture, "plain.mdb")),
        encoded(testutil::CopyOf(dir, fixture, "encoded.mdb")) {
    testutil::EncodeDatabase(encoded, kKey);
    header = Header(encoded);
  }

  void ExpectSameChange() {
    EXPECT_EQ(Header(encoded), header) << "the header changed";
    const std::string want = testutil::CopyOf(dir, plain, "want.mdb");
    testutil::EncodeDatabase(want, kKey);
    EXPECT_TRUE(testutil::ReadFile(encoded) == testutil::ReadFile(want))
        << "the changed encoded file is not the changed plain file, encoded";
    EXPECT_EQ(AllRows(encoded), AllRows(plain));
    EXPECT_NE(testutil::Jetdb(0, {"info", encoded}).out.find("\nencoded: yes\n"),
              std::string::npos);
    testutil::Jetdb(0, {"check", encoded});
    if (!testutil::HaveProgram("mdb-export")) return;
    auto db = jet::Database::Open(plain);
    ASSERT_TRUE(db.ok());
    for (const jet::CatalogEntry& t : (*db)->ListTables().value()) {
      auto theirs = testutil::RunProcess({"mdb-export", "-b", "hex", encoded, t.name});
      EXPECT_EQ(theirs.exit_code, 0) << theirs.err;
      EXPECT_EQ(theirs.out, testutil::RunProcess({"mdb-export", "-b", "hex", plain, t.name}).out)
          << "mdbtools reads table " << t.name << " of the encoded file differently";
    }
  }

  testutil::TempDir dir;
  const std::string plain;
  const std::string encoded;
  std::string header;
};

TEST(EncodedTest, InstallingOnAnEncodedHostLeavesItEncodedAsAccessWould) {
  Twins t("hosts/tallowin-v2000.mdb");
  testutil::RecordingUi ui;
  ASSERT_EQ(afc::InstallFirstClass(ui, t.plain), afc::kTrue);
  ASSERT_EQ(afc::InstallFirstClass(ui, t.encoded), afc::kTrue);
  EXPECT_EQ(ui.Boxes(), std::vector<std::string>{});
  t.ExpectSameChange();
  testutil::FindRow(testutil::ReadRows(t.encoded, "Master"), "SERVICE", "FirstClass");
}

TEST(EncodedTest, ImportingIntoAnEncodedAccess97FileGrowsItEncoded) {
  // Enough rows for new data pages and index page splits.
  std::string rows;
  for (int i = 0; i < 400; ++i) {
    rows += "{\"A\":\"k" + std::to_string(1000 + i) + "\",\"B\":\"row " + std::to_string(i) +
            "\",\"E\":" + std::to_string(i * 7) + "}\n";
  }
  Twins t("access/testV1997.mdb");
  const size_t size_before = testutil::ReadFile(t.encoded).size();
  for (const std::string& path : {t.plain, t.encoded}) {
    testutil::Jetdb(0, {"import", path, "Table1"}, rows);
  }
  EXPECT_GT(testutil::ReadFile(t.encoded).size(), size_before);
  t.ExpectSameChange();
}

// Files that Access encoded (kept outside the repository; see
// tests/data/README.md): they read and check clean.
TEST(EncodedTest, DatabasesEncodedByAccessReadAndCheckClean) {
  for (const char* name : {"db97-enc.mdb", "db-enc.mdb"}) {
    SCOPED_TRACE(name);
    const std::string real = testutil::ExternalFile(name);
    REQUIRE_EXTERNAL(real);
    testutil::TempDir dir;
    const std::string path = testutil::CopyOf(dir, real);
    EXPECT_TRUE(jet::Database::ReadInfo(path)->encoded);
    EXPECT_EQ(testutil::Texts(testutil::ReadRows(path, "Table1")),
              (std::vector<std::map<std::string, std::string>>{
                  {{"ID", "1"}, {"col1", "hello"}, {"col2", "0"}},
                  {{"ID", "2"}, {"col1", "world"}, {"col2", "42"}}}));
    testutil::ExpectConsistent(path);
  }
}

}  // namespace
