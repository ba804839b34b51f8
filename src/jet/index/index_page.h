// SPDX-License-Identifier: Apache-2.0
// Index pages: the B-tree of a physical index.
//
// Both levels share one layout (Jet 3 / Jet 4 offsets):
//
//   off        size     meaning
//   0          1        0x03 intermediate, 0x04 leaf
//   1          1        0x01
//   2          2        free space
//   4          4        TDEF page of the owning table
//   8 / 12     4        previous page on this level, 0 if none
//   12 / 16    4        next page on this level, 0 if none
//   16 / 20    4        intermediate pages: the tail leaf page
//   20 / 24    1 / 2    length of the prefix shared by all entries
//   21 / 26    1        1 on intermediate pages, 0 on leaves
//   22 / 27    226/453  entry-start bitmap: bit k set = an entry ends (and the
//                       next begins) k bytes after the first entry's start
//   248 / 480  ...      entries
//
// An entry is its key bytes, then the row pointer in big-endian order (3-byte
// page, 1-byte row); an intermediate entry adds the 4-byte big-endian page of
// the child whose last entry it is. Every entry after the first omits the
// shared prefix, which is taken from the first entry's bytes as stored: it
// may run on past the key into the row pointer when the entries agree that
// far. The free space is the room left after the last entry:
// page size - 248 / 480 - the end of the last entry.
//
// Key bytes, per index column: a flag byte (0x7F ascending value, 0x00
// ascending null; 0x80 / 0xFF the same for descending) then the encoded value;
// descending columns store every byte inverted.

#ifndef JET_INDEX_INDEX_PAGE_H_
#define JET_INDEX_INDEX_PAGE_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/status.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/storage/pager.h"

namespace jet {

struct IndexEntry {
  std::vector<uint8_t> key;  // full key, prefix restored
  RowPointer row;            // the row this entry points at
  uint32_t child = 0;        // intermediate pages only
};

struct IndexPage {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t owner = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;
  uint16_t prefix_length = 0;
  uint16_t free_space = 0;
  std::vector<IndexEntry> entries;
};

// An entry's full bytes as they sort: its key, then the row pointer in
// big-endian order (3-byte page, 1-byte row).
std::vector<uint8_t> EntryBytes(const std::vector<uint8_t>& key, RowPointer row);
inline std::vector<uint8_t> EntryBytes(const IndexEntry& e) { return EntryBytes(e.key, e.row); }

// Parses one index page. A damaged page is Corrupt.
Result<IndexPage> ReadIndexPage(Pager& pager, uint32_t number);

// Visits the leaf entries of an index in key order, starting from its root:
// descends to the leftmost leaf, then follows the leaves' next pointers.
// Small indexes may keep their single leaf as the root.
class IndexLeafWalker {
 public:
  IndexLeafWalker(Pager& pager, const PhysicalIndex& index) : pager_(pager), index_(index) {}

  // The next entry, or false at the end.
  Result<bool> Next(IndexEntry* entry);

  // Intermediate and leaf pages seen so far.
  uint32_t pages_visited() const { return pages_visited_; }

 private:
  Status Descend();

  Pager& pager_;
  const PhysicalIndex& index_;
  bool started_ = false;
  IndexPage current_;
  size_t pos_ = 0;
  uint32_t pages_visited_ = 0;
  std::unordered_set<uint32_t> leaves_seen_;  // a leaf met twice means a loop
};

}  // namespace jet

#endif  // JET_INDEX_INDEX_PAGE_H_
