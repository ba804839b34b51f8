// SPDX-License-Identifier: Apache-2.0
#include "jet/index/index_writer.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "jet/format/usage_map.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"

namespace jet {

namespace {

bool Less(ByteView a, ByteView b) { return EntryLess(a, b); }
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
  // The bytes every entry shares with the first, and at most each entry's
  // size less one: worked out when first asked for, kept up to date by
  // Insert, forgotten by the other changes.
  static constexpr size_t kUnknown = SIZE_MAX;
  mutable size_t shared = kUnknown;

  size_t count() const { return ends.size(); }
  bool empty() const { return ends.empty(); }
  size_t begin_of(size_t i) const { return i ? ends[i - 1] : 0; }
  ByteView entry(size_t i) const {
    return ByteView(data.data() + begin_of(i), ends[i] - begin_of(i));
  }
  ByteView back() const { return entry(count() - 1); }

  static size_t CommonPrefix(ByteView a, ByteView b) {
    const size_t n = std::min(a.size(), b.size());
    return size_t(std::mismatch(a.begin(), a.begin() + std::ptrdiff_t(n), b.begin()).first -
                  a.begin());
  }

  size_t Shared() const {
    if (shared != kUnknown) return shared;
    size_t p = 0;
    if (!empty()) {
      ByteView first = entry(0);
      p = first.size() - 1;
      for (size_t i = 1; i < count() && p > 0; ++i) {
        ByteView e = entry(i);
        p = std::min({p, e.size() - 1, CommonPrefix(first, e)});
      }
    }
    return shared = p;
  }

  void Insert(size_t i, ByteView e, uint32_t child) {
    if (empty()) {
      shared = e.size() - 1;
    } else if (shared != kUnknown) {
      shared = std::min({shared, e.size() - 1, CommonPrefix(entry(0), e)});
    }
    const size_t at = begin_of(i);
    data.insert(data.begin() + std::ptrdiff_t(at), e.begin(), e.end());
    ends.insert(ends.begin() + std::ptrdiff_t(i), uint32_t(at));
    for (size_t k = i; k < ends.size(); ++k) ends[k] += uint32_t(e.size());
    if (!leaf) children.insert(children.begin() + std::ptrdiff_t(i), child);
  }
  void Erase(size_t i) {
    shared = kUnknown;
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
    shared = kUnknown;
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

  // --- Bulk building ---

  // While deferring, changed pages stay parsed and are written into the
  // pager's batch once, by WriteDeferred, however many entries went into
  // them; nothing else may read the index's pages from the pager meanwhile.
  void Defer() { deferring_ = true; }
  size_t deferred_pages() const { return unsaved_.size(); }
  Status WriteDeferred() {
    std::vector<uint32_t> numbers(unsaved_.begin(), unsaved_.end());
    std::sort(numbers.begin(), numbers.end());
    unsaved_.clear();
    for (uint32_t number : numbers) {
      auto it = cache_.find(number);
      if (it != cache_.end()) JET_RETURN_IF_ERROR(Save(it->second, /*keep=*/false));
    }
    deferring_ = false;
    return Status::Ok();
  }

  // True when the tree holds no entry.
  Result<bool> Empty() {
    JET_ASSIGN_OR_RETURN(const Node* root, Load(index_.root_page));
    return root->leaf && root->empty();
  }

  // Hands every entry of the tree, in order, to `take`, and lists every page
  // of the tree in `pages`. Nothing is kept parsed.
  using EntrySink = std::function<Status(ByteView)>;
  Status ReadAll(const EntrySink& take, std::vector<uint32_t>* pages) {
    return Walk(index_.root_page, 0, take, pages);
  }

  // Writes the tree anew from `entries`, sorted and free of repeats: leaves
  // filled as Access fills them when entries arrive in key order (see Split),
  // then each level above them filled the same way, up to the root, which
  // keeps its page. Pages in `reuse` (pages of this index that the old tree
  // had, the root excepted) are written over first, in order; new pages
  // are added after them, and any not needed are given back.
  Status Build(EntryRuns& entries, const File* runs, std::vector<uint32_t> reuse) {
    cache_.clear();
    std::sort(reuse.begin(), reuse.end());
    reuse_ = std::move(reuse);
    reuse_next_ = 0;
    const size_t capacity = Capacity();

    std::vector<Up> ups;
    LevelBuilder leaves(*this, &ups);
    Node leaf;
    JET_RETURN_IF_ERROR(entries.Start(runs));
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, entries.Next());
      if (!more) break;
      ByteView e = entries.entry();
      if (!leaf.empty()) {
        // What the leaf would share with the newest entry in (as Insert
        // keeps it), and its size then.
        const size_t shared =
            Storable(std::min({leaf.Shared(), e.size() - 1, Node::CommonPrefix(leaf.entry(0), e)}));
        if (leaf.data.size() + e.size() - shared * leaf.count() > capacity) {
          JET_RETURN_IF_ERROR(leaves.Push(std::move(leaf)));
          leaf = Node();
        }
      }
      leaf.PushBack(e, 0);
    }
    if (!leaf.empty() || ups.empty()) JET_RETURN_IF_ERROR(leaves.Push(std::move(leaf)));
    JET_RETURN_IF_ERROR(leaves.Finish());

    // Levels above: each page takes children while the entries of all but
    // its last fit; the last is its tail.
    while (ups.size() > 1) {
      std::vector<Up> below = std::move(ups);
      ups.clear();
      LevelBuilder level(*this, &ups);
      size_t i = 0;
      while (i < below.size()) {
        Node n;
        n.leaf = false;
        size_t bytes = 0;
        n.PushBack(View(below[i].max), below[i].page);
        ++i;
        while (i < below.size() && bytes + n.back().size() + 4 <= capacity) {
          bytes += n.back().size() + 4;
          n.PushBack(View(below[i].max), below[i].page);
          ++i;
        }
        PromoteTail(n);
        JET_RETURN_IF_ERROR(level.Push(std::move(n), below[i - 1].max));
      }
      JET_RETURN_IF_ERROR(level.Finish());
    }

    // Pages of the old tree not needed any more.
    for (size_t k = reuse_next_; k < reuse_.size(); ++k) JET_RETURN_IF_ERROR(FreePage(reuse_[k]));
    reuse_.clear();
    cache_.clear();
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
    if (n.next == 0 && Unshared(n) <= Capacity()) return 0;
    return Storable(n.Shared());
  }

  // How much of `shared` bytes a page can store once: Jet 3 keeps the
  // prefix length in one byte.
  size_t Storable(size_t shared) const {
    return pager_.format().index_prefix_length_size == 1 ? std::min<size_t>(shared, 255) : shared;
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
    Node n;
    JET_RETURN_IF_ERROR(Parse(number, &n));
    auto [slot, inserted] = cache_.emplace(number, std::move(n));
    (void)inserted;
    return &slot->second;
  }

  // Reads page `number` into `n`, whole prefixes restored.
  Status Parse(uint32_t number, Node* out) {
    JET_ASSIGN_OR_RETURN(PageRef ref, pager_.Read(number));
    const Page& page = *ref;
    const Format& f = pager_.format();
    if (page.type() != kPageIndexLeaf && page.type() != kPageIndexNode) {
      return Corrupt(number, "is not an index page");
    }
    const uint8_t* p = page.bytes.data();
    if (Le32(p + kIndexOwner) != table_.tdef_page)
      return Corrupt(number, "belongs to another table");
    Node& n = *out;
    n = Node();
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
    return Status::Ok();
  }

  // Writes `n` into its page. The parsed copy stays for later changes
  // unless `keep` is false (bulk building writes each page once).
  Status Save(Node n, bool keep = true) {
    const Format& f = pager_.format();
    const size_t size = Size(n);
    if (size > Capacity()) return Corrupt(n.number, "would overflow");
    if (deferring_ && keep) {
      // Written out once, by WriteDeferred.
      unsaved_.insert(n.number);
      const uint32_t number = n.number;
      cache_[number] = std::move(n);
      return Status::Ok();
    }
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
    if (keep) {
      const uint32_t number = n.number;
      cache_[number] = std::move(n);
    } else {
      cache_.erase(n.number);
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

  // Gives a page that left the tree back to the global map; one the map
  // cannot take (see FreePage) stays in the index's map, blank.
  Status FreePage(uint32_t number) {
    cache_.erase(number);
    unsaved_.erase(number);
    bool freed = false;
    JET_RETURN_IF_ERROR(jet::FreePage(pager_, number, &freed));
    if (freed) JET_RETURN_IF_ERROR(UsageMapRemove(pager_, index_.usage_map, number));
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
  // Whether leaf `n`, split before entry `half`, gives two pages that fit.
  bool SplitFits(const Node& n, size_t half) const {
    // Each part shares at least what the whole shares: when that is enough,
    // the parts need not be built.
    const size_t shared = Storable(n.Shared());
    const size_t left = n.begin_of(half), right = n.data.size() - left;
    if (left - shared * (half - 1) <= Capacity() &&
        right - shared * (n.count() - half - 1) <= Capacity()) {
      return true;
    }
    auto fits = [&](size_t from, size_t to, uint32_t next) {
      Node part;
      part.next = next;
      for (size_t i = from; i < to; ++i) part.PushBack(n.entry(i), 0);
      return Size(part) <= Capacity();
    };
    return fits(0, half, /*next=*/1) && fits(half, n.count(), n.next);
  }

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
    if (n.leaf && !SplitFits(n, half)) {
      // Halves by bytes may not fit when an entry that does not share the
      // leaf's prefix came in (it sorts first or last): its half would lose
      // the prefix. Take the nearest split point where both halves fit.
      size_t found = 0;
      for (size_t d = 1; d < n.count() && found == 0; ++d) {
        if (half > d && SplitFits(n, half - d)) {
          found = half - d;
        } else if (half + d < n.count() && SplitFits(n, half + d)) {
          found = half + d;
        }
      }
      if (found == 0) return Corrupt(n.number, "cannot be split into two pages");
      half = found;
    }
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
        JET_RETURN_IF_ERROR(MergeRight(n, slot));
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

  // After a removal from the leaf that is child `slot` (not the tail) of
  // intermediate page `n`, moves the entries of the leaf to its right (the
  // next child, or the tail) into it when the two together fill at most two
  // thirds of a page, and gives the emptied page back. Leaves that lose
  // entries at random but never all of them would otherwise stay sparse,
  // and the index of a table whose rows come and go would keep growing.
  // The third left free spares the next inserts a split.
  Status MergeRight(Node& n, size_t slot) {
    const uint32_t left_number = n.children[slot];
    const bool right_is_tail = slot + 1 == n.count();
    const uint32_t right_number = right_is_tail ? n.tail : n.children[slot + 1];
    if (right_number == 0) return Status::Ok();
    JET_ASSIGN_OR_RETURN(const Node* cached_left, Load(left_number));
    if (!cached_left->leaf || cached_left->next != right_number) return Status::Ok();
    Node left = *cached_left;
    JET_ASSIGN_OR_RETURN(const Node* cached_right, Load(right_number));
    if (!cached_right->leaf || cached_right->prev != left_number) return Status::Ok();
    const Node right = *cached_right;
    for (size_t i = 0; i < right.count(); ++i) left.PushBack(right.entry(i), 0);
    left.next = right.next;
    if (Size(left) > Capacity() * 2 / 3) return Status::Ok();
    JET_RETURN_IF_ERROR(Save(std::move(left)));
    JET_RETURN_IF_ERROR(SetLink(right.next, /*prev=*/true, left_number));
    JET_RETURN_IF_ERROR(FreePage(right_number));
    if (!right_is_tail) {
      // The left child now ends where the right one did.
      const std::vector<uint8_t> max(n.entry(slot + 1).begin(), n.entry(slot + 1).end());
      n.Set(slot, View(max));
      n.Erase(slot + 1);
      return Status::Ok();
    }
    // The left child takes the tail's place; a page with one child keeps it
    // as an entry.
    n.Erase(slot);
    n.tail = left_number;
    if (n.empty()) {
      JET_ASSIGN_OR_RETURN(std::vector<uint8_t> max, MaxOf(left_number));
      n.PushBack(View(max), left_number);
      n.tail = 0;
    }
    return Status::Ok();
  }

  // One page of a level being built, and its largest entry, for the level
  // above.
  struct Up {
    std::vector<uint8_t> max;
    uint32_t page = 0;
  };

  // Writes the pages of one level in order, linking each to its
  // neighbours. A level of one page is the root.
  class LevelBuilder {
   public:
    LevelBuilder(BTree& tree, std::vector<Up>* ups) : tree_(tree), ups_(ups) {}

    // A leaf's largest entry is its last; an intermediate page's is given.
    Status Push(Node n, std::vector<uint8_t> max = {}) {
      if (max.empty() && n.leaf && !n.empty()) {
        ByteView b = n.back();
        max.assign(b.begin(), b.end());
      }
      if (pages_ > 0) {
        // Not the only page: neither is the root.
        if (pending_.number == 0) {
          JET_ASSIGN_OR_RETURN(pending_.number, tree_.TakePage(pending_.leaf));
        }
        JET_ASSIGN_OR_RETURN(n.number, tree_.TakePage(n.leaf));
        pending_.next = n.number;
        n.prev = pending_.number;
        JET_RETURN_IF_ERROR(Emit());
      }
      pending_ = std::move(n);
      pending_max_ = std::move(max);
      ++pages_;
      return Status::Ok();
    }

    Status Finish() {
      if (pages_ == 0) return Status::Ok();
      if (pages_ == 1) {
        pending_.number = tree_.index_.root_page;
        pending_.prev = pending_.next = 0;
      }
      return Emit();
    }

   private:
    Status Emit() {
      ups_->push_back(Up{std::move(pending_max_), pending_.number});
      pending_max_.clear();
      JET_RETURN_IF_ERROR(tree_.Save(std::move(pending_), /*keep=*/false));
      // Nothing of the batch is held between pages: it may go to the file.
      return tree_.pager_.MaybeSpill();
    }

    BTree& tree_;
    std::vector<Up>* ups_;
    Node pending_;
    std::vector<uint8_t> pending_max_;
    size_t pages_ = 0;
  };

  Result<uint32_t> TakePage(bool leaf) {
    if (reuse_next_ < reuse_.size()) return reuse_[reuse_next_++];
    JET_ASSIGN_OR_RETURN(Node n, NewPage(leaf));
    return n.number;
  }

  Status Walk(uint32_t number, uint32_t depth, const EntrySink& take,
              std::vector<uint32_t>* pages) {
    if (depth > kMaxDepth) return Corrupt(number, "is impossibly deep");
    if (pages->size() > pager_.page_count()) return Corrupt(number, "has pages that loop");
    Node n;
    JET_RETURN_IF_ERROR(Parse(number, &n));
    pages->push_back(number);
    if (n.leaf) {
      for (size_t i = 0; i < n.count(); ++i) JET_RETURN_IF_ERROR(take(n.entry(i)));
      return Status::Ok();
    }
    for (uint32_t child : n.children) JET_RETURN_IF_ERROR(Walk(child, depth + 1, take, pages));
    if (n.tail != 0) JET_RETURN_IF_ERROR(Walk(n.tail, depth + 1, take, pages));
    return Status::Ok();
  }

  Pager& pager_;
  const TableDef& table_;
  const PhysicalIndex& index_;
  std::unordered_map<uint32_t, Node> cache_;
  bool deferring_ = false;
  std::unordered_set<uint32_t> unsaved_;  // while deferring: pages parsed, not written
  std::vector<uint32_t> reuse_;           // while building: old pages to write over
  size_t reuse_next_ = 0;
  Node root_overflow_;
  bool appended_ = false;  // the entry being inserted goes past the last leaf's end
  std::string index_name_;
};

IndexWriter::IndexWriter(Pager& pager, const DatabaseHeader& header, const TableDef& table)
    : pager_(pager), header_(header), table_(table) {}

IndexWriter::~IndexWriter() { DropSpill(); }

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

Status IndexWriter::Collect(const std::vector<Value>& row, RowPointer at, uint32_t ordinal) {
  JET_RETURN_IF_ERROR(Keys(row, &scratch_keys_));
  if (collected_.size() < scratch_keys_.size()) collected_.resize(scratch_keys_.size());
  uint8_t pointer[4];
  PutBe24(pointer, at.page);
  pointer[3] = at.row;
  size_t memory = 0;
  for (size_t i = 0; i < scratch_keys_.size(); ++i) {
    IndexKeyState& k = scratch_keys_[i];
    if (!k.skip) {
      k.key.insert(k.key.end(), pointer, pointer + 4);
      collected_[i].Add(View(k.key), ordinal, k.any_null ? 1 : 0);
    }
    memory += collected_[i].memory();
  }
  // An encoded database's keys are not written anywhere in plain form:
  // its entries stay in memory.
  if (memory < collect_memory_ || pager_.encoded()) return Status::Ok();
  for (EntryRuns& c : collected_) JET_RETURN_IF_ERROR(WriteRun(c));
  return Status::Ok();
}

Status IndexWriter::WriteRun(EntryRuns& c) {
  if (c.in_memory() == 0) return Status::Ok();
  if (!spill_) {
    // Beside the database, where there is room for as much again. Its name
    // goes at once (on Windows, when it is closed): the open file is all
    // that is used, and a program that stops leaves nothing behind.
    JET_ASSIGN_OR_RETURN(spill_, File::Create(SpillPath(), /*truncate=*/true));
    spill_->CopyPermissionsFrom(pager_.file());
    (void)RemoveFile(SpillPath());
    spill_end_ = 0;
  }
  return c.WriteRun(*spill_, &spill_end_);
}

std::string IndexWriter::SpillPath() const { return pager_.path() + "-sort"; }

void IndexWriter::DropSpill() {
  if (!spill_) return;
  spill_.reset();
  (void)RemoveFile(SpillPath());
}

Status IndexWriter::WriteCollected(uint64_t existing_rows) {
  Status s = WriteCollectedEntries(existing_rows);
  collected_.clear();
  DropSpill();
  return s;
}

Status IndexWriter::WriteCollectedEntries(uint64_t existing_rows) {
  // An index is built anew when it is empty or holds fewer than this many
  // entries per entry to add; reading and rewriting it whole then costs less
  // than finding each entry's place.
  constexpr uint64_t kRebuildRatio = 8;
  constexpr size_t kMaxDeferredPages = 4096;

  struct Plan {
    bool rebuild = false;
    std::vector<uint32_t> old_pages;
    int64_t distinct_delta = 0;
  };
  std::vector<Plan> plans(collected_.size());
  uint32_t first_failure = 0;  // the smallest ordinal of a row that breaks uniqueness
  size_t failing_index = 0;
  auto fail = [&](uint32_t ordinal, size_t index) {
    if (ordinal != 0 && (first_failure == 0 || ordinal < first_failure)) {
      first_failure = ordinal;
      failing_index = index;
    }
  };

  // First every check, before any page changes.
  for (size_t i = 0; i < collected_.size(); ++i) {
    EntryRuns& c = collected_[i];
    if (c.empty()) continue;
    const PhysicalIndex& ix = table_.physical_indexes[i];
    BTree& tree = Tree(i);
    Plan& plan = plans[i];
    uint64_t added = c.in_memory();
    for (const auto& run : c.runs()) added += run.second / (EntryRuns::kRecordHeader + 4);  // at most
    JET_ASSIGN_OR_RETURN(bool empty, tree.Empty());
    plan.rebuild = empty || added * kRebuildRatio >= existing_rows;
    if (plan.rebuild && !empty) {
      // The old entries join the new ones, in runs of their own when many.
      JET_RETURN_IF_ERROR(tree.ReadAll(
          [&](ByteView e) -> Status {
            c.Add(e);
            return c.memory() >= collect_memory_ && !pager_.encoded() ? WriteRun(c)
                                                                              : Status::Ok();
          },
          &plan.old_pages));
    }
    // Runs of one key: a unique index refuses every new entry of a run that
    // holds an old one, and every new one but the first row's otherwise,
    // unless the key has a null part. Each run with no old entry is a key
    // the index did not have.
    JET_RETURN_IF_ERROR(c.Start(spill_.get()));
    std::vector<uint8_t> key;
    std::vector<uint32_t> group;  // ordinals of the new entries with `key`
    bool old = false, key_null = false, more = true;
    auto close_group = [&]() -> Status {
      if (group.empty()) return Status::Ok();
      if (!plan.rebuild) {
        // The old entries are in the tree only.
        JET_ASSIGN_OR_RETURN(old, tree.ContainsKey(key, RowPointer{0, 0}));
      }
      if (!old) ++plan.distinct_delta;
      if (ix.unique() && !key_null) {
        const uint32_t first = *std::min_element(group.begin(), group.end());
        for (uint32_t ordinal : group) {
          if (old || ordinal != first) fail(ordinal, i);
        }
      }
      return Status::Ok();
    };
    while (more) {
      JET_ASSIGN_OR_RETURN(more, c.Next());
      const ByteView entry_key = more ? c.entry().first(c.entry().size() - 4) : ByteView();
      if (more && Same(entry_key, View(key)) && !key.empty()) {
        // The same key again.
      } else {
        JET_RETURN_IF_ERROR(close_group());
        if (!more) break;
        key.assign(entry_key.begin(), entry_key.end());
        group.clear();
        old = key_null = false;
      }
      if (c.tag() == 0) {  // its row's ordinal in the step; 0: the index had it
        old = true;
      } else {
        group.push_back(c.tag());
        key_null |= c.extra() != 0;  // some column of the key is null
      }
    }
  }
  if (first_failure != 0) {
    return Status::Error(ErrorKind::kConstraint,
                         "Row " + std::to_string(first_failure) +
                             ": The change would create a duplicate value in the unique index '" +
                             IndexName(table_.physical_indexes[failing_index]) + "' of table '" +
                             table_.name + "'")
        .AtFile(pager_.path());
  }

  // Then the pages.
  for (size_t i = 0; i < collected_.size(); ++i) {
    EntryRuns& c = collected_[i];
    if (c.empty()) continue;
    BTree& tree = Tree(i);
    Plan& plan = plans[i];
    if (plan.rebuild) {
      std::vector<uint32_t> reuse;
      for (uint32_t page : plan.old_pages) {
        if (page != table_.physical_indexes[i].root_page) reuse.push_back(page);
      }
      JET_RETURN_IF_ERROR(tree.Build(c, spill_.get(), std::move(reuse)));
    } else {
      // In key order, each page written once (or once per few thousand
      // pages changed, to bound the memory they take).
      JET_RETURN_IF_ERROR(c.Start(spill_.get()));
      std::vector<uint8_t> entry;
      tree.Defer();
      while (true) {
        JET_ASSIGN_OR_RETURN(bool more, c.Next());
        if (!more) break;
        entry.assign(c.entry().begin(), c.entry().end());
        JET_RETURN_IF_ERROR(tree.Insert(entry));
        if (tree.deferred_pages() >= kMaxDeferredPages) {
          JET_RETURN_IF_ERROR(tree.WriteDeferred());
          JET_RETURN_IF_ERROR(pager_.MaybeSpill());
          tree.Defer();
        }
      }
      JET_RETURN_IF_ERROR(tree.WriteDeferred());
      JET_RETURN_IF_ERROR(pager_.MaybeSpill());
    }
    if (plan.distinct_delta != 0) JET_RETURN_IF_ERROR(AdjustCount(i, int(plan.distinct_delta)));
    c = EntryRuns();
  }
  return Status::Ok();
}

}  // namespace jet
