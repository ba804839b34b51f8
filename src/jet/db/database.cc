// SPDX-License-Identifier: Apache-2.0
#include "jet/db/database.h"

#include <algorithm>
#include <optional>

#include "jet/db/properties.h"
#include "jet/index/index_key.h"
#include "jet/storage/journal.h"
#include "jet/storage/office_crypt.h"
#include "jet/storage/text.h"
#include "jet/value_text.h"

namespace jet {

namespace {

constexpr uint32_t kCatalogPage = 2;
constexpr int kMaxOverflowHops = 8;

// Rolls back what a writer that stopped mid-change left, for a reader: that
// needs write access for a moment; without it, the database is not read.
Status RecoverForReader(const std::string& path) {
  const std::string journal = JournalPath(path);
  const std::string why = "The database holds an unfinished change from a program that " +
                          std::string("stopped while writing (") + journal +
                          "). Rolling it back needs write access to the database and its folder";
  if (!CanWriteFileAndFolder(path)) {
    return Status::IoError(why +
                           ", which this user does not have; open it once with write "
                           "access to roll it back")
        .AtFile(path);
  }
  auto file = File::Open(path, File::Mode::kReadWrite);
  auto lock = file.ok() ? DatabaseLock::Acquire(**file, DatabaseLock::Mode::kExclusive)
                        : Result<std::unique_ptr<DatabaseLock>>(file.status());
  auto done = lock.ok() ? RecoverJournal(**file) : Result<Recovery>(lock.status());
  if (!done.ok()) {
    return Status::Error(done.status().kind(), why + ": " + done.status().message()).AtFile(path);
  }
  return Status::Ok();
}

// Locks the database (see lock_file.h) and deals with a journal left beside
// it (see journal.h) before anything of it is read.
Result<std::unique_ptr<DatabaseLock>> LockAndRecover(File& file, bool writable,
                                                     std::string* message) {
  if (writable) {
    JET_ASSIGN_OR_RETURN(auto lock, DatabaseLock::Acquire(file, DatabaseLock::Mode::kExclusive));
    JET_ASSIGN_OR_RETURN(Recovery r, RecoverJournal(file));
    *message = r.message;
    return lock;
  }
  JET_ASSIGN_OR_RETURN(auto lock, DatabaseLock::Acquire(file, DatabaseLock::Mode::kShared));
  JET_ASSIGN_OR_RETURN(JournalState state, InspectJournal(file.path()));
  // An incomplete journal means an untouched database: read it as it is,
  // and leave the journal for the next writer to remove.
  if (state != JournalState::kHot) return lock;
  lock.reset();  // our shared lock would keep out the exclusive one
  JET_RETURN_IF_ERROR(RecoverForReader(file.path()));
  *message = "Rolled back an unfinished change left by a program that stopped while writing";
  return DatabaseLock::Acquire(file, DatabaseLock::Mode::kShared);
}

// Reads page 0, or as much of it as the file has. With `lock`, locks the
// database and recovers it first.
Result<std::pair<std::unique_ptr<File>, DatabaseHeader>> OpenAndDecode(
    const std::string& path, uint64_t* size, bool writable = false,
    std::unique_ptr<DatabaseLock>* lock = nullptr, std::string* recovery = nullptr) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<File> file,
                       File::Open(path, writable ? File::Mode::kReadWrite : File::Mode::kReadOnly));
  if (lock) {
    JET_ASSIGN_OR_RETURN(*lock, LockAndRecover(*file, writable, recovery));
  }
  JET_ASSIGN_OR_RETURN(*size, file->Size());
  if (*size == 0) return Status::NotADatabase("The file is empty").AtFile(path);
  std::vector<uint8_t> first(std::min<uint64_t>(*size, 4096));
  JET_RETURN_IF_ERROR(file->ReadAt(0, first).AtFile(path));
  Result<DatabaseHeader> header = DecodeHeader(first);
  if (!header.ok()) {
    Status s = header.TakeStatus();
    return s.AtFile(path).AtPage(0);
  }
  const uint32_t page_size = header->format->page_size;
  if (*size % page_size != 0) {
    return Status::Corrupt("The file is truncated: its size (" + std::to_string(*size) +
                           " bytes) is not a whole number of " + std::to_string(page_size) +
                           "-byte pages")
        .AtFile(path);
  }
  if (*size / page_size < 3) {
    return Status::Corrupt("The file is truncated: it has no catalog").AtFile(path);
  }
  if (*size / page_size > 0xFFFFFF) {
    return Status::Corrupt("The file is larger than any Jet database can be").AtFile(path);
  }
  return std::make_pair(std::move(file), *header);
}

// The header, read without a lock and without looking at the rest of the
// file; nothing when it cannot be read (the open that follows says why).
std::optional<DatabaseHeader> PeekHeader(const std::string& path) {
  auto file = File::Open(path, File::Mode::kReadOnly);
  if (!file.ok()) return std::nullopt;
  auto size = (*file)->Size();
  if (!size.ok() || *size == 0) return std::nullopt;
  std::vector<uint8_t> first(std::min<uint64_t>(*size, 4096));
  if (!(*file)->ReadAt(0, first).ok()) return std::nullopt;
  auto header = DecodeHeader(first);
  if (!header.ok()) return std::nullopt;
  return *header;
}

}  // namespace

Database::Database(std::unique_ptr<Pager> pager, const DatabaseHeader& header)
    : pager_(std::move(pager)), header_(std::make_unique<const DatabaseHeader>(header)) {}

Database::~Database() = default;

JetVersion Database::version() const { return pager_->format().version; }
const Format& Database::format() const { return pager_->format(); }
const std::string& Database::path() const { return pager_->path(); }
bool Database::writable() const { return pager_->writable(); }

Result<DatabaseInfo> Database::ReadInfo(const std::string& path) {
  uint64_t size = 0;
  JET_ASSIGN_OR_RETURN(auto opened, OpenAndDecode(path, &size));
  const DatabaseHeader& h = opened.second;
  DatabaseInfo info;
  info.version = h.format->version;
  info.file_version = h.file_version;
  info.page_size = h.format->page_size;
  info.page_count = uint32_t(size / h.format->page_size);
  info.code_page = h.code_page;
  info.stored_code_page = h.stored_code_page;
  info.sort_order = h.sort_order;
  info.has_password = h.has_password;
  info.encoded = h.encoding_key != 0 && !h.office_encrypted;
  if (h.office_encrypted) info.encryption = DescribeOfficeEncryption(h.encryption_provider);
  return info;
}

Result<std::unique_ptr<Database>> Database::Open(const std::string& path, Options options) {
  uint64_t size = 0;
  if (options.writable) {
    // An encrypted .accdb is only read. Refused before the writable open,
    // which takes the lock file and may roll back a journal.
    std::optional<DatabaseHeader> peek = PeekHeader(path);
    if (peek && peek->office_encrypted) {
      return Status::Unsupported(
                 "The database is encrypted with a password (" +
                 DescribeOfficeEncryption(peek->encryption_provider) +
                 "); this engine reads such a database but does not change it. Remove the "
                 "password in Access (File > Info > Decrypt Database) to change it here")
          .AtFile(path);
    }
  }
  std::unique_ptr<DatabaseLock> lock;
  std::string recovery;
  JET_ASSIGN_OR_RETURN(auto opened, OpenAndDecode(path, &size, options.writable, &lock, &recovery));
  DatabaseHeader header = opened.second;
  const Status no_password = Status::Error(
      ErrorKind::kPasswordProtected, "The database is protected by a password, and none was given");
  const Status wrong_password =
      Status::Error(ErrorKind::kPasswordProtected,
                    "The database is protected by a password, and the password given is "
                    "wrong (passwords are case-sensitive)");
  if (header.has_password && options.password.empty()) return Status(no_password).AtFile(path);
  PageCodec codec(header.encoding_key);
  if (header.office_encrypted) {
    auto cipher =
        OpenOfficeCipher(header.encryption_provider, header.encoding_key, options.password);
    if (!cipher.ok()) {
      if (cipher.status().kind() == ErrorKind::kPasswordProtected) {
        return Status(wrong_password).AtFile(path);
      }
      return cipher.TakeStatus().AtFile(path).AtPage(0);
    }
    codec = PageCodec(*cipher);
  } else if (header.has_password && !PasswordMatches(header, options.password)) {
    return Status(wrong_password).AtFile(path);
  }
  auto pager = std::make_unique<Pager>(std::move(opened.first), *header.format,
                                       uint32_t(size / header.format->page_size),
                                       options.cache_pages, codec);
  std::unique_ptr<Database> db(new Database(std::move(pager), header));
  db->lock_ = std::move(lock);
  db->recovery_message_ = std::move(recovery);
  JET_RETURN_IF_ERROR(db->LoadCatalog());
  return db;
}

Status Database::LoadCatalog() {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pager_, *header_, kCatalogPage, "MSysObjects"));
  auto catalog = std::make_shared<const TableDef>(std::move(def));
  const ColumnDef* cols[5] = {catalog->FindColumn("Id"), catalog->FindColumn("ParentId"),
                              catalog->FindColumn("Name"), catalog->FindColumn("Type"),
                              catalog->FindColumn("Flags")};
  for (const ColumnDef* c : cols) {
    if (!c) return pager_->CorruptAt(kCatalogPage, "The catalog (MSysObjects) lacks a column");
  }
  size_t pos[5];
  for (int i = 0; i < 5; ++i) pos[i] = size_t(cols[i] - catalog->columns.data());

  // Only these five fields are decoded: a catalog row's memo and OLE values
  // (its properties, Access's form and module storage) are read where they
  // are used, so one that is damaged does not keep the tables from being
  // listed.
  TableScanner scan(*this, catalog);
  const RowView* row = nullptr;
  Value v[5];
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.NextView(&row));
    if (!more) break;
    for (int i = 0; i < 5; ++i) JET_RETURN_IF_ERROR(row->Decode(pos[i], &v[i]));
    CatalogEntry e;
    e.id = int32_t(v[0].integer);
    e.parent_id = int32_t(v[1].integer);
    e.name = v[2].bytes;
    e.type = int16_t(v[3].integer);
    e.flags = uint32_t(v[4].integer);
    catalog_.push_back(std::move(e));
  }
  tables_[kCatalogPage] = catalog;
  catalog_loaded_ = true;
  return Status::Ok();
}

Result<std::vector<CatalogEntry>> Database::ListTables(bool include_system) {
  if (!catalog_loaded_) JET_RETURN_IF_ERROR(LoadCatalog());
  std::vector<CatalogEntry> out;
  for (const CatalogEntry& e : catalog_) {
    if (!e.is_table()) continue;
    if (e.is_system() && !include_system) continue;
    out.push_back(e);
  }
  return out;
}

Result<std::shared_ptr<const TableDef>> Database::GetTable(const std::string& name) {
  if (!catalog_loaded_) JET_RETURN_IF_ERROR(LoadCatalog());
  for (const CatalogEntry& e : catalog_) {
    if (!e.is_table() || !NamesEqual(e.name, name)) continue;
    auto it = tables_.find(e.tdef_page());
    if (it != tables_.end() && it->second->name == e.name) return it->second;
    JET_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pager_, *header_, e.tdef_page(), e.name));
    if (std::any_of(def.columns.begin(), def.columns.end(),
                    [](const ColumnDef& c) { return c.calculated(); })) {
      JET_RETURN_IF_ERROR(ApplyCalculatedColumns(*this, &def));
    }
    auto shared = std::make_shared<const TableDef>(std::move(def));
    tables_[e.tdef_page()] = shared;
    return shared;
  }
  return Status::NotFound("There is no table named '" + name + "'").AtFile(path());
}

// The scanner's state, and the row view it hands out.
class TableScanner::State {
 public:
  State(Database& db, std::shared_ptr<const TableDef> table)
      : db_(db), table_(std::move(table)), decoder_(db.pager(), db.header(), *table_) {
    view_.table_ = table_.get();
    view_.decoder_ = &decoder_;
    view_.jet3_ = db.version() == JetVersion::kJet3;
    view_.code_page_ = db.header().code_page;
    view_.fields_.resize(table_->columns.size());
    for (size_t i = 0; i < table_->columns.size(); ++i) {
      view_.fields_[i].type = table_->columns[i].type;
    }
  }

  Result<bool> Next(std::vector<Value>* values, RowId* id) {
    ByteView bytes;
    uint32_t at_page = 0;
    JET_ASSIGN_OR_RETURN(bool more, NextRaw(&bytes, &at_page, id));
    if (!more) return false;
    JET_RETURN_IF_ERROR(decoder_.Decode(bytes, at_page, values));
    return true;
  }

  Result<bool> NextView(const RowView** row, RowId* id) {
    ByteView bytes;
    uint32_t at_page = 0;
    JET_ASSIGN_OR_RETURN(bool more, NextRaw(&bytes, &at_page, id));
    if (!more) return false;
    view_.page_ = at_page;
    FieldSink sink{view_.fields_.data()};
    JET_RETURN_IF_ERROR(decoder_.Walk(bytes, at_page, sink));
    *row = &view_;
    return true;
  }

  const TableDef& table() const { return *table_; }

 private:
  // Walks a row into the view's fields.
  struct FieldSink {
    FieldView* fields;
    void Null(size_t i, const ColumnDef&) { fields[i].null = true; }
    void Boolean(size_t i, const ColumnDef&, bool bit) {
      fields[i].null = false;
      fields[i].boolean = bit;
    }
    void Field(size_t i, const ColumnDef&, ByteView data) {
      FieldView& f = fields[i];
      f.data = data.data();
      f.size = uint32_t(data.size());
      f.null = false;
    }
  };

  Status Start();
  Result<bool> NextRaw(ByteView* bytes, uint32_t* at_page, RowId* id);

  Database& db_;
  std::shared_ptr<const TableDef> table_;
  RowDecoder decoder_;
  RowView view_;
  bool started_ = false;
  std::vector<uint32_t> pages_;
  size_t page_pos_ = 0;
  uint32_t ahead_ = 0;  // pages below this were read ahead
  static constexpr size_t kReadAhead = 32;
  PageRef page_;
  PageRef moved_;  // the page a moved row was followed to
  uint32_t slot_ = 0;
  uint32_t slot_count_ = 0;
};

TableScanner::TableScanner(Database& db, std::shared_ptr<const TableDef> table)
    : state_(std::make_unique<State>(db, std::move(table))) {}

TableScanner::~TableScanner() = default;

Result<bool> TableScanner::Next(std::vector<Value>* values, RowId* id) {
  return state_->Next(values, id);
}

Result<bool> TableScanner::NextView(const RowView** row, RowId* id) {
  return state_->NextView(row, id);
}

const TableDef& TableScanner::table() const { return state_->table(); }

Status TableScanner::State::Start() {
  started_ = true;
  JET_ASSIGN_OR_RETURN(UsageMap map, ReadUsageMap(db_.pager(), table_->owned_pages));
  pages_ = std::move(map.pages);
  return Status::Ok();
}

Result<bool> TableScanner::State::NextRaw(ByteView* out, uint32_t* out_page, RowId* id) {
  if (!started_) JET_RETURN_IF_ERROR(Start());
  Pager& pager = db_.pager();
  const Format& f = pager.format();
  while (true) {
    if (!page_ || slot_ >= slot_count_) {
      // Advance to the next data page of this table. The map may also list
      // pages that were freed or reused; those are skipped.
      page_.reset();
      if (page_pos_ >= pages_.size()) return false;
      const uint32_t next = pages_[page_pos_];
      if (next >= ahead_) {
        // Read the stretch of the file the next pages lie in, in one go:
        // the pages between them are mostly this table's memo and OLE
        // values.
        const size_t last = std::min(pages_.size(), page_pos_ + kReadAhead) - 1;
        const uint32_t count = std::min<uint32_t>(pages_[last] - next + 1, kReadAhead);
        if (pages_[last] >= next) {
          pager.ReadAhead(next, count);
          ahead_ = next + count;
        }
      }
      JET_ASSIGN_OR_RETURN(PageRef page, pager.Read(pages_[page_pos_++]));
      if (page->type() != kPageData ||
          Le32(page->bytes.data() + f.data_owner) != table_->tdef_page) {
        continue;
      }
      page_ = std::move(page);
      slot_ = 0;
      slot_count_ = RowSlotCount(*page_, f);
      continue;
    }
    const uint32_t slot_number = slot_++;
    JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*page_, f, slot_number, pager.path()));
    if (slot.deleted) continue;
    ByteView bytes(page_->bytes.data() + slot.start, slot.end - slot.start);
    uint32_t at_page = page_->number;
    if (slot.overflow) {
      moved_ = page_;
      for (int hops = 0; slot.overflow; ++hops) {
        if (hops >= kMaxOverflowHops || bytes.size() < 4) {
          return pager.CorruptAt(at_page, "A moved row's forwarding pointer is damaged");
        }
        RowPointer to = RowPointer::FromRaw(Le32(bytes.data()));
        JET_ASSIGN_OR_RETURN(bytes, ReadRowBytes(pager, to, &moved_));
        JET_ASSIGN_OR_RETURN(slot, GetRowSlot(*moved_, f, to.row, pager.path()));
        at_page = to.page;
      }
    }
    *out = bytes;
    *out_page = at_page;
    if (id) *id = RowId{page_->number, uint16_t(slot_number)};
    return true;
  }
}

char* RowView::TextTo(const uint8_t* data, size_t size, char* out) const {
  if (!jet3_) return DecodeJet4TextTo(out, ByteView(data, size));
  return DecodeCodePageTextTo(out, ByteView(data, size), code_page_);
}

Status RowView::ReadLongValue(size_t i, std::string* out) const {
  const FieldView& f = fields_[i];
  if (f.null) {
    out->clear();
    return Status::Ok();
  }
  JET_RETURN_IF_ERROR(decoder_->ReadLongValue(ByteView(f.data, f.size), page_, out));
  const ColumnDef& col = table_->columns[i];
  return col.calculated() ? decoder_->UnwrapLongValue(col, page_, out) : Status::Ok();
}

Status RowView::Decode(size_t i, Value* out) const {
  const FieldView& f = fields_[i];
  const ColumnDef& col = table_->columns[i];
  if (col.type == ColumnType::kBoolean) {
    *out = Value();
    out->type = col.type;
    out->null = false;
    out->boolean = f.boolean;
    return Status::Ok();
  }
  if (f.null) {
    *out = Value();
    out->type = col.type;
    return Status::Ok();
  }
  return decoder_->DecodeField(col, ByteView(f.data, f.size), page_, out);
}

Result<bool> TextKeysEqual(const Database& db, const ColumnDef& column, const std::string& a,
                           const std::string& b) {
  Value va;
  va.type = column.type;
  va.null = false;
  va.bytes = a;
  Value vb = va;
  vb.bytes = b;
  std::vector<uint8_t> ka, kb;
  JET_RETURN_IF_ERROR(AppendIndexKeyColumn(column, true, va, db.header(), &ka));
  JET_RETURN_IF_ERROR(AppendIndexKeyColumn(column, true, vb, db.header(), &kb));
  return ka == kb;
}

}  // namespace jet
