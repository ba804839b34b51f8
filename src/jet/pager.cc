#include "pager.h"

namespace jet {

Pager::Pager(std::unique_ptr<File> file, const Format& format, uint32_t page_count,
             size_t capacity)
    : file_(std::move(file)), format_(format), page_count_(page_count),
      capacity_(capacity < 4 ? 4 : capacity) {}

Status Pager::CorruptAt(uint32_t page, const std::string& message) const {
  Status s = Status::Corrupt(message);
  s.AtFile(file_->path()).AtPage(page);
  return s;
}

Result<PageRef> Pager::Read(uint32_t number) {
  if (number >= page_count_) {
    return CorruptAt(number, "A pointer leads to page " + std::to_string(number) +
                                 ", past the end of the file (" + std::to_string(page_count_) +
                                 " pages)");
  }
  auto it = index_.find(number);
  if (it != index_.end()) {
    ++stats_.hits;
    lru_.splice(lru_.begin(), lru_, it->second);
    return *it->second;
  }
  auto page = std::make_shared<Page>();
  page->number = number;
  page->bytes.resize(format_.page_size);
  Status s = file_->ReadAt(uint64_t(number) * format_.page_size, page->bytes);
  if (!s.ok()) return s.AtPage(number);
  ++stats_.reads;
  lru_.push_front(page);
  index_[number] = lru_.begin();
  while (lru_.size() > capacity_) {
    index_.erase(lru_.back()->number);
    lru_.pop_back();
  }
  return PageRef(std::move(page));
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
}

}  // namespace jet
