// SPDX-License-Identifier: Apache-2.0
#include "util/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "util/paths_internal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace afc {

namespace internal {

std::string FileNameOf(const std::string& path, std::string_view separators) {
  const size_t cut = path.find_last_of(separators);
  if (cut == std::string::npos) return std::string();
  return path.substr(cut + 1);
}

std::string FolderOf(const std::string& path, std::string_view separators) {
  const size_t cut = path.find_last_of(separators);
  if (cut == std::string::npos) return path;
  return path.substr(0, cut);
}

}  // namespace internal

namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = internal::kWindowsSeparators;
#else
constexpr std::string_view kSeparators = internal::kPosixSeparators;
#endif

// The file system's answer, without wildcards and without throwing. Paths
// are UTF-8.
bool IsOrdinaryFile(const std::string& path) {
  // A NUL would end the name early at the system call.
  if (path.find('\0') != std::string::npos) return false;
#ifdef _WIN32
  const std::filesystem::path native(std::u8string(path.begin(), path.end()));
  // A name with * or ? is not a valid file name, so this fails for it
  // instead of matching a pattern.
  const DWORD attributes = GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // Hidden and system files are not offered, as Explorer would not show them.
  constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (attributes & kNotAFile) == 0;
#else
  // A dot-file is an ordinary file here; symbolic links are followed.
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return !error && std::filesystem::is_regular_file(status);
#endif
}

}  // namespace

Boolean FileExists(const std::string& Path, Boolean ShowMessage, UserInterface* ui) {
  if (!Path.empty() && IsOrdinaryFile(Path)) return kTrue;
  if (ShowMessage && ui != nullptr) {
    ui->ShowMessageBox(
        std::string(kApplicationTitle) + " has failed to locate the '" + Path + "' file...",
        kVbExclamation, kApplicationTitle);
  }
  return kFalse;
}

std::string GetFileName(const std::string& Path) { return internal::FileNameOf(Path, kSeparators); }

std::string GetFolderPath(const std::string& Path) { return internal::FolderOf(Path, kSeparators); }

std::string DefaultDatabasePath() {
#ifdef _WIN32
  return "C:\\Tallowin\\Tallowin.mdb";
#else
  std::string prefix;
  if (const char* wine = std::getenv("WINEPREFIX"); wine != nullptr && *wine != '\0') {
    prefix = wine;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
      const passwd* user = getpwuid(getuid());
      home = user != nullptr ? user->pw_dir : "";
    }
    prefix = std::string(home) + "/.wine";
  }
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  return prefix + "/drive_c/Tallowin/Tallowin.mdb";
#endif
}

}  // namespace afc
