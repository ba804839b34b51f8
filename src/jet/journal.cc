// The rollback journal: writing it, committing through it, rolling back
// from it. The invariants are stated in journal.h.

#include "journal.h"

#include <cstring>
#include <random>

#include "bytes.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'J', 'E', 'T', 'J', 'R', 'N', 'L', '1'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 40;
constexpr size_t kRecordExtra = 4 + 8;  // page number, checksum

void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, uint32_t(v));
  PutLe32(p + 4, uint32_t(v >> 32));
}

// FNV-1a (64-bit), started from a basis that depends on the nonce, so that
// the records of an older journal never check out in a newer one.
uint64_t Checksum(uint32_t nonce, std::span<const uint8_t> a, std::span<const uint8_t> b = {}) {
  uint64_t h = 0xcbf29ce484222325ull ^ (uint64_t(nonce) * 0x9E3779B97F4A7C15ull);
  for (uint8_t c : a) h = (h ^ c) * 0x100000001b3ull;
  for (uint8_t c : b) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

struct Original {
  uint32_t number;
  std::vector<uint8_t> bytes;
};

// A parsed journal.
struct JournalImage {
  uint32_t page_size = 0;
  uint64_t old_size = 0;
  std::vector<Original> pages;
};

std::vector<uint8_t> Encode(uint32_t page_size, uint64_t old_size,
                            const std::vector<Original>& pages) {
  std::random_device rd;
  const uint32_t nonce = rd();
  std::vector<uint8_t> out(kHeaderSize + pages.size() * (kRecordExtra + page_size));
  uint8_t* p = out.data();
  std::memcpy(p, kMagic, 8);
  PutLe32(p + 8, kVersion);
  PutLe32(p + 12, page_size);
  PutLe32(p + 16, uint32_t(pages.size()));
  PutLe32(p + 20, nonce);
  PutLe64(p + 24, old_size);
  PutLe64(p + 32, Checksum(nonce, std::span<const uint8_t>(p, 32)));
  size_t at = kHeaderSize;
  for (const Original& o : pages) {
    PutLe32(p + at, o.number);
    std::memcpy(p + at + 4, o.bytes.data(), page_size);
    PutLe64(p + at + 4 + page_size, Checksum(nonce, std::span<const uint8_t>(p + at, 4), o.bytes));
    at += kRecordExtra + page_size;
  }
  return out;
}

// Parses a journal; false if it is incomplete (torn, cut short, or not a
// journal at all).
bool Decode(const std::vector<uint8_t>& in, JournalImage* out) {
  if (in.size() < kHeaderSize || std::memcmp(in.data(), kMagic, 8) != 0) return false;
  const uint8_t* p = in.data();
  const uint32_t nonce = Le32(p + 20);
  if (Le64(p + 32) != Checksum(nonce, std::span<const uint8_t>(p, 32))) return false;
  if (Le32(p + 8) != kVersion) return false;
  out->page_size = Le32(p + 12);
  out->old_size = Le64(p + 24);
  const uint64_t count = Le32(p + 16);
  if (out->page_size == 0 || out->page_size > 65536) return false;
  const uint64_t record = kRecordExtra + out->page_size;
  if ((in.size() - kHeaderSize) % record != 0 || (in.size() - kHeaderSize) / record != count) {
    return false;
  }
  out->pages.clear();
  for (size_t at = kHeaderSize; at < in.size(); at += record) {
    std::span<const uint8_t> bytes(p + at + 4, out->page_size);
    if (Le64(p + at + 4 + out->page_size) !=
        Checksum(nonce, std::span<const uint8_t>(p + at, 4), bytes)) {
      return false;
    }
    out->pages.push_back(Original{Le32(p + at), std::vector<uint8_t>(bytes.begin(), bytes.end())});
  }
  return true;
}

// Reads the journal beside `db_path`; false in *exists if there is none.
Status ReadJournal(const std::string& path, bool* exists, std::vector<uint8_t>* bytes) {
  *exists = false;
  auto file = File::Open(path, File::Mode::kReadOnly);
  if (!file.ok()) {
    if (file.status().kind() == ErrorKind::kNotFound) return Status::Ok();
    return file.TakeStatus();
  }
  *exists = true;
  JET_ASSIGN_OR_RETURN(uint64_t size, (*file)->Size());
  if (size > (uint64_t(1) << 34)) {
    return Status::Corrupt("The journal is larger than any journal this engine writes")
        .AtFile(path);
  }
  bytes->resize(size);
  return (*file)->ReadAt(0, *bytes);
}

// Writes the journal and makes it durable, name included: invariant (1).
// It holds the database's bytes, so only those who may read the database
// may read it.
Status WriteJournal(const File& db, const std::string& path, const std::vector<uint8_t>& image) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<File> journal, File::Create(path, /*truncate=*/true));
  journal->CopyPermissionsFrom(db);
  JET_RETURN_IF_ERROR(journal->WriteAt(0, image));
  JET_RETURN_IF_ERROR(journal->Sync());
  return SyncFolderOf(path);
}

// Removes the journal for good: invariant (2)'s commit point.
Status RemoveJournal(const std::string& path) {
  JET_RETURN_IF_ERROR(RemoveFile(path));
  return SyncFolderOf(path);
}

// The failure of an operation that left the database as it was.
Status NotMade(const Status& s) {
  Status failed = Status::Error(s.kind(), s.message() + "; the change was not made");
  failed.AtFile(s.file());
  if (s.page()) failed.AtPage(*s.page());
  return failed;
}

// Puts the original pages back and cuts the file to its original length.
Status WriteBack(File& db, uint32_t page_size, uint64_t old_size,
                 const std::vector<Original>& pages) {
  for (const Original& o : pages) {
    JET_RETURN_IF_ERROR(db.WriteAt(uint64_t(o.number) * page_size, o.bytes));
  }
  JET_ASSIGN_OR_RETURN(uint64_t size, db.Size());
  if (size != old_size) JET_RETURN_IF_ERROR(db.Truncate(old_size));
  return db.Sync();
}

}  // namespace

std::string JournalPath(const std::string& db_path) { return db_path + "-journal"; }

Status WritePagesJournaled(File& db, uint32_t page_size, uint64_t old_size,
                           const std::vector<PageWrite>& pages, bool* damaged) {
  *damaged = false;
  const std::string journal_path = JournalPath(db.path());

  // The originals of the pages that exist now; later pages are new.
  std::vector<Original> originals;
  for (const PageWrite& w : pages) {
    if (uint64_t(w.number) * page_size >= old_size) continue;
    Original o{w.number, std::vector<uint8_t>(page_size)};
    JET_RETURN_IF_ERROR(db.ReadAt(uint64_t(w.number) * page_size, o.bytes).AtPage(w.number));
    originals.push_back(std::move(o));
  }
  const std::vector<uint8_t> image = Encode(page_size, old_size, originals);

  // (1): the journal first. Failing here, the database is untouched; the
  // journal, whole or not, only restores what is there.
  Status s = WriteJournal(db, journal_path, image);
  if (!s.ok()) {
    (void)RemoveFile(journal_path);
    return NotMade(s);
  }

  // Then the database, then (2) the journal's removal.
  for (const PageWrite& w : pages) {
    s = db.WriteAt(uint64_t(w.number) * page_size, w.bytes);
    if (!s.ok()) {
      s.AtPage(w.number);
      break;
    }
  }
  if (s.ok()) s = db.Sync();
  if (s.ok()) s = RemoveJournal(journal_path);
  if (s.ok()) return s;

  // (5): undo at once. If the journal went already, it is put back first so
  // that a crash during the undo still rolls back.
  Status undo = FileExists(journal_path) ? Status::Ok() : WriteJournal(db, journal_path, image);
  if (undo.ok()) undo = WriteBack(db, page_size, old_size, originals);
  if (undo.ok()) {
    (void)RemoveJournal(journal_path);  // if it stays, it restores this same state
    return NotMade(s);
  }
  *damaged = true;
  return Status::Error(s.kind(), s.message() + "; undoing the partial change failed too (" +
                                     undo.message() + "): the database will be rolled back " +
                                     "from " + journal_path + " when it is next opened")
      .AtFile(s.file());
}

Result<JournalState> InspectJournal(const std::string& db_path) {
  bool exists = false;
  std::vector<uint8_t> bytes;
  JET_RETURN_IF_ERROR(ReadJournal(JournalPath(db_path), &exists, &bytes));
  if (!exists) return JournalState::kNone;
  JournalImage image;
  return Decode(bytes, &image) ? JournalState::kHot : JournalState::kIncomplete;
}

Result<Recovery> RecoverJournal(File& db) {
  const std::string path = JournalPath(db.path());
  bool exists = false;
  std::vector<uint8_t> bytes;
  JET_RETURN_IF_ERROR(ReadJournal(path, &exists, &bytes));
  Recovery r;
  if (!exists) return r;
  JournalImage image;
  if (!Decode(bytes, &image)) {
    // (4): written only in part, so the database was never touched.
    JET_RETURN_IF_ERROR(RemoveJournal(path));
    r.found = JournalState::kIncomplete;
    r.message = "Removed an incomplete journal (" + path +
                ") left by a program that stopped while writing; the database had not been "
                "changed";
    return r;
  }
  // A journal that checks out but does not fit this database is not one
  // this engine wrote for it: leave both alone.
  bool fits = image.page_size == 2048 || image.page_size == 4096;
  fits = fits && image.old_size % image.page_size == 0 && image.old_size > 0;
  for (const Original& o : image.pages) {
    fits = fits && uint64_t(o.number) * image.page_size < image.old_size;
  }
  if (!fits) {
    return Status::Corrupt("The journal " + path +
                           " does not belong to this database; move it away before opening "
                           "the database")
        .AtFile(db.path());
  }
  // (3): roll back, and only then remove the journal.
  JET_RETURN_IF_ERROR(WriteBack(db, image.page_size, image.old_size, image.pages));
  JET_RETURN_IF_ERROR(RemoveJournal(path));
  r.found = JournalState::kHot;
  r.message = "Rolled back an unfinished change left by a program that stopped while writing (" +
              std::to_string(image.pages.size()) + " pages restored from " + path + ")";
  return r;
}

}  // namespace jet
