// SPDX-License-Identifier: Apache-2.0
// What both platforms' files share: the fault-injection hook, error texts
// and path splitting.

#include "jet/os/file.h"

#include <cstring>

namespace jet {

namespace {

IoHook& Hook() {
  static IoHook hook;
  return hook;
}

}  // namespace

namespace internal {

int InterceptIo(IoOp op, const std::string& path, uint64_t offset, std::span<const uint8_t> data) {
  IoHook& hook = Hook();
  if (!hook) return 0;
  return hook(IoEvent{op, path, offset, data});
}

Status ErrnoStatus(const std::string& what, const std::string& path, int err) {
  Status s = Status::IoError(what + ": " + std::strerror(err));
  s.AtFile(path);
  return s;
}

}  // namespace internal

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const size_t slash = path.find_last_of("/\\");
  // "C:name" is relative to drive C's current folder.
  if (slash == std::string::npos) {
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  }
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
#else
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
#endif
  return path.substr(0, slash);
}

void SetIoHook(IoHook hook) { Hook() = std::move(hook); }

}  // namespace jet
