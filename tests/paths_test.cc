// SPDX-License-Identifier: Apache-2.0
// The path helpers: splitting a path into folder and file name under both
// platforms' separator rules, the file test (literal names only, ordinary
// files only, never an exception) and where the database is looked for by
// default.

#include "util/paths.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#undef CopyFile  // a macro of windows.h; ours is testutil::CopyFile
#else
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "recording_ui.h"
#include "test_util.h"
#include "util/paths_internal.h"

namespace {

namespace fs = std::filesystem;
using afc::internal::kPosixSeparators;
using afc::internal::kWindowsSeparators;

// Each line of paths/split.tsv under both platforms' rules, and those of
// this platform through the public helpers.
TEST(PathsTest, SplitsAtTheLastSeparatorOfEachPlatform) {
#ifdef _WIN32
  const std::string native = "windows";
#else
  const std::string native = "posix";
#endif
  for (testutil::DataLine& line : testutil::DataLines("paths/split.tsv")) {
    std::vector<std::string>& f = line.fields;
    f.resize(4);
    const auto& separators = f[0] == "windows" ? kWindowsSeparators : kPosixSeparators;
    EXPECT_EQ(afc::internal::FileNameOf(f[1], separators), f[2]) << f[1];
    EXPECT_EQ(afc::internal::FolderOf(f[1], separators), f[3]) << f[1];
    if (f[0] == native) {
      EXPECT_EQ(afc::GetFileName(f[1]), f[2]) << f[1];
      EXPECT_EQ(afc::GetFolderPath(f[1]), f[3]) << f[1];
    }
  }
}

// `cases`, and what holds on every system for a folder `dir` that has an
// ordinary file `file` and a folder "folder.mdb".
void ExpectExists(const std::string& dir, const std::string& file,
                  std::vector<std::pair<std::string, bool>> cases) {
  const std::string sep(1, fs::path::preferred_separator);
  cases.insert(cases.end(), {
                                {file, true},
                                {dir + sep + "missing.mdb", false},
                                {"", false},
                                {dir, false},
                                {dir + sep + "folder.mdb", false},
                                // Patterns that match files are still just names.
                                {dir + sep + "*.mdb", false},
                                // A file inside a file, and a name cut short by a NUL.
                                {file + sep + "x.mdb", false},
                                {file + std::string(1, '\0') + "junk", false},
                            });
  for (const auto& [path, exists] : cases) {
    testutil::RecordingUi ui;
    const afc::Boolean expected = exists ? afc::kTrue : afc::kFalse;
    EXPECT_EQ(afc::FileExists(path, afc::kFalse, &ui), expected) << path;
    EXPECT_EQ(afc::FileExists(path, afc::kTrue, &ui), expected);
    // One box from the second call, for a missing file only.
    EXPECT_EQ(ui.Boxes().size(), exists ? 0u : 1u) << path;
  }
}

#ifdef _WIN32

// Windows has no * or ? in names, and Explorer does not show hidden or
// system files, so neither is offered.
TEST(PathsTest, FileExistsOnlyForAVisibleOrdinaryFileNamedLiterally) {
  testutil::TempDir dir;
  const std::string file = dir.File("Tallowin.mdb");
  testutil::WriteFile(file, "x");
  for (const auto& [name, attribute] :
       {std::pair<std::string, DWORD>{"hidden.mdb", FILE_ATTRIBUTE_HIDDEN},
        {"system.mdb", FILE_ATTRIBUTE_SYSTEM},
        {"read-only.mdb", FILE_ATTRIBUTE_READONLY}}) {
    testutil::WriteFile(dir.File(name), "x");
    ASSERT_TRUE(SetFileAttributesW(fs::path(dir.File(name)).c_str(), attribute));
  }
  fs::create_directory(dir.File("folder.mdb"));
  ExpectExists(dir.path(), file,
               {{dir.File("read-only.mdb"), true},
                {dir.File("hidden.mdb"), false},
                {dir.File("system.mdb"), false}});
  SetFileAttributesW(fs::path(dir.File("read-only.mdb")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

#else

TEST(PathsTest, FileExistsOnlyForAnOrdinaryFileNamedLiterally) {
  testutil::TempDir dir;
  const std::string file = dir.File("Tallowin.mdb");
  const std::string read_only = dir.File("read-only.mdb");
  for (const std::string& name :
       {file, dir.File("a*b.mdb"), dir.File("a?b.mdb"), dir.File(".hidden.mdb"), read_only}) {
    testutil::WriteFile(name, "x");
  }
  fs::permissions(read_only, fs::perms::owner_read | fs::perms::group_read);
  fs::create_directory(dir.File("folder.mdb"));
  fs::create_symlink(file, dir.File("link.mdb"));
  fs::create_symlink(dir.File("gone.mdb"), dir.File("dangling.mdb"));
  ASSERT_EQ(mkfifo(dir.File("pipe.mdb").c_str(), 0600), 0);

  ExpectExists(dir.path(), file,
               {{dir.File("a*b.mdb"), true},
                {dir.File("a?b.mdb"), true},
                {dir.File(".hidden.mdb"), true},
                {read_only, true},
                {dir.File("link.mdb"), true},
                {dir.File("dangling.mdb"), false},
                {dir.File("pipe.mdb"), false}});
}

#endif

TEST(PathsTest, FileExistsTellsTheUserWhichFileIsMissing) {
  testutil::TempDir dir;
  const std::string missing = dir.File("Tallowin.mdb");
  testutil::RecordingUi ui;
  EXPECT_EQ(afc::FileExists(missing, afc::kTrue, &ui), afc::kFalse);
  EXPECT_EQ(ui.shown, std::vector<std::string>{"BOX " + std::to_string(afc::kVbExclamation) + "|" +
                                               afc::kApplicationTitle +
                                               "|add-firstclass has failed to locate the '" +
                                               missing + "' file..."});
  // Without a UserInterface there is no one to tell.
  EXPECT_EQ(afc::FileExists(missing, afc::kTrue), afc::kFalse);
}

#ifdef _WIN32

TEST(PathsTest, DefaultDatabaseIsTallowinsOwn) {
  EXPECT_EQ(afc::DefaultDatabasePath(), R"(C:\Tallowin\Tallowin.mdb)");
}

#else

TEST(PathsTest, DefaultDatabaseIsInTheWinePrefix) {
  std::map<std::string, std::optional<std::string>> saved;
  for (const char* name : {"HOME", "WINEPREFIX"}) {
    const char* old = std::getenv(name);
    saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  auto set = [](const std::string& name, const std::optional<std::string>& value) {
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  };
  set("HOME", "/home/u");
  set("WINEPREFIX", "/opt/wine/tallowin/");
  EXPECT_EQ(afc::DefaultDatabasePath(), "/opt/wine/tallowin/drive_c/Tallowin/Tallowin.mdb");
  set("WINEPREFIX", "");
  EXPECT_EQ(afc::DefaultDatabasePath(), "/home/u/.wine/drive_c/Tallowin/Tallowin.mdb");
  set("WINEPREFIX", std::nullopt);
  EXPECT_EQ(afc::DefaultDatabasePath(), "/home/u/.wine/drive_c/Tallowin/Tallowin.mdb");
  for (const auto& [name, value] : saved) set(name, value);
}

#endif

}  // namespace
