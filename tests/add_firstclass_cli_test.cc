// add-firstclass without a window: --install, --dry-run, --help and
// --version, run as a real process on copies of the sample database.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "console_ui.h"
#include "test_util.h"

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
  EXPECT_EQ(run.out.rfind("Adding service settings 0 of ", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\nFinished adding service successfully!\n"
                         "Add Service\n"
                         "USPS First-Class Mail service was added successfully !\n"
                         "Finished successfully !\n"),
            std::string::npos)
      << run.out;

  // A second run changes no byte and still succeeds, without progress.
  const std::string bytes = testutil::ReadFile(copy.path);
  auto again = RunProcess({App(), "--install", copy.path});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out,
            "Add Service\nUSPS First-Class Mail service was added successfully !\n"
            "Finished successfully !\n");
  EXPECT_EQ(testutil::ReadFile(copy.path), bytes);
  EXPECT_EQ(copy.FilesInDir(), 1u);

  auto check = RunProcess({testutil::JetdbPath(), "check", copy.path});
  EXPECT_EQ(check.exit_code, 0) << check.out;
}

TEST(AddFirstClassCliTest, FailuresGoToStandardErrorWithExitCodeOne) {
  testutil::TempDir dir;
  const std::string not_db = dir.File("Tallowin.mdb");
  testutil::WriteFile(not_db, "not a database");
  auto run = RunProcess({App(), "--install", not_db});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "Failed to add USPS First-Class Mail service...\n");
  EXPECT_EQ(run.err.rfind("Warning: Process has failed !\n"
                          "Failed to add USPS 'FirstClass' service to Master table...\n"
                          "\n"
                          "The following error has occurred:\n"
                          "The file '" +
                              not_db + "' is not a Microsoft Access database",
                          0),
            0u)
      << run.err;
  EXPECT_EQ(testutil::ReadFile(not_db), "not a database");

  // A missing file (in a missing folder) is reported, and not made.
  const std::string missing = dir.File("gone/Tallowin.mdb");
  run = RunProcess({App(), "--install", missing});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("Could not find the database file '" + missing + "'."), std::string::npos)
      << run.err;
  EXPECT_FALSE(testutil::Exists(missing));
}

TEST(AddFirstClassCliTest, DryRunTellsWhatWouldHappenAndWritesNothing) {
  SampleCopy copy;
  const std::string bytes = testutil::ReadFile(copy.path);
  auto plan = RunProcess({App(), "--install", "--dry-run", copy.path});
  EXPECT_EQ(plan.exit_code, 0) << plan.err;
  EXPECT_NE(plan.out.find("Master: 'FirstClass' is missing; a copy of 'USPS-PRI' would be added"),
            std::string::npos)
      << plan.out;
  EXPECT_NE(plan.out.find("from USPS-4TH-NOSC, ACTDELC: "), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find("would go into slot 5 (SV5, BD5) of the first row that shows "
                          "'USPS-PRI' (PANELID = 1)"),
            std::string::npos)
      << plan.out;
  EXPECT_NE(plan.out.find("Nothing was written."), std::string::npos);
  EXPECT_EQ(testutil::ReadFile(copy.path), bytes);
  EXPECT_EQ(copy.FilesInDir(), 1u);

  ASSERT_EQ(RunProcess({App(), "--install", copy.path}).exit_code, 0);
  auto after = RunProcess({App(), "--dry-run", "--install", copy.path});
  EXPECT_EQ(after.exit_code, 0);
  EXPECT_NE(after.out.find("Master: 'FirstClass' is already present"), std::string::npos);
  EXPECT_NE(after.out.find("Panel: 'FirstClass' already has a button"), std::string::npos);

  auto bad = RunProcess({App(), "--install", "--dry-run", copy.dir.File("missing.mdb")});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("cannot be read (error 3024)"), std::string::npos) << bad.err;
}

TEST(AddFirstClassCliTest, UsageHelpAndVersion) {
  auto help = RunProcess({App(), "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: add-firstclass [PATH]\n", 0), 0u);
#ifdef _WIN32
  EXPECT_NE(help.out.find("C:\\Tallowin\\Tallowin.mdb"), std::string::npos);
#else
  EXPECT_NE(help.out.find("drive_c/Tallowin/Tallowin.mdb"), std::string::npos);
#endif
  auto version = RunProcess({App(), "--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("add-firstclass ", 0), 0u);

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--install"}, {"--bogus"}, {"--install", "a.mdb", "b.mdb"}, {"--dry-run", "a.mdb"}}) {
    std::vector<std::string> argv{App()};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = RunProcess(argv);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_NE(r.err.find("Try 'add-firstclass --help'"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
}

// On Access 97 copies of the sample and of the hosts the installation adds
// the same Master row and Panel button as on the originals, the file stays
// sound for our checker and for mdbtools, and a second run changes no byte.
TEST(AddFirstClassCliTest, Access97CopiesGetTheSameRowAndButton) {
  auto install = [](const std::string& path) {
    auto run = RunProcess({App(), "--install", path});
    EXPECT_EQ(run.exit_code, 0) << run.err;
  };
  auto jetdb = [](std::vector<std::string> args) {
    args.insert(args.begin(), testutil::JetdbPath());
    auto r = RunProcess(args);
    EXPECT_EQ(r.exit_code, 0) << args[1] << ": " << r.out << r.err;
    return r.out;
  };
  auto new_row = [&](const std::string& path) {
    std::istringstream rows(jetdb({"export", path, "Master", "--format", "jsonl"}));
    for (std::string line; std::getline(rows, line);) {
      if (line.rfind("{\"SERVICE\":\"FirstClass\"", 0) == 0) return line;
    }
    return std::string("no FirstClass row");
  };
  std::vector<std::pair<std::string, std::string>> pairs;
  testutil::TempDir dir;
  pairs.emplace_back(testutil::CopyOf(dir, AFC_SAMPLE_DB, "sample.mdb"),
                     testutil::CopyOf(dir, AFC_SAMPLE_DB97, "sample97.mdb"));
  for (const std::string& host : testutil::FixtureFiles("hosts")) {
    const std::string stem = std::to_string(pairs.size());
    pairs.emplace_back(testutil::CopyOf(dir, host, stem + ".mdb"),
                       testutil::Jet3CopyOf(dir, host, stem + "-97.mdb"));
  }
  for (const auto& [original, old] : pairs) {
    SCOPED_TRACE(old);
    EXPECT_NE(jetdb({"info", old}).find("format: jet3"), std::string::npos);
    install(original);
    install(old);
    const std::string row = new_row(old);
    EXPECT_NE(row.find("\"USPS First-Class Mail\""), std::string::npos) << row;
    EXPECT_EQ(row, new_row(original));
    EXPECT_EQ(jetdb({"export", old, "Panel"}), jetdb({"export", original, "Panel"}));
    EXPECT_NE(jetdb({"check", old}).find(": ok"), std::string::npos);
    if (testutil::HaveProgram("mdb-export")) {
      EXPECT_NE(RunProcess({"mdb-export", old, "Master"}).out.find("\"FirstClass\",\"USPS First"),
                std::string::npos);
    }
    const std::string bytes = testutil::ReadFile(old);
    install(old);
    EXPECT_EQ(testutil::ReadFile(old), bytes);
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
