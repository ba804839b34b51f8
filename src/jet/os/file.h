// SPDX-License-Identifier: Apache-2.0
// A database file on disk: positioned reads and writes with errors as values.
//
// This is the only place that talks to the operating system about the
// database's bytes, and about the files kept beside it (the journal and the
// lock file). It never buffers: the pager above it decides what to keep.
//
// There is one implementation per platform: file_posix.cc and file_win32.cc.
// Paths are UTF-8 on both; on Windows they are converted to UTF-16 for the
// W functions, and long absolute paths get the \\?\ prefix.
//
// Every operation passes an IoHook first, if one is installed, so that tests
// can make any single write, sync, create or remove fail (a full disk, a
// failing device) or stop the process right there (a crash).

#ifndef JET_OS_FILE_H_
#define JET_OS_FILE_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "base/status.h"

namespace jet {

class File {
 public:
  enum class Mode { kReadOnly, kReadWrite };

  // Opens an existing regular file. A missing file is NotFound, a directory
  // or other non-regular file is InvalidArgument.
  static Result<std::unique_ptr<File>> Open(const std::string& path, Mode mode);

  // On Windows the share mode is what keeps other programs out: a
  // read-only open lets others read and write, so it never blocks Access;
  // a writable open lets others only read, so a second writer (Access
  // included) is refused, and it is refused while one has the file open
  // for writing (ErrorKind::kBusy). POSIX has no such modes; lock_file.h
  // does that work there.

  // Opens a file for writing, creating it (mode 0666 less the umask) when it
  // is missing; `truncate` empties an existing one. `*created` says whether
  // this call made the file.
  static Result<std::unique_ptr<File>> Create(const std::string& path, bool truncate,
                                              bool* created = nullptr);

  // Creates a file that must not exist yet (InvalidArgument if it does).
  static Result<std::unique_ptr<File>> CreateNew(const std::string& path);

#ifdef _WIN32
  using NativeHandle = void*;  // a HANDLE
#else
  using NativeHandle = int;  // a file descriptor
#endif

  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::string& path() const { return path_; }
  bool writable() const { return mode_ == Mode::kReadWrite; }
  NativeHandle native_handle() const { return handle_; }

  Result<uint64_t> Size() const;
  // Reads exactly out.size() bytes at `offset`; a short read is an error.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out) const;
  // Fills `outs` in turn from consecutive bytes at `offset`, in one call to
  // the system where it can (the same as ReadAt on each, one after another).
  Status ReadManyAt(uint64_t offset, std::span<const std::span<uint8_t>> outs) const;
  Status WriteAt(uint64_t offset, std::span<const uint8_t> data);
  Status Truncate(uint64_t size);
  Status Sync();
  // Gives this file the access permissions of `other` where the platform
  // has per-file modes (POSIX); a Windows file takes its folder's.
  void CopyPermissionsFrom(const File& other);

 private:
  File(std::string path, NativeHandle handle, Mode mode)
      : path_(std::move(path)), handle_(handle), mode_(mode) {}

  std::string path_;
  NativeHandle handle_;
  Mode mode_;
};

// Removes a file; one that is already gone is not an error.
Status RemoveFile(const std::string& path);

// Syncs the folder that holds `path`, so that a file created or removed
// there stays created or removed after a power failure.
Status SyncFolderOf(const std::string& path);

bool FileExists(const std::string& path);

// Whether this user may write the file `path` and create files in its
// folder (a read-only attribute or missing permission says no).
bool CanWriteFileAndFolder(const std::string& path);

// The folder that holds `path` ("." for a bare name).
std::string FolderOf(const std::string& path);

#ifdef _WIN32
// UTF-8 text as UTF-16.
std::wstring WideFromUtf8(const std::string& text);
// A UTF-8 path as Win32's W functions want it: UTF-16, and long ones with
// the "\\?\" prefix.
std::wstring WidePath(const std::string& path);
std::string Utf8FromWide(const std::wstring& wide);
#endif


// --- Fault injection, for tests ---

enum class IoOp { kRead, kWrite, kTruncate, kSync, kCreate, kRemove, kSyncFolder };

struct IoEvent {
  IoOp op;
  const std::string& path;
  uint64_t offset;                // kRead, kWrite: where; kTruncate: the new size
  std::span<const uint8_t> data;  // kWrite: the bytes about to be written
};

// Called before each operation: 0 lets it go ahead, an errno value makes it
// fail with that error, doing nothing.
using IoHook = std::function<int(const IoEvent&)>;

// Installs `hook` for every file of this process; an empty hook removes it.
// Not thread-safe: for tests that run one operation at a time.
void SetIoHook(IoHook hook);

namespace internal {
// Asks the installed hook about an operation: 0, or the errno to fail with.
int InterceptIo(IoOp op, const std::string& path, uint64_t offset = 0,
                std::span<const uint8_t> data = {});
Status ErrnoStatus(const std::string& what, const std::string& path, int err);
}  // namespace internal

}  // namespace jet

#endif  // JET_OS_FILE_H_
