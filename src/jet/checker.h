// The consistency checker: does a database hold together the way Access
// expects?
//
// For every table (system tables included) it reads every row, which
// follows moved rows and long-value chains, and compares the count with the
// table definition. For every index it walks the whole tree and checks:
//   - entries are in strictly increasing order, level by level;
//   - every entry points at a live row of the table, and its key is exactly
//     the key that row's values give (so the index agrees with the rows);
//   - every row has exactly one entry (none, for an ignore-nulls index and a
//     row whose key columns are all null);
//   - an intermediate entry holds the largest entry below it, the tail rule
//     holds, sibling links run both ways, and every page belongs to the
//     table and to the index's usage map.
// For data pages it checks the free-space figure against the rows, that
// the table's page map holds exactly the table's data pages, and that every
// moved row's copy is reached by exactly one forwarding pointer.

#ifndef JET_CHECKER_H_
#define JET_CHECKER_H_

#include <string>
#include <vector>

#include "database.h"

namespace jet {

struct CheckReport {
  std::vector<std::string> problems;
  size_t tables = 0;
  size_t rows = 0;
  size_t indexes = 0;
  size_t index_entries = 0;
  size_t pages = 0;

  bool ok() const { return problems.empty(); }
};

// Checks the whole database. A Status error means the check could not run
// (the file could not be read at all); damage it finds goes in the report.
Result<CheckReport> CheckDatabase(Database& db);

}  // namespace jet

#endif  // JET_CHECKER_H_
