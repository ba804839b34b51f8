// SPDX-License-Identifier: Apache-2.0
// The consistency checker: does a database hold together the way Access
// expects?
//
// For every table (system tables included) it reads every row, which
// follows moved rows and long-value chains. For every index it walks the
// whole tree and checks:
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
//
// Pages that the global usage map (page 1, row 0) marks free are not
// examined: Access leaves whatever they held when it frees them, old rows
// and old index entries included, until the database is compacted. A page
// still in use yet marked free (a table's definition, one of its usage
// maps, a page its map lists or a moved row lies on, a page of an index's
// tree) is damage: Access would hand it out again and overwrite it. No
// database Access made shows one.
//
// The other way round, every page not marked free must belong to
// something: the header, the global usage map, a table's definition, its
// data pages, a usage map or a page one lists, an index's tree, a memo or
// OLE column's long values. One that belongs to nothing is lost room. So
// is a long value that no row refers to (neither a table's row nor the
// piece before it in a chain): where a user table's column keeps it, a
// writer forgot to free it. Access leaves lost pages and long values of
// its own in some of its databases; those kinds are notes.
//
// What it finds falls into three lists:
//   problems    damage: Access would call the database corrupt, or rows
//               would be lost, hidden or overwritten;
//   notes       departures Access itself leaves behind and tolerates, such
//               as a table's row count or an index's count of distinct keys
//               that it brings up to date only when the database is
//               compacted;
//   unverified  what this engine cannot check, per index with a count and
//               the reason: keys in a sort order it cannot build, say. Such
//               an index is still checked for its shape and for one entry
//               per row; only the key bytes are taken on trust.
// A database is sound when there are no problems.

#ifndef JET_CHECK_H_
#define JET_CHECK_H_

#include <string>
#include <vector>

#include "jet/database.h"

namespace jet {

struct CheckReport {
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  std::vector<std::string> unverified;
  size_t tables = 0;
  size_t rows = 0;
  size_t indexes = 0;
  size_t index_entries = 0;
  size_t unverified_entries = 0;  // entries whose keys could not be rebuilt
  size_t pages = 0;
  size_t free_pages = 0;  // as the global usage map says, within the file;
                          // the rest are in use

  bool ok() const { return problems.empty(); }
};

struct CheckOptions {
  // Memory the index entries gathered from one table's rows may take
  // before they go to a scratch file beside the database as sorted runs
  // (NAME.mdb-check, nameless while in use). Where it cannot be written,
  // and for an encoded database, they stay in memory.
  size_t memory = size_t(16) << 20;
};

// Checks the whole database. A Status error means the check could not run
// (the file could not be read at all); what it finds goes in the report.
Result<CheckReport> CheckDatabase(Database& db, const CheckOptions& options = {});

}  // namespace jet

#endif  // JET_CHECK_H_
