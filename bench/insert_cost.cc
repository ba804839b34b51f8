// SPDX-License-Identifier: Apache-2.0
// What one insert costs as a table grows: pages written and time per
// single-row insert (each one its own committed step) into a table with a
// primary key, a unique text index and a text index, at growing sizes.
//
//   build/bin/insert_cost [ROWS...]   (default 1000 10000 100000 300000)
//
// Pages per insert follow the depth of the indexes; they do not grow with
// the number of rows or the size of the file.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "jet/create.h"
#include "jet/io_counts.h"
#include "jet/jet.h"
#include "jet/table_writer.h"
#include "scratch_folder.h"

namespace {

std::vector<jet::Value> Row(std::mt19937& rng, long n) {
  static const char* kServices[] = {"UPS-GND", "USPS-PRI", "FEDEX-2DAY", "DHL-INTL", "USPS-EXP"};
  std::vector<jet::Value> r(4);
  r[0].type = jet::ColumnType::kLong;
  r[1].type = jet::ColumnType::kText;
  r[1].null = false;
  r[1].bytes = "1Z" + std::to_string(rng()) + "-" + std::to_string(n);
  r[2].type = jet::ColumnType::kText;
  r[2].null = false;
  r[2].bytes = kServices[rng() % 5];
  r[3].type = jet::ColumnType::kMemo;
  r[3].null = false;
  r[3].bytes = "note " + std::to_string(n);
  return r;
}

int Fail(const jet::Status& s) {
  std::fprintf(stderr, "insert_cost: %s\n", s.ToString().c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
  if (sizes.empty()) sizes = {1000, 10000, 100000, 300000};
  bench::ScratchFolder scratch("insert-cost");
  if (!scratch.ok()) {
    std::fprintf(stderr, "insert_cost: cannot make a scratch folder\n");
    return 1;
  }
  const std::string path = bench::Utf8(scratch.path() / "bench.mdb");
  if (auto s = jet::CreateDatabase(path, jet::JetVersion::kJet4); !s.ok()) return Fail(s);
  jet::Database::Options options;
  options.writable = true;
  auto db = jet::Database::Open(path, options);
  if (!db.ok()) return Fail(db.status());
  jet::TableSpec design;
  design.name = "Shipments";
  design.columns.resize(4);
  design.columns[0] = {"ID", jet::ColumnType::kLong, 0, 18, 0, true, false, false, true, false};
  design.columns[1] = {"TRACKING", jet::ColumnType::kText, 60, 18, 0, false, false, false, true, false};
  design.columns[2] = {"SERVICE", jet::ColumnType::kText, 40, 18, 0, false, false, false, true, false};
  design.columns[3] = {"NOTE", jet::ColumnType::kMemo, 0, 18, 0, false, false, false, true, false};
  design.indexes = {{"PrimaryKey", {{"ID", true}}, true, true, false, true},
                  {"TRACKING", {{"TRACKING", true}}, false, true, false, false},
                  {"SERVICE", {{"SERVICE", true}}, false, false, false, false}};
  if (auto s = jet::CreateTable(**db, design); !s.ok()) return Fail(s);
  auto writer = jet::TableWriter::Open(**db, "Shipments");
  if (!writer.ok()) return Fail(writer.status());

  std::mt19937 rng(7);
  long rows = 0;
  constexpr int kProbes = 500;
  std::printf("%10s %14s %16s %12s\n", "rows", "pages/insert", "us/insert", "file pages");
  for (long size : sizes) {
    while (rows < size) {
      std::vector<std::vector<jet::Value>> batch;
      for (int i = 0; i < 5000 && rows + long(batch.size()) < size; ++i) {
        batch.push_back(Row(rng, rows + long(batch.size())));
      }
      rows += long(batch.size());
      if (auto s = (*writer)->InsertBatch(std::move(batch)); !s.ok()) return Fail(s);
    }
    // Single inserts, each its own step; count the pages each one changes.
    const uint64_t written = jet::GetIoCounts().pages_written;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kProbes; ++i) {
      std::vector<std::vector<jet::Value>> one{Row(rng, rows++)};
      if (auto s = (*writer)->InsertBatch(std::move(one)); !s.ok()) return Fail(s);
    }
    double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count() / kProbes;
    const uint64_t pages = jet::GetIoCounts().pages_written - written;
    std::printf("%10ld %14.2f %16.1f %12ju\n", size, double(pages) / kProbes, us,
                uintmax_t(std::filesystem::file_size(scratch.path() / "bench.mdb") / 4096));
  }
  return 0;
}
