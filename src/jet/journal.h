// The rollback journal: how a write operation reaches the database file so
// that a crash, a full disk or a failing device at any moment leaves either
// the whole operation or none of it.
//
// The journal is a file beside the database, NAME.mdb-journal. It holds the
// original bytes of every page the operation overwrites, and the database's
// original length. Its layout (little-endian):
//
//   off   size  meaning
//   0     8     "JETJRNL1"
//   8     4     format version, 1
//   12    4     page size
//   16    4     number of page records
//   20    4     nonce: a random value mixed into every checksum below
//   24    8     length of the database before the operation, in bytes
//   32    8     checksum of bytes 0..31
//   40    ...   page records: 4-byte page number, the page's original bytes,
//               8-byte checksum of the number and the bytes
//
// and it ends exactly after the last record. A journal whose size, header or
// any record does not check out is "incomplete".
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
//       until the journal holding the original of every page about to be
//       overwritten, and the original length, is complete on disk: written,
//       synced, and its folder synced (so the journal's name is durable too).
//
//   (2) The journal is removed only after every new page has been written
//       and the database file synced. Removing it is the moment the
//       operation takes effect: until then a crash rolls it back.
//
//   (3) A complete journal found when a database is opened (with no live
//       writer: the caller holds the database's exclusive lock) is "hot": the
//       database may hold part of an operation. It is rolled back (every
//       journaled page written back, the file cut to its original length,
//       the file synced) and only then removed. Rolling back twice is
//       harmless, so a crash during a rollback is followed by another.
//
//   (4) An incomplete journal means, by (1), that the database was never
//       touched by the operation that wrote it: it is removed, and the
//       database is used as it is.
//
//   (5) A failure while the database is being written (write, sync, or the
//       removal of the journal) is undone at once from the originals kept in
//       memory, and the operation reports the failure. If the undo fails as
//       well, the journal stays, the pager refuses further use, and the next
//       open rolls back by (3).
//
//   (6) Nobody reads a database that has a hot journal: a read-only open
//       rolls it back when it may write there, and otherwise refuses.
//
// What this cannot protect against: a disk that acknowledges a sync it did
// not do, a journal deleted or renamed by hand before the database is opened
// again, or a database file swapped for another while its journal stays.

#ifndef JET_JOURNAL_H_
#define JET_JOURNAL_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "file.h"
#include "jet/status.h"

namespace jet {

// NAME.mdb -> NAME.mdb-journal
std::string JournalPath(const std::string& db_path);

// One page of an operation: its number and its new bytes, as the file is to
// store them (encoded, in an encoded database).
struct PageWrite {
  uint32_t number = 0;
  std::span<const uint8_t> bytes;
};

// Writes `pages` into `db` (open for writing, under the exclusive lock)
// following invariants (1), (2) and (5). `old_size` is the file's length
// before the operation; pages at or past it extend the file. On failure,
// `*damaged` tells whether the database may still hold part of the
// operation (the undo failed; the journal stays for the next open).
Status WritePagesJournaled(File& db, uint32_t page_size, uint64_t old_size,
                           const std::vector<PageWrite>& pages, bool* damaged);

enum class JournalState {
  kNone,        // no journal beside the database
  kIncomplete,  // a journal that does not check out: the database is untouched
  kHot,         // a complete journal: the database must be rolled back first
};

// Looks at the journal beside `db_path` without changing anything.
Result<JournalState> InspectJournal(const std::string& db_path);

// What RecoverJournal did, as a sentence for the user; empty if nothing.
struct Recovery {
  JournalState found = JournalState::kNone;
  std::string message;
};

// Rolls back a hot journal, or removes an incomplete one, per (3) and (4).
// `db` must be open for writing, under the exclusive lock.
Result<Recovery> RecoverJournal(File& db);

}  // namespace jet

#endif  // JET_JOURNAL_H_
