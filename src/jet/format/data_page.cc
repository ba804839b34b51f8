// SPDX-License-Identifier: Apache-2.0
#include "jet/format/data_page.h"

#include <algorithm>

namespace jet {

Result<RowSlot> GetRowSlot(const Page& page, const Format& f, uint32_t row,
                           const std::string& file) {
  auto corrupt = [&](const std::string& m) {
    Status s = Status::Corrupt(m);
    s.AtFile(file).AtPage(page.number);
    return s;
  };
  uint32_t count = RowSlotCount(page, f);
  uint32_t table_end = f.data_first_row_slot + 2 * count;
  if (table_end > f.page_size) return corrupt("The row table runs past the end of the page");
  if (row >= count) {
    return corrupt("Row " + std::to_string(row) + " does not exist on page " +
                   std::to_string(page.number) + " (" + std::to_string(count) + " rows)");
  }
  const uint8_t* p = page.bytes.data();
  uint16_t raw = Le16(p + f.data_first_row_slot + 2 * row);
  RowSlot slot;
  slot.start = raw & kRowOffsetMask;
  slot.deleted = raw & kRowDeletedFlag;
  slot.overflow = raw & kRowOverflowFlag;
  slot.end = row == 0 ? f.page_size
                      : (Le16(p + f.data_first_row_slot + 2 * (row - 1)) & kRowOffsetMask);
  if (slot.deleted) return slot;  // a deleted row's bounds are never used
  if (slot.start < table_end || slot.end > f.page_size || slot.start > slot.end) {
    return corrupt("Row " + std::to_string(row) + " on page " + std::to_string(page.number) +
                   " has impossible bounds " + std::to_string(slot.start) + ".." +
                   std::to_string(slot.end));
  }
  return slot;
}

Result<ByteView> ReadRowBytes(Pager& pager, RowPointer ptr, PageRef* holder) {
  JET_ASSIGN_OR_RETURN(*holder, pager.ReadTyped(ptr.page, kPageData, "a data page"));
  const Page& page = **holder;
  JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(page, pager.format(), ptr.row, pager.path()));
  if (slot.deleted) {
    // Moved rows and long values may sit in slots flagged deleted; their
    // bounds still follow the same rule.
    uint32_t count = RowSlotCount(page, pager.format());
    uint32_t table_end = pager.format().data_first_row_slot + 2 * count;
    if (slot.start < table_end || slot.end > pager.page_size() || slot.start > slot.end) {
      return pager.CorruptAt(page.number, "A row pointer leads to a damaged row slot");
    }
  }
  return ByteView(page.bytes.data() + slot.start, slot.end - slot.start);
}

namespace {
constexpr uint32_t kMaxRowsPerPage = 255;
}  // namespace

// Sets up an empty data page: its header and an empty row table.
void InitDataPage(Page* page, const Format& f, uint32_t owner) {
  std::fill(page->bytes.begin(), page->bytes.end(), 0);
  page->bytes[0] = kPageData;
  page->bytes[1] = 0x01;
  PutLe16(&page->bytes[f.data_free_space], uint16_t(f.page_size - f.data_first_row_slot));
  PutLe32(&page->bytes[f.data_owner], owner);
}

bool RowFits(const Page& page, const Format& f, size_t row_size) {
  const uint16_t count = RowSlotCount(page, f);
  if (Le16(page.bytes.data() + f.data_free_space) < row_size + 2 || count >= kMaxRowsPerPage) {
    return false;
  }
  // The free-space figure alone is not trusted: on a damaged page it may
  // promise room the row table and the last row do not leave, and the row
  // would be written outside its place (or outside the page).
  const uint8_t* p = page.bytes.data();
  const uint32_t end =
      count == 0 ? f.page_size : (Le16(p + f.data_first_row_slot + 2 * (count - 1)) & kRowOffsetMask);
  return end <= f.page_size && end >= f.data_first_row_slot + 2 * (count + 1u) + row_size;
}

// Appends a row to a data page that has room for it; returns its number.
uint8_t AddRowToPage(Page* page, const Format& f, const std::string& row, uint16_t flags) {
  uint8_t* p = page->bytes.data();
  const uint16_t count = RowSlotCount(*page, f);
  const uint32_t end =
      count == 0 ? f.page_size : (Le16(p + f.data_first_row_slot + 2 * (count - 1)) & kRowOffsetMask);
  const uint32_t start = end - uint32_t(row.size());
  std::copy(row.begin(), row.end(), page->bytes.begin() + start);
  PutLe16(p + f.data_first_row_slot + 2 * count, uint16_t(start | flags));
  PutLe16(p + f.data_row_count, uint16_t(count + 1));
  PutLe16(p + f.data_free_space,
          uint16_t(Le16(p + f.data_free_space) - row.size() - 2));
  return uint8_t(count);
}

namespace {

// The extent of row `row` and of the rows stored below it, for moving them:
// Corrupt unless everything from this row down lies in order between the
// row table and the row's end (moving them would scramble them otherwise).
struct RowsBelow {
  uint32_t end = 0;     // one past the row's last byte
  uint32_t lowest = 0;  // the start of the lowest row
  uint32_t table_end = 0;
};

Result<RowsBelow> FindRowsBelow(const Page& page, const Format& f, uint32_t row,
                                const std::string& file) {
  const uint8_t* p = page.bytes.data();
  auto corrupt = [&](const std::string& m) {
    Status s = Status::Corrupt(m);
    s.AtFile(file).AtPage(page.number);
    return s;
  };
  const uint32_t count = RowSlotCount(page, f);
  RowsBelow r;
  r.table_end = f.data_first_row_slot + 2 * count;
  if (r.table_end > f.page_size || row >= count) {
    return corrupt("Row " + std::to_string(row) + " does not exist on page " +
                   std::to_string(page.number));
  }
  auto offset = [&](uint32_t n) { return uint32_t(Le16(p + f.data_first_row_slot + 2 * n)); };
  r.end = row == 0 ? f.page_size : (offset(row - 1) & kRowOffsetMask);
  if (r.end > f.page_size) {
    return corrupt("Row " + std::to_string(row - 1) + " of page " + std::to_string(page.number) +
                   " starts past the end of the page");
  }
  r.lowest = r.end;
  for (uint32_t n = row; n < count; ++n) {
    const uint32_t start = offset(n) & kRowOffsetMask;
    if (start > r.lowest || start < r.table_end) {
      return corrupt("The row table of page " + std::to_string(page.number) +
                     " is out of order; its rows cannot be moved");
    }
    r.lowest = start;
  }
  return r;
}

// Adds `delta` to the offsets of rows `from` onwards, keeping their flags.
void ShiftOffsets(Page* page, const Format& f, uint32_t from, int32_t delta) {
  uint8_t* p = page->bytes.data();
  const uint32_t count = RowSlotCount(*page, f);
  for (uint32_t r = from; r < count; ++r) {
    const uint32_t raw = Le16(p + f.data_first_row_slot + 2 * r);
    PutLe16(p + f.data_first_row_slot + 2 * r,
            uint16_t((raw & ~uint32_t(kRowOffsetMask)) |
                     uint32_t(int32_t(raw & kRowOffsetMask) + delta)));
  }
}

}  // namespace

bool NoRowsLeft(const Page& page, const Format& f) {
  const uint32_t count = RowSlotCount(page, f);
  if (f.data_first_row_slot + 2 * count > f.page_size) return false;
  const uint8_t* p = page.bytes.data();
  for (uint32_t r = 0; r < count; ++r) {
    const uint16_t raw = Le16(p + f.data_first_row_slot + 2 * r);
    if ((raw & (kRowDeletedFlag | kRowOverflowFlag)) != (kRowDeletedFlag | kRowOverflowFlag)) {
      return false;
    }
  }
  return true;
}

Status GrowRow(Page* page, const Format& f, uint32_t row, uint32_t extra, const std::string& file) {
  JET_ASSIGN_OR_RETURN(RowsBelow r, FindRowsBelow(*page, f, row, file));
  uint8_t* p = page->bytes.data();
  const uint32_t free_space = Le16(p + f.data_free_space);
  if (free_space < extra || r.lowest < r.table_end + extra) {
    return Status::Unsupported("Page " + std::to_string(page->number) + " has no room for " +
                               std::to_string(extra) + " more bytes")
        .AtFile(file)
        .AtPage(page->number);
  }
  std::copy(p + r.lowest, p + r.end, p + r.lowest - extra);
  std::fill(p + r.end - extra, p + r.end, 0);
  ShiftOffsets(page, f, row, -int32_t(extra));
  PutLe16(p + f.data_free_space, uint16_t(free_space - extra));
  return Status::Ok();
}

Status RemoveRowFromPage(Page* page, const Format& f, uint32_t row, const std::string& file) {
  uint8_t* p = page->bytes.data();
  auto corrupt = [&](const std::string& m) {
    Status s = Status::Corrupt(m);
    s.AtFile(file).AtPage(page->number);
    return s;
  };
  auto offset = [&](uint32_t r) { return uint32_t(Le16(p + f.data_first_row_slot + 2 * r)); };
  JET_ASSIGN_OR_RETURN(RowsBelow below, FindRowsBelow(*page, f, row, file));
  const uint32_t end = below.end, lowest = below.lowest;
  const uint32_t start = offset(row) & kRowOffsetMask;
  const uint32_t length = end - start;
  const uint32_t free_space = Le16(p + f.data_free_space) + length;
  if (free_space > f.page_size) {
    return corrupt("The free space of page " + std::to_string(page->number) + " is impossible");
  }
  std::copy_backward(p + lowest, p + start, p + end);
  std::fill(p + lowest, p + lowest + length, 0);
  ShiftOffsets(page, f, row + 1, int32_t(length));
  PutLe16(p + f.data_first_row_slot + 2 * row, uint16_t(end | kRowDeletedFlag | kRowOverflowFlag));
  PutLe16(p + f.data_free_space, uint16_t(free_space));
  return Status::Ok();
}

}  // namespace jet
