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

Status RemoveRowFromPage(Page* page, const Format& f, uint32_t row, const std::string& file) {
  uint8_t* p = page->bytes.data();
  auto corrupt = [&](const std::string& m) {
    Status s = Status::Corrupt(m);
    s.AtFile(file).AtPage(page->number);
    return s;
  };
  const uint32_t count = RowSlotCount(*page, f);
  const uint32_t table_end = f.data_first_row_slot + 2 * count;
  if (table_end > f.page_size || row >= count) {
    return corrupt("Row " + std::to_string(row) + " to delete does not exist on page " +
                   std::to_string(page->number));
  }
  auto offset = [&](uint32_t r) { return uint32_t(Le16(p + f.data_first_row_slot + 2 * r)); };
  // Everything from this row down must lie in order between the row table
  // and the row's end, or moving the rows up would scramble them.
  const uint32_t end = row == 0 ? f.page_size : (offset(row - 1) & kRowOffsetMask);
  if (end > f.page_size) {
    return corrupt("Row " + std::to_string(row - 1) + " of page " + std::to_string(page->number) +
                   " starts past the end of the page");
  }
  uint32_t previous = end;
  for (uint32_t r = row; r < count; ++r) {
    const uint32_t start = offset(r) & kRowOffsetMask;
    if (start > previous || start < table_end) {
      return corrupt("The row table of page " + std::to_string(page->number) +
                     " is out of order; its rows cannot be moved");
    }
    previous = start;
  }
  const uint32_t start = offset(row) & kRowOffsetMask;
  const uint32_t length = end - start;
  const uint32_t free_space = Le16(p + f.data_free_space) + length;
  if (free_space > f.page_size) {
    return corrupt("The free space of page " + std::to_string(page->number) + " is impossible");
  }
  const uint32_t lowest = previous;
  std::copy_backward(p + lowest, p + start, p + end);
  std::fill(p + lowest, p + lowest + length, 0);
  for (uint32_t r = row + 1; r < count; ++r) {
    const uint32_t raw = offset(r);
    PutLe16(p + f.data_first_row_slot + 2 * r,
            uint16_t((raw & ~uint32_t(kRowOffsetMask)) | ((raw & kRowOffsetMask) + length)));
  }
  PutLe16(p + f.data_first_row_slot + 2 * row, uint16_t(end | kRowDeletedFlag | kRowOverflowFlag));
  PutLe16(p + f.data_free_space, uint16_t(free_space));
  return Status::Ok();
}

}  // namespace jet
