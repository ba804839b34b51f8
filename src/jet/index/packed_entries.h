// SPDX-License-Identifier: Apache-2.0
// PackedEntries: index entries (key, then row pointer) kept back to back in
// one buffer, each with a 16-byte record to sort and find it by. Millions
// of them take their bytes and their records, not an allocation each; the
// bulk index builder and the checker hold whole indexes this way.

#ifndef JET_INDEX_PACKED_ENTRIES_H_
#define JET_INDEX_PACKED_ENTRIES_H_

#include "jet/internal/guard.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "jet/storage/bytes.h"

namespace jet {

// Entry order: byte by byte, a shorter entry first where one begins the
// other (the order of an index's entries).
inline bool EntryLess(ByteView a, ByteView b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

class PackedEntries {
 public:
  // `tag` and `extra` are the owner's to keep beside the entry.
  void Add(ByteView e, uint32_t tag = 0, uint16_t extra = 0) {
    refs_.push_back(Ref{arena_.size(), tag, uint16_t(e.size()), extra});
    arena_.insert(arena_.end(), e.begin(), e.end());
  }

  size_t size() const { return refs_.size(); }
  bool empty() const { return refs_.empty(); }
  ByteView operator[](size_t i) const {
    return ByteView(arena_.data() + refs_[i].at, refs_[i].size);
  }
  uint32_t tag(size_t i) const { return refs_[i].tag; }
  uint16_t extra(size_t i) const { return refs_[i].extra; }
  // Bytes in use (not counting what the buffers keep in reserve).
  size_t memory() const { return arena_.size() + refs_.size() * sizeof(Ref); }

  // Puts the entries in entry order.
  void Sort() {
    std::sort(refs_.begin(), refs_.end(), [this](const Ref& a, const Ref& b) {
      return EntryLess(ByteView(arena_.data() + a.at, a.size),
                       ByteView(arena_.data() + b.at, b.size));
    });
  }
  // Keeps the entries `keep(i)` says yes to, in their order.
  template <typename Keep>
  void Filter(Keep keep) {
    size_t out = 0;
    for (size_t i = 0; i < refs_.size(); ++i) {
      if (keep(i)) refs_[out++] = refs_[i];
    }
    refs_.resize(out);
  }
  void Clear() {
    arena_.clear();
    refs_.clear();
  }

 private:
  struct Ref {
    uint64_t at;
    uint32_t tag;
    uint16_t size, extra;
  };
  std::vector<uint8_t> arena_;
  std::vector<Ref> refs_;
};

}  // namespace jet

#endif  // JET_INDEX_PACKED_ENTRIES_H_
