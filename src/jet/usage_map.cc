#include "usage_map.h"

namespace jet {

namespace {

// Appends the set bits of `bitmap` as page numbers, starting at `first`.
Status CollectBits(Pager& pager, ByteView bitmap, uint64_t first, uint32_t map_page,
                   std::vector<uint32_t>* out) {
  for (size_t i = 0; i < bitmap.size(); ++i) {
    uint8_t b = bitmap[i];
    if (b == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if (!(b & (1 << bit))) continue;
      uint64_t page = first + i * 8 + uint64_t(bit);
      if (page >= pager.page_count()) {
        return pager.CorruptAt(map_page, "A usage map claims page " + std::to_string(page) +
                                             ", past the end of the file");
      }
      out->push_back(uint32_t(page));
    }
  }
  return Status::Ok();
}

}  // namespace

Result<UsageMap> ReadUsageMap(Pager& pager, RowPointer where) {
  PageRef holder;
  JET_ASSIGN_OR_RETURN(ByteView row, ReadRowBytes(pager, where, &holder));
  UsageMap map;
  map.location = where;
  if (row.empty()) return pager.CorruptAt(where.page, "A usage map row is empty");
  if (row[0] == 0x00) {
    if (row.size() < 5) return pager.CorruptAt(where.page, "A usage map row is too short");
    map.kind = UsageMap::Kind::kInline;
    map.first_page = Le32(row.data() + 1);
    JET_RETURN_IF_ERROR(CollectBits(pager, row.subspan(5), map.first_page, where.page, &map.pages));
    return map;
  }
  if (row[0] == 0x01) {
    map.kind = UsageMap::Kind::kReference;
    const uint64_t pages_per_map = uint64_t(pager.page_size() - 4) * 8;
    size_t count = (row.size() - 1) / 4;
    for (size_t i = 0; i < count; ++i) {
      uint32_t map_page = Le32(row.data() + 1 + 4 * i);
      if (map_page == 0) continue;
      map.map_pages.push_back(map_page);
      JET_ASSIGN_OR_RETURN(PageRef bitmap, pager.ReadTyped(map_page, kPageUsageMap,
                                                           "a usage bitmap page"));
      JET_RETURN_IF_ERROR(CollectBits(pager, bitmap->view().subspan(4), i * pages_per_map,
                                      map_page, &map.pages));
    }
    return map;
  }
  return pager.CorruptAt(where.page,
                         "Unknown usage map type " + std::to_string(row[0]) + " on page " +
                             std::to_string(where.page));
}

}  // namespace jet
