#include "file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace jet {

namespace {

Status ErrnoStatus(const std::string& what, const std::string& path, int err) {
  Status s = Status::IoError(what + ": " + std::strerror(err));
  s.AtFile(path);
  return s;
}

}  // namespace

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
      return Status::IoError(mode == Mode::kReadOnly ? "The file cannot be read: permission denied"
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

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

Result<uint64_t> File::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return ErrnoStatus("Cannot examine the file", path_, errno);
  return uint64_t(st.st_size);
}

Status File::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("Read failed", path_, errno);
    }
    if (n == 0) return Status::Corrupt("The file ends in the middle of a page").AtFile(path_);
    done += size_t(n);
  }
  return Status::Ok();
}

Status File::WriteAt(uint64_t offset, std::span<const uint8_t> data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("Write failed", path_, errno);
    }
    done += size_t(n);
  }
  return Status::Ok();
}

Status File::Truncate(uint64_t size) {
  if (::ftruncate(fd_, off_t(size)) != 0) return ErrnoStatus("Truncate failed", path_, errno);
  return Status::Ok();
}

Status File::Sync() {
  if (::fsync(fd_) != 0) return ErrnoStatus("Sync failed", path_, errno);
  return Status::Ok();
}

}  // namespace jet
