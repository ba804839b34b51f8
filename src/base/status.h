// SPDX-License-Identifier: Apache-2.0
// Status and Result: how every engine operation reports success or failure.
//
// They live below the engine so that the expression module, which the
// engine uses for defaults and validation rules, reports its errors with the
// same type. The engine's public headers offer them as jet/status.h.
//
// No exception leaves the engine. A failed operation returns a Status that
// carries a kind (what sort of failure), a message a person can read, and,
// where it is known, the file and page where the problem was found.

#ifndef BASE_STATUS_H_
#define BASE_STATUS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace jet {

enum class ErrorKind {
  kOk = 0,
  kNotFound,         // a file, table, column or row that does not exist
  kIoError,          // the operating system refused a read or write
  kNotADatabase,     // the file is not a Jet database at all
  kUnsupported,      // a Jet file, but one this engine will not touch
  kPasswordProtected,
  kEncrypted,
  kCorrupt,          // a structure inside the file is damaged
  kInvalidArgument,  // the caller asked for something malformed
  kConstraint,       // the change would break a rule of the database
  kBusy,             // another user or program holds the database
};

const char* ErrorKindName(ErrorKind kind);

class Status {
 public:
  Status() = default;

  static Status Ok() { return Status(); }
  static Status Error(ErrorKind kind, std::string message) {
    return Status(kind, std::move(message));
  }

  static Status NotFound(std::string m) { return Error(ErrorKind::kNotFound, std::move(m)); }
  static Status IoError(std::string m) { return Error(ErrorKind::kIoError, std::move(m)); }
  static Status NotADatabase(std::string m) {
    return Error(ErrorKind::kNotADatabase, std::move(m));
  }
  static Status Unsupported(std::string m) { return Error(ErrorKind::kUnsupported, std::move(m)); }
  static Status Corrupt(std::string m) { return Error(ErrorKind::kCorrupt, std::move(m)); }
  static Status InvalidArgument(std::string m) {
    return Error(ErrorKind::kInvalidArgument, std::move(m));
  }

  bool ok() const { return kind_ == ErrorKind::kOk; }
  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const std::string& file() const { return file_; }
  // The page where the problem was found, if it concerns one page.
  std::optional<uint32_t> page() const { return page_; }
  // The number Jet gives the same failure (3317 for a validation rule), or
  // 0 where the engine has none to give.
  int32_t jet_error() const { return jet_error_; }
  Status& WithJetError(int32_t number) {
    jet_error_ = number;
    return *this;
  }

  // Attach a location, unless one is set already (the innermost wins).
  Status& AtFile(const std::string& file) {
    if (file_.empty()) file_ = file;
    return *this;
  }
  Status& AtPage(uint32_t page) {
    if (!page_) page_ = page;
    return *this;
  }

  // "message (file: F, page: P)"
  std::string ToString() const;

 private:
  Status(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  ErrorKind kind_ = ErrorKind::kOk;
  std::string message_;
  std::string file_;
  std::optional<uint32_t> page_;
  int32_t jet_error_ = 0;
};

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::move(value)) {}  // NOLINT: implicit by design
  Result(Status status) : data_(std::move(status)) {}  // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(data_); }
  const Status& status() const {
    static const Status kOk;
    return ok() ? kOk : std::get<Status>(data_);
  }
  Status TakeStatus() { return ok() ? Status() : std::move(std::get<Status>(data_)); }

  T& value() & { return std::get<T>(data_); }
  const T& value() const& { return std::get<T>(data_); }
  // On a temporary, the value is moved out, so that `for (x : *F())` and
  // `auto& v = *F()` cannot refer to a Result that is already gone.
  T value() && { return std::get<T>(std::move(data_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T operator*() && { return std::move(*this).value(); }

 private:
  std::variant<T, Status> data_;
};

}  // namespace jet

// Return early from the enclosing function when an operation fails.
#define JET_RETURN_IF_ERROR(expr)           \
  do {                                      \
    ::jet::Status jet_status_ = (expr);     \
    if (!jet_status_.ok()) return jet_status_; \
  } while (0)

#define JET_CONCAT_INNER_(a, b) a##b
#define JET_CONCAT_(a, b) JET_CONCAT_INNER_(a, b)
#define JET_ASSIGN_OR_RETURN_IMPL_(tmp, lhs, expr) \
  auto tmp = (expr);                               \
  if (!tmp.ok()) return tmp.TakeStatus();          \
  lhs = std::move(tmp).value()
// lhs is a declaration or an lvalue: JET_ASSIGN_OR_RETURN(auto page, pager.Read(n));
#define JET_ASSIGN_OR_RETURN(lhs, expr) \
  JET_ASSIGN_OR_RETURN_IMPL_(JET_CONCAT_(jet_result_, __LINE__), lhs, expr)

#endif  // BASE_STATUS_H_
