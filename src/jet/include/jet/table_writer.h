// SPDX-License-Identifier: Apache-2.0
// TableWriter: insert, update and delete rows of one table.
//
//   auto writer = jet::TableWriter::Open(*db, "Master");  // db opened writable
//   auto id = (*writer)->Insert(values);                   // one per column
//   (*writer)->Update(*id, changed);
//   (*writer)->Delete(*id);
//
// Every operation builds all of its changes (the row, its long values, the
// usage maps, index pages and the table definition) in the pager's batch,
// checks everything that could make it fail, and only then commits them in
// one step. An operation that fails leaves the file as it was.
//
// The writer refuses, before anything is written, what it cannot keep
// exactly as Access keeps it, and what Access itself would refuse by the
// table's properties (the column properties Access keeps): a Null in a Required column, "" in a
// text or memo column that does not AllowZeroLength, and a row that fails a
// column's or the table's ValidationRule (evaluated as Access does; a rule this engine
// cannot evaluate refuses every row it would have to check).

#ifndef JET_TABLE_WRITER_H_
#define JET_TABLE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/table_scanner.h"
#include "jet/value.h"

namespace jet {

// The engine's own parts of a writer (internal to the engine).
class IndexWriter;
class TableExpressions;
struct ColumnProperties;

class TableWriter {
 public:
  // The database must have been opened for writing.
  static Result<std::unique_ptr<TableWriter>> Open(Database& db, const std::string& table);

  // A bulk insertion still open when the writer goes is abandoned.
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  // Inserts a row (one value per column, in column order). Null autonumber
  // columns are filled in; returns where the row went.
  Result<RowId> Insert(std::vector<Value> values);

  // Inserts many rows in one step: all of them, or (on any failure) none.
  // Memory grows with the batch; callers importing large amounts should
  // insert a few thousand rows at a time.
  Status InsertBatch(std::vector<std::vector<Value>> rows, std::vector<RowId>* ids = nullptr);

  // Bulk insertion: every row added between BeginBulk and CommitBulk goes
  // in as one step, all of them or none, whatever their number. Rows are
  // written to their pages as they come, and the pager writes changed pages
  // out (through the journal) as they pile up, so memory does not grow with
  // the rows; index entries are gathered and written once, at the end
  // unless a relationship of the table refers
  // to the table itself, whose rows must then be found as they go in.
  // A failing AddBulk or CommitBulk undoes the whole step; CommitBulk names
  // a row that breaks a unique index as "Row N", counting from 1.
  // `entry_memory`, if not 0, bounds the memory index entries take before
  // they go to a temporary file as sorted runs.
  Status BeginBulk(size_t entry_memory = 0);
  Status AddBulk(std::vector<Value> values);
  Status CommitBulk();
  void AbortBulk();
  size_t bulk_rows() const;

  // Adds a row to the pager's current batch without committing it, for
  // operations that change several tables in one step (the caller commits
  // or rolls back the batch).
  Status InsertWithoutCommit(std::vector<Value> values);

  // Replaces the values of the row at `id` (as TableScanner reports it).
  // Memo and OLE values that change give back the room of the old ones.
  Status Update(RowId id, std::vector<Value> values);

  // Deletes the row at `id`, and its memo and OLE values with it. A page
  // left without rows goes back to the database's free pages.
  Status Delete(RowId id);

  // Update and Delete for many rows as one step: all of them, or (on any
  // failure, named "Row N" counting from 1) none. Changed pages go to the
  // file through the journal as they pile up, so memory does not grow with
  // the rows. `rows` holds the new values of the row at each of `ids`.
  Status UpdateMany(const std::vector<RowId>& ids, std::vector<std::vector<Value>> rows);
  Status DeleteMany(const std::vector<RowId>& ids);

  // The values of the row at `id` as stored now; NotFound when it is gone.
  Status Read(RowId id, std::vector<Value>* values);

  const TableDef& table() const { return *table_; }

  // Fills each column whose `assigned` is false, that has a DefaultValue and
  // is not an autonumber, with its default evaluated as Access evaluates it
  // (Now(), =0, "N"); a default the engine cannot evaluate is an error.
  Status ApplyDefaults(const std::vector<bool>& assigned, std::vector<Value>* values);

  // The engine's own: the table's column properties, read once per writer.
  Result<const ColumnProperties*> Properties();
  // The table's rules and defaults, parsed as they are first needed.
  Result<TableExpressions*> Expressions();

 private:
  // Relationships: cascades change other rows through writers that work
  // inside the change already open (within_change_), leaving the commit to
  // the writer that opened it.
  friend class RelationshipEnforcer;

  TableWriter(Database& db, std::shared_ptr<const TableDef> table);

  Status CheckWritable() const;
  // Refuses rows this engine cannot write as Access would: any insert or
  // update of a table with a calculated column, an insert into one with an
  // attachment or multi-valued field.
  Status CheckComputedColumns(bool inserting) const;
  // Refuses what the table's properties forbid in the row `values`; `old` is
  // the row it replaces, or null for a new row.
  Status CheckProperties(const std::vector<Value>& values, const std::vector<Value>* old);
  // Adds one row to the batch; the caller commits.
  // `indexes`, if given, is shared by the rows of one batch.
  // With `collect`, the row's index entries are gathered (numbered
  // `ordinal`) instead of written.
  Result<RowPointer> InsertOne(std::vector<Value> values, uint32_t* last_autonumber,
                               IndexWriter* indexes = nullptr, bool collect = false,
                               uint32_t ordinal = 0);
  Status Finish(Status status);
  Status FillAutonumbers(std::vector<Value>* values, uint32_t* last_autonumber) const;
  Result<RowPointer> PlaceRow(const std::string& row, uint16_t flags);
  Status WriteTableCounts(int32_t row_delta, uint32_t last_autonumber);
  // The row stored at `id`: where its bytes are (after following a move).
  // `to_change`: the row is about to be changed or deleted, so a moved row
  // must be as Access leaves one (one step away, in a slot flagged as a
  // moved row, on a page of this table), or nothing is written.
  Status LocateRow(RowId id, bool to_change, RowPointer* header, RowPointer* body,
                   std::vector<Value>* values);
  // Deletes one row slot (a row, a moved row's pointer or its moved copy),
  // giving its room back (see RemoveRowAndReclaim).
  Status RemoveRow(RowPointer at);
  // One row of UpdateMany or DeleteMany, in the open change.
  Status UpdateOne(RowId id, std::vector<Value> values, IndexWriter& indexes);
  Status DeleteOne(RowId id, IndexWriter& indexes);
  // Runs `one` for rows 0..count-1 in one step, then moves the row count
  // by `row_delta`, and commits.
  Status ChangeMany(size_t count, const std::function<Status(size_t, IndexWriter&)>& one,
                    int32_t row_delta);

  struct Bulk;

  Database& db_;
  std::shared_ptr<const TableDef> table_;
  std::unique_ptr<Bulk> bulk_;
  bool within_change_ = false;  // relationships: a cascade's nested writer
  std::unique_ptr<ColumnProperties> properties_;
  std::unique_ptr<TableExpressions> expressions_;
};

}  // namespace jet

#endif  // JET_TABLE_WRITER_H_
