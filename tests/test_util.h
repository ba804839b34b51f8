// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the tests: fixture paths, scratch folders, child processes.

#ifndef TESTS_TEST_UTIL_H_
#define TESTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// Path of a read-only fixture, e.g. Fixture("access/testV2000.mdb").
std::string Fixture(const std::string& relative);

// Every .mdb file in a fixture folder ("access" or "hosts"), sorted.
std::vector<std::string> FixtureFiles(const std::string& folder);
// Those of both folders.
std::vector<std::string> AllFixtureFiles();

// Databases the repository cannot carry (their terms are unclear), such as
// Access 97 Northwind: the folder named by the environment variable
// AFC_EXTERNAL_DATA, or "" when it is unset. Tests that need one of them
// call REQUIRE_EXTERNAL(path) and are skipped, saying so, without it.
std::string ExternalFile(const std::string& name);

#define REQUIRE_EXTERNAL(path)                                                               \
  do {                                                                                       \
    if ((path).empty() || !testutil::Exists(path))                                           \
      GTEST_SKIP()                                                                           \
          << "needs an external database; set AFC_EXTERNAL_DATA (see tests/data/README.md)"; \
  } while (0)

// A fresh folder under the system temp folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Copies a file byte for byte (the copy is writable).
void CopyFile(const std::string& from, const std::string& to);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// A writable copy of a fixture (a path relative to the fixtures, or an
// absolute one) in `dir`, under `name`; returns its path.
std::string CopyOf(const TempDir& dir, const std::string& fixture,
                   const std::string& name = "Tallowin.mdb");

// Encodes a plain database in place as Access's "Encode Database" does: the
// header gets `key` as its encoding key, and every other page that is not
// blank is stored RC4-encoded under it (see page_codec.h).
void EncodeDatabase(const std::string& path, uint32_t key);

// A table of a fixture, as a test's parameter, and the test's name for it:
// "bigIndexTestV2000_mdb_Table1" for ("access/bigIndexTestV2000.mdb", "Table1").
struct FixtureTable {
  const char* file;
  const char* table;
};
std::string FixtureTableName(const ::testing::TestParamInfo<FixtureTable>& info);

// The lines of a tab-separated test data file (a path relative to the
// fixtures), split into fields; blank lines and lines starting with '#' are
// left out. With `unescape`, a backslash followed by t, n, r, xNN
// or any other character stands for that byte or character. A missing file fails the test.
struct DataLine {
  int number;
  std::vector<std::string> fields;
};
std::vector<DataLine> DataLines(const std::string& relative, bool unescape = false);

// Upper-case hex of the bytes, two digits each.
std::string Hex(const std::string& bytes);

struct ProcessResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// A program started with the arguments (no shell; argv[0] is looked up on
// PATH), its standard input and output pipes to this one. With `files`
// (input, output, error), its standard streams are those files instead.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv,
                 const std::vector<std::string>* files = nullptr);
  ~Child() { Finish(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line the program prints, without its line ending.
  std::string ReadLine();
  // Closes its input and waits for it; returns its exit code.
  int Finish();
  void Kill();

 private:
  bool ReadByte(char* c);
#ifdef _WIN32
  void* process_ = nullptr;
  void* stdin_ = nullptr;
  void* stdout_ = nullptr;
#else
  int pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
#endif
  int exit_code_ = -1;
};

// Runs argv[0] with the arguments (no shell), capturing stdout and stderr.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& stdin_data = "");

// Path of the jetdb binary under test.
std::string JetdbPath();

// Runs jetdb with `args` and checks that it ends with `code`: 0 with
// nothing on stderr, anything else with nothing on stdout and "jetdb:" on
// stderr.
ProcessResult Jetdb(int code, std::vector<std::string> args, const std::string& input = "");

// For EXPECT_TRUE: `text` holds `part` (Has) or begins with it (StartsWith);
// a failure shows both.
::testing::AssertionResult Has(const std::string& text, const std::string& part);
::testing::AssertionResult StartsWith(const std::string& text, const std::string& part);

// True if `program` is found on PATH.
bool HaveProgram(const std::string& program);

// mdb-export, a reader we did not write, reads `rows` rows from the table
// (line breaks inside values escaped). Nothing to do without mdbtools.
void ExpectMdbExportRows(const std::string& path, const std::string& table, size_t rows);

}  // namespace testutil

#endif  // TESTS_TEST_UTIL_H_
