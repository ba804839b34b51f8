// SPDX-License-Identifier: Apache-2.0
// Helpers for the lock, journal and crash tests: writable copies, one
// Shipments row, child processes that stop at a chosen I/O point, and a
// program that holds a database open.
//
// On POSIX a "child" is a forked process that really dies at the chosen
// point. Windows cannot fork, so there the body runs in this process and
// dies on paper: from the chosen point on, every change to the disk fails,
// so the engine's own clean-up can touch nothing either, and a torn write's
// first half is put down once the body has let go of its files. What
// reaches the disk is then what a process killed at that point leaves.

#ifndef TESTS_SAFE_WRITE_UTIL_H_
#define TESTS_SAFE_WRITE_UTIL_H_

#ifdef _WIN32
#include <windows.h>
#undef CopyFile  // a macro of windows.h; ours is testutil::CopyFile
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>

#include "jet/os/file.h"
#include "jet/storage/pager.h"
#include "values.h"

namespace testutil {

// A Shipments row (autonumber id, tracking, service, weight, date).
inline std::vector<jet::Value> ShipmentRow(const std::string& tracking,
                                           const std::string& service = "UPS-GND") {
  return {NullValue(jet::ColumnType::kLong), TextValue(tracking), TextValue(service),
          DoubleValue(12.5), DoubleValue(45000.5, jet::ColumnType::kDateTime)};
}

inline jet::Result<std::unique_ptr<jet::Database>> OpenForWriting(const std::string& path) {
  return jet::Database::Open(path, {.writable = true});
}

inline jet::Status InsertShipment(jet::Database& db, const std::string& tracking) {
  auto writer = jet::TableWriter::Open(db, "Shipments");
  if (!writer.ok()) return writer.status();
  return (*writer)->Insert(ShipmentRow(tracking)).status();
}

inline jet::Status InsertShipment(const std::string& path, const std::string& tracking) {
  auto db = OpenForWriting(path);
  return db.ok() ? InsertShipment(**db, tracking) : db.status();
}

// A change made to an open database.
using Operation = std::function<jet::Status(jet::Database&)>;

// A change to the disk: what was done to which file.
struct Change {
  jet::IoOp op;
  std::string path;
};

// Whether an operation changes something on disk (all but reads).
inline bool Mutates(jet::IoOp op) { return op != jet::IoOp::kRead; }

// Runs `op` on the database at `path` and returns its changes to the disk, in
// order. The database is closed again on return.
inline std::vector<Change> LogChanges(const std::string& path, const Operation& op) {
  std::vector<Change> log;
  auto db = OpenForWriting(path);
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return log;
  jet::SetIoHook([&](const jet::IoEvent& e) {
    if (Mutates(e.op)) log.push_back({e.op, e.path});
    return 0;
  });
  jet::Status status = op(**db);
  jet::SetIoHook(nullptr);
  EXPECT_TRUE(status.ok()) << status.ToString();
  return log;
}

// Inserts `rows` Shipments rows as one change whose batch spills into the
// file whenever it holds `threshold` pages (0: never), then commits it, or,
// with `commit` false, rolls it back. `*spills` counts the spills.
inline jet::Status InsertShipmentsSpilling(jet::Database& db, const std::string& prefix, int rows,
                                           size_t threshold, int* spills = nullptr,
                                           bool commit = true) {
  auto writer = jet::TableWriter::Open(db, "Shipments");
  if (!writer.ok()) return writer.status();
  jet::Pager& pager = db.pager();
  pager.SetSpillThreshold(threshold);
  jet::Status s;
  for (int i = 0; i < rows && s.ok(); ++i) {
    s = (*writer)->InsertWithoutCommit(ShipmentRow(prefix + std::to_string(i)));
    const size_t batch = pager.changed_pages();
    if (s.ok()) s = pager.MaybeSpill();
    if (s.ok() && spills && batch > 0 && pager.changed_pages() == 0) ++*spills;
  }
  if (s.ok() && commit) s = pager.Commit();
  if (!s.ok() || !commit) pager.Rollback();
  pager.SetSpillThreshold(0);
  return s;
}

// Exit code a child uses when it stopped itself at the chosen point.
constexpr int kStoppedExit = 77;

// The first half of a write, put down in place, as a power cut in the middle
// of the write might leave it.
inline void PutDownHalf(const std::string& path, uint64_t offset, std::span<const uint8_t> data) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(offset));
  f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size() / 2));
}

#ifdef _WIN32

// Where the body's on-paper death stands.
struct PaperDeath {
  bool dead = false;
  std::string torn_path;
  uint64_t torn_offset = 0;
  std::vector<uint8_t> torn_write;
};

inline PaperDeath& Death() {
  static PaperDeath death;
  return death;
}

// Runs `body` here and returns its exit code, or kStoppedExit if it died at
// the point StopAt chose.
inline int RunInChild(const std::function<int()>& body) {
  Death() = PaperDeath{};
  int code = body();
  jet::SetIoHook(nullptr);
  PaperDeath& death = Death();
  if (!death.dead) return code;
  if (!death.torn_path.empty()) PutDownHalf(death.torn_path, death.torn_offset, death.torn_write);
  return kStoppedExit;
}

// The exit code of a finished child, or -1 if it did not exit normally.
inline int ChildExitCode(int status) { return status; }

#else

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

// The exit code of a finished child, or -1 if it did not exit normally.
inline int ChildExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

#endif

// A hook for a child that stops dead at mutating operation number `stop`
// (1-based). With `torn`, a write at that point puts down its first half.
inline jet::IoHook StopAt(int stop, bool torn) {
  auto count = std::make_shared<int>(0);
  return [count, stop, torn](const jet::IoEvent& e) -> int {
#ifdef _WIN32
    if (Death().dead) return EIO;
#endif
    if (!Mutates(e.op) || ++*count != stop) return 0;
    const bool tear = torn && e.op == jet::IoOp::kWrite && e.data.size() > 1;
#ifdef _WIN32
    Death().dead = true;
    if (tear) Death() = {true, e.path, e.offset, {e.data.begin(), e.data.end()}};
    return EIO;
#else
    if (tear) PutDownHalf(e.path, e.offset, e.data);
    _exit(kStoppedExit);
#endif
  };
}

// Runs `op` on the database at `path` in a child that stops dead at its
// `stop`-th change to the disk (see StopAt); returns the child's exit code.
inline int RunStopped(const std::string& path, int stop, bool torn, const Operation& op) {
  return ChildExitCode(RunInChild([&] {
    auto db = OpenForWriting(path);
    if (!db.ok()) return 1;
    jet::SetIoHook(StopAt(stop, torn));
    (void)op(**db);
    return 0;
  }));
}

// A program started with pipes to its standard input and output.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) { Start(argv); }
  ~Child() { Finish(); }

  // The next line the program prints, without its line ending.
  std::string ReadLine() {
    std::string line;
    char c;
    while (ReadByte(&c) && c != '\n') {
      if (c != '\r') line.push_back(c);
    }
    return line;
  }

#ifdef _WIN32
  // Closes its input and waits for it; returns its exit code.
  int Finish() {
    Close(stdin_);
    if (process_) {
      WaitForSingleObject(process_, INFINITE);
      DWORD code = 0;
      GetExitCodeProcess(process_, &code);
      exit_code_ = int(code);
      Close(process_);
    }
    Close(stdout_);
    return exit_code_;
  }

  void Kill() {
    if (process_) TerminateProcess(process_, 137);
    Finish();
  }

 private:
  void Start(const std::vector<std::string>& argv) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE in_read, in_write, out_read, out_write;
    if (!CreatePipe(&in_read, &in_write, &sa, 0)) return;
    if (!CreatePipe(&out_read, &out_write, &sa, 0)) return;
    // Our ends stay ours: no other child inherits them.
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    std::wstring command;
    for (const std::string& a : argv) {
      command += (command.empty() ? L"\"" : L" \"") + std::filesystem::path(a).wstring() + L"\"";
    }
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_read;
    si.hStdOutput = out_write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &si, &pi)) {
      CloseHandle(pi.hThread);
      process_ = pi.hProcess;
    }
    CloseHandle(in_read);
    CloseHandle(out_write);
    stdin_ = in_write;
    stdout_ = out_read;
  }
  bool ReadByte(char* c) {
    DWORD got = 0;
    return ::ReadFile(stdout_, c, 1, &got, nullptr) && got == 1;
  }
  static void Close(HANDLE& h) {
    if (h) CloseHandle(h);
    h = nullptr;
  }

  HANDLE process_ = nullptr, stdin_ = nullptr, stdout_ = nullptr;
#else
  // Closes its input and waits for it; returns its exit code.
  int Finish() {
    Close(stdin_);
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      exit_code_ = ChildExitCode(status);
      pid_ = -1;
    }
    Close(stdout_);
    return exit_code_;
  }

  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Finish();
  }

 private:
  void Start(const std::vector<std::string>& argv) {
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
  bool ReadByte(char* c) { return ::read(stdout_, c, 1) == 1; }
  static void Close(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }

  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
#endif
  int exit_code_ = -1;
};

inline std::string LockHolderPath() { return AFC_LOCK_HOLDER_PATH; }

}  // namespace testutil

#endif  // TESTS_SAFE_WRITE_UTIL_H_
