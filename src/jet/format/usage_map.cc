// SPDX-License-Identifier: Apache-2.0
#include "jet/format/usage_map.h"

#include <algorithm>

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

namespace {

constexpr uint8_t kInlineMap = 0x00;
constexpr uint8_t kReferenceMap = 0x01;

// The usage map row at `where`, in the batch, as a writable span.
Result<std::span<uint8_t>> MutableRow(Pager& pager, RowPointer where) {
  JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(where.page));
  if (page->type() != kPageData) {
    return pager.CorruptAt(where.page, "A usage map pointer leads to a page that holds no rows");
  }
  JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*page, pager.format(), where.row, pager.path()));
  if (slot.end - slot.start < 5) return pager.CorruptAt(where.page, "A usage map row is too short");
  return std::span<uint8_t>(page->bytes.data() + slot.start, slot.end - slot.start);
}

uint64_t PagesPerBitmapPage(const Pager& pager) { return uint64_t(pager.page_size() - 4) * 8; }

Result<Page*> NewBitmapPage(Pager& pager) {
  JET_ASSIGN_OR_RETURN(Page * page, AppendPage(pager));
  page->bytes[0] = kPageUsageMap;
  page->bytes[1] = 0x01;
  return page;
}

// Sets or clears the bit for `page` in a reference map.
Status ReferenceSet(Pager& pager, RowPointer where, uint32_t page, bool set) {
  const uint64_t per = PagesPerBitmapPage(pager);
  const size_t slot = size_t(page / per);
  uint32_t map_page;
  {
    JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, where));
    if (1 + 4 * (slot + 1) > row.size()) {
      if (!set) return Status::Ok();
      return Status::Unsupported("A usage map cannot reach page " + std::to_string(page))
          .AtFile(pager.path())
          .AtPage(where.page);
    }
    map_page = Le32(row.data() + 1 + 4 * slot);
  }
  if (map_page == 0) {
    if (!set) return Status::Ok();
    JET_ASSIGN_OR_RETURN(Page * bitmap, NewBitmapPage(pager));
    map_page = bitmap->number;
    JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, where));  // re-fetch: the batch may move
    PutLe32(row.data() + 1 + 4 * slot, map_page);
  }
  JET_ASSIGN_OR_RETURN(Page * bitmap, pager.Modify(map_page));
  if (bitmap->type() != kPageUsageMap) {
    return pager.CorruptAt(map_page, "A usage map leads to a page that is not a bitmap");
  }
  const uint64_t bit = page - slot * per;
  uint8_t& byte = bitmap->bytes[4 + bit / 8];
  if (set) {
    byte |= uint8_t(1u << (bit % 8));
  } else {
    byte &= uint8_t(~(1u << (bit % 8)));
  }
  return Status::Ok();
}

}  // namespace

Result<uint32_t> UsageMapLast(Pager& pager, RowPointer where, uint32_t before) {
  PageRef holder;
  JET_ASSIGN_OR_RETURN(ByteView row, ReadRowBytes(pager, where, &holder));
  // The highest set bit of `bitmap` (bit 0 = page `first`) below `before`.
  auto highest = [before](ByteView bitmap, uint64_t first) -> int64_t {
    if (before <= first) return -1;
    const uint64_t bits = std::min<uint64_t>(bitmap.size() * 8, before - first);
    for (uint64_t bit = bits; bit-- > 0;) {
      const uint8_t b = bitmap[bit / 8];
      if (b == 0) {
        bit &= ~uint64_t(7);  // past the rest of this byte
        continue;
      }
      if ((b >> (bit % 8)) & 1) return int64_t(bit);
    }
    return -1;
  };
  if (row.size() >= 5 && row[0] == kInlineMap) {
    const uint32_t first = Le32(row.data() + 1);
    const int64_t bit = highest(row.subspan(5), first);
    return bit < 0 ? 0u : uint32_t(first + uint64_t(bit));
  }
  if (row.size() >= 1 && row[0] == kReferenceMap) {
    const uint64_t per = PagesPerBitmapPage(pager);
    for (size_t slot = (row.size() - 1) / 4; slot-- > 0;) {
      uint32_t map_page = Le32(row.data() + 1 + 4 * slot);
      if (map_page == 0 || slot * per >= before) continue;
      JET_ASSIGN_OR_RETURN(PageRef bitmap, pager.ReadTyped(map_page, kPageUsageMap,
                                                           "a usage bitmap page"));
      const int64_t bit = highest(bitmap->view().subspan(4), slot * per);
      if (bit >= 0) {
        uint64_t page = slot * per + uint64_t(bit);
        if (page >= pager.page_count()) {
          return pager.CorruptAt(map_page, "A usage map claims a page past the end of the file");
        }
        return uint32_t(page);
      }
    }
    return 0u;
  }
  return pager.CorruptAt(where.page, "Unknown usage map type");
}

Status UsageMapAdd(Pager& pager, RowPointer where, uint32_t page) {
  std::vector<uint32_t> pages;
  uint32_t first;
  size_t bits;
  {
    JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, where));
    if (row[0] == kReferenceMap) return ReferenceSet(pager, where, page, true);
    if (row[0] != kInlineMap) return pager.CorruptAt(where.page, "Unknown usage map type");
    first = Le32(row.data() + 1);
    bits = (row.size() - 5) * 8;
    if (page >= first && page - first < bits) {
      row[5 + (page - first) / 8] |= uint8_t(1u << ((page - first) % 8));
      return Status::Ok();
    }
    for (size_t b = 0; b < bits; ++b) {
      if (row[5 + b / 8] & (1u << (b % 8))) pages.push_back(uint32_t(first + b));
    }
  }
  pages.push_back(page);
  uint32_t low = *std::min_element(pages.begin(), pages.end());
  uint32_t high = *std::max_element(pages.begin(), pages.end());
  if (high - low < bits) {
    // Move the window so that it starts at the lowest page.
    JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, where));
    std::fill(row.begin() + 5, row.end(), 0);
    PutLe32(row.data() + 1, low);
    for (uint32_t p : pages) row[5 + (p - low) / 8] |= uint8_t(1u << ((p - low) % 8));
    return Status::Ok();
  }
  // Too wide for an inline map: turn it into a reference map.
  {
    JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, where));
    std::fill(row.begin(), row.end(), 0);
    row[0] = kReferenceMap;
  }
  for (uint32_t p : pages) JET_RETURN_IF_ERROR(ReferenceSet(pager, where, p, true));
  return Status::Ok();
}

Status UsageMapRemove(Pager& pager, RowPointer where, uint32_t page) {
  JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, where));
  if (row[0] == kReferenceMap) return ReferenceSet(pager, where, page, false);
  if (row[0] != kInlineMap) return pager.CorruptAt(where.page, "Unknown usage map type");
  const uint32_t first = Le32(row.data() + 1);
  const size_t bits = (row.size() - 5) * 8;
  if (page >= first && page - first < bits) {
    row[5 + (page - first) / 8] &= uint8_t(~(1u << ((page - first) % 8)));
  }
  return Status::Ok();
}

Result<bool> UsageMapContains(Pager& pager, RowPointer where, uint32_t page) {
  PageRef holder;
  JET_ASSIGN_OR_RETURN(ByteView row, ReadRowBytes(pager, where, &holder));
  if (row.size() >= 5 && row[0] == kInlineMap) {
    const uint32_t first = Le32(row.data() + 1);
    const uint64_t bit = uint64_t(page) - first;
    return page >= first && bit < (row.size() - 5) * 8 && (row[5 + bit / 8] >> (bit % 8)) & 1;
  }
  if (row.size() >= 1 && row[0] == kReferenceMap) {
    const uint64_t per = PagesPerBitmapPage(pager);
    const size_t slot = size_t(page / per);
    if (1 + 4 * (slot + 1) > row.size()) return false;
    const uint32_t map_page = Le32(row.data() + 1 + 4 * slot);
    if (map_page == 0) return false;
    JET_ASSIGN_OR_RETURN(PageRef bitmap,
                         pager.ReadTyped(map_page, kPageUsageMap, "a usage bitmap page"));
    const uint64_t bit = page - slot * per;
    return (bitmap->bytes[4 + bit / 8] >> (bit % 8)) & 1;
  }
  return pager.CorruptAt(where.page, "Unknown usage map type");
}

namespace {

// The lowest page from `from` up to (not including) `limit` that the map at
// `where` holds; 0 if there is none.
Result<uint32_t> UsageMapNext(Pager& pager, RowPointer where, uint32_t from, uint32_t limit) {
  auto scan = [&](ByteView bitmap, uint64_t first) -> uint32_t {
    uint64_t bit = from > first ? from - first : 0;
    for (; bit < bitmap.size() * 8 && first + bit < limit; ++bit) {
      const uint8_t b = bitmap[bit / 8];
      if (b == 0) {
        bit |= 7;  // the rest of this byte
        continue;
      }
      if ((b >> (bit % 8)) & 1) return uint32_t(first + bit);
    }
    return 0;
  };
  PageRef holder;
  JET_ASSIGN_OR_RETURN(ByteView row, ReadRowBytes(pager, where, &holder));
  if (row.size() >= 5 && row[0] == kInlineMap) return scan(row.subspan(5), Le32(row.data() + 1));
  if (row.size() >= 1 && row[0] == kReferenceMap) {
    const uint64_t per = PagesPerBitmapPage(pager);
    for (size_t slot = from / per; 1 + 4 * (slot + 1) <= row.size() && slot * per < limit;
         ++slot) {
      const uint32_t map_page = Le32(row.data() + 1 + 4 * slot);
      if (map_page == 0) continue;
      JET_ASSIGN_OR_RETURN(PageRef bitmap,
                           pager.ReadTyped(map_page, kPageUsageMap, "a usage bitmap page"));
      const uint32_t found = scan(bitmap->view().subspan(4), slot * per);
      if (found != 0) return found;
    }
    return 0u;
  }
  return pager.CorruptAt(where.page, "Unknown usage map type");
}

// Makes the inline global map reach `page`: its row grows into the free
// space of its page, by whole groups of 64 pages, as Access's own maps do.
// The pages it newly covers are in use up to the end of the file and free
// beyond. False if the page has no room for it.
Result<bool> GrowGlobalMap(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, kGlobalUsageMap));
  const uint64_t old_bits = (row.size() - 5) * 8;
  const uint64_t want = (std::max<uint64_t>(page, pager.page_count()) / 64 + 1) * 64;
  const uint32_t extra = uint32_t((want - old_bits) / 8);
  JET_ASSIGN_OR_RETURN(Page * holder, pager.Modify(kGlobalUsageMap.page));
  Status grown = GrowRow(holder, pager.format(), kGlobalUsageMap.row, extra, pager.path());
  if (grown.kind() == ErrorKind::kUnsupported) return false;
  JET_RETURN_IF_ERROR(grown);
  JET_ASSIGN_OR_RETURN(row, MutableRow(pager, kGlobalUsageMap));
  for (uint64_t p = std::max<uint64_t>(old_bits, pager.page_count()); p < want; ++p) {
    row[5 + p / 8] |= uint8_t(1u << (p % 8));
  }
  return true;
}

}  // namespace

Result<Page*> AppendPage(Pager& pager) {
  JET_ASSIGN_OR_RETURN(Page * page, pager.Append());
  const uint32_t number = page->number;
  JET_RETURN_IF_ERROR(UsageMapRemove(pager, kGlobalUsageMap, number));
  // Modify may have handed out a new copy of nothing: the appended page is
  // already in the batch, so this returns the same page.
  return pager.Modify(number);
}

Result<Page*> AllocatePage(Pager& pager) {
  // Pages 0 and 1 (the header and the global map) are never free.
  const uint32_t from = std::max<uint32_t>(pager.free_page_hint(), 2);
  JET_ASSIGN_OR_RETURN(uint32_t free,
                       UsageMapNext(pager, kGlobalUsageMap, from, pager.page_count()));
  if (free == 0) {
    pager.set_free_page_hint(pager.page_count());
    return AppendPage(pager);
  }
  pager.set_free_page_hint(free + 1);
  JET_RETURN_IF_ERROR(UsageMapRemove(pager, kGlobalUsageMap, free));
  JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(free));
  std::fill(page->bytes.begin(), page->bytes.end(), 0);
  return page;
}

Status FreePage(Pager& pager, uint32_t page, bool* freed) {
  *freed = false;
  if (page < 2 || page >= pager.page_count()) {
    return pager.CorruptAt(page, "Page " + std::to_string(page) + " cannot be freed");
  }
  JET_ASSIGN_OR_RETURN(bool already, UsageMapContains(pager, kGlobalUsageMap, page));
  if (already) {
    return pager.CorruptAt(page, "Page " + std::to_string(page) +
                                     " is given back but is marked free already");
  }
  {
    JET_ASSIGN_OR_RETURN(auto row, MutableRow(pager, kGlobalUsageMap));
    if (row[0] == kInlineMap) {
      const uint32_t first = Le32(row.data() + 1);
      if (page < first) return Status::Ok();  // a map that starts late: leave it be
      if (uint64_t(page) - first >= (row.size() - 5) * 8) {
        if (first != 0) return Status::Ok();
        JET_ASSIGN_OR_RETURN(bool grown, GrowGlobalMap(pager, page));
        if (!grown) return Status::Ok();
      }
    }
  }
  JET_RETURN_IF_ERROR(UsageMapAdd(pager, kGlobalUsageMap, page));
  *freed = true;
  pager.set_free_page_hint(std::min(pager.free_page_hint(), page));
  return Status::Ok();
}

}  // namespace jet
