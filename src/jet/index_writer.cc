#include "index_writer.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "index_key.h"
#include "index_page.h"
#include "usage_map.h"

namespace jet {

namespace {

bool Less(ByteView a, ByteView b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}
bool Same(ByteView a, ByteView b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}
ByteView View(const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); }

// A page of the tree, loaded whole, its entries kept back to back in one
// buffer (each entry: key, then the row pointer in big-endian order).
// Intermediate pages follow Jet's rule: with two or more children the last
// child is the "tail", named in the page header instead of by an entry;
// with one child it has an entry and no tail.
struct Node {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t prev = 0, next = 0, tail = 0;
  std::vector<uint8_t> data;
  std::vector<uint32_t> ends;      // where each entry ends in `data`
  std::vector<uint32_t> children;  // intermediate pages: each entry's child

  size_t count() const { return ends.size(); }
  bool empty() const { return ends.empty(); }
  size_t begin_of(size_t i) const { return i ? ends[i - 1] : 0; }
  ByteView entry(size_t i) const {
    return ByteView(data.data() + begin_of(i), ends[i] - begin_of(i));
  }
  ByteView back() const { return entry(count() - 1); }

  void Insert(size_t i, ByteView e, uint32_t child) {
    const size_t at = begin_of(i);
    data.insert(data.begin() + std::ptrdiff_t(at), e.begin(), e.end());
    ends.insert(ends.begin() + std::ptrdiff_t(i), uint32_t(at));
    for (size_t k = i; k < ends.size(); ++k) ends[k] += uint32_t(e.size());
    if (!leaf) children.insert(children.begin() + std::ptrdiff_t(i), child);
  }
  void Erase(size_t i) {
    const size_t at = begin_of(i), len = ends[i] - at;
    data.erase(data.begin() + std::ptrdiff_t(at), data.begin() + std::ptrdiff_t(at + len));
    ends.erase(ends.begin() + std::ptrdiff_t(i));
    for (size_t k = i; k < ends.size(); ++k) ends[k] -= uint32_t(len);
    if (!leaf) children.erase(children.begin() + std::ptrdiff_t(i));
  }
  void Set(size_t i, ByteView e) {
    uint32_t child = leaf ? 0 : children[i];
    Erase(i);
    Insert(i, e, child);
  }
  void PushBack(ByteView e, uint32_t child) { Insert(count(), e, child); }
  // Moves entries [from, count) to the end of `to`.
  void MoveTail(size_t from, Node* to) {
    for (size_t i = from; i < count(); ++i) to->PushBack(entry(i), leaf ? 0 : children[i]);
    data.resize(begin_of(from));
    ends.resize(from);
    if (!leaf) children.resize(from);
  }
};

constexpr uint32_t kIndexFreeSpace = 2;
constexpr uint32_t kIndexOwner = 4;
constexpr uint32_t kMaxDepth = 32;

}  // namespace

// One physical index: find, add and remove entries, splitting and freeing
// pages as needed. Pages are rewritten whole, with the shared prefix, the
// level byte and the free space as Access writes them (see Prefix). Pages
// it has read or written stay parsed for as long as the writer lives (one
// write operation), since every change to them goes through it.
class IndexWriter::BTree {
 public:
  BTree(Pager& pager, const TableDef& table, const PhysicalIndex& index, std::string name)
      : pager_(pager), table_(table), index_(index), index_name_(std::move(name)) {}

  Result<bool> ContainsKey(const std::vector<uint8_t>& key, RowPointer except) {
    // Descend towards the smallest entry with this key, then walk right.
    std::vector<uint8_t> probe = key;
    probe.insert(probe.end(), 4, 0);
    const std::vector<uint8_t> except_bytes = EntryBytes(key, except);
    JET_ASSIGN_OR_RETURN(const Node* node, Load(index_.root_page));
    for (uint32_t depth = 0; !node->leaf; ++depth) {
      if (depth > kMaxDepth) return Corrupt(node->number, "is impossibly deep");
      JET_ASSIGN_OR_RETURN(uint32_t child, ChildFor(*node, View(probe), nullptr));
      JET_ASSIGN_OR_RETURN(node, Load(child));
    }
    for (uint32_t pages = 0;; ++pages) {
      size_t i = LowerBound(*node, View(probe));
      for (; i < node->count(); ++i) {
        ByteView e = node->entry(i);
        if (e.size() != key.size() + 4 || !std::equal(key.begin(), key.end(), e.begin())) {
          return false;
        }
        if (!Same(e, View(except_bytes))) return true;
      }
      if (node->next == 0) return false;
      if (pages > pager_.page_count()) return Corrupt(node->number, "has leaves that loop");
      JET_ASSIGN_OR_RETURN(node, Load(node->next));
    }
  }

  Status Insert(const std::vector<uint8_t>& entry) {
    JET_ASSIGN_OR_RETURN(Outcome out, InsertAt(index_.root_page, View(entry), 0));
    if (out.split) JET_RETURN_IF_ERROR(GrowRoot());
    return Status::Ok();
  }

  Status Remove(const std::vector<uint8_t>& entry) {
    return RemoveAt(index_.root_page, View(entry), 0).status();
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
    return pager_.CorruptAt(
        page, "Index page " + std::to_string(page) + " of table '" + table_.name + "' " + what);
  }

  uint32_t Capacity() const { return pager_.page_size() - pager_.format().index_first_entry; }

  static size_t LowerBound(const Node& n, ByteView e) {
    size_t lo = 0, hi = n.count();
    while (lo < hi) {
      size_t mid = (lo + hi) / 2;
      if (Less(n.entry(mid), e)) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }

  // The bytes the page stores once, before its first entry, and leaves out
  // of every other entry. As Access writes its pages (docs/access97-
  // indexes.md): none on intermediate pages; on a leaf, every byte its
  // entries share with the first, on into the row pointers where the keys
  // agree, except that the last leaf of the tree, which takes the appended
  // entries, keeps none while its entries fit without.
  size_t Prefix(const Node& n) const {
    if (!n.leaf || n.count() < 2) return 0;
    ByteView first = n.entry(0);
    size_t prefix = first.size();
    for (size_t i = 1; i < n.count() && prefix > 0; ++i) {
      ByteView e = n.entry(i);
      const size_t limit = std::min(prefix, e.size());
      size_t k = 0;
      while (k < limit && e[k] == first[k]) ++k;
      prefix = k;
    }
    // No entry may be left empty, and Jet 3 keeps the length in one byte.
    for (size_t i = 0; i < n.count(); ++i) prefix = std::min(prefix, n.entry(i).size() - 1);
    if (pager_.format().index_prefix_length_size == 1) prefix = std::min<size_t>(prefix, 255);
    if (n.next == 0 && Unshared(n) <= Capacity()) return 0;
    return prefix;
  }

  static size_t Unshared(const Node& n) { return n.data.size() + (n.leaf ? 0 : 4 * n.count()); }

  size_t Size(const Node& n) const {
    const size_t prefix = Prefix(n);
    size_t total = Unshared(n);
    if (n.count() > 1) total -= prefix * (n.count() - 1);
    return total;
  }

  Result<const Node*> Load(uint32_t number) {
    auto it = cache_.find(number);
    if (it != cache_.end()) return &it->second;
    JET_ASSIGN_OR_RETURN(PageRef ref, pager_.Read(number));
    const Page& page = *ref;
    const Format& f = pager_.format();
    if (page.type() != kPageIndexLeaf && page.type() != kPageIndexNode) {
      return Corrupt(number, "is not an index page");
    }
    const uint8_t* p = page.bytes.data();
    if (Le32(p + kIndexOwner) != table_.tdef_page)
      return Corrupt(number, "belongs to another table");
    Node n;
    n.number = number;
    n.leaf = page.type() == kPageIndexLeaf;
    n.prev = Le32(p + f.index_prev_page);
    n.next = Le32(p + f.index_next_page);
    n.tail = n.leaf ? 0 : Le32(p + f.index_tail_page);
    const size_t prefix = f.index_prefix_length_size == 1 ? p[f.index_prefix_length]
                                                          : Le16(p + f.index_prefix_length);
    const size_t pointer = n.leaf ? 4 : 8;
    const uint8_t* mask = p + f.index_entry_mask;
    size_t start = f.index_first_entry;
    std::vector<uint8_t> shared, whole;
    for (size_t bit = 0; bit < f.index_entry_mask_size * 8; ++bit) {
      if (!(mask[bit / 8] & (1u << (bit % 8)))) continue;
      const size_t end = f.index_first_entry + bit;
      if (end > f.page_size || end <= start) return Corrupt(number, "has a damaged entry");
      const uint8_t* e = p + start;
      const size_t len = end - start;
      // The shared prefix is taken from the first entry, whose bytes it may
      // cover up to its row pointer and beyond.
      if (n.empty()) {
        if (len < prefix) return Corrupt(number, "has a prefix longer than its first entry");
        shared.assign(e, e + prefix);
        whole.assign(e, e + len);
      } else {
        whole = shared;
        whole.insert(whole.end(), e, e + len);
      }
      if (whole.size() < pointer) return Corrupt(number, "has a damaged entry");
      n.data.insert(n.data.end(), whole.begin(), whole.end() - (n.leaf ? 0 : 4));
      n.ends.push_back(uint32_t(n.data.size()));
      if (!n.leaf) n.children.push_back(Be32(whole.data() + whole.size() - 4));
      start = end;
    }
    auto [slot, inserted] = cache_.emplace(number, std::move(n));
    (void)inserted;
    return &slot->second;
  }

  Status Save(Node n) {
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
    const size_t prefix = Prefix(n);
    if (f.index_prefix_length_size == 1) {
      p[f.index_prefix_length] = uint8_t(prefix);
    } else {
      PutLe16(p + f.index_prefix_length, uint16_t(prefix));
    }
    // The byte after the prefix length: 1 on intermediate pages, 0 on leaves.
    // Every intermediate page of Access's own files sits right above the
    // leaves; one higher up gets 1 as well (docs/access97-indexes.md says
    // why that is safe).
    p[f.index_prefix_length + f.index_prefix_length_size] = n.leaf ? 0 : 1;
    size_t at = 0;
    for (size_t i = 0; i < n.count(); ++i) {
      ByteView e = n.entry(i);
      const size_t skip = i ? prefix : 0;
      std::copy(e.begin() + std::ptrdiff_t(skip), e.end(), p + f.index_first_entry + at);
      at += e.size() - skip;
      if (!n.leaf) {
        PutBe32(p + f.index_first_entry + at, n.children[i]);
        at += 4;
      }
      // The bit of an entry's end marks where the next one starts.
      p[f.index_entry_mask + at / 8] |= uint8_t(1u << (at % 8));
    }
    const uint32_t number = n.number;
    cache_[number] = std::move(n);
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
    cache_.erase(number);
    JET_RETURN_IF_ERROR(UsageMapRemove(pager_, index_.usage_map, number));
    JET_RETURN_IF_ERROR(UsageMapAdd(pager_, kGlobalUsageMap, number));
    JET_ASSIGN_OR_RETURN(Page * page, pager_.Modify(number));
    std::fill(page->bytes.begin(), page->bytes.end(), 0);
    return Status::Ok();
  }

  // Changes a neighbour's link, in the page and in its parsed copy.
  Status SetLink(uint32_t number, bool prev, uint32_t to) {
    if (number == 0) return Status::Ok();
    JET_ASSIGN_OR_RETURN(const Node* cached, Load(number));
    Node n = *cached;
    (prev ? n.prev : n.next) = to;
    return Save(std::move(n));
  }

  // The child whose subtree holds (or will hold) `e`; *slot gets its entry
  // index, or count() for the tail.
  Result<uint32_t> ChildFor(const Node& n, ByteView e, size_t* slot) {
    size_t i = LowerBound(n, e);
    if (i < n.count()) {
      if (slot) *slot = i;
      return n.children[i];
    }
    if (n.tail != 0) {
      if (slot) *slot = n.count();
      return n.tail;
    }
    if (n.empty()) return Corrupt(n.number, "has no children");
    if (slot) *slot = n.count() - 1;
    return n.children.back();
  }

  // The largest entry under `number`.
  Result<std::vector<uint8_t>> MaxOf(uint32_t number) {
    for (uint32_t depth = 0; depth <= kMaxDepth; ++depth) {
      JET_ASSIGN_OR_RETURN(const Node* n, Load(number));
      if (n->leaf) {
        if (n->empty()) return Corrupt(number, "is an empty leaf inside the tree");
        ByteView b = n->back();
        return std::vector<uint8_t>(b.begin(), b.end());
      }
      if (n->tail != 0) {
        number = n->tail;
      } else if (!n->empty()) {
        ByteView b = n->back();
        return std::vector<uint8_t>(b.begin(), b.end());
      } else {
        return Corrupt(number, "has no children");
      }
    }
    return Corrupt(number, "is impossibly deep");
  }

  Result<std::vector<uint8_t>> MaxOfNode(const Node& n) {
    if (!n.leaf && n.tail != 0) return MaxOf(n.tail);
    if (n.empty()) return std::vector<uint8_t>();
    ByteView b = n.back();
    return std::vector<uint8_t>(b.begin(), b.end());
  }

  // Gives an intermediate page Jet's tail shape: with two or more children
  // the last one is the tail.
  static void PromoteTail(Node& n) {
    if (!n.leaf && n.tail == 0 && n.count() >= 2) {
      n.tail = n.children.back();
      n.Erase(n.count() - 1);
    }
  }

  // Splits an over-full page in two. The lower half stays on `n`, the upper
  // half goes to a new page to its right; both are saved.
  Result<Outcome> Split(Node& n) {
    JET_ASSIGN_OR_RETURN(Node right, NewPage(n.leaf));
    // The tail becomes an ordinary entry while the children are shared out.
    if (!n.leaf && n.tail != 0) {
      JET_ASSIGN_OR_RETURN(std::vector<uint8_t> tail_max, MaxOf(n.tail));
      n.PushBack(View(tail_max), n.tail);
      n.tail = 0;
    }
    const size_t per_entry = n.leaf ? 0 : 4;
    const size_t total = n.data.size() + per_entry * n.count();
    size_t half = 0, bytes = 0;
    if (n.leaf && appended_ && n.count() >= 2) {
      // An entry past the end of the last leaf starts a new leaf of its own
      // and the full one stays as it is, as Access fills its leaves when
      // rows arrive in key order.
      half = n.count() - 1;
    } else {
      while (half + 1 < n.count() &&
             bytes + (n.ends[half] - n.begin_of(half)) + per_entry <= total / 2) {
        bytes += n.ends[half] - n.begin_of(half) + per_entry;
        ++half;
      }
    }
    if (half == 0) half = 1;
    n.MoveTail(half, &right);
    Outcome out;
    out.split = true;
    out.right = right.number;
    ByteView rb = right.back(), lb = n.back();
    out.right_max.assign(rb.begin(), rb.end());
    out.max.assign(lb.begin(), lb.end());
    PromoteTail(n);
    PromoteTail(right);
    right.prev = n.number;
    right.next = n.next;
    const uint32_t old_next = n.next;
    n.next = right.number;
    const uint32_t right_number = right.number;
    JET_RETURN_IF_ERROR(Save(n));
    JET_RETURN_IF_ERROR(Save(std::move(right)));
    JET_RETURN_IF_ERROR(SetLink(old_next, /*prev=*/true, right_number));
    return out;
  }

  Result<Outcome> InsertAt(uint32_t number, ByteView e, uint32_t depth) {
    if (depth > kMaxDepth) return Corrupt(number, "is impossibly deep");
    JET_ASSIGN_OR_RETURN(const Node* cached, Load(number));
    Node n;
    if (cached->leaf) {
      size_t i = LowerBound(*cached, e);
      if (i < cached->count() && Same(cached->entry(i), e)) {
        return Corrupt(number, "already holds the entry");
      }
      appended_ = i == cached->count() && cached->next == 0;
      n = *cached;
      n.Insert(i, e, 0);
    } else {
      size_t slot = 0;
      JET_ASSIGN_OR_RETURN(uint32_t child, ChildFor(*cached, e, &slot));
      JET_ASSIGN_OR_RETURN(Outcome below, InsertAt(child, e, depth + 1));
      JET_ASSIGN_OR_RETURN(cached, Load(number));  // the cache may have grown meanwhile
      const bool is_tail = slot == cached->count();
      if (!below.split && (is_tail || Same(cached->entry(slot), View(below.max)))) {
        // Nothing this page says has changed.
        Outcome out;
        JET_ASSIGN_OR_RETURN(out.max, MaxOfNode(*cached));
        return out;
      }
      n = *cached;
      if (!is_tail) n.Set(slot, View(below.max));
      if (below.split) {
        if (is_tail) {
          // The old tail becomes an ordinary child; its right half is the
          // new tail.
          n.PushBack(View(below.max), child);
          n.tail = below.right;
        } else {
          n.Insert(slot + 1, View(below.right_max), below.right);
          PromoteTail(n);
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
    Outcome out;
    JET_ASSIGN_OR_RETURN(out.max, MaxOfNode(n));
    JET_RETURN_IF_ERROR(Save(std::move(n)));
    return out;
  }

  // Moves the over-full root's contents into two new pages below it.
  Status GrowRoot() {
    Node old = std::move(root_overflow_);
    JET_ASSIGN_OR_RETURN(Node left, NewPage(old.leaf));
    const uint32_t left_number = left.number;
    old.number = left_number;
    old.prev = old.next = 0;
    JET_ASSIGN_OR_RETURN(Outcome halves, Split(old));
    Node root;
    root.number = index_.root_page;
    root.leaf = false;
    root.PushBack(View(halves.max), left_number);
    root.tail = halves.right;
    return Save(std::move(root));
  }

  Result<Outcome> RemoveAt(uint32_t number, ByteView e, uint32_t depth) {
    if (depth > kMaxDepth) return Corrupt(number, "is impossibly deep");
    JET_ASSIGN_OR_RETURN(const Node* cached, Load(number));
    Node n = *cached;
    if (n.leaf) {
      size_t i = LowerBound(n, e);
      if (i >= n.count() || !Same(n.entry(i), e)) {
        return Corrupt(number, "lacks the entry of a row being changed (the index is damaged)");
      }
      n.Erase(i);
    } else {
      size_t slot = 0;
      JET_ASSIGN_OR_RETURN(uint32_t child, ChildFor(n, e, &slot));
      JET_ASSIGN_OR_RETURN(Outcome below, RemoveAt(child, e, depth + 1));
      const bool is_tail = slot == n.count();
      if (below.empty) {
        // Drop the empty child and keep the tail rule.
        if (is_tail) {
          n.tail = 0;
          PromoteTail(n);
        } else {
          n.Erase(slot);
          if (n.empty() && n.tail != 0) {
            JET_ASSIGN_OR_RETURN(std::vector<uint8_t> tail_max, MaxOf(n.tail));
            n.PushBack(View(tail_max), n.tail);
            n.tail = 0;
          }
        }
      } else if (!is_tail) {
        n.Set(slot, View(below.max));
      }
    }
    Outcome out;
    const bool empty = n.empty() && n.tail == 0;
    if (empty && number != index_.root_page) {
      // Unlink the page from its level and give it back.
      JET_RETURN_IF_ERROR(SetLink(n.prev, /*prev=*/false, n.next));
      JET_RETURN_IF_ERROR(SetLink(n.next, /*prev=*/true, n.prev));
      JET_RETURN_IF_ERROR(FreePage(number));
      out.empty = true;
      return out;
    }
    if (empty) n.leaf = true;  // an empty tree is a single empty leaf
    JET_ASSIGN_OR_RETURN(out.max, MaxOfNode(n));
    JET_RETURN_IF_ERROR(Save(std::move(n)));
    return out;
  }

  Pager& pager_;
  const TableDef& table_;
  const PhysicalIndex& index_;
  std::unordered_map<uint32_t, Node> cache_;
  Node root_overflow_;
  bool appended_ = false;  // the entry being inserted goes past the last leaf's end
  std::string index_name_;
};

IndexWriter::IndexWriter(Pager& pager, const DatabaseHeader& header, const TableDef& table)
    : pager_(pager), header_(header), table_(table) {}

IndexWriter::~IndexWriter() = default;

IndexWriter::BTree& IndexWriter::Tree(size_t index) {
  if (trees_.size() < table_.physical_indexes.size()) trees_.resize(table_.physical_indexes.size());
  if (!trees_[index]) {
    const PhysicalIndex& ix = table_.physical_indexes[index];
    trees_[index] = std::make_unique<BTree>(pager_, table_, ix, IndexName(ix));
  }
  return *trees_[index];
}

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
    BTree& tree = Tree(i);
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
    BTree& tree = Tree(i);
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
    BTree& tree = Tree(i);
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
    BTree& tree = Tree(i);
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
