// SPDX-License-Identifier: Apache-2.0
// Usage maps: which pages belong to a table, an index or a long-value column.
//
// A usage map is a row on a data page, found through a row pointer. Its first
// byte says how the bitmap is kept:
//
//   Inline map (type 0x00)
//     off  size  meaning
//     0    1     0x00
//     1    4     first page the bitmap describes
//     5    n     bitmap: bit k (low bit first) set = page (first + k) in the map
//
//   Reference map (type 0x01), for maps too large to keep inline
//     off  size  meaning
//     0    1     0x01
//     1    4*m   page numbers of bitmap pages (0 = none); bitmap page i
//                covers pages i*B .. (i+1)*B-1, B = (page_size - 4) * 8
//
//   Bitmap page (page type 0x05)
//     off  size  meaning
//     0    1     0x05
//     1    1     0x01
//     2    2     0
//     4    ...   bitmap, low bit first

#ifndef JET_FORMAT_USAGE_MAP_H_
#define JET_FORMAT_USAGE_MAP_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/format/data_page.h"
#include "jet/storage/pager.h"

namespace jet {

struct UsageMap {
  enum class Kind { kInline, kReference };
  Kind kind = Kind::kInline;
  RowPointer location;
  uint32_t first_page = 0;            // inline maps only
  std::vector<uint32_t> map_pages;    // reference maps only
  std::vector<uint32_t> pages;        // every page in the map, ascending
};

// Reads the usage map stored at `where`. Pages in the map that lie past the
// end of the file are Corrupt.
Result<UsageMap> ReadUsageMap(Pager& pager, RowPointer where);

// The highest page in the map below `before`, or 0 if there is none. Reads
// at most one bitmap page that holds such a page, so it costs about the same
// for a table of any size.
Result<uint32_t> UsageMapLast(Pager& pager, RowPointer where, uint32_t before = UINT32_MAX);

// Changes to a usage map, made in the pager's batch. Adding a page that an
// inline map cannot reach moves the map's window when every page it holds
// still fits, and otherwise turns it into a reference map. Bitmap pages that
// a reference map needs are appended to the file (not taken from the free
// list), so that changing the global map never needs the global map.
Status UsageMapAdd(Pager& pager, RowPointer where, uint32_t page);
Status UsageMapRemove(Pager& pager, RowPointer where, uint32_t page);

// Whether the map at `where` holds `page`.
Result<bool> UsageMapContains(Pager& pager, RowPointer where, uint32_t page);

// The global usage map (page 1, row 0) marks the pages that are free.
//
// Access keeps it inline, starting at page 0, and marks every page from the
// end of the file to the end of the bitmap free; as the file grows, the row
// grows (testV2000.mdb: 743 pages, a 768-page bitmap where most files have
// 512). Freed pages keep their old bytes, whatever their type byte says, so
// only this map tells whether a page is free (docs/space-reuse.md).
constexpr RowPointer kGlobalUsageMap{1, 0};

// A zero-filled page for the caller to set up: the lowest page inside the
// file that the global map marks free, or else a new page at the end of the
// file. Either way the global map no longer marks it free. A reused page is
// an existing page like any other, so the journal records its old bytes
// before its first write.
Result<Page*> AllocatePage(Pager& pager);

// A zero-filled page at the end of the file, taken out of the global map.
// Bitmap pages of reference maps come from here, so that changing the
// global map never needs a page from the global map.
Result<Page*> AppendPage(Pager& pager);

// Marks `page`, which its owner has let go of, free in the global map, and
// sets *freed. A page already marked free is Corrupt (freeing it twice would
// let two owners have it). When the map cannot reach the page (an inline
// map with no room left on its page to grow) nothing changes and *freed is
// false: the caller keeps the page where it was.
Status FreePage(Pager& pager, uint32_t page, bool* freed);

}  // namespace jet

#endif  // JET_FORMAT_USAGE_MAP_H_
