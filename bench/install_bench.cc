// SPDX-License-Identifier: Apache-2.0
// What an installation costs: time and pages read by InstallFirstClass on a
// database whose Master has 5,000 rows, once beside an empty table of shipments
// and once beside one of 300,000 rows.
//
//   build/bin/install_bench SAMPLE.mdb [MASTER_ROWS] [SHIPMENT_ROWS] [RUNS]
//
// SAMPLE.mdb is the sample database (build/sample/Tallowin.mdb); its Master
// is filled up to MASTER_ROWS (default 5000) with copies of its rows under
// new keys. Each run installs into a fresh copy of the prepared file. The
// two databases should cost the same: the installation reads Master, Panel
// and the catalog, never the rows of a table it does not touch.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "install/installer.h"
#include "jet/create.h"
#include "jet/io_counts.h"
#include "jet/jet.h"
#include "jet/table_writer.h"
#include "scratch_folder.h"

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "install_bench: %s\n", what.c_str());
  return 1;
}

class QuietUi : public afc::UserInterface {
 public:
  void SetStatusText(const std::string&) override { ++statuses; }
  void ShowMessageBox(const std::string& prompt, int, const std::string&) override {
    std::fprintf(stderr, "install_bench: unexpected box: %s\n", prompt.c_str());
  }
  int statuses = 0;
};

jet::Status FillMaster(jet::Database& db, long rows) {
  JET_ASSIGN_OR_RETURN(auto table, db.GetTable("Master"));
  std::vector<std::vector<jet::Value>> existing;
  jet::TableScanner scanner(db, table);
  std::vector<jet::Value> values;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scanner.Next(&values));
    if (!more) break;
    existing.push_back(values);
  }
  size_t key = 0;
  for (size_t i = 0; i < table->columns.size(); ++i) {
    if (table->columns[i].name == "SERVICE") key = i;
  }
  JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db, "Master"));
  std::vector<std::vector<jet::Value>> batch;
  for (long n = long(existing.size()); n < rows; ++n) {
    std::vector<jet::Value> row = existing[size_t(n) % existing.size()];
    row[key].bytes = "BENCH-" + std::to_string(n);
    batch.push_back(std::move(row));
    if (batch.size() == 1000 || n + 1 == rows) {
      JET_RETURN_IF_ERROR(writer->InsertBatch(std::move(batch)));
      batch.clear();
    }
  }
  return jet::Status();
}

jet::Status AddShipments(jet::Database& db, long rows) {
  jet::TableSpec design;
  design.name = "BenchShipments";
  jet::ColumnSpec id{"ID", jet::ColumnType::kLong};
  id.autonumber = true;
  design.columns = {id,
                    {"TRACKING", jet::ColumnType::kText, 60},
                    {"SERVICE", jet::ColumnType::kText, 40},
                    {"WEIGHT", jet::ColumnType::kDouble},
                    {"SHIPDATE", jet::ColumnType::kDateTime}};
  design.indexes = {{"PrimaryKey", {{"ID"}}, true},
                    {"TRACKING", {{"TRACKING"}}, false, true},
                    {"SERVICE", {{"SERVICE"}}}};
  JET_RETURN_IF_ERROR(jet::CreateTable(db, design));
  JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db, "BenchShipments"));
  static const char* kServices[] = {"UPS-GND", "USPS-PRI", "FEDEX-2DAY", "DHL-EXP-WW"};
  std::vector<std::vector<jet::Value>> batch;
  for (long n = 0; n < rows; ++n) {
    std::vector<jet::Value> row(5);
    for (size_t i = 0; i < 5; ++i) row[i].type = design.columns[i].type;
    row[1].null = row[2].null = row[3].null = row[4].null = false;
    row[1].bytes = "1Z" + std::to_string(1000000000L + n * 7919L);
    row[2].bytes = kServices[n % 4];
    row[3].real = 0.5 + double(n % 700) / 10;
    row[4].real = 45000 + double(n % 2000);
    batch.push_back(std::move(row));
    if (batch.size() == 5000 || n + 1 == rows) {
      JET_RETURN_IF_ERROR(writer->InsertBatch(std::move(batch)));
      batch.clear();
    }
  }
  return jet::Status();
}

struct Measured {
  double ms = 0;
  uint64_t pages = 0;
};

// One installation into a fresh copy of `prepared`.
Measured InstallOnce(const std::filesystem::path& prepared,
                     const std::filesystem::path& copy_path) {
  // Removed first: GCC 12's copy_file on Windows fails with "File exists"
  // even when told to overwrite.
  std::filesystem::remove(copy_path);
  std::filesystem::copy_file(prepared, copy_path);
  const std::string copy = bench::Utf8(copy_path);
  // The copy's pages go to disk now, or the installation's first sync would
  // pay for writing the whole copy.
  bench::SyncFile(copy_path);
  const uint64_t read_before = jet::GetIoCounts().pages_read;
  QuietUi ui;
  auto start = std::chrono::steady_clock::now();
  afc::Boolean ok = afc::InstallFirstClass(ui, copy);
  auto end = std::chrono::steady_clock::now();
  const uint64_t reads = jet::GetIoCounts().pages_read - read_before;
  if (!ok) std::fprintf(stderr, "install_bench: the installation failed\n");
  return {std::chrono::duration<double, std::milli>(end - start).count(), reads};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: install_bench SAMPLE.mdb [MASTER_ROWS] [SHIPMENT_ROWS] [RUNS]");
  const std::string sample = argv[1];
  const long master_rows = argc > 2 ? std::atol(argv[2]) : 5000;
  const long shipment_rows = argc > 3 ? std::atol(argv[3]) : 300000;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 5;

  bench::ScratchFolder scratch("install-bench");
  if (!scratch.ok()) return Fail("cannot make a scratch folder");
  std::printf("Master %ld rows; installation runs per database: %d\n", master_rows, runs);
  std::printf("%-28s %10s %12s %12s %12s\n", "database", "file MiB", "median ms", "min ms",
              "pages read");
  for (long shipments : {0L, shipment_rows}) {
    const std::filesystem::path prepared =
        scratch.path() / ("prepared-" + std::to_string(shipments) + ".mdb");
    std::filesystem::copy_file(sample, prepared);
    {
      jet::Database::Options options;
      options.writable = true;
      auto db = jet::Database::Open(bench::Utf8(prepared), options);
      if (!db.ok()) return Fail(db.status().ToString());
      if (auto s = FillMaster(**db, master_rows); !s.ok()) return Fail(s.ToString());
      if (auto s = AddShipments(**db, shipments); !s.ok()) return Fail(s.ToString());
    }
    std::vector<Measured> all;
    for (int r = 0; r < runs; ++r)
      all.push_back(InstallOnce(prepared, scratch.path() / "Tallowin.mdb"));
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.ms < b.ms; });
    const double mib = double(std::filesystem::file_size(prepared)) / (1024.0 * 1024.0);
    std::printf("%-28s %10.1f %12.1f %12.1f %12llu\n",
                ("BenchShipments " + std::to_string(shipments) + " rows").c_str(), mib,
                all[all.size() / 2].ms, all.front().ms,
                static_cast<unsigned long long>(all[all.size() / 2].pages));
  }
  return 0;
}
