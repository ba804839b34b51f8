// Helpers for the lock, journal and crash tests: writable copies, one
// Shipments row, child processes that stop at a chosen I/O point, and a
// program that holds a database open.

#ifndef TESTS_SAFE_WRITE_UTIL_H_
#define TESTS_SAFE_WRITE_UTIL_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "file.h"
#include "jet/jet.h"
#include "table_writer.h"
#include "test_util.h"
#include "values.h"

namespace testutil {

// A Shipments row (autonumber id, tracking, service, weight, date).
inline std::vector<jet::Value> ShipmentRow(const std::string& tracking,
                                           const std::string& service = "UPS-GND") {
  return {NullValue(jet::ColumnType::kLong), TextValue(tracking), TextValue(service),
          DoubleValue(12.5), DoubleValue(45000.5, jet::ColumnType::kDateTime)};
}

inline jet::Result<std::unique_ptr<jet::Database>> OpenForWriting(const std::string& path) {
  jet::Database::Options options;
  options.writable = true;
  return jet::Database::Open(path, options);
}

inline jet::Status InsertShipment(const std::string& path, const std::string& tracking) {
  auto db = OpenForWriting(path);
  if (!db.ok()) return db.status();
  auto writer = jet::TableWriter::Open(**db, "Shipments");
  if (!writer.ok()) return writer.status();
  return (*writer)->Insert(ShipmentRow(tracking)).status();
}

// Whether an operation changes something on disk (all but reads).
inline bool Mutates(jet::IoOp op) { return op != jet::IoOp::kRead; }

// Runs `body` in a forked child and returns its exit status (as waitpid
// reports it). The child leaves by _exit, so nothing of the test process
// runs there twice.
inline int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int code = body();
    jet::SetIoHook(nullptr);
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Exit code a child uses when it stopped itself at the chosen point.
constexpr int kStoppedExit = 77;

// A hook for a child that stops dead at mutating operation number `stop`
// (1-based). With `torn`, a write at that point puts down the first half of
// its bytes first, as a power cut in the middle of a write might.
inline jet::IoHook StopAt(int stop, bool torn) {
  auto count = std::make_shared<int>(0);
  return [count, stop, torn](const jet::IoEvent& e) -> int {
    if (!Mutates(e.op)) return 0;
    if (++*count != stop) return 0;
    if (torn && e.op == jet::IoOp::kWrite && e.data.size() > 1) {
      int fd = ::open(e.path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd >= 0) {
        (void)!::pwrite(fd, e.data.data(), e.data.size() / 2, off_t(e.offset));
        ::close(fd);
      }
    }
    _exit(kStoppedExit);
  };
}

// A program started with pipes to its standard input and output.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    // Close-on-exec, so that no other child keeps these pipes open.
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~Child() { Finish(); }

  // The next line the program prints, without its newline.
  std::string ReadLine() {
    std::string line;
    char c;
    while (::read(stdout_, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
  }

  // Closes its input and waits for it; returns its exit code.
  int Finish() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    if (stdout_ >= 0) close(stdout_);
    stdout_ = -1;
    return exit_code_;
  }

  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Finish();
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int exit_code_ = -1;
};

inline std::string LockHolderPath() { return AFC_LOCK_HOLDER_PATH; }

}  // namespace testutil

#endif  // TESTS_SAFE_WRITE_UTIL_H_
