// SPDX-License-Identifier: Apache-2.0
// Database locks on Windows: share modes, LockFileEx, and the .ldb held
// open. The rules are in lock_file.h.

#include <windows.h>

#include "jet/os/lock_file.h"

namespace jet {

namespace {

// Past the 2 GiB a Jet file can reach, so that these mandatory locks never
// cover a byte of the database.
constexpr uint64_t kLockBase = uint64_t(1) << 32;
constexpr DWORD kUserSlots = 255;
// Where Jet itself locks: its exclusive-open byte, the user slots and the
// page locks, from 0x10000000 up to the largest size a Jet file can have.
constexpr uint64_t kJetLockBase = 0x10000000;
constexpr DWORD kJetLockLength = 0x80000000 - 0x10000000;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED where = {};
  where.Offset = DWORD(offset);
  where.OffsetHigh = DWORD(offset >> 32);
  return where;
}

// Locks `length` bytes at kLockBase without waiting: 0, or the Win32 error
// (ERROR_LOCK_VIOLATION: someone holds a conflicting lock).
DWORD LockRange(HANDLE h, bool exclusive, DWORD length) {
  OVERLAPPED where = At(kLockBase);
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return LockFileEx(h, flags, 0, length, 0, &where) ? 0 : GetLastError();
}

// Whether another program (Jet) holds a lock in Jet's own range. Asked by
// locking the range for an instant: in a database under 256 MiB the range
// lies past its end, and in a larger one nobody else may write while we
// hold the database, so the instant blocks no one's writes.
bool JetRangeLocked(HANDLE h) {
  OVERLAPPED where = At(kJetLockBase);
  if (LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY | LOCKFILE_EXCLUSIVE_LOCK, 0, kJetLockLength, 0,
                 &where)) {
    where = At(kJetLockBase);
    UnlockFileEx(h, 0, kJetLockLength, 0, &where);
    return false;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION;
}

bool Held(DWORD err) { return err == ERROR_LOCK_VIOLATION || err == ERROR_SHARING_VIOLATION; }

// Who is in a lock file that we could not open: its first entry, read
// through a handle that shares everything.
std::string LockFileUser(const std::string& lock_path) {
  auto file = File::Open(lock_path, File::Mode::kReadOnly);
  return file.ok() ? internal::FirstLockFileUser(**file) : std::string();
}

}  // namespace

Result<std::unique_ptr<DatabaseLock>> DatabaseLock::Acquire(const File& db, Mode mode) {
  const std::string& path = db.path();
  // A handle of our own, so that the locks live exactly as long as this
  // object, whatever becomes of `db`.
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (Held(err)) return internal::BusyStatus(path, "");
    return Status::IoError("Cannot lock: system error " + std::to_string(err)).AtFile(path);
  }
  std::unique_ptr<DatabaseLock> lock(new DatabaseLock(mode, h));

  if (mode == Mode::kShared) {
    if (Held(LockRange(h, /*exclusive=*/false, 1))) return internal::BusyStatus(path, "");
    // Any other failure: no locks on this file system; reading goes ahead.
    return lock;
  }

  if (!db.writable()) return Status::InvalidArgument("Locking for writing needs a writable file");
  const DWORD err = LockRange(h, /*exclusive=*/true, kUserSlots + 1);
  if (Held(err)) return internal::BusyStatus(path, "");
  if (err != 0) {
    return Status::Unsupported("This file system cannot lock the database (system error " +
                               std::to_string(err) +
                               "), so another program could write it at the same time; copy "
                               "the database to a local disk to change it")
        .AtFile(path);
  }

  // A program that opened the database for reading only still locks in
  // Jet's range.
  if (JetRangeLocked(h)) return internal::BusyStatus(path, "");

  // Opening the lock file shares only reading and deleting: it fails while
  // a live user (Access) has it open for writing.
  const std::string lock_path = LockFilePath(path);
  bool created = false;
  auto file = File::Create(lock_path, /*truncate=*/false, &created);
  if (!file.ok()) {
    if (file.status().kind() == ErrorKind::kBusy) {
      const std::string who = LockFileUser(lock_path);
      return internal::BusyStatus(path, lock_path + " is in use" + (who.empty() ? "" : ": " + who));
    }
    return internal::LockFileNotMade(path, lock_path, file.status());
  }
  lock->lock_file_ = std::move(file).value();
  lock->created_lock_file_ = created;
  lock->lock_file_path_ = lock_path;
  internal::WriteLockFileEntry(*lock->lock_file_);
  return lock;
}

DatabaseLock::~DatabaseLock() {
  if (lock_file_) {
    // As Jet does: the last user removes the lock file. Only one we made;
    // the removal fails, and the file stays, while anyone else has it open.
    lock_file_.reset();
    if (created_lock_file_) (void)RemoveFile(lock_file_path_);
  }
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
    // Closing the handle releases its locks.
    CloseHandle(handle_);
  }
}

}  // namespace jet
