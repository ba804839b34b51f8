// SPDX-License-Identifier: Apache-2.0
#include "jet/storage/pager.h"

#include <algorithm>
#include <atomic>

#include "jet/io_counts.h"
#include "jet/storage/journal.h"

namespace jet {

namespace {

// This program's page traffic, over every pager (see io_counts.h).
std::atomic<uint64_t> g_pages_read{0};
std::atomic<uint64_t> g_pages_written{0};

Status BrokenStatus(const std::string& path) {
  return Status::IoError(
             "An earlier write to the database failed and could not be undone; close and "
             "reopen the database to roll it back")
      .AtFile(path);
}

Status LostStatus(const std::string& path) {
  return Status::InvalidArgument(
             "An earlier step of this change failed and was undone; roll the change back "
             "before going on")
      .AtFile(path);
}

// The failure of a change that left the database as it was.
Status NotMade(const Status& s) {
  Status failed = Status::Error(s.kind(), s.message() + "; the change was not made");
  failed.AtFile(s.file());
  if (s.page()) failed.AtPage(*s.page());
  return failed;
}

}  // namespace

IoCounts GetIoCounts() {
  return {g_pages_read.load(std::memory_order_relaxed),
          g_pages_written.load(std::memory_order_relaxed)};
}

Pager::Pager(std::unique_ptr<File> file, const Format& format, uint32_t page_count, size_t capacity,
             PageCodec codec)
    : file_(std::move(file)),
      format_(format),
      codec_(codec),
      page_count_(page_count),
      capacity_(capacity < 4 ? 4 : capacity),
      committed_page_count_(page_count) {}

Status Pager::CorruptAt(uint32_t page, const std::string& message) const {
  Status s = Status::Corrupt(message);
  s.AtFile(file_->path()).AtPage(page);
  return s;
}

Result<PageRef> Pager::Read(uint32_t number) {
  if (broken_) return BrokenStatus(path());
  if (number >= page_count_) {
    return CorruptAt(number, "A pointer leads to page " + std::to_string(number) +
                                 ", past the end of the file (" + std::to_string(page_count_) +
                                 " pages)");
  }
  if (!dirty_.empty()) {
    auto d = dirty_.find(number);
    if (d != dirty_.end()) return PageRef(d->second);
  }
  auto it = index_.find(number);
  if (it != index_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return *it->second;
  }
  std::shared_ptr<Page> page = BlankPage(number);
  Status s = file_->ReadAt(uint64_t(number) * format_.page_size, page->bytes);
  if (s.ok()) s = codec_.Decode(number, page->bytes);
  if (!s.ok()) return s.AtFile(path()).AtPage(number);
  g_pages_read.fetch_add(1, std::memory_order_relaxed);
  PageRef ref(std::move(page));
  CachePut(ref);
  return ref;
}

std::shared_ptr<Page> Pager::BlankPage(uint32_t number) {
  std::shared_ptr<Page> page;
  if (!spare_.empty()) {
    // A page the cache let go of and nobody else held: its buffer is
    // overwritten whole, so it need not be allocated or zeroed again.
    page = std::move(spare_.back());
    spare_.pop_back();
  } else {
    page = std::make_shared<Page>();
    page->bytes.resize(format_.page_size);
  }
  page->number = number;
  return page;
}

void Pager::ReadAhead(uint32_t first, uint32_t count) {
  if (broken_) return;
  count = std::min<uint32_t>({count, 64, uint32_t(capacity_ / 2)});
  std::vector<std::shared_ptr<Page>> pages;
  std::vector<std::span<uint8_t>> outs;
  for (uint32_t n = first; n - first < count && n < page_count_; ++n) {
    if (index_.count(n) != 0 || dirty_.count(n) != 0) break;
    std::shared_ptr<Page> page = BlankPage(n);
    outs.push_back(page->bytes);
    pages.push_back(std::move(page));
  }
  if (pages.size() < 2) {
    for (auto& page : pages) spare_.push_back(std::move(page));
    return;
  }
  if (!file_->ReadManyAt(uint64_t(first) * format_.page_size, outs).ok()) return;
  g_pages_read.fetch_add(pages.size(), std::memory_order_relaxed);
  for (auto& page : pages) {
    // A page that does not decrypt is left for Read to report.
    if (!codec_.Decode(page->number, page->bytes).ok()) break;
    CachePut(PageRef(std::move(page)));
  }
}

void Pager::CachePut(PageRef page) {
  auto it = index_.find(page->number);
  if (it != index_.end()) {
    lru_.erase(it->second);
    index_.erase(it);
  }
  lru_.push_front(page);
  index_[page->number] = lru_.begin();
  while (lru_.size() > capacity_) {
    PageRef& last = lru_.back();
    index_.erase(last->number);
    if (last.use_count() == 1 && spare_.size() < kMaxSpare &&
        last->bytes.size() == format_.page_size) {
      spare_.push_back(std::const_pointer_cast<Page>(std::move(last)));
    }
    lru_.pop_back();
  }
}

Result<Page*> Pager::Modify(uint32_t number) {
  if (!writable()) {
    return Status::InvalidArgument("The database was opened read-only").AtFile(path());
  }
  if (number == 0) {
    // The header (and with it the password) is only ever read; only a
    // damaged pointer leads here.
    return CorruptAt(0, "A page pointer leads to the database header");
  }
  if (lost_change_) return LostStatus(path());
  auto d = dirty_.find(number);
  if (d != dirty_.end()) return d->second.get();
  JET_ASSIGN_OR_RETURN(PageRef current, Read(number));
  auto copy = std::make_shared<Page>(*current);
  Page* raw = copy.get();
  dirty_[number] = std::move(copy);
  return raw;
}

Result<Page*> Pager::Append() {
  if (!writable()) {
    return Status::InvalidArgument("The database was opened read-only").AtFile(path());
  }
  if (lost_change_) return LostStatus(path());
  if (page_count_ >= 0xFFFFFF) {
    return Status::Error(ErrorKind::kConstraint, "The database has reached its largest size")
        .AtFile(path());
  }
  auto page = std::make_shared<Page>();
  page->number = page_count_++;
  page->bytes.assign(format_.page_size, 0);
  Page* raw = page.get();
  dirty_[raw->number] = std::move(page);
  return raw;
}

Status Pager::WriteBatch() {
  if (!journal_) {
    journal_ = std::make_unique<JournalWriter>(*file_, format_.page_size,
                                               uint64_t(committed_page_count_) * format_.page_size);
  }
  std::vector<uint32_t> numbers;
  numbers.reserve(dirty_.size());
  for (const auto& [number, page] : dirty_) numbers.push_back(number);
  JET_RETURN_IF_ERROR(journal_->Protect(numbers));
  // The journal deals in stored bytes only: encode each page as it goes.
  std::vector<uint8_t> stored;
  for (const auto& [number, page] : dirty_) {
    std::span<const uint8_t> bytes = page->bytes;
    if (codec_.encoded()) {
      stored = page->bytes;
      codec_.Encode(number, stored);
      bytes = stored;
    }
    Status s = file_->WriteAt(uint64_t(number) * format_.page_size, bytes);
    if (!s.ok()) return s.AtPage(number);
    g_pages_written.fetch_add(1, std::memory_order_relaxed);
  }
  return Status::Ok();
}

Status Pager::UndoWritten(const Status& failure, bool keep_batch) {
  Status undo = journal_->Undo();
  journal_.reset();
  if (!keep_batch) {
    // What spilled is gone from the file, and the rest means nothing alone.
    dirty_.clear();
    page_count_ = committed_page_count_;
    free_page_hint_ = 0;
    DropCache();
    lost_change_ = true;
  }
  if (undo.ok()) return NotMade(failure);
  broken_ = true;
  return Status::Error(failure.kind(),
                       failure.message() + "; undoing the partial change failed too (" +
                           undo.message() + "): the database will be rolled back from " +
                           JournalPath(path()) + " when it is next opened")
      .AtFile(failure.file());
}

Status Pager::MaybeSpill() {
  if (broken_) return BrokenStatus(path());
  if (lost_change_) return LostStatus(path());
  if (spill_threshold_ == 0 || dirty_.size() < spill_threshold_) return Status::Ok();
  Status s = WriteBatch();
  if (!s.ok()) return UndoWritten(s, /*keep_batch=*/false);
  for (auto& [number, page] : dirty_) CachePut(PageRef(std::move(page)));
  dirty_.clear();
  return Status::Ok();
}

Status Pager::Commit() {
  if (broken_) return BrokenStatus(path());
  if (lost_change_) return LostStatus(path());
  if (dirty_.empty() && !journal_) return Status::Ok();
  const bool spilled = journal_ != nullptr;
  Status s = WriteBatch();
  if (s.ok()) s = journal_->Finish();
  if (!s.ok()) return UndoWritten(s, /*keep_batch=*/!spilled);
  journal_.reset();
  for (auto& [number, page] : dirty_) CachePut(PageRef(std::move(page)));
  dirty_.clear();
  committed_page_count_ = page_count_;
  return Status::Ok();
}

void Pager::Rollback() {
  dirty_.clear();
  if (journal_) {
    // The file holds spilled pages: undo it, and forget what the cache
    // holds of the change.
    if (!journal_->Undo().ok()) broken_ = true;
    journal_.reset();
    DropCache();
  }
  lost_change_ = false;
  page_count_ = committed_page_count_;
  free_page_hint_ = 0;
}

Result<PageRef> Pager::ReadTyped(uint32_t number, uint8_t type, const char* what) {
  JET_ASSIGN_OR_RETURN(PageRef page, Read(number));
  if (page->type() != type) {
    return CorruptAt(number, std::string("Expected ") + what + " on page " +
                                 std::to_string(number) + ", found a page of type " +
                                 std::to_string(page->type()));
  }
  return page;
}

void Pager::DropCache() {
  lru_.clear();
  index_.clear();
  spare_.clear();
}

}  // namespace jet
