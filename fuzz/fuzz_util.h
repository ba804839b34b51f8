// SPDX-License-Identifier: Apache-2.0
// Shared by the fuzz targets: the input as a database file on disk.
//
// The engine opens databases by path, so each input is written to a file in
// memory-backed /dev/shm (one per process, reused for every run) and opened
// from there.

#ifndef FUZZ_FUZZ_UTIL_H_
#define FUZZ_FUZZ_UTIL_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A scratch database path private to this process, removed when it exits.
inline const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/jetfuzz-" + std::to_string(getpid()) + ".mdb";
  }();
  // Registered after `path` is made, so it runs before `path` goes.
  static const bool cleanup = std::atexit([] { std::remove(ScratchPath().c_str()); }) == 0;
  (void)cleanup;
  return path;
}

// Replaces the scratch file with `data`, and clears what a previous run may
// have left beside it (lock file, journal). Aborts if the disk refuses.
inline const std::string& WriteScratch(const uint8_t* data, size_t size) {
  const std::string& path = ScratchPath();
  std::remove((path + "-journal").c_str());
  std::remove((path.substr(0, path.size() - 4) + ".ldb").c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += size_t(n);
  }
  close(fd);
  return path;
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_UTIL_H_
