// SPDX-License-Identifier: Apache-2.0
// jet_lock_holder: a second program using a database, for the lock tests.
//
//   jet_lock_holder hold read|write PATH
//       Opens the database, prints "ready" (or "busy: ..." / "error: ...")
//       on its own line, and keeps it open until its standard input ends.
//   jet_lock_holder lock read|write PATH BYTE
//       As another program (Jet, say) would: takes a plain fcntl lock on one
//       byte of the file, prints "ready" (or "failed"), and keeps it until
//       its standard input ends. On Windows it opens the file as Access
//       does instead, for reading (and writing) and sharing both, and locks
//       the byte with LockFileEx.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <string>

#include "jet/jet.h"
#include "jet/os/file.h"

namespace {

// Waits for the end of standard input.
int WaitForEndOfInput() {
  char buf[64];
  while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
  }
  return 0;
}

int Hold(const std::string& mode, const std::string& path) {
  auto db = jet::Database::Open(path, {.writable = mode == "write"});
  if (!db.ok()) {
    std::printf("%s: %s\n", db.status().kind() == jet::ErrorKind::kBusy ? "busy" : "error",
                db.status().ToString().c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return WaitForEndOfInput();
}

int Lock(const std::string& mode, const std::string& path, long long byte) {
  const bool write = mode == "write";
#ifdef _WIN32
  HANDLE h = CreateFileW(jet::WidePath(path).c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0),
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  OVERLAPPED where = {};
  where.Offset = DWORD(byte);
  where.OffsetHigh = DWORD(uint64_t(byte) >> 32);
  const bool ok = h != INVALID_HANDLE_VALUE &&
                  LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY | (write ? LOCKFILE_EXCLUSIVE_LOCK : 0),
                             0, 1, 0, &where);
#else
  const int fd = ::open(path.c_str(), write ? O_RDWR : O_RDONLY);
  struct flock fl = {};
  fl.l_type = write ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = off_t(byte);
  fl.l_len = 1;
  const bool ok = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
#endif
  std::printf(ok ? "ready\n" : "failed\n");
  std::fflush(stdout);
  return WaitForEndOfInput();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "hold" && argc == 4) return Hold(argv[2], argv[3]);
  if (cmd == "lock" && argc == 5) return Lock(argv[2], argv[3], std::stoll(argv[4]));
  std::fprintf(stderr, "usage: jet_lock_holder hold read|write PATH | lock read|write PATH BYTE\n");
  return 2;
}
