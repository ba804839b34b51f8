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

// A change to the disk: what was done to which file (for a folder sync, the
// folder), where (for a truncation, the new size) and the bytes written.
struct Change {
  jet::IoOp op;
  std::string path;
  uint64_t offset = 0;
  std::vector<uint8_t> data = {};
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
    if (Mutates(e.op)) log.push_back({e.op, e.path, e.offset, {e.data.begin(), e.data.end()}});
    return 0;
  });
  jet::Status status = op(**db);
  jet::SetIoHook(nullptr);
  EXPECT_TRUE(status.ok()) << status.ToString();
  return log;
}

// Inserts Shipments rows with these tracking numbers as one change whose
// batch spills into the file whenever it holds `threshold` pages (0: never),
// then commits it, or, with `commit` false, rolls it back. `*spills` counts
// the spills.
inline jet::Status InsertShipmentsSpilling(jet::Database& db,
                                           const std::vector<std::string>& trackings,
                                           size_t threshold, int* spills = nullptr,
                                           bool commit = true) {
  auto writer = jet::TableWriter::Open(db, "Shipments");
  if (!writer.ok()) return writer.status();
  jet::Pager& pager = db.pager();
  pager.SetSpillThreshold(threshold);
  jet::Status s;
  for (size_t i = 0; i < trackings.size() && s.ok(); ++i) {
    s = (*writer)->InsertWithoutCommit(ShipmentRow(trackings[i]));
    const size_t batch = pager.changed_pages();
    if (s.ok()) s = pager.MaybeSpill();
    if (s.ok() && spills && batch > 0 && pager.changed_pages() == 0) ++*spills;
  }
  if (s.ok() && commit) s = pager.Commit();
  if (!s.ok() || !commit) pager.Rollback();
  pager.SetSpillThreshold(0);
  return s;
}

// The same with `rows` tracking numbers PREFIX0, PREFIX1...
inline jet::Status InsertShipmentsSpilling(jet::Database& db, const std::string& prefix, int rows,
                                           size_t threshold, int* spills = nullptr,
                                           bool commit = true) {
  std::vector<std::string> trackings;
  for (int i = 0; i < rows; ++i) trackings.push_back(prefix + std::to_string(i));
  return InsertShipmentsSpilling(db, trackings, threshold, spills, commit);
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

inline std::string LockHolderPath() { return AFC_LOCK_HOLDER_PATH; }

}  // namespace testutil

#endif  // TESTS_SAFE_WRITE_UTIL_H_
