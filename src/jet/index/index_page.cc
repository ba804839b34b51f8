// SPDX-License-Identifier: Apache-2.0
#include "jet/index/index_page.h"

namespace jet {

namespace {

constexpr uint32_t kIndexFreeSpace = 2;
constexpr uint32_t kIndexOwner = 4;
constexpr uint32_t kMaxDepth = 32;

}  // namespace

std::vector<uint8_t> EntryBytes(const std::vector<uint8_t>& key, RowPointer row) {
  std::vector<uint8_t> bytes = key;
  uint8_t ptr[4];
  PutBe24(ptr, row.page);
  ptr[3] = row.row;
  bytes.insert(bytes.end(), ptr, ptr + 4);
  return bytes;
}

Result<IndexPage> ReadIndexPage(Pager& pager, uint32_t number) {
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(PageRef ref, pager.Read(number));
  const Page& page = *ref;
  if (page.type() != kPageIndexLeaf && page.type() != kPageIndexNode) {
    return pager.CorruptAt(number, "Expected an index page on page " + std::to_string(number) +
                                       ", found a page of type " + std::to_string(page.type()));
  }
  const uint8_t* p = page.bytes.data();
  IndexPage out;
  out.number = number;
  out.leaf = page.type() == kPageIndexLeaf;
  out.free_space = Le16(p + kIndexFreeSpace);
  out.owner = Le32(p + kIndexOwner);
  out.prev = Le32(p + f.index_prev_page);
  out.next = Le32(p + f.index_next_page);
  out.tail = Le32(p + f.index_tail_page);
  out.prefix_length =
      f.index_prefix_length_size == 1 ? p[f.index_prefix_length] : Le16(p + f.index_prefix_length);

  const size_t pointer_size = out.leaf ? 4 : 8;
  const uint8_t* mask = p + f.index_entry_mask;
  size_t start = f.index_first_entry;
  std::vector<uint8_t> prefix, whole;
  for (size_t bit = 0; bit < f.index_entry_mask_size * 8; ++bit) {
    if (!(mask[bit / 8] & (1u << (bit % 8)))) continue;
    size_t end = f.index_first_entry + bit;
    if (end > f.page_size || end <= start) {
      return pager.CorruptAt(number, "An index entry runs past the end of its page");
    }
    const uint8_t* e = p + start;
    const size_t len = end - start;
    // The prefix is shared by whole entries, row pointer included: where
    // every entry has the same key, Access 97 carries it on into the
    // pointer's bytes (Northwind's Orders.ShippersOrders, page 593: a 5-byte
    // key, a 6-byte prefix, 3 bytes stored per entry after the first).
    if (out.entries.empty()) {
      if (len < out.prefix_length) {
        return pager.CorruptAt(number,
                               "An index page's shared prefix is longer than its first entry");
      }
      prefix.assign(e, e + out.prefix_length);
      whole.assign(e, e + len);
    } else {
      whole = prefix;
      whole.insert(whole.end(), e, e + len);
    }
    if (whole.size() < pointer_size) return pager.CorruptAt(number, "An index entry is too short");
    IndexEntry entry;
    entry.key.assign(whole.begin(), whole.end() - long(pointer_size));
    const uint8_t* ptr = whole.data() + whole.size() - pointer_size;
    entry.row.page = Be24(ptr);
    entry.row.row = ptr[3];
    if (!out.leaf) entry.child = Be32(ptr + 4);
    out.entries.push_back(std::move(entry));
    start = end;
  }
  return out;
}

Status IndexLeafWalker::Descend() {
  uint32_t page = index_.root_page;
  for (uint32_t depth = 0;; ++depth) {
    if (depth > kMaxDepth) return pager_.CorruptAt(page, "An index tree is impossibly deep");
    JET_ASSIGN_OR_RETURN(current_, ReadIndexPage(pager_, page));
    ++pages_visited_;
    if (current_.leaf) break;
    if (current_.entries.empty()) {
      return pager_.CorruptAt(page, "An intermediate index page has no entries");
    }
    page = current_.entries.front().child;
  }
  pos_ = 0;
  return Status::Ok();
}

Result<bool> IndexLeafWalker::Next(IndexEntry* entry) {
  if (!started_) {
    started_ = true;
    JET_RETURN_IF_ERROR(Descend());
  }
  while (pos_ >= current_.entries.size()) {
    if (current_.next == 0) return false;
    // Stop at the first leaf seen twice, before its entries are handed out
    // again.
    leaves_seen_.insert(current_.number);
    if (leaves_seen_.count(current_.next) || pages_visited_ > pager_.page_count()) {
      return pager_.CorruptAt(current_.number, "An index's leaf pages form a loop");
    }
    uint32_t next = current_.next;
    JET_ASSIGN_OR_RETURN(current_, ReadIndexPage(pager_, next));
    ++pages_visited_;
    if (!current_.leaf) return pager_.CorruptAt(next, "An index leaf links to a non-leaf page");
    pos_ = 0;
  }
  *entry = current_.entries[pos_++];
  return true;
}

}  // namespace jet
