// SPDX-License-Identifier: Apache-2.0
// SortedEntries: index entries gathered in any order and read back in entry
// order, in bounded memory. Entries are kept in memory until their owner
// calls Spill, which writes them as one sorted run to a scratch file that
// several SortedEntries share; reading merges the runs with what is still
// in memory.
//
// The scratch file lies beside the database (NAME.mdb-check; -check2 and
// on when another check has that name open) and loses its name as soon as
// it is open (on Windows, once closed), so a check that stops leaves
// nothing behind. Where it cannot be made (a read-only folder, say) or
// must not be (an encoded database, whose keys are never written out in
// plain form), entries stay in memory.
//
// A run is a sequence of records in entry order: 2 bytes of entry size,
// then the entry.

#ifndef JET_CHECK_SORTED_ENTRIES_H_
#define JET_CHECK_SORTED_ENTRIES_H_

#include "jet/internal/guard.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "jet/index/packed_entries.h"
#include "jet/os/file.h"
#include "jet/storage/bytes.h"

namespace jet {

class ScratchFile {
 public:
  // `database` is the database's path; `allowed` false keeps everything in
  // memory.
  ScratchFile(std::string database, bool allowed)
      : database_(std::move(database)), allowed_(allowed) {}
  ~ScratchFile() { Drop(); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Opens the file on first use; false if there is none to write to.
  bool Ready() {
    if (file_ || !allowed_) return file_ != nullptr;
    for (int n = 1; n <= 9 && !file_; ++n) {
      const std::string path = database_ + "-check" + (n == 1 ? "" : std::to_string(n));
      auto created = File::CreateNew(path);
      if (!created.ok()) continue;
      file_ = std::move(*created);
      path_ = path;
      (void)RemoveFile(path_);
    }
    allowed_ = file_ != nullptr;
    return allowed_;
  }

  // Appends `bytes`; where they start.
  Result<uint64_t> Append(std::span<const uint8_t> bytes) {
    const uint64_t at = end_;
    JET_RETURN_IF_ERROR(file_->WriteAt(end_, bytes));
    end_ += bytes.size();
    return at;
  }
  // Lets the next Append write from the start again: the runs written so
  // far are no longer read.
  void Reuse() { end_ = 0; }
  Status ReadAt(uint64_t at, std::span<uint8_t> out) const { return file_->ReadAt(at, out); }
  const std::string& path() const { return path_; }

 private:
  void Drop() {
    if (!file_) return;
    file_.reset();
    (void)RemoveFile(path_);
  }

  std::string database_;
  bool allowed_;
  std::unique_ptr<File> file_;
  std::string path_;
  uint64_t end_ = 0;
};

class SortedEntries {
 public:
  explicit SortedEntries(ScratchFile* scratch) : scratch_(scratch) {}

  void Add(ByteView e) { memory_.Add(e); }
  size_t memory() const { return memory_.memory(); }
  size_t size() const { return count_ + memory_.size(); }

  // Writes the entries in memory out as a sorted run, if there is a
  // scratch file; otherwise they stay.
  Status Spill() {
    if (memory_.empty() || !scratch_->Ready()) return Status::Ok();
    memory_.Sort();
    std::vector<uint8_t> out;
    out.reserve(kBuffer + 2 + 0xFFFF);
    uint64_t start = 0, bytes = 0;
    auto flush = [&]() -> Status {
      JET_ASSIGN_OR_RETURN(uint64_t at, scratch_->Append(out));
      if (bytes == 0) start = at;
      bytes += out.size();
      out.clear();
      return Status::Ok();
    };
    for (size_t i = 0; i < memory_.size(); ++i) {
      const ByteView e = memory_[i];
      uint8_t size[2];
      PutLe16(size, uint16_t(e.size()));
      out.insert(out.end(), size, size + 2);
      out.insert(out.end(), e.begin(), e.end());
      if (out.size() >= kBuffer) JET_RETURN_IF_ERROR(flush());
    }
    if (!out.empty()) JET_RETURN_IF_ERROR(flush());
    runs_.emplace_back(start, bytes);
    count_ += memory_.size();
    memory_.Clear();
    return Status::Ok();
  }

  // Starts (or starts again) reading the entries in order.
  Status Start() {
    memory_.Sort();
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

 private:
  static constexpr size_t kNone = SIZE_MAX;
  static constexpr size_t kBuffer = 1 << 16;

  struct Source {
    uint64_t at = 0, end = 0;  // what is left of a run in the file
    bool in_memory = false;
    size_t next = 0;  // in memory_
    std::vector<uint8_t> buffer;
    size_t pos = 0;
    ByteView entry;
  };
  // Heap order: the source whose entry comes first on top.
  struct Later {
    const SortedEntries* s;
    bool operator()(size_t a, size_t b) const {
      return EntryLess(s->sources_[b].entry, s->sources_[a].entry);
    }
  };

  Result<bool> Advance(Source& s) {
    if (s.in_memory) {
      if (s.next >= memory_.size()) return false;
      s.entry = memory_[s.next++];
      return true;
    }
    if (s.buffer.size() - s.pos < 2) JET_RETURN_IF_ERROR(Fill(s));
    if (s.buffer.size() - s.pos < 2) return false;
    const size_t size = Le16(s.buffer.data() + s.pos);
    if (s.buffer.size() - s.pos < 2 + size) JET_RETURN_IF_ERROR(Fill(s));
    if (s.buffer.size() - s.pos < 2 + size) {
      return Status::IoError("A sorted run of index entries is cut short").AtFile(scratch_->path());
    }
    s.entry = ByteView(s.buffer.data() + s.pos + 2, size);
    s.pos += 2 + size;
    return true;
  }

  // Keeps the unread bytes and reads on.
  Status Fill(Source& s) {
    s.buffer.erase(s.buffer.begin(), s.buffer.begin() + std::ptrdiff_t(s.pos));
    s.pos = 0;
    const size_t kept = s.buffer.size();
    const size_t n = size_t(std::min<uint64_t>(kBuffer, s.end - s.at));
    if (n == 0) return Status::Ok();
    s.buffer.resize(kept + n);
    JET_RETURN_IF_ERROR(scratch_->ReadAt(s.at, std::span<uint8_t>(s.buffer.data() + kept, n)));
    s.at += n;
    return Status::Ok();
  }

  ScratchFile* scratch_;
  PackedEntries memory_;
  size_t count_ = 0;                                 // entries in runs
  std::vector<std::pair<uint64_t, uint64_t>> runs_;  // where each starts, its bytes
  std::vector<Source> sources_;
  std::vector<size_t> heap_;
  size_t current_ = kNone;
};

}  // namespace jet

#endif  // JET_CHECK_SORTED_ENTRIES_H_
