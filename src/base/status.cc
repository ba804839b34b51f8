// SPDX-License-Identifier: Apache-2.0
#include "base/status.h"

namespace jet {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kOk: return "ok";
    case ErrorKind::kNotFound: return "not found";
    case ErrorKind::kIoError: return "I/O error";
    case ErrorKind::kNotADatabase: return "not a database";
    case ErrorKind::kUnsupported: return "unsupported";
    case ErrorKind::kPasswordProtected: return "password protected";
    case ErrorKind::kEncrypted: return "encrypted";
    case ErrorKind::kCorrupt: return "corrupt";
    case ErrorKind::kInvalidArgument: return "invalid argument";
    case ErrorKind::kConstraint: return "constraint violated";
    case ErrorKind::kBusy: return "busy";
  }
  return "unknown";
}

std::string Status::ToString() const {
  if (ok()) return "OK";
  std::string out = message_;
  if (!file_.empty() || page_) {
    out += " (";
    if (!file_.empty()) out += "file: " + file_;
    if (page_) {
      if (!file_.empty()) out += ", ";
      out += "page " + std::to_string(*page_);
    }
    out += ")";
  }
  return out;
}

}  // namespace jet
