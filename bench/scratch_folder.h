// SPDX-License-Identifier: Apache-2.0
// A scratch folder for a benchmark's files, made in the system's temporary
// folder (TMPDIR or /tmp on POSIX, GetTempPath's folder on Windows) and
// removed, with everything in it, when the object goes; and SyncFile, to
// put a file's bytes on disk before a measurement starts.

#ifndef BENCH_SCRATCH_FOLDER_H_
#define BENCH_SCRATCH_FOLDER_H_

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace bench {

// A path as the engine takes paths: UTF-8 (on Windows, path::string()
// would give the ANSI code page).
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Puts the file's bytes on disk; a file that cannot be opened is left alone.
inline void SyncFile(const std::filesystem::path& path) {
#ifdef _WIN32
  const int fd = _wopen(path.c_str(), _O_RDWR | _O_BINARY);
  if (fd < 0) return;
  (void)_commit(fd);
  _close(fd);
#else
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
#endif
}

class ScratchFolder {
 public:
  // Makes a new folder named PREFIX-NUMBER; ok() says whether it could.
  explicit ScratchFolder(const std::string& prefix) {
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      std::filesystem::path p = temp / (prefix + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(p, ec)) path_ = p;
    }
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace bench

#endif  // BENCH_SCRATCH_FOLDER_H_
