#include "index_writer.h"

#include <algorithm>

#include "index_key.h"
#include "index_page.h"
#include "usage_map.h"

namespace jet {

namespace {

// One entry as it sits in a B-tree page: its full bytes (key, then the row
// pointer in big-endian order) and, on intermediate pages, the child page.
struct Entry {
  std::vector<uint8_t> bytes;
  uint32_t child = 0;
};

// A page of the tree, loaded whole. Intermediate pages follow Jet's rule:
// with two or more children the last child is the "tail", named in the page
// header instead of by an entry; with one child it has an entry and no tail.
struct Node {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t prev = 0, next = 0, tail = 0;
  std::vector<Entry> entries;
};

constexpr uint32_t kIndexFreeSpace = 2;
constexpr uint32_t kIndexOwner = 4;
constexpr uint32_t kMaxDepth = 32;

std::vector<uint8_t> EntryBytes(const std::vector<uint8_t>& key, RowPointer at) {
  std::vector<uint8_t> e = key;
  uint8_t ptr[4];
  PutBe24(ptr, at.page);
  ptr[3] = at.row;
  e.insert(e.end(), ptr, ptr + 4);
  return e;
}

// One physical index: find, add and remove entries, splitting and freeing
// pages as needed. Pages are rewritten whole, storing the prefix that all
// keys on the page share once, as Jet does.
class BTree {
 public:
  BTree(Pager& pager, const TableDef& table, const PhysicalIndex& index)
      : pager_(pager), table_(table), index_(index) {}

  Result<bool> ContainsKey(const std::vector<uint8_t>& key, RowPointer except) {
    // Descend towards the smallest entry with this key, then walk right.
    std::vector<uint8_t> probe = key;
    probe.insert(probe.end(), 4, 0);
    JET_ASSIGN_OR_RETURN(Node node, Load(index_.root_page));
    for (uint32_t depth = 0; !node.leaf; ++depth) {
      if (depth > kMaxDepth) return Corrupt(node.number, "is impossibly deep");
      JET_ASSIGN_OR_RETURN(uint32_t child, ChildFor(node, probe, nullptr));
      JET_ASSIGN_OR_RETURN(node, Load(child));
    }
    const std::vector<uint8_t> except_bytes = EntryBytes(key, except);
    for (uint32_t pages = 0;; ++pages) {
      for (const Entry& e : node.entries) {
        if (e.bytes < probe) continue;
        if (e.bytes.size() != key.size() + 4 || !std::equal(key.begin(), key.end(), e.bytes.begin())) {
          if (e.bytes > probe) return false;
          continue;
        }
        if (e.bytes != except_bytes) return true;
      }
      if (node.next == 0) return false;
      if (pages > pager_.page_count()) return Corrupt(node.number, "has leaves that loop");
      JET_ASSIGN_OR_RETURN(node, Load(node.next));
    }
  }

  Status Insert(const std::vector<uint8_t>& entry) {
    JET_ASSIGN_OR_RETURN(Outcome out, InsertAt(index_.root_page, entry, 0));
    if (out.split) JET_RETURN_IF_ERROR(GrowRoot());
    return Status::Ok();
  }

  Status Remove(const std::vector<uint8_t>& entry) {
    JET_ASSIGN_OR_RETURN(Outcome out, RemoveAt(index_.root_page, entry, 0));
    (void)out;
    return Status::Ok();
  }

 private:
  // What a change did to a subtree: its new largest entry, whether it is now
  // empty, and the right half if the page split.
  struct Outcome {
    std::vector<uint8_t> max;
    bool empty = false;
    bool split = false;
    uint32_t right = 0;
    std::vector<uint8_t> right_max;
  };

  Status Corrupt(uint32_t page, const std::string& what) {
    return pager_.CorruptAt(page, "Index page " + std::to_string(page) + " of table '" +
                                      table_.name + "' " + what);
  }

  uint32_t Capacity() const { return pager_.page_size() - pager_.format().index_first_entry; }

  // The bytes every entry's key shares with the first one, which the page
  // stores once (never reaching into the row pointers).
  static size_t SharedPrefix(const Node& n) {
    if (n.entries.size() < 2) return 0;
    const std::vector<uint8_t>& first = n.entries.front().bytes;
    size_t prefix = first.size() - 4;
    for (size_t i = 1; i < n.entries.size() && prefix > 0; ++i) {
      const std::vector<uint8_t>& e = n.entries[i].bytes;
      size_t limit = std::min(prefix, e.size() - 4);
      size_t k = 0;
      while (k < limit && e[k] == first[k]) ++k;
      prefix = k;
    }
    return std::min<size_t>(prefix, 255);  // Jet 3 keeps it in one byte
  }

  static size_t Size(const Node& n) {
    const size_t prefix = SharedPrefix(n);
    size_t total = 0;
    for (size_t i = 0; i < n.entries.size(); ++i) {
      total += n.entries[i].bytes.size() + (n.leaf ? 0 : 4) - (i ? prefix : 0);
    }
    return total;
  }

  Result<Node> Load(uint32_t number) {
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(pager_, number));
    if (page.owner != table_.tdef_page) return Corrupt(number, "belongs to another table");
    Node n;
    n.number = number;
    n.leaf = page.leaf;
    n.prev = page.prev;
    n.next = page.next;
    n.tail = page.leaf ? 0 : page.tail;
    for (IndexEntry& e : page.entries) {
      n.entries.push_back(Entry{EntryBytes(e.key, e.row), e.child});
    }
    return n;
  }

  Status Save(const Node& n) {
    const Format& f = pager_.format();
    const size_t size = Size(n);
    if (size > Capacity()) return Corrupt(n.number, "would overflow");
    JET_ASSIGN_OR_RETURN(Page * page, pager_.Modify(n.number));
    uint8_t* p = page->bytes.data();
    std::fill(p + f.index_entry_mask, p + f.page_size, 0);
    p[0] = n.leaf ? kPageIndexLeaf : kPageIndexNode;
    p[1] = 0x01;
    PutLe16(p + kIndexFreeSpace, uint16_t(Capacity() - size));
    PutLe32(p + kIndexOwner, table_.tdef_page);
    PutLe32(p + f.index_prev_page, n.prev);
    PutLe32(p + f.index_next_page, n.next);
    PutLe32(p + f.index_tail_page, n.tail);
    const size_t prefix = SharedPrefix(n);
    if (f.index_prefix_length_size == 1) {
      p[f.index_prefix_length] = uint8_t(prefix);
    } else {
      PutLe16(p + f.index_prefix_length, uint16_t(prefix));
    }
    size_t at = 0;
    for (size_t i = 0; i < n.entries.size(); ++i) {
      const Entry& e = n.entries[i];
      const size_t skip = i ? prefix : 0;
      std::copy(e.bytes.begin() + std::ptrdiff_t(skip), e.bytes.end(), p + f.index_first_entry + at);
      at += e.bytes.size() - skip;
      if (!n.leaf) {
        PutBe32(p + f.index_first_entry + at, e.child);
        at += 4;
      }
      // The bit of an entry's end marks where the next one starts.
      p[f.index_entry_mask + at / 8] |= uint8_t(1u << (at % 8));
    }
    return Status::Ok();
  }

  Result<Node> NewPage(bool leaf) {
    JET_ASSIGN_OR_RETURN(Page * page, AllocatePage(pager_));
    Node n;
    n.number = page->number;
    n.leaf = leaf;
    JET_RETURN_IF_ERROR(UsageMapAdd(pager_, index_.usage_map, n.number));
    return n;
  }

  Status FreePage(uint32_t number) {
    JET_RETURN_IF_ERROR(UsageMapRemove(pager_, index_.usage_map, number));
    JET_RETURN_IF_ERROR(UsageMapAdd(pager_, kGlobalUsageMap, number));
    JET_ASSIGN_OR_RETURN(Page * page, pager_.Modify(number));
    std::fill(page->bytes.begin(), page->bytes.end(), 0);
    return Status::Ok();
  }

  Status SetPrev(uint32_t number, uint32_t prev) {
    if (number == 0) return Status::Ok();
    JET_ASSIGN_OR_RETURN(Page * page, pager_.Modify(number));
    PutLe32(page->bytes.data() + pager_.format().index_prev_page, prev);
    return Status::Ok();
  }
  Status SetNext(uint32_t number, uint32_t next) {
    if (number == 0) return Status::Ok();
    JET_ASSIGN_OR_RETURN(Page * page, pager_.Modify(number));
    PutLe32(page->bytes.data() + pager_.format().index_next_page, next);
    return Status::Ok();
  }

  // The child whose subtree holds (or will hold) `e`; *slot gets its entry
  // index, or entries.size() for the tail.
  Result<uint32_t> ChildFor(const Node& n, const std::vector<uint8_t>& e, size_t* slot) {
    for (size_t i = 0; i < n.entries.size(); ++i) {
      if (e <= n.entries[i].bytes) {
        if (slot) *slot = i;
        return n.entries[i].child;
      }
    }
    if (n.tail != 0) {
      if (slot) *slot = n.entries.size();
      return n.tail;
    }
    if (n.entries.empty()) return Corrupt(n.number, "has no children");
    if (slot) *slot = n.entries.size() - 1;
    return n.entries.back().child;
  }

  // The largest entry under `number`.
  Result<std::vector<uint8_t>> MaxOf(uint32_t number) {
    for (uint32_t depth = 0; depth <= kMaxDepth; ++depth) {
      JET_ASSIGN_OR_RETURN(Node n, Load(number));
      if (n.leaf) {
        if (n.entries.empty()) return Corrupt(number, "is an empty leaf inside the tree");
        return n.entries.back().bytes;
      }
      if (n.tail != 0) {
        number = n.tail;
      } else if (!n.entries.empty()) {
        return n.entries.back().bytes;
      } else {
        return Corrupt(number, "has no children");
      }
    }
    return Corrupt(number, "is impossibly deep");
  }

  Result<std::vector<uint8_t>> MaxOfNode(const Node& n) {
    if (n.leaf) return n.entries.empty() ? std::vector<uint8_t>() : n.entries.back().bytes;
    if (n.tail != 0) return MaxOf(n.tail);
    if (n.entries.empty()) return std::vector<uint8_t>();
    return n.entries.back().bytes;
  }

  // Splits an over-full page in two. The lower half stays on `n`, the upper
  // half goes to a new page to its right; both are saved.
  Result<Outcome> Split(Node& n) {
    JET_ASSIGN_OR_RETURN(Node right, NewPage(n.leaf));
    // Children as a list, the tail last, so that both halves keep Jet's
    // tail rule.
    std::vector<Entry> all = n.entries;
    if (!n.leaf && n.tail != 0) {
      JET_ASSIGN_OR_RETURN(std::vector<uint8_t> tail_max, MaxOf(n.tail));
      all.push_back(Entry{tail_max, n.tail});
    }
    size_t half = 0, bytes = 0, total = 0;
    for (const Entry& e : all) total += e.bytes.size() + (n.leaf ? 0 : 4);
    while (half + 1 < all.size() && bytes + all[half].bytes.size() <= total / 2) {
      bytes += all[half].bytes.size() + (n.leaf ? 0 : 4);
      ++half;
    }
    if (half == 0) half = 1;
    std::vector<Entry> lower(all.begin(), all.begin() + std::ptrdiff_t(half));
    std::vector<Entry> upper(all.begin() + std::ptrdiff_t(half), all.end());
    Outcome out;
    out.split = true;
    out.right = right.number;
    out.right_max = upper.back().bytes;
    out.max = lower.back().bytes;
    auto place = [&](Node& page, std::vector<Entry> list) {
      page.entries = std::move(list);
      page.tail = 0;
      if (!page.leaf && page.entries.size() >= 2) {
        page.tail = page.entries.back().child;
        page.entries.pop_back();
      }
    };
    place(n, std::move(lower));
    place(right, std::move(upper));
    right.prev = n.number;
    right.next = n.next;
    JET_RETURN_IF_ERROR(SetPrev(n.next, right.number));
    n.next = right.number;
    JET_RETURN_IF_ERROR(Save(n));
    JET_RETURN_IF_ERROR(Save(right));
    return out;
  }

  Result<Outcome> InsertAt(uint32_t number, const std::vector<uint8_t>& e, uint32_t depth) {
    if (depth > kMaxDepth) return Corrupt(number, "is impossibly deep");
    JET_ASSIGN_OR_RETURN(Node n, Load(number));
    if (n.leaf) {
      auto it = std::lower_bound(n.entries.begin(), n.entries.end(), e,
                                 [](const Entry& a, const std::vector<uint8_t>& b) {
                                   return a.bytes < b;
                                 });
      if (it != n.entries.end() && it->bytes == e) return Corrupt(number, "already holds the entry");
      n.entries.insert(it, Entry{e, 0});
    } else {
      size_t slot = 0;
      JET_ASSIGN_OR_RETURN(uint32_t child, ChildFor(n, e, &slot));
      JET_ASSIGN_OR_RETURN(Outcome below, InsertAt(child, e, depth + 1));
      const bool is_tail = slot == n.entries.size();
      if (!is_tail) n.entries[slot].bytes = below.max;
      if (below.split) {
        if (is_tail) {
          // The old tail becomes an ordinary child; its right half is the
          // new tail.
          n.entries.push_back(Entry{below.max, child});
          n.tail = below.right;
        } else {
          n.entries.insert(n.entries.begin() + std::ptrdiff_t(slot) + 1,
                           Entry{below.right_max, below.right});
          if (n.tail == 0 && n.entries.size() >= 2) {
            n.tail = n.entries.back().child;
            n.entries.pop_back();
          }
        }
      }
    }
    if (Size(n) > Capacity()) {
      if (number == index_.root_page) {
        // The root keeps its page number: report the split to Insert, which
        // moves the root's contents down a level.
        Outcome out;
        out.split = true;
        root_overflow_ = std::move(n);
        return out;
      }
      return Split(n);
    }
    JET_RETURN_IF_ERROR(Save(n));
    Outcome out;
    JET_ASSIGN_OR_RETURN(out.max, MaxOfNode(n));
    return out;
  }

  // Moves the over-full root's contents into two new pages below it.
  Status GrowRoot() {
    Node old = std::move(root_overflow_);
    JET_ASSIGN_OR_RETURN(Node left, NewPage(old.leaf));
    left.entries = old.entries;
    left.tail = old.tail;
    JET_ASSIGN_OR_RETURN(Outcome halves, Split(left));
    Node root;
    root.number = index_.root_page;
    root.leaf = false;
    root.entries.push_back(Entry{halves.max, left.number});
    root.tail = halves.right;
    return Save(root);
  }

  Result<Outcome> RemoveAt(uint32_t number, const std::vector<uint8_t>& e, uint32_t depth) {
    if (depth > kMaxDepth) return Corrupt(number, "is impossibly deep");
    JET_ASSIGN_OR_RETURN(Node n, Load(number));
    if (n.leaf) {
      auto it = std::find_if(n.entries.begin(), n.entries.end(),
                             [&](const Entry& a) { return a.bytes == e; });
      if (it == n.entries.end()) {
        return Corrupt(number, "lacks the entry of a row being changed (the index is damaged)");
      }
      n.entries.erase(it);
    } else {
      size_t slot = 0;
      JET_ASSIGN_OR_RETURN(uint32_t child, ChildFor(n, e, &slot));
      JET_ASSIGN_OR_RETURN(Outcome below, RemoveAt(child, e, depth + 1));
      const bool is_tail = slot == n.entries.size();
      if (below.empty) {
        // Drop the empty child and keep the tail rule.
        if (is_tail) {
          n.tail = 0;
          if (!n.entries.empty()) {
            if (n.entries.size() >= 2) {
              n.tail = n.entries.back().child;
              n.entries.pop_back();
            }
          }
        } else {
          n.entries.erase(n.entries.begin() + std::ptrdiff_t(slot));
          if (n.entries.empty() && n.tail != 0) {
            JET_ASSIGN_OR_RETURN(std::vector<uint8_t> tail_max, MaxOf(n.tail));
            n.entries.push_back(Entry{tail_max, n.tail});
            n.tail = 0;
          }
        }
      } else if (!is_tail) {
        n.entries[slot].bytes = below.max;
      }
    }
    Outcome out;
    const bool empty = n.entries.empty() && n.tail == 0;
    if (empty && number != index_.root_page) {
      // Unlink the page from its level and give it back.
      JET_RETURN_IF_ERROR(SetNext(n.prev, n.next));
      JET_RETURN_IF_ERROR(SetPrev(n.next, n.prev));
      JET_RETURN_IF_ERROR(FreePage(number));
      out.empty = true;
      return out;
    }
    if (empty) n.leaf = true;  // an empty tree is a single empty leaf
    JET_RETURN_IF_ERROR(Save(n));
    JET_ASSIGN_OR_RETURN(out.max, MaxOfNode(n));
    return out;
  }

  Pager& pager_;
  const TableDef& table_;
  const PhysicalIndex& index_;
  Node root_overflow_;
};

}  // namespace

Status IndexWriter::Keys(const std::vector<Value>& row, std::vector<IndexKeyState>* keys) {
  keys->clear();
  for (const PhysicalIndex& ix : table_.physical_indexes) {
    IndexKeyState k;
    bool any_null = false, all_null = true;
    for (const IndexColumn& ic : ix.columns) {
      const ColumnDef* c = table_.FindColumnByNumber(ic.column_number);
      const Value& v = row[size_t(c - table_.columns.data())];
      // Booleans are never null.
      const bool null = v.null && c->type != ColumnType::kBoolean;
      any_null |= null;
      all_null &= null;
    }
    k.any_null = any_null;
    k.skip = ix.ignore_nulls() && all_null;
    if (ix.required() && any_null) {
      const std::string name = IndexName(ix);
      return Status::Error(ErrorKind::kConstraint,
                           "Index '" + name + "' of table '" + table_.name +
                               "' requires a value in every one of its columns")
          .AtFile(pager_.path());
    }
    JET_RETURN_IF_ERROR(EncodeIndexKey(table_, ix, row, header_, &k.key));
    keys->push_back(std::move(k));
  }
  return Status::Ok();
}

std::string IndexWriter::IndexName(const PhysicalIndex& ix) const {
  for (const LogicalIndex& li : table_.logical_indexes) {
    if (li.physical == ix.number) return li.name;
  }
  return "#" + std::to_string(ix.number);
}

Status IndexWriter::CheckUnique(const std::vector<IndexKeyState>& keys, RowPointer except) {
  for (size_t i = 0; i < keys.size(); ++i) {
    const PhysicalIndex& ix = table_.physical_indexes[i];
    // Like Jet, a unique index admits any number of keys with a null part.
    if (!ix.unique() || keys[i].skip || keys[i].any_null) continue;
    BTree tree(pager_, table_, ix);
    JET_ASSIGN_OR_RETURN(bool taken, tree.ContainsKey(keys[i].key, except));
    if (taken) {
      return Status::Error(ErrorKind::kConstraint,
                           "The change would create a duplicate value in the unique index '" +
                               IndexName(ix) + "' of table '" + table_.name + "'")
          .AtFile(pager_.path());
    }
  }
  return Status::Ok();
}

Status IndexWriter::CheckInsert(const std::vector<Value>& row) {
  std::vector<IndexKeyState> keys;
  JET_RETURN_IF_ERROR(Keys(row, &keys));
  return CheckUnique(keys, RowPointer{0, 0});
}

Status IndexWriter::CheckUpdate(const std::vector<Value>& old_row,
                                const std::vector<Value>& new_row, RowPointer at) {
  std::vector<IndexKeyState> old_keys, new_keys;
  JET_RETURN_IF_ERROR(Keys(old_row, &old_keys));
  JET_RETURN_IF_ERROR(Keys(new_row, &new_keys));
  return CheckUnique(new_keys, at);
}

Status IndexWriter::AdjustCount(size_t index, int delta) {
  const Format& f = pager_.format();
  JET_ASSIGN_OR_RETURN(Page * tdef, pager_.Modify(table_.tdef_page));
  const size_t at = f.tdef_header_size + index * f.tdef_real_idx_count_size + 4;
  if (at + 4 > tdef->bytes.size()) return Status::Ok();  // lies on a continuation page
  uint32_t count = Le32(tdef->bytes.data() + at);
  if (delta < 0 && count == 0) return Status::Ok();
  PutLe32(tdef->bytes.data() + at, uint32_t(int64_t(count) + delta));
  return Status::Ok();
}

Status IndexWriter::Insert(const std::vector<Value>& row, RowPointer at) {
  std::vector<IndexKeyState> keys;
  JET_RETURN_IF_ERROR(Keys(row, &keys));
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].skip) continue;
    const PhysicalIndex& ix = table_.physical_indexes[i];
    BTree tree(pager_, table_, ix);
    // The index's count is of distinct keys.
    JET_ASSIGN_OR_RETURN(bool seen, tree.ContainsKey(keys[i].key, RowPointer{0, 0}));
    JET_RETURN_IF_ERROR(tree.Insert(EntryBytes(keys[i].key, at)));
    if (!seen) JET_RETURN_IF_ERROR(AdjustCount(i, +1));
  }
  return Status::Ok();
}

Status IndexWriter::Delete(const std::vector<Value>& row, RowPointer at) {
  std::vector<IndexKeyState> keys;
  JET_RETURN_IF_ERROR(Keys(row, &keys));
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].skip) continue;
    const PhysicalIndex& ix = table_.physical_indexes[i];
    BTree tree(pager_, table_, ix);
    JET_RETURN_IF_ERROR(tree.Remove(EntryBytes(keys[i].key, at)));
    JET_ASSIGN_OR_RETURN(bool still, tree.ContainsKey(keys[i].key, RowPointer{0, 0}));
    if (!still) JET_RETURN_IF_ERROR(AdjustCount(i, -1));
  }
  return Status::Ok();
}

Status IndexWriter::Update(const std::vector<Value>& old_row, const std::vector<Value>& new_row,
                           RowPointer at) {
  std::vector<IndexKeyState> old_keys, new_keys;
  JET_RETURN_IF_ERROR(Keys(old_row, &old_keys));
  JET_RETURN_IF_ERROR(Keys(new_row, &new_keys));
  for (size_t i = 0; i < old_keys.size(); ++i) {
    if (old_keys[i].skip == new_keys[i].skip && old_keys[i].key == new_keys[i].key) continue;
    const PhysicalIndex& ix = table_.physical_indexes[i];
    BTree tree(pager_, table_, ix);
    if (!old_keys[i].skip) {
      JET_RETURN_IF_ERROR(tree.Remove(EntryBytes(old_keys[i].key, at)));
      JET_ASSIGN_OR_RETURN(bool still, tree.ContainsKey(old_keys[i].key, RowPointer{0, 0}));
      if (!still) JET_RETURN_IF_ERROR(AdjustCount(i, -1));
    }
    if (!new_keys[i].skip) {
      JET_ASSIGN_OR_RETURN(bool seen, tree.ContainsKey(new_keys[i].key, RowPointer{0, 0}));
      JET_RETURN_IF_ERROR(tree.Insert(EntryBytes(new_keys[i].key, at)));
      if (!seen) JET_RETURN_IF_ERROR(AdjustCount(i, +1));
    }
  }
  return Status::Ok();
}

}  // namespace jet
