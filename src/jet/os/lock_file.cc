// SPDX-License-Identifier: Apache-2.0
// The Jet lock file's names and entries, for both platforms. The rules are
// in lock_file.h.

#include "jet/os/lock_file.h"

#include <cctype>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace jet {

namespace {

constexpr size_t kUserSlots = 255;
constexpr size_t kEntrySize = 64;  // computer name, then account name
constexpr char kAccountName[] = "Admin";

bool AllUpper(const std::string& s) {
  for (char c : s) {
    if (std::islower(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string ThisMachine() {
#ifdef _WIN32
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size) || size == 0) return "LOCALHOST";
  return Utf8FromWide(std::wstring(name, size));
#else
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "LOCALHOST";
  return name;
#endif
}

std::string Printable(const uint8_t* p, size_t max) {
  std::string s(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), max));
  for (char& c : s) c = std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  return s;
}

}  // namespace

namespace internal {

std::string FirstLockFileUser(const File& lock_file) {
  uint8_t entry[kEntrySize];
  for (uint64_t at = 0; at < kUserSlots * kEntrySize; at += kEntrySize) {
    if (!lock_file.ReadAt(at, entry).ok()) break;
    const std::string machine = Printable(entry, 32);
    const std::string account = Printable(entry + 32, 32);
    if (!machine.empty() || !account.empty()) return machine + "/" + account;
  }
  return "";
}

void WriteLockFileEntry(File& lock_file) {
  // Slot 1 is ours. The entry is for people looking at the file: our
  // safety rests on the locks, so a failure to write it changes nothing.
  uint8_t entry[kEntrySize] = {};
  const std::string machine = ThisMachine().substr(0, 31);
  std::memcpy(entry, machine.data(), machine.size());
  std::memcpy(entry + 32, kAccountName, sizeof kAccountName - 1);
  (void)lock_file.WriteAt(0, entry);
}

// The other-case spelling of a lock file name, which a program on a
// case-insensitive system may have made.
std::string OtherCaseLockFile(const std::string& lock_path) {
  const size_t dot = lock_path.find_last_of('.');
  std::string out = lock_path;
  const bool upper = AllUpper(lock_path.substr(dot + 1));
  for (size_t i = dot + 1; i < out.size(); ++i) {
    out[i] = char(upper ? std::tolower(static_cast<unsigned char>(out[i]))
                        : std::toupper(static_cast<unsigned char>(out[i])));
  }
  return out;
}

Status BusyStatus(const std::string& path, const std::string& detail) {
  return Status::Error(ErrorKind::kBusy, "The database is opened by another user or program" +
                                             (detail.empty() ? std::string() : " (" + detail + ")"))
      .AtFile(path);
}

Status LockFileNotMade(const std::string& path, const std::string& lock_path, const Status& why) {
  return Status::IoError("A writable open needs to create the lock file " + lock_path +
                         " beside the database: " + why.message())
      .AtFile(path);
}

}  // namespace internal

std::string LockFilePath(const std::string& db_path) {
#ifdef _WIN32
  const size_t slash = db_path.find_last_of("/\\");
#else
  const size_t slash = db_path.find_last_of('/');
#endif
  const size_t dot = db_path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot + 1 == db_path.size()) {
    return db_path + ".ldb";
  }
  const std::string ext = db_path.substr(dot + 1);
  std::string lower = ext;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  std::string lock = lower == "accdb" ? "laccdb" : "ldb";
  if (AllUpper(ext)) {
    for (char& c : lock) c = char(std::toupper(static_cast<unsigned char>(c)));
  }
  return db_path.substr(0, dot + 1) + lock;
}

}  // namespace jet
