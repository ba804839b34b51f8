// SPDX-License-Identifier: Apache-2.0
// The pager: the database file seen as numbered pages, with a small cache,
// and the batch of changed pages that one write operation builds up.
//
// Every page is checked against the file's page count before it is read, so
// a damaged page pointer becomes a Corrupt status naming the page, never a
// read past the end of the file. The cache holds at most `capacity` pages;
// pages handed out stay valid for as long as the caller holds the PageRef,
// even after the cache lets go of them.
//
// Writing: an operation asks for pages to change (Modify) or add (Append).
// Those copies live in the batch, and every Read sees them, but the file is
// untouched until Commit writes the whole batch in one step. Rollback, or
// an operation that fails before Commit, leaves the file exactly as it was.
// Commit goes through the rollback journal (journal.h), so a crash or an I/O
// error during Commit leaves the file as it was too, or, if even undoing
// fails, as the next open will roll it back to; the pager then refuses
// further use.
//
// A change too large to keep in memory spills: with a threshold set, the
// writer calls MaybeSpill between steps, and once the batch holds that many
// pages they are written into the file through the journal, which stays
// (hot) until Commit removes it or Rollback undoes the file from it. Spilled
// pages are the change's current content: Read finds them in the cache or
// the file. To a crash, a change that spilled is one change like any other.
// Memory stays within the threshold's pages plus the cache; the journal
// keeps only the numbers of the pages it has journaled.
//
// Encoded databases (page_codec.h): the pager is the only place that sees a
// page as stored. Every Page it hands out, caches or keeps in the batch holds
// plain bytes; Read decodes what it reads, and Commit encodes what it writes,
// so no reader or writer above it knows the file is encoded. Page 0 passes
// through as stored either way.

#ifndef JET_STORAGE_PAGER_H_
#define JET_STORAGE_PAGER_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/os/file.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/journal.h"
#include "jet/storage/page_codec.h"

namespace jet {

struct Page {
  uint32_t number = 0;
  std::vector<uint8_t> bytes;

  ByteView view() const { return ByteView(bytes.data(), bytes.size()); }
  uint8_t type() const { return bytes[0]; }
};

using PageRef = std::shared_ptr<const Page>;

class Pager {
 public:
  Pager(std::unique_ptr<File> file, const Format& format, uint32_t page_count,
        size_t capacity = 256, PageCodec codec = PageCodec());

  const Format& format() const { return format_; }
  uint32_t page_size() const { return format_.page_size; }
  uint32_t page_count() const { return page_count_; }
  const std::string& path() const { return file_->path(); }
  File& file() { return *file_; }
  // Whether pages are stored encoded (the header's encoding key is set).
  bool encoded() const { return codec_.encoded(); }

  // Reads page `number`. Page numbers at or past the page count are Corrupt.
  Result<PageRef> Read(uint32_t number);

  // Reads pages first, first + 1, ... (up to `count` of them, stopping at
  // one already at hand or past the end) into the cache in one read, for a
  // caller about to Read them in order. Failures are left for Read to meet.
  void ReadAhead(uint32_t first, uint32_t count);

  // Reads a page and checks its type byte.
  Result<PageRef> ReadTyped(uint32_t number, uint8_t type, const char* what);

  // A Corrupt status that names this file and `page`.
  Status CorruptAt(uint32_t page, const std::string& message) const;

  void DropCache();

  // --- Writing (only on a pager opened for writing) ---

  bool writable() const { return file_->writable(); }

  // The batch's copy of page `number`, to change in place.
  Result<Page*> Modify(uint32_t number);

  // A new zero-filled page after the last one, in the batch.
  Result<Page*> Append();

  // Whether a change is open: a batch, or pages spilled into the file.
  bool HasChanges() const { return !dirty_.empty() || journal_ || lost_change_; }
  // Pages in the batch (not counting those spilled).
  size_t changed_pages() const { return dirty_.size(); }

  // Spill the batch once it holds `pages` pages; 0, the default, never.
  void SetSpillThreshold(size_t pages) { spill_threshold_ = pages; }

  // Writes the batch into the file through the journal if it has reached
  // the spill threshold, and empties it; otherwise does nothing. The caller
  // must hold no Page* from Modify or Append across this call. On failure
  // the file is undone at once (as after a failed Commit) and the change is
  // lost: everything but Rollback is refused until Rollback is called.
  Status MaybeSpill();


  // Writes every page of the batch through the journal and syncs the file.
  // On failure the file is as it was before (see journal.h). If nothing had
  // spilled the batch is kept, so the caller can decide; it normally rolls
  // back. After a spill the change is lost, as for a failed MaybeSpill.
  Status Commit();

  // True after a failed Commit, spill or Rollback whose undo failed: the
  // file may hold part of a change until it is reopened (and rolled back),
  // so every read and write is refused.
  bool broken() const { return broken_; }

  // No page below this one is marked free in the database's own free-page
  // map: where the page allocator (usage_map.h) starts looking. It only
  // ever rises within a change, but for pages the change frees; a change
  // rolled back forgets it.
  uint32_t free_page_hint() const { return free_page_hint_; }
  void set_free_page_hint(uint32_t page) { free_page_hint_ = page; }

  // Forgets the change: the file and the pages seen by Read are as before.
  // After a spill that means undoing the file from the journal; if that
  // fails, the pager is broken() and the next open rolls back.
  void Rollback();

 private:
  // A page buffer to read `number` into: a spare one, or a new one.
  std::shared_ptr<Page> BlankPage(uint32_t number);
  void CachePut(PageRef page);
  // Protects and writes the batch through journal_ (opening it if need be).
  Status WriteBatch();
  // Undoes the file after `failure` of a change that wrote into it and
  // reports `failure` (and the undo's, if any). Unless `keep_batch`, the
  // change is lost: the batch and the cache are dropped.
  Status UndoWritten(const Status& failure, bool keep_batch);

  std::unique_ptr<File> file_;
  const Format& format_;
  PageCodec codec_;
  uint32_t page_count_;
  size_t capacity_;
  std::list<PageRef> lru_;  // front = most recent
  // Pages evicted while nobody held them, for Read to fill again.
  static constexpr size_t kMaxSpare = 64;
  std::vector<std::shared_ptr<Page>> spare_;
  std::unordered_map<uint32_t, std::list<PageRef>::iterator> index_;
  std::map<uint32_t, std::shared_ptr<Page>> dirty_;  // the batch, by page number
  uint32_t committed_page_count_;
  size_t spill_threshold_ = 0;
  // The journal of a change under way; set from its first write into the
  // file (a spill, or Commit) to its end.
  std::unique_ptr<JournalWriter> journal_;
  bool lost_change_ = false;  // a spilled change was undone; awaits Rollback
  uint32_t free_page_hint_ = 0;
  bool broken_ = false;
};

}  // namespace jet

#endif  // JET_STORAGE_PAGER_H_
