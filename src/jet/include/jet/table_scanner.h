// SPDX-License-Identifier: Apache-2.0
// TableScanner: reads the rows of one table.
//
//   jet::TableScanner scan(*db, table);        // table from GetTable
//   std::vector<jet::Value> row;
//   jet::RowId id;
//   while (true) {
//     auto more = scan.Next(&row, &id);
//     if (!more.ok()) return more.status();
//     if (!*more) break;
//     ...
//   }
//
// Rows come in scan order: the table's data pages in page order, and the
// rows of each page in slot order. Deleted rows are skipped, moved rows
// followed. The scanner holds a bounded number of pages at any time.

#ifndef JET_TABLE_SCANNER_H_
#define JET_TABLE_SCANNER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "jet/database.h"
#include "jet/row_view.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

// Identifies a stored row, for TableWriter::Update, Delete and Read.
struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
};

class TableScanner {
 public:
  // The database must outlive the scanner; writes to the table while it
  // scans are not allowed.
  TableScanner(Database& db, std::shared_ptr<const TableDef> table);
  ~TableScanner();
  TableScanner(const TableScanner&) = delete;
  TableScanner& operator=(const TableScanner&) = delete;

  // Fills `values` with the next row, one value per column in column order;
  // false at the end of the table.
  Result<bool> Next(std::vector<Value>* values, RowId* id = nullptr);

  // The next row's fields as stored, without a Value for each (row_view.h);
  // valid until the next call. False at the end of the table.
  Result<bool> NextView(const RowView** row, RowId* id = nullptr);

  const TableDef& table() const;

 private:
  class State;
  std::unique_ptr<State> state_;
};

}  // namespace jet

#endif  // JET_TABLE_SCANNER_H_
