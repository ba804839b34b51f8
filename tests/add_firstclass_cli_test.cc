// SPDX-License-Identifier: Apache-2.0
// add-firstclass without a window: --install, --dry-run, --help and
// --version, run as a real process on copies of the sample database.

#include <gtest/gtest.h>

#include <cstdio>

#include "test_util.h"
#include "util/console_ui.h"

namespace {

using testutil::RunProcess;

std::string App() { return AFC_APP_PATH; }

struct SampleCopy {
  testutil::TempDir dir;
  const std::string path = testutil::CopyOf(dir, AFC_SAMPLE_DB);
  size_t FilesInDir() const { return testutil::FolderNames(dir.path()).size(); }
};

TEST(AddFirstClassCliTest, InstallReportsProgressAndOutcome) {
  SampleCopy copy;
  auto run = RunProcess({App(), "--install", copy.path});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Not a terminal: every status text on a line of its own, in order.
  EXPECT_TRUE(testutil::StartsWith(run.out, "Adding service settings 0 of "));
  EXPECT_TRUE(testutil::Has(run.out,
                            "\nFinished adding service successfully!\n"
                            "Add Service\n"
                            "USPS First-Class Mail service was added successfully !\n"
                            "Finished successfully !\n"));
  EXPECT_EQ(copy.FilesInDir(), 1u);
}

// A site that moved its settings to Access 2007: the sample's .accdb twin
// gets the same Master row and Panel button as the .mdb, and a second run
// changes nothing.
TEST(AddFirstClassCliTest, InstallOnAnAccdbCopyOfTheSampleDoesWhatItDoesOnTheMdb) {
  using testutil::Jetdb;
  SampleCopy copy;
  const std::string accdb = testutil::CopyOf(copy.dir, AFC_SAMPLE_ACCDB);
  for (const std::string& db : {copy.path, accdb}) {
    EXPECT_EQ(RunProcess({App(), "--install", db}).exit_code, 0) << db;
  }
  const std::string installed = testutil::ReadFile(accdb);
  EXPECT_EQ(RunProcess({App(), "--install", accdb}).exit_code, 0);
  EXPECT_EQ(testutil::ReadFile(accdb), installed);
  for (const char* t : {"Master", "Panel"}) {
    EXPECT_EQ(Jetdb(0, {"export", accdb, t, "--format", "jsonl"}).out,
              Jetdb(0, {"export", copy.path, t, "--format", "jsonl"}).out)
        << t;
  }
  EXPECT_TRUE(testutil::Has(Jetdb(0, {"check", accdb}).out, ": ok"));
}

TEST(AddFirstClassCliTest, FailuresGoToStandardErrorWithExitCodeOne) {
  testutil::TempDir dir;
  const std::string not_db = dir.File("Tallowin.mdb");
  testutil::WriteFile(not_db, "not a database");
  auto run = RunProcess({App(), "--install", not_db});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "Failed to add USPS First-Class Mail service...\n");
  EXPECT_TRUE(testutil::StartsWith(run.err,
                                   "Warning: Process has failed !\n"
                                   "Failed to add USPS 'FirstClass' service to Master table...\n"
                                   "\n"
                                   "The following error has occurred:\n"
                                   "The file '" +
                                       not_db + "' is not a Microsoft Access database"));
  EXPECT_EQ(testutil::ReadFile(not_db), "not a database");

  // A missing file (in a missing folder) is reported, and not made.
  const std::string missing = dir.File("gone/Tallowin.mdb");
  run = RunProcess({App(), "--install", missing});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(testutil::Has(run.err, "Could not find the database file '" + missing + "'."));
  EXPECT_FALSE(testutil::Exists(missing));
}

TEST(AddFirstClassCliTest, DryRunTellsWhatWouldHappenAndWritesNothing) {
  SampleCopy copy;
  const std::string bytes = testutil::ReadFile(copy.path);
  auto plan = RunProcess({App(), "--install", "--dry-run", copy.path});
  EXPECT_EQ(plan.exit_code, 0) << plan.err;
  EXPECT_TRUE(testutil::Has(
      plan.out, "Master: 'FirstClass' is missing; a copy of 'USPS-PRI' would be added"));
  EXPECT_TRUE(testutil::Has(plan.out, "from USPS-4TH-NOSC, ACTDELC: "));
  EXPECT_TRUE(testutil::Has(plan.out,
                            "would go into slot 5 (SV5, BD5) of the first row that shows "
                            "'USPS-PRI' (PANELID = 1)"));
  EXPECT_TRUE(testutil::Has(plan.out, "Nothing was written."));
  EXPECT_EQ(testutil::ReadFile(copy.path), bytes);
  EXPECT_EQ(copy.FilesInDir(), 1u);

  ASSERT_EQ(RunProcess({App(), "--install", copy.path}).exit_code, 0);
  auto after = RunProcess({App(), "--dry-run", "--install", copy.path});
  EXPECT_EQ(after.exit_code, 0);
  EXPECT_TRUE(testutil::Has(after.out, "Master: 'FirstClass' is already present"));
  EXPECT_TRUE(testutil::Has(after.out, "Panel: 'FirstClass' already has a button"));

  auto bad = RunProcess({App(), "--install", "--dry-run", copy.dir.File("missing.mdb")});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_TRUE(testutil::Has(bad.err, "cannot be read (error 3024)"));
}

TEST(AddFirstClassCliTest, UsageHelpAndVersion) {
  auto help = RunProcess({App(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(testutil::StartsWith(help.out, "Usage: add-firstclass [PATH]\n"));
#ifdef _WIN32
  EXPECT_TRUE(testutil::Has(help.out, "C:\\Tallowin\\Tallowin.mdb"));
#else
  EXPECT_TRUE(testutil::Has(help.out, "drive_c/Tallowin/Tallowin.mdb"));
#endif
  auto version = RunProcess({App(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_TRUE(testutil::StartsWith(version.out, "add-firstclass "));

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--install"}, {"--bogus"}, {"--install", "a.mdb", "b.mdb"}, {"--dry-run", "a.mdb"}}) {
    std::vector<std::string> argv{App()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = RunProcess(argv);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_TRUE(testutil::Has(r.err, "Try 'add-firstclass --help'"));
    EXPECT_EQ(r.out, "");
  }
}

// On a terminal the progress texts rewrite one line; everything else still
// gets a line of its own.
TEST(AddFirstClassCliTest, ProgressRewritesOneLineOnATerminal) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_TRUE(out && err);
  {
    afc::ConsoleUi ui(out, err, true);
    ui.SetStatusText("Adding service settings 0 of 2");
    ui.SetStatusText("Adding service settings 1 of 2");
    ui.SetStatusText("Finished adding service successfully!");
    ui.SetStatusText("Adding service settings 0 of 1");
    ui.ShowMessageBox("A\rB\r\nC", afc::kVbExclamation, "T");
  }
  auto contents = [](std::FILE* f) {
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
    std::fclose(f);
    return s;
  };
  EXPECT_EQ(contents(out),
            "\r\033[KAdding service settings 0 of 2\r\033[KAdding service settings 1 of 2"
            "\r\033[KFinished adding service successfully!\n"
            "\r\033[KAdding service settings 0 of 1\n");
  EXPECT_EQ(contents(err), "Warning: T\nA\nB\nC\n");
}

}  // namespace
