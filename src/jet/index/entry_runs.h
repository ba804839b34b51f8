// SPDX-License-Identifier: Apache-2.0
// EntryRuns: index entries gathered in any order and read back in entry
// order, in bounded memory. Entries are kept in memory, each with a tag
// and an extra byte of its owner's, until the owner writes them out as one
// sorted run into a file it provides (several EntryRuns may share one);
// reading merges the runs with the entries still in memory. The bulk index
// builder and the checker both gather their entries this way.
//
// A run is a sequence of records in entry order:
//
//   off  size  meaning
//   0    2     entry size, n
//   2    4     tag
//   6    1     extra
//   7    n     the entry

#ifndef JET_INDEX_ENTRY_RUNS_H_
#define JET_INDEX_ENTRY_RUNS_H_

#include "jet/internal/guard.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/status.h"
#include "jet/index/packed_entries.h"
#include "jet/os/file.h"
#include "jet/storage/bytes.h"

namespace jet {

class EntryRuns {
 public:
  static constexpr size_t kRecordHeader = 7;

  void Add(ByteView e, uint32_t tag = 0, uint8_t extra = 0) {
    memory_.Add(e, tag, extra);
    sorted_ = false;
  }

  // Bytes the entries in memory take.
  size_t memory() const { return memory_.memory(); }
  // Entries in memory.
  size_t in_memory() const { return memory_.size(); }
  // Entries in all.
  size_t size() const { return in_runs_ + memory_.size(); }
  bool empty() const { return size() == 0; }
  // Where each run starts in its file, and its bytes.
  const std::vector<std::pair<uint64_t, uint64_t>>& runs() const { return runs_; }

  // Sorts the entries in memory and appends them to `file` at *end as one
  // run (moving *end past it); memory is then empty.
  Status WriteRun(File& file, uint64_t* end) {
    if (memory_.empty()) return Status::Ok();
    Sort();
    std::vector<uint8_t> out;
    out.reserve(kWriteBuffer + kRecordHeader + 0xFFFF);
    const uint64_t start = *end;
    auto flush = [&]() -> Status {
      JET_RETURN_IF_ERROR(file.WriteAt(*end, out));
      *end += out.size();
      out.clear();
      return Status::Ok();
    };
    for (size_t i = 0; i < memory_.size(); ++i) {
      const ByteView e = memory_[i];
      uint8_t header[kRecordHeader];
      PutLe16(header, uint16_t(e.size()));
      PutLe32(header + 2, memory_.tag(i));
      header[6] = uint8_t(memory_.extra(i));
      out.insert(out.end(), header, header + kRecordHeader);
      out.insert(out.end(), e.begin(), e.end());
      if (out.size() >= kWriteBuffer) JET_RETURN_IF_ERROR(flush());
    }
    JET_RETURN_IF_ERROR(flush());
    runs_.emplace_back(start, *end - start);
    in_runs_ += memory_.size();
    memory_.Clear();
    return Status::Ok();
  }

  // Starts (or starts again) reading every entry in order; `file` holds the
  // runs (null if there are none).
  Status Start(const File* file) {
    Sort();
    file_ = file;
    sources_.assign(runs_.size() + 1, Source{});
    heap_.clear();
    current_ = kNone;
    for (size_t i = 0; i < runs_.size(); ++i) {
      sources_[i].at = runs_[i].first;
      sources_[i].end = runs_[i].first + runs_[i].second;
    }
    sources_.back().in_memory = true;
    for (size_t i = 0; i < sources_.size(); ++i) {
      JET_ASSIGN_OR_RETURN(bool more, Advance(sources_[i]));
      if (more) heap_.push_back(i);
    }
    std::make_heap(heap_.begin(), heap_.end(), Later{this});
    return Status::Ok();
  }

  // Moves to the next entry; false at the end.
  Result<bool> Next() {
    if (current_ != kNone) {
      JET_ASSIGN_OR_RETURN(bool more, Advance(sources_[current_]));
      if (more) {
        heap_.push_back(current_);
        std::push_heap(heap_.begin(), heap_.end(), Later{this});
      }
      current_ = kNone;
    }
    if (heap_.empty()) return false;
    std::pop_heap(heap_.begin(), heap_.end(), Later{this});
    current_ = heap_.back();
    heap_.pop_back();
    return true;
  }

  ByteView entry() const { return sources_[current_].entry; }
  uint32_t tag() const { return sources_[current_].tag; }
  uint8_t extra() const { return sources_[current_].extra; }

 private:
  static constexpr size_t kNone = SIZE_MAX;
  static constexpr size_t kReadBuffer = size_t(1) << 16;
  static constexpr size_t kWriteBuffer = size_t(1) << 20;

  struct Source {
    uint64_t at = 0, end = 0;  // a run: what is left of it in the file
    bool in_memory = false;
    size_t next = 0;  // in memory_
    std::vector<uint8_t> buffer;
    size_t pos = 0;  // in `buffer`
    ByteView entry;
    uint32_t tag = 0;
    uint8_t extra = 0;
  };

  // Heap order: the source whose entry comes first on top.
  struct Later {
    const EntryRuns* r;
    bool operator()(size_t a, size_t b) const {
      return EntryLess(r->sources_[b].entry, r->sources_[a].entry);
    }
  };

  void Sort() {
    if (!sorted_) memory_.Sort();
    sorted_ = true;
  }

  Result<bool> Advance(Source& s) {
    if (s.in_memory) {
      if (s.next >= memory_.size()) return false;
      const size_t i = s.next++;
      s.entry = memory_[i];
      s.tag = memory_.tag(i);
      s.extra = uint8_t(memory_.extra(i));
      return true;
    }
    if (!Have(s, kRecordHeader)) {
      JET_RETURN_IF_ERROR(Fill(s));
      if (!Have(s, kRecordHeader)) return false;
    }
    const size_t size = Le16(s.buffer.data() + s.pos);
    if (!Have(s, kRecordHeader + size)) {
      JET_RETURN_IF_ERROR(Fill(s));
      if (!Have(s, kRecordHeader + size)) {
        return Status::IoError("A sorted run of index entries is cut short").AtFile(file_->path());
      }
    }
    const uint8_t* p = s.buffer.data() + s.pos;
    s.tag = Le32(p + 2);
    s.extra = p[6];
    s.entry = ByteView(p + kRecordHeader, size);
    s.pos += kRecordHeader + size;
    return true;
  }

  static bool Have(const Source& s, size_t n) { return s.buffer.size() - s.pos >= n; }

  // Keeps the unread bytes and reads on from the file.
  Status Fill(Source& s) {
    s.buffer.erase(s.buffer.begin(), s.buffer.begin() + std::ptrdiff_t(s.pos));
    s.pos = 0;
    const size_t kept = s.buffer.size();
    const size_t n = size_t(std::min<uint64_t>(kReadBuffer, s.end - s.at));
    if (n == 0) return Status::Ok();
    s.buffer.resize(kept + n);
    JET_RETURN_IF_ERROR(file_->ReadAt(s.at, std::span<uint8_t>(s.buffer.data() + kept, n)));
    s.at += n;
    return Status::Ok();
  }

  PackedEntries memory_;
  bool sorted_ = true;
  std::vector<std::pair<uint64_t, uint64_t>> runs_;  // where each starts, its bytes
  size_t in_runs_ = 0;
  const File* file_ = nullptr;
  std::vector<Source> sources_;
  std::vector<size_t> heap_;
  size_t current_ = kNone;
};

}  // namespace jet

#endif  // JET_INDEX_ENTRY_RUNS_H_
