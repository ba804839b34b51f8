// SPDX-License-Identifier: Apache-2.0
// IndexWriter: keeps every index of a table in step with its rows.
//
// For each change it works out the key of every physical index for the old
// and the new values (the keys Access itself would store), checks the
// index's rules (unique, required, ignore nulls) before anything is written,
// then adds and removes entries in the B-tree pages, in the pager's batch.

#ifndef JET_INDEX_INDEX_WRITER_H_
#define JET_INDEX_INDEX_WRITER_H_

#include "jet/internal/guard.h"

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/index/entry_runs.h"
#include "jet/os/file.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"
#include "jet/value.h"

namespace jet {

class IndexWriter {
 public:
  // One writer serves one write operation: it keeps the index pages it has
  // parsed until it goes, so it must not outlive the operation's batch.
  IndexWriter(Pager& pager, const DatabaseHeader& header, const TableDef& table);
  ~IndexWriter();
  IndexWriter(const IndexWriter&) = delete;
  IndexWriter& operator=(const IndexWriter&) = delete;

  // Refuses a row that an index would reject (duplicate key in a unique
  // index, null in a required one) or whose key cannot be built exactly.
  Status CheckInsert(const std::vector<Value>& row);
  Status CheckUpdate(const std::vector<Value>& old_row, const std::vector<Value>& new_row,
                     RowPointer at);

  Status Insert(const std::vector<Value>& row, RowPointer at);
  Status Update(const std::vector<Value>& old_row, const std::vector<Value>& new_row,
                RowPointer at);
  Status Delete(const std::vector<Value>& row, RowPointer at);

  // Bulk loading, for many rows added in one step. Collect takes a row's
  // entries without touching a page; it refuses at once what Keys refuses
  // (a null in a required index, a key that cannot be built). `ordinal`
  // numbers the row within the step, from 1, for messages.
  Status Collect(const std::vector<Value>& row, RowPointer at, uint32_t ordinal);
  // Writes every collected entry. Uniqueness is checked for all of them
  // first, against each other and the entries already there; a refusal is
  // "Row N: ..." for the first row (by ordinal) that breaks it, before
  // any index page is touched. An index that is empty, or small next to the
  // entries collected for it, is built anew bottom-up from the merged,
  // sorted entries; otherwise the sorted entries go into the tree in key
  // order. `existing_rows` is the table's row count before the step.
  //
  // Collected entries beyond a few tens of MiB go to a file beside the
  // database (NAME.mdb-sort, nameless while in use) as sorted runs, merged
  // as they are read back, so memory stays bounded however many rows the
  // step adds.
  Status WriteCollected(uint64_t existing_rows);
  // Memory the collected entries of all indexes may take before they are
  // written out as runs (default 32 MiB).
  void set_collect_memory(size_t bytes) { collect_memory_ = bytes; }

 private:

  Status WriteCollectedEntries(uint64_t existing_rows);
  // Writes `c`'s entries in memory, sorted, as a run of the spill file.
  Status WriteRun(EntryRuns& c);
  std::string SpillPath() const;
  void DropSpill();
  class BTree;
  BTree& Tree(size_t index);

  struct IndexKeyState {
    std::vector<uint8_t> key;
    bool any_null = false;
    bool skip = false;  // ignore-nulls index and every key column null
  };

  // The key of every physical index for `row`; refuses a row that a
  // required index rejects or whose key cannot be built exactly.
  Status Keys(const std::vector<Value>& row, std::vector<IndexKeyState>* keys);
  Status CheckUnique(const std::vector<IndexKeyState>& keys, RowPointer except);
  // The per-index count in the table definition (of distinct keys).
  Status AdjustCount(size_t index, int delta);
  std::string IndexName(const PhysicalIndex& ix) const;

  Pager& pager_;
  const DatabaseHeader& header_;
  const TableDef& table_;
  std::vector<std::unique_ptr<BTree>> trees_;  // by physical index, made when first needed
  // By physical index, while bulk loading: the entries gathered, each
  // tagged with its row's ordinal in the step (0: an entry the index had)
  // and, as extra, 1 if some column of its key is null.
  std::vector<EntryRuns> collected_;
  std::vector<IndexKeyState> scratch_keys_;    // Collect's, kept to spare allocations
  std::unique_ptr<File> spill_;                // sorted runs of collected entries
  uint64_t spill_end_ = 0;
  size_t collect_memory_ = size_t(32) << 20;
};

}  // namespace jet

#endif  // JET_INDEX_INDEX_WRITER_H_
