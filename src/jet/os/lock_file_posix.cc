// SPDX-License-Identifier: Apache-2.0
// Database locks on POSIX systems: fcntl byte-range locks. The rules are
// in lock_file.h.

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "jet/os/lock_file.h"

namespace jet {

namespace {

constexpr off_t kExclusiveByte = 0x10000000;  // Jet: held by an exclusive open
constexpr off_t kUserSlots = 255;             // user k locks kExclusiveByte + k
// F_OFD_* where the kernel has them (per open file, as we want); classic
// per-process locks otherwise.
bool g_use_ofd = true;

struct flock Range(short type, off_t start, off_t len) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  return fl;
}

// Takes a lock without waiting: 0, or the errno (EAGAIN/EACCES: held).
int SetLock(int fd, short type, off_t start, off_t len) {
  struct flock fl = Range(type, start, len);
#ifdef F_OFD_SETLK
  if (g_use_ofd) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINVAL) return errno;
    g_use_ofd = false;
  }
#endif
  return ::fcntl(fd, F_SETLK, &fl) == 0 ? 0 : errno;
}

// Whether someone else holds a lock that conflicts with a `type` lock on the
// range; *pid is its process when the system can tell (0 otherwise).
bool HeldByOther(int fd, short type, off_t start, off_t len, pid_t* pid) {
  struct flock fl = Range(type, start, len);
  int rc = -1;
#ifdef F_OFD_GETLK
  if (g_use_ofd) rc = ::fcntl(fd, F_OFD_GETLK, &fl);
#endif
  if (rc != 0) rc = ::fcntl(fd, F_GETLK, &fl);
  if (rc != 0) return false;
  if (pid) *pid = fl.l_pid > 0 ? fl.l_pid : 0;
  return fl.l_type != F_UNLCK;
}

bool Held(int err) { return err == EAGAIN || err == EACCES; }

Status Busy(const std::string& path, const std::string& detail) {
  return internal::BusyStatus(path, detail);
}

std::string Who(pid_t pid) {
  return pid > 0 ? "process " + std::to_string(pid) + " holds it" : std::string();
}

// Is the lock file at `path` held by a live user? Missing or unreadable
// files are not.
bool LockFileLive(const std::string& path, std::string* who) {
  auto file = File::Open(path, File::Mode::kReadOnly);
  if (!file.ok()) return false;
  pid_t pid = 0;
  const bool live = HeldByOther((*file)->native_handle(), F_WRLCK, 0, 0, &pid);
  if (live) {
    *who = internal::FirstLockFileUser(**file);
    if (who->empty()) *who = Who(pid);
  }
  return live;
}

}  // namespace

Result<std::unique_ptr<DatabaseLock>> DatabaseLock::Acquire(const File& db, Mode mode) {
  const std::string& path = db.path();
  int fd = ::fcntl(db.native_handle(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0)
    return Status::IoError(std::string("Cannot lock: ") + std::strerror(errno)).AtFile(path);
  std::unique_ptr<DatabaseLock> lock(new DatabaseLock(mode, fd));

  if (mode == Mode::kShared) {
    int err = SetLock(fd, F_RDLCK, kExclusiveByte, 1);
    if (Held(err)) {
      pid_t pid = 0;
      HeldByOther(fd, F_RDLCK, kExclusiveByte, 1, &pid);
      return Busy(path, Who(pid));
    }
    // err != 0 otherwise: no locks on this file system; reading goes ahead.
    return lock;
  }

  if (!db.writable()) return Status::InvalidArgument("Locking for writing needs a writable file");
  int err = SetLock(fd, F_WRLCK, 0, 0);
  if (Held(err)) {
    pid_t pid = 0;
    HeldByOther(fd, F_WRLCK, 0, 0, &pid);
    return Busy(path, Who(pid));
  }
  if (err != 0) {
    return Status::Unsupported(std::string("This file system cannot lock the database (") +
                               std::strerror(err) +
                               "), so another program could write it at the same time; copy "
                               "the database to a local disk to change it")
        .AtFile(path);
  }

  // A live user of the lock file, under either spelling, has the database.
  const std::string lock_path = LockFilePath(path);
  for (const std::string& candidate : {lock_path, internal::OtherCaseLockFile(lock_path)}) {
    std::string who;
    if (LockFileLive(candidate, &who))
      return Busy(path, candidate + " is in use" + (who.empty() ? "" : ": " + who));
  }

  bool created = false;
  auto file = File::Create(lock_path, /*truncate=*/false, &created);
  if (!file.ok()) {
    return internal::LockFileNotMade(path, lock_path, file.status());
  }
  lock->lock_file_ = std::move(file).value();
  lock->created_lock_file_ = created;
  lock->lock_file_path_ = lock_path;
  const int lfd = lock->lock_file_->native_handle();
  err = SetLock(lfd, F_WRLCK, kExclusiveByte, kUserSlots + 1);
  if (Held(err)) return Busy(path, lock_path + " is in use");  // came alive just now
  internal::WriteLockFileEntry(*lock->lock_file_);
  return lock;
}

DatabaseLock::~DatabaseLock() {
  if (lock_file_) {
    // As Jet does: the last user removes the lock file. Only one we made,
    // and only while no one else holds a lock on it.
    if (created_lock_file_ && !HeldByOther(lock_file_->native_handle(), F_WRLCK, 0, 0, nullptr)) {
      (void)RemoveFile(lock_file_path_);
    }
    lock_file_.reset();
  }
  if (handle_ >= 0) {
    SetLock(handle_, F_UNLCK, 0, 0);
    ::close(handle_);
  }
}

}  // namespace jet
