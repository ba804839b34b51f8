#include "data_page.h"

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

}  // namespace jet
