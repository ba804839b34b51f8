// jet_lock_holder: a second program using a database, for the lock tests.
//
//   jet_lock_holder hold read|write PATH
//       Opens the database, prints "ready" (or "busy: ..." / "error: ...")
//       on its own line, and keeps it open until its standard input ends.
//   jet_lock_holder insert PATH COUNT TAG
//       COUNT times: opens the database for writing (waiting while another
//       program has it), inserts one row into Shipments, closes it. Prints
//       how often it had to wait.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "jet/jet.h"
#include "table_writer.h"

namespace {

jet::Value Text(const std::string& s) {
  jet::Value v;
  v.type = jet::ColumnType::kText;
  v.null = false;
  v.bytes = s;
  return v;
}

jet::Value Number(jet::ColumnType type, double d) {
  jet::Value v;
  v.type = type;
  v.null = false;
  v.real = d;
  return v;
}

int Hold(const std::string& mode, const std::string& path) {
  jet::Database::Options options;
  options.writable = mode == "write";
  auto db = jet::Database::Open(path, options);
  if (!db.ok()) {
    std::printf("%s: %s\n", db.status().kind() == jet::ErrorKind::kBusy ? "busy" : "error",
                db.status().ToString().c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char buf[64];
  while (::read(0, buf, sizeof buf) > 0) {
  }
  return 0;
}

int Insert(const std::string& path, int count, const std::string& tag) {
  int waits = 0;
  for (int i = 0; i < count; ++i) {
    jet::Database::Options options;
    options.writable = true;
    auto db = jet::Database::Open(path, options);
    while (!db.ok() && db.status().kind() == jet::ErrorKind::kBusy) {
      ++waits;
      ::usleep(2000);
      db = jet::Database::Open(path, options);
    }
    if (!db.ok()) {
      std::printf("error: %s\n", db.status().ToString().c_str());
      return 1;
    }
    auto writer = jet::TableWriter::Open(**db, "Shipments");
    if (!writer.ok()) {
      std::printf("error: %s\n", writer.status().ToString().c_str());
      return 1;
    }
    jet::Value id;
    id.type = jet::ColumnType::kLong;
    auto at = (*writer)->Insert({id, Text(tag + "-" + std::to_string(i)), Text("UPS-GND"),
                                 Number(jet::ColumnType::kDouble, i),
                                 Number(jet::ColumnType::kDateTime, 45000)});
    if (!at.ok()) {
      std::printf("error: %s\n", at.status().ToString().c_str());
      return 1;
    }
  }
  std::printf("done, waited %d times\n", waits);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "hold" && argc == 4) return Hold(argv[2], argv[3]);
  if (cmd == "insert" && argc == 5) return Insert(argv[2], std::stoi(argv[3]), argv[4]);
  std::fprintf(stderr, "usage: jet_lock_holder hold read|write PATH | insert PATH COUNT TAG\n");
  return 2;
}
