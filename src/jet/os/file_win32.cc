// SPDX-License-Identifier: Apache-2.0
// Files on Windows: CreateFileW on UTF-16 paths, positioned ReadFile and
// WriteFile, FlushFileBuffers, DeleteFileW.
//
// The share modes are chosen for Jet's neighbours (see file.h): readers
// share everything; a writer shares reading only, so Access cannot open the
// database for writing while we write it, and we cannot open it while
// Access (or anyone) has it open for writing.

#include <windows.h>

#include <cerrno>

#include "jet/os/file.h"

namespace jet {

using internal::ErrnoStatus;
using internal::InterceptIo;

namespace {

// The system's text for a Win32 error code, in UTF-8, without the line
// break FormatMessage ends it with.
std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  if (text.empty()) return "system error " + std::to_string(code);
  return Utf8FromWide(text);
}

Status Win32Status(const std::string& what, const std::string& path, DWORD code) {
  return Status::IoError(what + ": " + SystemMessage(code)).AtFile(path);
}

bool IsSharingViolation(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

Status Busy(const std::string& path) {
  return Status::Error(ErrorKind::kBusy, "The database is opened by another user or program")
      .AtFile(path);
}

// Opens with CreateFileW; the handle, or INVALID_HANDLE_VALUE with
// *error set.
HANDLE OpenHandle(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                  DWORD* error) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  *error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  return h;
}

// Refuses anything but an ordinary disk file (folders are refused by
// CreateFileW already; devices, pipes and consoles here).
bool IsDiskFile(HANDLE h) { return GetFileType(h) == FILE_TYPE_DISK; }

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
  std::wstring wide;
  if (!text.empty()) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    wide.resize(size_t(n));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
  }
  return wide;
}

std::wstring WidePath(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  // Past MAX_PATH the W functions want an absolute path that starts with
  // "\\?\", which also turns off the parsing of / and of . and .. parts.
  if (wide.size() >= MAX_PATH - 12 && wide.rfind(L"\\\\?\\", 0) != 0) {
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
      std::wstring full(n, L'\0');
      const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
      full.resize(got);
      if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
      return L"\\\\?\\" + full;
    }
  }
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  std::string out;
  if (wide.empty()) return out;
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  out.resize(size_t(n));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

Result<std::unique_ptr<File>> File::Open(const std::string& path, Mode mode) {
  const bool read_only = mode == Mode::kReadOnly;
  const DWORD access = read_only ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  const DWORD share =
      read_only ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ;
  DWORD err = 0;
  HANDLE h = OpenHandle(path, access, share, OPEN_EXISTING, &err);
  if (h == INVALID_HANDLE_VALUE) {
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
        err == ERROR_BAD_NETPATH) {
      return Status::NotFound("The file does not exist").AtFile(path);
    }
    if (err == ERROR_ACCESS_DENIED) {
      const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Status::InvalidArgument("The path names a folder, not a database file").AtFile(path);
      }
      return Status::IoError(read_only ? "The file cannot be read: permission denied"
                                       : "The file cannot be written: permission denied")
          .AtFile(path);
    }
    if (IsSharingViolation(err)) return Busy(path);
    return Win32Status("Cannot open the file", path, err);
  }
  if (!IsDiskFile(h)) {
    CloseHandle(h);
    return Status::InvalidArgument("The path does not name a regular file").AtFile(path);
  }
  return std::unique_ptr<File>(new File(path, h, mode));
}

Result<std::unique_ptr<File>> File::CreateNew(const std::string& path) {
  if (int err = InterceptIo(IoOp::kCreate, path)) {
    return ErrnoStatus("Cannot create the file", path, err);
  }
  DWORD err = 0;
  HANDLE h = OpenHandle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, &err);
  if (h == INVALID_HANDLE_VALUE) {
    if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) {
      return Status::InvalidArgument("A file of that name exists already; it was left alone")
          .AtFile(path);
    }
    return Win32Status("Cannot create the file", path, err);
  }
  return std::unique_ptr<File>(new File(path, h, Mode::kReadWrite));
}

Result<std::unique_ptr<File>> File::Create(const std::string& path, bool truncate, bool* created) {
  if (created) *created = false;
  if (int err = InterceptIo(IoOp::kCreate, path)) {
    return ErrnoStatus("Cannot create the file", path, err);
  }
  DWORD err = 0;
  bool made = true;
  // Files beside the database (journal, lock file) are shared for reading
  // and deleting, so that another program can see who holds the database
  // and the last one out can remove them.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  HANDLE h = OpenHandle(path, GENERIC_READ | GENERIC_WRITE, share, CREATE_NEW, &err);
  if (h == INVALID_HANDLE_VALUE && (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS)) {
    made = false;
    h = OpenHandle(path, GENERIC_READ | GENERIC_WRITE, share,
                   truncate ? TRUNCATE_EXISTING : OPEN_EXISTING, &err);
  }
  if (h == INVALID_HANDLE_VALUE) {
    if (IsSharingViolation(err)) return Busy(path);
    return Win32Status("Cannot create the file", path, err);
  }
  if (!IsDiskFile(h)) {
    CloseHandle(h);
    return Status::InvalidArgument("The path does not name a regular file").AtFile(path);
  }
  if (created) *created = made;
  return std::unique_ptr<File>(new File(path, h, Mode::kReadWrite));
}

File::~File() {
  if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) CloseHandle(handle_);
}

Result<uint64_t> File::Size() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_, &size))
    return Win32Status("Cannot examine the file", path_, GetLastError());
  return uint64_t(size.QuadPart);
}

Status File::ReadAt(uint64_t offset, std::span<uint8_t> out) const {
  if (int err = InterceptIo(IoOp::kRead, path_, offset)) {
    return ErrnoStatus("Read failed", path_, err);
  }
  size_t done = 0;
  while (done < out.size()) {
    const uint64_t at = offset + done;
    OVERLAPPED where = {};
    where.Offset = DWORD(at);
    where.OffsetHigh = DWORD(at >> 32);
    const DWORD want = DWORD(std::min<size_t>(out.size() - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle_, out.data() + done, want, &got, &where)) {
      const DWORD err = GetLastError();
      if (err != ERROR_HANDLE_EOF) return Win32Status("Read failed", path_, err);
      got = 0;
    }
    if (got == 0) return Status::Corrupt("The file ends in the middle of a page").AtFile(path_);
    done += got;
  }
  return Status::Ok();
}

Status File::ReadManyAt(uint64_t offset, std::span<const std::span<uint8_t>> outs) const {
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
    const uint64_t at = offset + done;
    OVERLAPPED where = {};
    where.Offset = DWORD(at);
    where.OffsetHigh = DWORD(at >> 32);
    const DWORD want = DWORD(std::min<size_t>(data.size() - done, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(handle_, data.data() + done, want, &put, &where)) {
      return Win32Status("Write failed", path_, GetLastError());
    }
    if (put == 0) return Status::IoError("Write failed: nothing was written").AtFile(path_);
    done += put;
  }
  return Status::Ok();
}

Status File::Truncate(uint64_t size) {
  if (int err = InterceptIo(IoOp::kTruncate, path_, size)) {
    return ErrnoStatus("Truncate failed", path_, err);
  }
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile.QuadPart = LONGLONG(size);
  if (!SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end)) {
    return Win32Status("Truncate failed", path_, GetLastError());
  }
  return Status::Ok();
}

Status File::Sync() {
  if (int err = InterceptIo(IoOp::kSync, path_)) return ErrnoStatus("Sync failed", path_, err);
  if (!FlushFileBuffers(handle_)) return Win32Status("Sync failed", path_, GetLastError());
  return Status::Ok();
}

void File::CopyPermissionsFrom(const File&) {
  // A new file inherits its folder's access control list, as the database
  // beside it did.
}

Status RemoveFile(const std::string& path) {
  if (int err = InterceptIo(IoOp::kRemove, path)) {
    return ErrnoStatus("Cannot remove the file", path, err);
  }
  if (!DeleteFileW(WidePath(path).c_str())) {
    const DWORD err = GetLastError();
    if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) {
      return Win32Status("Cannot remove the file", path, err);
    }
  }
  return Status::Ok();
}

// NTFS writes a folder's entries through its own log when a file is created
// or deleted; FlushFileBuffers on the file made its contents durable, and
// there is no folder handle to flush. The hook still sees the step, so the
// crash tests cover the same points as on POSIX.
Status SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (int err = InterceptIo(IoOp::kSyncFolder, folder)) {
    return ErrnoStatus("Cannot sync the folder", folder, err);
  }
  return Status::Ok();
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CanWriteFileAndFolder(const std::string& path) {
  const DWORD file = GetFileAttributesW(WidePath(path).c_str());
  if (file == INVALID_FILE_ATTRIBUTES || (file & FILE_ATTRIBUTE_READONLY)) return false;
  const DWORD folder = GetFileAttributesW(WidePath(FolderOf(path)).c_str());
  return folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace jet
