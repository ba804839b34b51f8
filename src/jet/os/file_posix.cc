// SPDX-License-Identifier: Apache-2.0
// Files on POSIX systems: open(2), pread/pwrite, fsync.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/os/file.h"

namespace jet {

using internal::ErrnoStatus;
using internal::InterceptIo;

Result<std::unique_ptr<File>> File::Open(const std::string& path, Mode mode) {
  int flags = (mode == Mode::kReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  int fd;
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) {
      return Status::NotFound("The file does not exist").AtFile(path);
    }
    if (err == EISDIR) {
      return Status::InvalidArgument("The path names a folder, not a database file").AtFile(path);
    }
    if (err == EACCES || err == EPERM) {
      return Status::IoError(mode == Mode::kReadOnly
                                 ? "The file cannot be read: permission denied"
                                 : "The file cannot be written: permission denied")
          .AtFile(path);
    }
    return ErrnoStatus("Cannot open the file", path, err);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return ErrnoStatus("Cannot examine the file", path, err);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Status::InvalidArgument("The path names a folder, not a database file").AtFile(path);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::InvalidArgument("The path does not name a regular file").AtFile(path);
  }
  return std::unique_ptr<File>(new File(path, fd, mode));
}

Result<std::unique_ptr<File>> File::CreateNew(const std::string& path) {
  if (int err = InterceptIo(IoOp::kCreate, path)) {
    return ErrnoStatus("Cannot create the file", path, err);
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EEXIST) {
    return Status::InvalidArgument("A file of that name exists already; it was left alone")
        .AtFile(path);
  }
  if (fd < 0) return ErrnoStatus("Cannot create the file", path, errno);
  return std::unique_ptr<File>(new File(path, fd, Mode::kReadWrite));
}

Result<std::unique_ptr<File>> File::Create(const std::string& path, bool truncate, bool* created) {
  if (created) *created = false;
  if (int err = InterceptIo(IoOp::kCreate, path)) {
    return ErrnoStatus("Cannot create the file", path, err);
  }
  int fd;
  bool made = true;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EEXIST) {
    made = false;
    do {
      fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (truncate ? O_TRUNC : 0));
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) return ErrnoStatus("Cannot create the file", path, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::InvalidArgument("The path does not name a regular file").AtFile(path);
  }
  if (created) *created = made;
  return std::unique_ptr<File>(new File(path, fd, Mode::kReadWrite));
}

File::~File() {
  if (handle_ >= 0) ::close(handle_);
}

Result<uint64_t> File::Size() const {
  struct stat st;
  if (::fstat(handle_, &st) != 0) return ErrnoStatus("Cannot examine the file", path_, errno);
  return uint64_t(st.st_size);
}

Status File::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (int err = InterceptIo(IoOp::kRead, path_, offset)) {
    return ErrnoStatus("Read failed", path_, err);
  }
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(handle_, out.data() + done, out.size() - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("Read failed", path_, errno);
    }
    if (n == 0) return Status::Corrupt("The file ends in the middle of a page").AtFile(path_);
    done += size_t(n);
  }
  return Status::Ok();
}

Status File::ReadManyAt(uint64_t offset, std::span<const std::span<uint8_t>> outs) const {
  constexpr size_t kMaxBuffers = 64;
  if (outs.size() <= kMaxBuffers && InterceptIo(IoOp::kRead, path_, offset) == 0) {
    iovec vec[kMaxBuffers];
    size_t total = 0;
    for (size_t i = 0; i < outs.size(); ++i) {
      vec[i].iov_base = outs[i].data();
      vec[i].iov_len = outs[i].size();
      total += outs[i].size();
    }
    const ssize_t n = ::preadv(handle_, vec, int(outs.size()), off_t(offset));
    if (n >= 0 && size_t(n) == total) return Status::Ok();
  }
  // A short or failed read: once more a buffer at a time, so that the error
  // is the one ReadAt gives.
  for (std::span<uint8_t> out : outs) {
    JET_RETURN_IF_ERROR(ReadAt(offset, out));
    offset += out.size();
  }
  return Status::Ok();
}

Status File::WriteAt(uint64_t offset, std::span<const uint8_t> data) {
  if (int err = InterceptIo(IoOp::kWrite, path_, offset, data)) {
    return ErrnoStatus("Write failed", path_, err);
  }
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(handle_, data.data() + done, data.size() - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("Write failed", path_, errno);
    }
    done += size_t(n);
  }
  return Status::Ok();
}

Status File::Truncate(uint64_t size) {
  if (int err = InterceptIo(IoOp::kTruncate, path_, size)) {
    return ErrnoStatus("Truncate failed", path_, err);
  }
  if (::ftruncate(handle_, off_t(size)) != 0) return ErrnoStatus("Truncate failed", path_, errno);
  return Status::Ok();
}

Status File::Sync() {
  if (int err = InterceptIo(IoOp::kSync, path_)) return ErrnoStatus("Sync failed", path_, err);
  if (::fsync(handle_) != 0) return ErrnoStatus("Sync failed", path_, errno);
  return Status::Ok();
}

void File::CopyPermissionsFrom(const File& other) {
  struct stat st;
  if (::fstat(other.handle_, &st) == 0) (void)::fchmod(handle_, st.st_mode & 0666);
}

Status RemoveFile(const std::string& path) {
  if (int err = InterceptIo(IoOp::kRemove, path)) {
    return ErrnoStatus("Cannot remove the file", path, err);
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return ErrnoStatus("Cannot remove the file", path, errno);
  }
  return Status::Ok();
}

Status SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (int err = InterceptIo(IoOp::kSyncFolder, folder)) {
    return ErrnoStatus("Cannot sync the folder", folder, err);
  }
  int fd;
  do {
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ErrnoStatus("Cannot open the folder", folder, errno);
  // Some file systems cannot sync a folder (EINVAL); their entries are
  // written through, so there is nothing to wait for.
  int rc = ::fsync(fd);
  int err = errno;
  ::close(fd);
  if (rc != 0 && err != EINVAL) return ErrnoStatus("Cannot sync the folder", folder, err);
  return Status::Ok();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool CanWriteFileAndFolder(const std::string& path) {
  return ::access(FolderOf(path).c_str(), W_OK) == 0 && ::access(path.c_str(), W_OK) == 0;
}

}  // namespace jet
