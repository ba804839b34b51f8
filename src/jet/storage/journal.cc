// SPDX-License-Identifier: Apache-2.0
// The rollback journal: writing it, committing through it, rolling back
// from it. The layout and the invariants are stated in journal.h.

#include "jet/storage/journal.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "jet/storage/bytes.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'J', 'E', 'T', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t kVersionOneShot = 1;
constexpr uint32_t kVersionAppendable = 2;
constexpr size_t kHeaderSize = 40;
constexpr size_t kRecordExtra = 4 + 8;  // page number, checksum

void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, uint32_t(v));
  PutLe32(p + 4, uint32_t(v >> 32));
}

uint64_t Checksum(uint32_t nonce, std::span<const uint8_t> a, std::span<const uint8_t> b = {}) {
  uint64_t h = 0xcbf29ce484222325ull ^ (uint64_t(nonce) * 0x9E3779B97F4A7C15ull);
  for (uint8_t c : a) h = (h ^ c) * 0x100000001b3ull;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

struct Header {
  uint32_t version = 0;
  uint32_t page_size = 0;
  uint32_t count = 0;
  uint32_t nonce = 0;
  uint64_t old_size = 0;
};

// Puts a record of page `number`, whose stored bytes are `bytes`, at `p`.
void PutRecord(uint8_t* p, uint32_t nonce, uint32_t number, std::span<const uint8_t> bytes) {
  PutLe32(p, number);
  std::memcpy(p + 4, bytes.data(), bytes.size());
  PutLe64(p + 4 + bytes.size(), Checksum(nonce, std::span<const uint8_t>(p, 4), bytes));
}

using RecordFn = std::function<Status(uint32_t number, std::span<const uint8_t> bytes)>;

// Reads the journal `j` of `size` bytes (or its first `size` bytes) a record
// at a time, calling `fn`, if given, on each record that counts. *complete
// is false for an incomplete journal; then `fn` has not been called for a
// version 1 journal, whose records all count or none.
Status ScanJournal(const File& j, uint64_t size, Header* h, bool* complete, const RecordFn& fn) {
  *complete = false;
  uint8_t head[kHeaderSize];
  if (size < kHeaderSize) return Status::Ok();
  JET_RETURN_IF_ERROR(j.ReadAt(0, head));
  if (std::memcmp(head, kMagic, 8) != 0) return Status::Ok();
  h->nonce = Le32(head + 20);
  if (Le64(head + 32) != Checksum(h->nonce, std::span<const uint8_t>(head, 32))) {
    return Status::Ok();
  }
  h->version = Le32(head + 8);
  h->page_size = Le32(head + 12);
  h->count = Le32(head + 16);
  h->old_size = Le64(head + 24);
  if (h->version != kVersionOneShot && h->version != kVersionAppendable) return Status::Ok();
  if (h->page_size == 0 || h->page_size > 65536) return Status::Ok();
  const uint64_t record = kRecordExtra + h->page_size;
  const uint64_t whole = (size - kHeaderSize) / record;
  if (h->version == kVersionOneShot && (whole != h->count || (size - kHeaderSize) % record != 0)) {
    return Status::Ok();
  }
  std::vector<uint8_t> buf(record);
  auto read = [&](uint64_t i, bool* ok) -> Status {
    JET_RETURN_IF_ERROR(j.ReadAt(kHeaderSize + i * record, buf));
    *ok = Le64(buf.data() + 4 + h->page_size) ==
          Checksum(h->nonce, std::span<const uint8_t>(buf.data(), 4),
                   std::span<const uint8_t>(buf.data() + 4, h->page_size));
    return Status::Ok();
  };
  if (h->version == kVersionOneShot) {
    for (uint64_t i = 0; i < whole; ++i) {
      bool ok = false;
      JET_RETURN_IF_ERROR(read(i, &ok));
      if (!ok) return Status::Ok();
    }
  }
  *complete = true;
  for (uint64_t i = 0; fn && i < whole; ++i) {
    bool ok = false;
    JET_RETURN_IF_ERROR(read(i, &ok));
    if (!ok) break;  // version 2: a group never acted upon starts here
    JET_RETURN_IF_ERROR(
        fn(Le32(buf.data()), std::span<const uint8_t>(buf.data() + 4, h->page_size)));
  }
  return Status::Ok();
}

// Opens the journal at `path`; null in *file if there is none.
Status OpenJournal(const std::string& path, std::unique_ptr<File>* file, uint64_t* size) {
  auto opened = File::Open(path, File::Mode::kReadOnly);
  if (!opened.ok()) {
    if (opened.status().kind() == ErrorKind::kNotFound) return Status::Ok();
    return opened.TakeStatus();
  }
  JET_ASSIGN_OR_RETURN(*size, (*opened)->Size());
  *file = std::move(*opened);
  return Status::Ok();
}

// Removes the journal for good: invariant (3)'s commit point.
Status RemoveJournal(const std::string& path) {
  JET_RETURN_IF_ERROR(RemoveFile(path));
  return SyncFolderOf(path);
}

// Writes every record of the journal `j` (its first `size` bytes) back into
// `db`, cuts `db` to its original length and syncs it. `*pages` counts the
// records written back.
Status WriteBack(const File& j, uint64_t size, File& db, size_t* pages) {
  Header h;
  bool complete = false;
  *pages = 0;
  JET_RETURN_IF_ERROR(
      ScanJournal(j, size, &h, &complete, [&](uint32_t n, std::span<const uint8_t> bytes) {
        ++*pages;
        return db.WriteAt(uint64_t(n) * h.page_size, bytes);
      }));
  if (!complete) return Status::Corrupt("The journal no longer checks out").AtFile(j.path());
  JET_ASSIGN_OR_RETURN(uint64_t now, db.Size());
  if (now != h.old_size) JET_RETURN_IF_ERROR(db.Truncate(h.old_size));
  return db.Sync();
}

}  // namespace

std::string JournalPath(const std::string& db_path) { return db_path + "-journal"; }

JournalWriter::JournalWriter(File& db, uint32_t page_size, uint64_t old_size)
    : db_(db),
      path_(JournalPath(db.path())),
      page_size_(page_size),
      old_size_(old_size),
      nonce_(std::random_device()()) {}

JournalWriter::~JournalWriter() = default;

Status JournalWriter::Protect(std::span<const uint32_t> pages) {
  std::vector<uint32_t> fresh;
  for (uint32_t n : pages) {
    if (uint64_t(n) * page_size_ < old_size_ && !journaled_.count(n)) fresh.push_back(n);
  }
  std::sort(fresh.begin(), fresh.end());
  fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
  if (fresh.empty() && durable_end_ != 0) return Status::Ok();

  // The group: the header the first time, then a record per new original.
  const size_t head = durable_end_ == 0 ? kHeaderSize : 0;
  const size_t record = kRecordExtra + page_size_;
  std::vector<uint8_t> group(head + fresh.size() * record);
  if (head) {
    uint8_t* p = group.data();
    std::memcpy(p, kMagic, 8);
    PutLe32(p + 8, kVersionAppendable);
    PutLe32(p + 12, page_size_);
    PutLe32(p + 16, 0);
    PutLe32(p + 20, nonce_);
    PutLe64(p + 24, old_size_);
    PutLe64(p + 32, Checksum(nonce_, std::span<const uint8_t>(p, 32)));
  }
  for (size_t i = 0; i < fresh.size(); ++i) {
    uint8_t* r = group.data() + head + i * record;
    std::span<uint8_t> bytes(r + 4, page_size_);
    JET_RETURN_IF_ERROR(db_.ReadAt(uint64_t(fresh[i]) * page_size_, bytes).AtPage(fresh[i]));
    PutRecord(r, nonce_, fresh[i], bytes);
  }

  if (!journal_) {
    // It holds the database's bytes, so only those who may read the
    // database may read it.
    JET_ASSIGN_OR_RETURN(journal_, File::Create(path_, /*truncate=*/true));
    journal_->CopyPermissionsFrom(db_);
  }
  JET_RETURN_IF_ERROR(journal_->WriteAt(durable_end_, group));
  JET_RETURN_IF_ERROR(journal_->Sync());
  if (durable_end_ == 0) JET_RETURN_IF_ERROR(SyncFolderOf(path_));
  durable_end_ += group.size();
  journaled_.insert(fresh.begin(), fresh.end());
  return Status::Ok();
}

Status JournalWriter::Finish() {
  JET_RETURN_IF_ERROR(db_.Sync());
  // The journal stays open through its removal: should the removal fail
  // halfway, Undo writes it again from this handle. (On Windows the journal
  // is opened with FILE_SHARE_DELETE, so it may be removed while open.)
  JET_RETURN_IF_ERROR(RemoveJournal(path_));
  journal_.reset();
  durable_end_ = 0;
  journaled_.clear();
  return Status::Ok();
}

Status JournalWriter::Undo() {
  if (durable_end_ == 0) {
    // (1): the database was never touched. A journal left behind is
    // incomplete, or restores what is there.
    journal_.reset();
    (void)RemoveFile(path_);
    return Status::Ok();
  }
  if (!FileExists(path_)) {
    // Its name went already: put it back, so that a crash during the undo
    // still rolls back.
    JET_ASSIGN_OR_RETURN(std::unique_ptr<File> again, File::Create(path_, /*truncate=*/true));
    again->CopyPermissionsFrom(db_);
    std::vector<uint8_t> chunk;
    for (uint64_t at = 0; at < durable_end_; at += chunk.size()) {
      chunk.resize(std::min<uint64_t>(durable_end_ - at, uint64_t(1) << 20));
      JET_RETURN_IF_ERROR(journal_->ReadAt(at, chunk));
      JET_RETURN_IF_ERROR(again->WriteAt(at, chunk));
    }
    JET_RETURN_IF_ERROR(again->Sync());
    JET_RETURN_IF_ERROR(SyncFolderOf(path_));
    journal_ = std::move(again);
  }
  size_t pages = 0;
  JET_RETURN_IF_ERROR(WriteBack(*journal_, durable_end_, db_, &pages));
  journal_.reset();
  durable_end_ = 0;
  journaled_.clear();
  (void)RemoveJournal(path_);  // if it stays, it restores this same state
  return Status::Ok();
}

Result<JournalState> InspectJournal(const std::string& db_path) {
  std::unique_ptr<File> j;
  uint64_t size = 0;
  JET_RETURN_IF_ERROR(OpenJournal(JournalPath(db_path), &j, &size));
  if (!j) return JournalState::kNone;
  Header h;
  bool complete = false;
  JET_RETURN_IF_ERROR(ScanJournal(*j, size, &h, &complete, nullptr));
  return complete ? JournalState::kHot : JournalState::kIncomplete;
}

Result<Recovery> RecoverJournal(File& db) {
  const std::string path = JournalPath(db.path());
  std::unique_ptr<File> j;
  uint64_t size = 0;
  JET_RETURN_IF_ERROR(OpenJournal(path, &j, &size));
  Recovery r;
  if (!j) return r;
  // A journal that checks out but does not fit this database is not one
  // this engine wrote for it: leave both alone.
  Header h;
  bool complete = false;
  bool fits = true;
  JET_RETURN_IF_ERROR(
      ScanJournal(*j, size, &h, &complete, [&](uint32_t n, std::span<const uint8_t>) {
        fits = fits && uint64_t(n) * h.page_size < h.old_size;
        return Status::Ok();
      }));
  if (!complete) {
    // (5): the database was never touched.
    j.reset();
    JET_RETURN_IF_ERROR(RemoveJournal(path));
    r.found = JournalState::kIncomplete;
    r.message = "Removed an incomplete journal (" + path +
                ") left by a program that stopped while writing; the database had not been "
                "changed";
    return r;
  }
  fits = fits && (h.page_size == 2048 || h.page_size == 4096);
  fits = fits && h.old_size % h.page_size == 0 && h.old_size > 0;
  if (!fits) {
    return Status::Corrupt("The journal " + path +
                           " does not belong to this database; move it away before opening "
                           "the database")
        .AtFile(db.path());
  }
  // (4): roll back, and only then remove the journal.
  size_t pages = 0;
  JET_RETURN_IF_ERROR(WriteBack(*j, size, db, &pages));
  j.reset();
  JET_RETURN_IF_ERROR(RemoveJournal(path));
  r.found = JournalState::kHot;
  r.message = "Rolled back an unfinished change left by a program that stopped while writing (" +
              std::to_string(pages) + " pages restored from " + path + ")";
  return r;
}

}  // namespace jet
