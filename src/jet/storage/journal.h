// SPDX-License-Identifier: Apache-2.0
// The rollback journal: how a change reaches the database file so that a
// crash, a full disk or a failing device at any moment leaves either the
// whole change or none of it, however many pages the change touches.
//
// The journal is a file beside the database, NAME.mdb-journal. It holds the
// original bytes of every existing page the change overwrites, and the
// database's original length. Its layout (little-endian):
//
//   off   size  meaning
//   0     8     "JETJRNL1"
//   8     4     format version: 2 (1 from older builds, still read)
//   12    4     page size
//   16    4     version 1: number of page records; version 2: 0, unused
//   20    4     nonce: a random value mixed into every checksum below
//   24    8     length of the database before the change, in bytes
//   32    8     checksum of bytes 0..31
//   40    ...   page records: 4-byte page number, the page's original bytes,
//               8-byte checksum of the number and the bytes
//
// Checksums are 64-bit FNV-1a whose offset basis is XORed with
// nonce * 0x9E3779B97F4A7C15, so that no record of an earlier journal
// checks out in a later one.
//
// A version 1 journal was written in one go and ends exactly after its
// last record; unless its size, header and every record check out, it is
// "incomplete". A version 2 journal grows: the records are appended in
// groups while the change goes on. It is "incomplete" when its header does
// not check out; otherwise it is "hot", and its records are those from the
// start that check out: the first one cut short or failing its checksum,
// and everything after it, belong to a group that was never acted upon.
//
// A record holds the page exactly as the file stores it. In an encoded
// database (page_codec.h) that is the encoded page: the journal sits below
// the pager's decoding, reads the originals straight from the file and
// writes them straight back, so a rollback restores the file byte for byte
// without knowing the key, and a journal never holds a page in plain form
// that the file holds encoded.
//
// Invariants. These are what make the database safe; every change to this
// code must keep them:
//
//   (1) No byte of the database file is written, and it is not extended,
//       before the journal's header (with the original length) is durable:
//       written, synced, and its folder synced (so the journal's name is
//       durable too). Before that, nothing needs undoing.
//
//   (2) An existing page (one below the original length) is overwritten
//       only after a record of its original is durable in the journal. The
//       records of a group are written, the journal synced, and only then
//       are the pages that group protects written. A page is journaled at
//       most once per change, before its first write: later records would
//       hold the change's own bytes, not the original.
//
//   (3) The journal is removed only after every new page has been written
//       and the database file synced. Removing it is the moment the change
//       takes effect: until then a crash rolls it back.
//
//   (4) A hot journal found when a database is opened (with no live writer:
//       the caller holds the database's exclusive lock) means the database
//       may hold part of a change. It is rolled back (every record's page
//       written back, the file cut to its original length, the file synced)
//       and only then removed. Rolling back twice is harmless, so a crash
//       during a rollback is followed by another. Records of a group never
//       acted upon hold originals too, so writing them back is harmless.
//
//   (5) An incomplete journal means, by (1), that the database was never
//       touched by the change that wrote it: it is removed, and the database
//       is used as it is.
//
//   (6) A failure while the change is under way (a write or sync of either
//       file, or the removal of the journal) is undone at once from the
//       journal file, and the change reports the failure. If the journal's
//       name went already, the journal is written again first. If the undo
//       fails as well, the journal stays, the pager refuses further use, and
//       the next open rolls back by (4).
//
//   (7) Nobody reads a database that has a hot journal: a read-only open
//       rolls it back when it may write there, and otherwise refuses.
//
// Memory: the writer keeps no originals, only the set of page numbers it
// has journaled; undoing and rolling back read the journal a record at a
// time.
//
// What this cannot protect against: a disk that acknowledges a sync it did
// not do, a journal deleted or renamed by hand before the database is opened
// again, or a database file swapped for another while its journal stays.

#ifndef JET_STORAGE_JOURNAL_H_
#define JET_STORAGE_JOURNAL_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/status.h"
#include "jet/os/file.h"

namespace jet {

// NAME.mdb -> NAME.mdb-journal
std::string JournalPath(const std::string& db_path);

// The journal of one change, from its first write to its end. `db` is open
// for writing under the exclusive lock and outlives the writer. Protect
// before writing pages, then Finish; on any failure after the first
// Protect, Undo.
class JournalWriter {
 public:
  // `old_size` is the database's length before the change; pages at or past
  // it extend the file and need no record.
  JournalWriter(File& db, uint32_t page_size, uint64_t old_size);
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Makes `pages` safe to write: appends the stored originals of those that
  // exist and are not journaled yet as one group, after the header the
  // first time, and makes the journal durable ((1), (2)). Writes nothing if
  // nothing is new.
  Status Protect(std::span<const uint32_t> pages);

  // Syncs the database and removes the journal (3). On failure, Undo.
  Status Finish();

  // Puts the database back as it was before the change (6): every
  // journaled original, read back from the journal, and the original
  // length; then removes the journal. On failure the journal stays for the
  // next open.
  Status Undo();

  uint64_t old_size() const { return old_size_; }

 private:
  File& db_;
  const std::string path_;
  const uint32_t page_size_;
  const uint64_t old_size_;
  const uint32_t nonce_;
  std::unique_ptr<File> journal_;
  uint64_t durable_end_ = 0;  // 0 until the header is durable
  std::unordered_set<uint32_t> journaled_;
};

enum class JournalState {
  kNone,        // no journal beside the database
  kIncomplete,  // a journal that does not check out: the database is untouched
  kHot,         // a journal that checks out: the database must be rolled back first
};

// Looks at the journal beside `db_path` without changing anything.
Result<JournalState> InspectJournal(const std::string& db_path);

// What RecoverJournal did, as a sentence for the user; empty if nothing.
struct Recovery {
  JournalState found = JournalState::kNone;
  std::string message;
};

// Rolls back a hot journal, or removes an incomplete one, per (4) and (5).
// `db` must be open for writing, under the exclusive lock.
Result<Recovery> RecoverJournal(File& db);

}  // namespace jet

#endif  // JET_STORAGE_JOURNAL_H_
