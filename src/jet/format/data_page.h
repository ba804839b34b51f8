// SPDX-License-Identifier: Apache-2.0
// Row slots on data pages.
//
// A data page (type 0x01) holds rows that grow from the end of the page
// towards its header. The header ends with a table of 16-bit row offsets:
//
//   off (Jet3/Jet4)  size  meaning
//   0                1     0x01
//   1                1     0x01
//   2                2     free space on the page, in bytes
//   4                4     owner: TDEF page of the table, or "LVAL" for long values
//   - / 8            4     (Jet 4 only) unknown
//   8 / 12           2     number of row slots
//   10 / 14          2*n   row offsets
//
// A row offset's low 13 bits are the row's start; bit 0x4000 marks a row
// that was moved (its body is a 4-byte pointer to where it went), bit
// 0x8000 a deleted row. Row n runs from its start to the start of row n-1,
// row 0 to the end of the page.
//
// How Access uses the flags (its own files show it):
//   - A moved row: the original slot gets 0x4000 and starts with the
//     pointer; the row itself goes to a new slot flagged 0x8000 alone, so
//     scans skip it there. overflowTestV2000.mdb, page 27 slot 2 = 0x4F9D,
//     its bytes 00 1C 00 00 (row 0 of page 28); page 28 slot 0 = 0x8FC6.
//     The original slot always points straight at the row (one step), and
//     every 0x8000-only slot on a table's page is the target of exactly one
//     pointer (true of every Access-made file in tests/data/access).
//   - A deleted row: 0xC000, and usually its bytes are gone. The rows
//     stored below it move up by its length, its slot keeps an empty range
//     (its offset is where the row ended), and the free space grows by the
//     length; the slot itself stays, so later rows keep their numbers.
//     delTestV2000.mdb, page 31: slots 0x0FF1, 0xCFF1, 0x0FE2 (rows 0 and
//     2 of 15 bytes at 4081 and 4066, row 1 deleted), free space 4046 =
//     4096 - 14 - 3 * 2 - 30. Sometimes Access leaves the bytes in place,
//     counted as used (testIndexPropertiesV2000.mdb page 49 slots 3 and 10):
//     a deleted row's range is never read. See docs/space-reuse.md.
//
// A row pointer elsewhere in the file is 32 bits: row number in the low byte,
// page number in the upper 24 bits.

#ifndef JET_FORMAT_DATA_PAGE_H_
#define JET_FORMAT_DATA_PAGE_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <string>

#include "base/status.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"
#include "jet/table_def.h"

namespace jet {

constexpr uint16_t kRowDeletedFlag = 0x8000;
constexpr uint16_t kRowOverflowFlag = 0x4000;
constexpr uint16_t kRowOffsetMask = 0x1FFF;
constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"

struct RowSlot {
  uint32_t start = 0;  // offset of the row's first byte on the page
  uint32_t end = 0;    // one past its last byte
  bool deleted = false;
  bool overflow = false;
};

inline uint16_t RowSlotCount(const Page& page, const Format& f) {
  return Le16(page.bytes.data() + f.data_row_count);
}

// Where row `row` of a data page lies. Corrupt if the slot does not exist or
// its bounds are impossible.
Result<RowSlot> GetRowSlot(const Page& page, const Format& f, uint32_t row,
                           const std::string& file);

// The bytes of the row at `ptr`, whatever its flags say (a moved row's new
// home is flagged deleted so that scans skip it).
Result<ByteView> ReadRowBytes(Pager& pager, RowPointer ptr, PageRef* holder);

// Sets up an empty data page owned by `owner` (a TDEF page, kLongValueOwner,
// or 0 for pages that hold usage maps).
void InitDataPage(Page* page, const Format& f, uint32_t owner);

// True if a row of `row_size` bytes (and its slot) fits on the page.
bool RowFits(const Page& page, const Format& f, size_t row_size);

// Appends a row to a page that has room for it, below the lowest row, and
// returns its number; the free-space figure drops by the row and its slot.
uint8_t AddRowToPage(Page* page, const Format& f, const std::string& row, uint16_t flags);

// Deletes row `row` of a data page as Access does (see above). Corrupt,
// with the page untouched, if the row table is out of order from this row
// on, so that the rows below could not be moved.
Status RemoveRowFromPage(Page* page, const Format& f, uint32_t row, const std::string& file);

// Whether every row slot of a data page is a deleted row (both flags): the
// page holds no row and no moved row's new home, so it can be freed.
bool NoRowsLeft(const Page& page, const Format& f);

// Makes row `row` `extra` bytes longer at its end (zero bytes), moving it and
// the rows stored below it down into the free space. Corrupt, with the page
// untouched, if the row table is out of order from this row on; Unsupported
// if the page has no room.
Status GrowRow(Page* page, const Format& f, uint32_t row, uint32_t extra, const std::string& file);

}  // namespace jet

#endif  // JET_FORMAT_DATA_PAGE_H_
