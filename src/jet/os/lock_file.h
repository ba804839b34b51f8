// SPDX-License-Identifier: Apache-2.0
// Who may use a database at the same time: byte-range locks on the .mdb and
// Jet's lock file (NAME.ldb) beside it.
//
// Jet's convention, as Microsoft documents it for shared databases: every
// program that opens NAME.mdb shared creates NAME.ldb beside it if missing
// (NAME.laccdb for .accdb), an array of up to 255 64-byte entries, each a
// 32-byte computer name and a 32-byte security account name ("Admin" by
// default), NUL-padded. A user holds its entry by a one-byte lock far past
// the end of the file (Jet's "extended byte-range locks", in the 0x10000000
// range: slot k at 0x10000000 + k, byte 0x10000000 itself taken for an
// exclusive open). The last user to close deletes the lock file. An entry
// without a lock behind it belongs to a program that is gone.
//
// What we do on POSIX (lock_file_posix.cc):
//   - A writable open takes an exclusive (write) lock on the whole .mdb, so
//     it fails while anyone holds any lock on any byte of it: another
//     writer or reader of ours, or Jet, where Jet's locks reach us. Then it
//     looks at NAME.ldb: if any byte of it is locked by someone else, a live
//     user has the database open and we refuse. Otherwise (no lock file, or
//     one left by a program that died) we create or reuse it, lock Jet's
//     exclusive-open byte and all 255 user slots in it, and write our entry
//     in slot 1 (this machine's name, "Admin"). On close we delete it if we
//     created it and nobody else holds a lock on it.
//   - A read-only open takes a shared (read) lock on byte 0x10000000 of the
//     .mdb only: it waits for no one but our own writers, keeps our writers
//     out while it reads, and never creates, writes or deletes anything. A
//     file system without locks (read-only media) is read without one.
//   - A refused open writes nothing and reports ErrorKind::kBusy.
//   - The locks are Linux open-file-description locks (F_OFD_SETLK): held per
//     open file, released by the kernel when the process ends however it
//     ends, so a crash never leaves a lock that blocks us. On kernels without
//     them we fall back to classic per-process fcntl locks.
//
// What Access does, from Microsoft's "Understanding Microsoft Jet Locking"
// (Jet 3.5) and the Jet Database Engine Programmer's Guide, chapter 6:
// a database opened shared (the default) gets NAME.ldb, kept open while
// the database is; Jet's own locks are "extended byte range locks" from
// 0x10000001 to 0x6FF800FF, past the end of the data (user locks, one byte
// each, at 0x10000001-0x100000FF, held as long as the user has the
// database open), present only while users have it open shared or
// read-only. A database opened exclusively gets no lock file: the open
// itself denies everyone else. When Access opens a database that another
// program holds for writing with a share mode that denies writers, its own
// read-write open fails and it reports the database as in use or opens it
// read-only.
//
// On Windows (lock_file_win32.cc) the share modes of file.h do most of it:
//   - A writable open of the .mdb shares reading only. Access opens a
//     database for reading and writing even to look at it, so while either
//     of us holds it the other's open fails with a sharing violation, and we
//     report kBusy. Share modes hold on network shares too (SMB enforces them
//     at the server), where byte-range locks may not be forwarded.
//   - Our own readers and writers also lock bytes of the .mdb with
//     LockFileEx: a writer the range kLockBase..+255 exclusively, a reader
//     kLockBase shared, which keeps them apart as the POSIX locks do.
//     Windows byte-range locks are mandatory (they block reads and writes
//     of the range through other handles), so they are placed at 4 GiB,
//     past the end of any Jet file (2 GiB at most), where they cover no
//     byte of the database.
//   - A writer also asks whether anyone holds a lock in Jet's range of the
//     .mdb (from 0x10000000 up to 2 GiB), for a program that opened it for
//     reading only, which the share modes let through.
//   - The .ldb is opened sharing reading and deleting only: while Access
//     (or anyone) has it open for writing, that fails, and the database is
//     busy. One that opens is stale, and we take it over as on POSIX.
//   - A read-only open shares everything, so it never blocks Access, and
//     Access never blocks it.
//
// What we cannot detect, on Windows:
//   - A program that opened the .mdb for reading only, sharing writes, and
//     took no lock and made no lock file (a copy or backup program): we
//     write while it reads, and it may copy a half-made change. The journal
//     keeps the database itself whole.
//
// What we cannot detect, on POSIX:
//   - Windows programs using the file through a network share while we use
//     it from Linux (or the other way round): our fcntl locks and Windows'
//     byte-range locks meet only where the server maps one onto the other
//     (Samba does, with its default "posix locking"; a Linux CIFS client
//     forwards our locks to the server unless mounted with "nobrl"; NFS
//     depends on its lock manager). Where they do not meet, a lock file with
//     no lock we can see looks stale to us, and we would open a database
//     that Access is using. Do not write to a database that Access may have
//     open over a share.
//   - Programs that ignore locks altogether (copying the file, an editor).
//   - A live entry in a lock file whose lock we cannot see for the reasons
//     above: entries are names only; we cannot tell a stale one from a
//     remote one.

#ifndef JET_OS_LOCK_FILE_H_
#define JET_OS_LOCK_FILE_H_

#include "jet/internal/guard.h"

#include <memory>
#include <string>

#include "base/status.h"
#include "jet/os/file.h"

namespace jet {

namespace internal {
// "COMPUTER/Account" of the first non-empty entry of an open lock file, or "".
std::string FirstLockFileUser(const File& lock_file);
// Our entry: this machine's name and Jet's default account.
void WriteLockFileEntry(File& lock_file);
std::string OtherCaseLockFile(const std::string& lock_path);
Status BusyStatus(const std::string& path, const std::string& detail);
// A writable open that could not create or open the lock file beside `path`.
Status LockFileNotMade(const std::string& path, const std::string& lock_path, const Status& why);
}  // namespace internal

// NAME.mdb -> NAME.ldb, NAME.MDB -> NAME.LDB, NAME.accdb -> NAME.laccdb;
// a name without an extension gets ".ldb" added.
std::string LockFilePath(const std::string& db_path);

class DatabaseLock {
 public:
  enum class Mode { kShared, kExclusive };

  // Locks the open database `db` (opened for writing, for kExclusive). The
  // lock is released when the object goes.
  static Result<std::unique_ptr<DatabaseLock>> Acquire(const File& db, Mode mode);

  ~DatabaseLock();
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  Mode mode() const { return mode_; }
  // The lock file we hold (exclusive mode), else empty.
  const std::string& lock_file() const { return lock_file_path_; }

 private:
  DatabaseLock(Mode mode, File::NativeHandle handle) : mode_(mode), handle_(handle) {}

  Mode mode_;
  File::NativeHandle handle_;  // our own handle of the database file, holding its lock
  std::string lock_file_path_;
  std::unique_ptr<File> lock_file_;
  bool created_lock_file_ = false;
};

}  // namespace jet

#endif  // JET_OS_LOCK_FILE_H_
