// A database file on disk: positioned reads and writes with errors as values.
//
// This is the only place that talks to the operating system about the
// database's bytes. It never buffers: the pager above it decides what to keep.

#ifndef JET_FILE_H_
#define JET_FILE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jet/status.h"

namespace jet {

class File {
 public:
  enum class Mode { kReadOnly, kReadWrite };

  // Opens an existing regular file. A missing file is NotFound, a directory
  // or other non-regular file is InvalidArgument.
  static Result<std::unique_ptr<File>> Open(const std::string& path, Mode mode);

  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return mode_ == Mode::kReadWrite; }
  int fd() const { return fd_; }

  Result<uint64_t> Size() const;
  // Reads exactly out.size() bytes at `offset`; a short read is an error.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out) const;
  Status WriteAt(uint64_t offset, std::span<const uint8_t> data);
  Status Truncate(uint64_t size);
  Status Sync();

 private:
  File(std::string path, int fd, Mode mode) : path_(std::move(path)), fd_(fd), mode_(mode) {}

  std::string path_;
  int fd_;
  Mode mode_;
};

}  // namespace jet

#endif  // JET_FILE_H_
