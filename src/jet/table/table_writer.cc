// SPDX-License-Identifier: Apache-2.0
#include "jet/table/table_writer.h"

#include <algorithm>
#include <functional>
#include <random>

#include "jet/format/usage_map.h"
#include "jet/index/index_writer.h"
#include "jet/table/relationships.h"

namespace jet {

namespace {

constexpr uint32_t kLongValueChainLink = 4;

// A bulk insertion keeps at most this many changed pages in memory (2 MiB
// of Access 2000 pages) before writing them out through the journal.
constexpr size_t kBulkSpillPages = 512;

// Finds a page of `owner` with room for `row_size` bytes: the highest page
// of the free-space map that has room, or else a new page entered in both
// maps. Like Jet, a page found too full for the row stops being a
// candidate: it leaves the free-space map, until a row on it goes. One with
// a quarter of its room or more free stays for smaller rows (a long
// value's last piece, after a full page of its chain went elsewhere), but
// only so many of those are passed over before a new page is made.
Result<Page*> PageWithRoom(Pager& pager, RowPointer owned_map, RowPointer free_map, uint32_t owner,
                           size_t row_size) {
  const Format& f = pager.format();
  constexpr int kMaxPassedOver = 16;
  uint32_t below = UINT32_MAX;
  for (int passed = 0; passed < kMaxPassedOver;) {
    JET_ASSIGN_OR_RETURN(uint32_t last, UsageMapLast(pager, free_map, below));
    if (last == 0) break;
    JET_ASSIGN_OR_RETURN(PageRef candidate, pager.Read(last));
    const bool ours =
        candidate->type() == kPageData && Le32(candidate->bytes.data() + f.data_owner) == owner;
    if (ours && RowFits(*candidate, f, row_size)) return pager.Modify(last);
    if (ours && Le16(candidate->bytes.data() + f.data_free_space) >= f.page_size / 4) {
      below = last;
      ++passed;
      continue;
    }
    JET_RETURN_IF_ERROR(UsageMapRemove(pager, free_map, last));
  }
  JET_ASSIGN_OR_RETURN(Page * page, AllocatePage(pager));
  InitDataPage(page, f, owner);
  const uint32_t number = page->number;
  JET_RETURN_IF_ERROR(UsageMapAdd(pager, owned_map, number));
  JET_RETURN_IF_ERROR(UsageMapAdd(pager, free_map, number));
  return pager.Modify(number);
}

// Deletes the row at `at` from a page listed in `owned_map` (a table's or a
// long-value column's), as Access deletes one (data_page.h). A page left
// without rows leaves both maps and goes back to the global map, as Access
// frees one; a page that keeps rows goes (back) into the free-space map, so
// that the room is used again. A page the owner's map does not list is left
// in no map.
Status RemoveRowAndReclaim(Pager& pager, RowPointer at, RowPointer owned_map, RowPointer free_map) {
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(at.page));
  JET_RETURN_IF_ERROR(RemoveRowFromPage(page, f, at.row, pager.path()));
  const bool empty = NoRowsLeft(*page, f);
  JET_ASSIGN_OR_RETURN(bool owned, UsageMapContains(pager, owned_map, at.page));
  if (!owned) return Status::Ok();
  if (empty) {
    bool freed = false;
    JET_RETURN_IF_ERROR(FreePage(pager, at.page, &freed));
    if (freed) {
      JET_RETURN_IF_ERROR(UsageMapRemove(pager, owned_map, at.page));
      return UsageMapRemove(pager, free_map, at.page);
    }
  }
  return UsageMapAdd(pager, free_map, at.page);
}

// Puts memo and OLE data on long-value pages, using the column's own usage
// maps from the table definition.
class PageLongValueStore : public LongValueStore {
 public:
  PageLongValueStore(Pager& pager, const TableDef& table) : pager_(pager), table_(table) {}

  // Makes the encoder write `field` as it is for column `column`: a value
  // that did not change keeps the long-value rows it has, and their form.
  void Keep(uint16_t column, ByteView field) {
    kept_.emplace_back(column, std::string(field.begin(), field.end()));
  }

  const std::string* Kept(const ColumnDef& column) override {
    for (const auto& [number, field] : kept_) {
      if (number == column.number) return &field;
    }
    return nullptr;
  }

  // Deletes the long-value rows of a memo or OLE field (`field`: its 12-byte
  // header and what follows, in a row on `page`), pieces of a chain and all.
  // Each must be a live row on a long-value page, and no piece may come
  // twice: anything else is Corrupt, and nothing is deleted.
  Status Free(const ColumnDef& column, ByteView field, uint32_t page) {
    std::vector<RowPointer> rows;
    JET_RETURN_IF_ERROR(LongValueRows(pager_, field, page, &rows));
    if (rows.empty()) return Status::Ok();  // kept in the row
    JET_ASSIGN_OR_RETURN(const LongValueMaps* maps, Maps(column));
    const Format& f = pager_.format();
    for (RowPointer at : rows) {
      JET_ASSIGN_OR_RETURN(PageRef holder, pager_.ReadTyped(at.page, kPageData, "a data page"));
      JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*holder, f, at.row, pager_.path()));
      if (slot.deleted || slot.overflow ||
          Le32(holder->bytes.data() + f.data_owner) != kLongValueOwner) {
        return pager_.CorruptAt(at.page, "A memo or OLE value of column '" + column.name +
                                             "' leads to a row that is not a live long value");
      }
    }
    for (RowPointer at : rows) {
      JET_RETURN_IF_ERROR(RemoveRowAndReclaim(pager_, at, maps->used_pages, maps->free_pages));
    }
    return Status::Ok();
  }

  Result<RowPointer> Store(const ColumnDef& column, const std::string& data,
                           bool chained) override {
    for (const Stored& s : stored_) {
      if (s.column == column.number && s.chained == chained && s.data == data) return s.where;
    }
    // The same data again (a row encoded twice, to learn its size first)
    // is the same long value.
    JET_ASSIGN_OR_RETURN(RowPointer where, StoreNew(column, data, chained));
    stored_.push_back(Stored{column.number, chained, data, where});
    return where;
  }

 private:
  struct Stored {
    uint16_t column;
    bool chained;
    std::string data;
    RowPointer where;
  };

  Result<const LongValueMaps*> Maps(const ColumnDef& column) {
    for (const LongValueMaps& m : table_.long_value_maps) {
      if (m.column_number == column.number && !m.used_pages.null() && !m.free_pages.null()) {
        return &m;
      }
    }
    return Status::Unsupported("Column '" + column.name + "' of table '" + table_.name +
                               "' has no long-value page maps; this engine will not guess "
                               "where its data belongs")
        .AtFile(pager_.path());
  }

  Result<RowPointer> StoreNew(const ColumnDef& column, const std::string& data, bool chained) {
    JET_ASSIGN_OR_RETURN(const LongValueMaps* maps, Maps(column));
    const Format& f = pager_.format();
    const size_t room = f.page_size - f.data_first_row_slot - 2;
    if (!chained) {
      if (data.size() > room)
        return Status::InvalidArgument("A long value is too large for one row");
      return Put(*maps, data);
    }
    // A chain, written from its last piece back to its first so that each
    // piece can point at the next.
    const size_t piece = room - kLongValueChainLink;
    std::vector<std::pair<size_t, size_t>> pieces;
    for (size_t at = 0; at < data.size(); at += piece) {
      pieces.emplace_back(at, std::min(piece, data.size() - at));
    }
    RowPointer next;
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
      std::string row(kLongValueChainLink, '\0');
      PutLe32(reinterpret_cast<uint8_t*>(row.data()), next.raw());
      row.append(data, it->first, it->second);
      JET_ASSIGN_OR_RETURN(next, Put(*maps, row));
    }
    return next;
  }

  Result<RowPointer> Put(const LongValueMaps& maps, const std::string& row) {
    JET_ASSIGN_OR_RETURN(Page * page, PageWithRoom(pager_, maps.used_pages, maps.free_pages,
                                                   kLongValueOwner, row.size()));
    uint8_t number = AddRowToPage(page, pager_.format(), row, 0);
    return RowPointer{page->number, number};
  }

  Pager& pager_;
  const TableDef& table_;
  std::vector<Stored> stored_;
  std::vector<std::pair<uint16_t, std::string>> kept_;
};

// Goes through the memo and OLE values of the old row (`old_row`, on
// `page`, decoded as `old`): one that `values` leaves as it is keeps its
// long-value rows (`store` hands them out again); any other has its rows
// deleted, before the new values are stored, so that they can take their
// room. Without `values` (a deleted row), every one goes.
Status ReleaseLongValues(Pager& pager, const DatabaseHeader& header, const TableDef& table,
                         ByteView row, uint32_t page, const std::vector<Value>& old,
                         const std::vector<Value>* values, PageLongValueStore* store) {
  // A copy: deleting long values changes pages, and may move what `row`
  // points into.
  const std::vector<uint8_t> copy(row.begin(), row.end());
  const ByteView old_row(copy.data(), copy.size());
  RowDecoder decoder(pager, header, table);
  std::string data, now;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    if (!IsLongValue(c.type) || old[i].null) continue;
    ByteView raw;
    bool present = false;
    JET_RETURN_IF_ERROR(decoder.RawVarField(old_row, page, c, &raw, &present));
    if (!present || raw.size() < 12) continue;
    const uint8_t kind = raw[3] & 0xC0;
    if (kind == 0x80) continue;  // inline: nothing elsewhere
    if (values && !(*values)[i].null && EncodeFieldBytes(pager.format(), header, c, old[i], &data).ok() &&
        EncodeFieldBytes(pager.format(), header, c, (*values)[i], &now).ok() && now == data) {
      store->Keep(c.number, raw.first(12));
      continue;
    }
    JET_RETURN_IF_ERROR(store->Free(c, raw, page));
  }
  return Status::Ok();
}

}  // namespace

struct TableWriter::Bulk {
  std::unique_ptr<IndexWriter> indexes;
  uint32_t last_autonumber = 0;
  uint64_t rows_before = 0;
  size_t rows = 0;
  bool collect = true;
};

TableWriter::TableWriter(Database& db, std::shared_ptr<const TableDef> table)
    : db_(db), table_(std::move(table)) {}

TableWriter::~TableWriter() { AbortBulk(); }

size_t TableWriter::bulk_rows() const { return bulk_ ? bulk_->rows : 0; }

Result<std::unique_ptr<TableWriter>> TableWriter::Open(Database& db, const std::string& name) {
  if (!db.writable()) {
    return Status::InvalidArgument("The database was opened read-only").AtFile(db.path());
  }
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> table, db.GetTable(name));
  return std::unique_ptr<TableWriter>(new TableWriter(db, std::move(table)));
}

Status TableWriter::CheckComputedColumns(bool inserting) const {
  for (const ColumnDef& c : table_->columns) {
    if (c.calculated()) {
      return Status::Unsupported("Table '" + table_->name + "' has the calculated column '" +
                                 c.name + "', whose value Access computes on every change; "
                                 "this engine does not compute it, so it does not add or "
                                 "change rows of this table")
          .AtFile(db_.path());
    }
    if (inserting && c.type == ColumnType::kComplex) {
      return Status::Unsupported("Table '" + table_->name + "' has the attachment or "
                                 "multi-valued field '" + c.name + "', whose values this "
                                 "engine does not write, so it does not add rows to it")
          .AtFile(db_.path());
    }
  }
  return Status::Ok();
}

Status TableWriter::CheckWritable() const {
  if (within_change_) return Status::Ok();  // relationships: joins the open change
  if (db_.pager().HasChanges()) {
    return Status::InvalidArgument("Another change to the database is still open");
  }
  return Status::Ok();
}

Result<const ColumnProperties*> TableWriter::Properties() {
  if (!properties_) {
    JET_ASSIGN_OR_RETURN(ColumnProperties p, ReadColumnProperties(db_, *table_));
    properties_ = std::make_unique<ColumnProperties>(std::move(p));
  }
  return properties_.get();
}

Status TableWriter::CheckProperties(const std::vector<Value>& values,
                                    const std::vector<Value>* old) {
  JET_ASSIGN_OR_RETURN(const ColumnProperties* props, Properties());
  const TableDef& t = *table_;
  for (size_t i = 0; i < t.columns.size() && i < props->columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    const ColumnRules& r = props->columns[i];
    const Value& v = values[i];
    // Jet checks these on every row it stores, changed columns or not.
    if (r.required && v.null && c.type != ColumnType::kBoolean) {
      return Status::Error(ErrorKind::kConstraint,
                           "The field '" + t.name + "." + c.name +
                               "' cannot contain a Null value because the Required property "
                               "for this field is set to True. Enter a value in this field.")
          .WithJetError(kJetErrorRequired);
    }
    if (!r.allow_zero_length && !v.null && v.bytes.empty() &&
        (c.type == ColumnType::kText || c.type == ColumnType::kMemo)) {
      return Status::Error(ErrorKind::kConstraint,
                           "Field '" + t.name + "." + c.name + "' cannot be a zero-length string.")
          .WithJetError(kJetErrorZeroLength);
    }
  }
  // Validation rules, through the expression module (expressions.h).
  JET_ASSIGN_OR_RETURN(TableExpressions * expressions, Expressions());
  return expressions->CheckRules(values, old);
}

Result<TableExpressions*> TableWriter::Expressions() {
  if (!expressions_) {
    JET_ASSIGN_OR_RETURN(const ColumnProperties* props, Properties());
    expressions_ = std::make_unique<TableExpressions>(table_, *props, db_.header());
  }
  return expressions_.get();
}

Status TableWriter::ApplyDefaults(const std::vector<bool>& assigned, std::vector<Value>* values) {
  JET_ASSIGN_OR_RETURN(TableExpressions * expressions, Expressions());
  return expressions->ApplyDefaults(assigned, values);
}

Status TableWriter::Finish(Status status) {
  if (within_change_) return status;  // relationships: the outer writer commits
  Pager& pager = db_.pager();
  if (status.ok()) status = pager.Commit();
  if (!status.ok()) {
    pager.Rollback();
    status.AtFile(db_.path());
  }
  // The definition may have changed (row count, autonumber, index roots).
  const std::string name = table_->name;
  db_.ForgetTable(table_->tdef_page);
  auto fresh = db_.GetTable(name);
  if (fresh.ok()) table_ = *fresh;
  return status;
}

Status TableWriter::FillAutonumbers(std::vector<Value>* values, uint32_t* last) const {
  for (size_t i = 0; i < table_->columns.size(); ++i) {
    const ColumnDef& c = table_->columns[i];
    Value& v = (*values)[i];
    if ((c.flags & kColumnAutoLong) && c.type == ColumnType::kLong) {
      if (v.null) {
        if (*last == INT32_MAX) {
          return Status::Error(ErrorKind::kConstraint,
                               "Column '" + c.name + "' has run out of autonumber values");
        }
        v.type = ColumnType::kLong;
        v.null = false;
        v.integer = int64_t(++*last);
      } else if (v.integer > int64_t(*last)) {
        // A value given explicitly moves the counter past it, as in Access.
        *last = uint32_t(v.integer);
      }
    } else if (c.guid_autonumber() && v.null) {
      std::random_device rd;
      std::string guid(16, '\0');
      for (char& b : guid) b = char(rd() & 0xFF);
      guid[7] = char((guid[7] & 0x0F) | 0x40);  // version 4
      guid[8] = char((guid[8] & 0x3F) | 0x80);
      v.type = ColumnType::kGuid;
      v.null = false;
      v.bytes = guid;
    }
  }
  return Status::Ok();
}

Result<RowPointer> TableWriter::PlaceRow(const std::string& row, uint16_t flags) {
  Pager& pager = db_.pager();
  JET_ASSIGN_OR_RETURN(Page * page,
                       PageWithRoom(pager, table_->owned_pages, table_->free_space_pages,
                                    table_->tdef_page, row.size()));
  uint8_t number = AddRowToPage(page, pager.format(), row, flags);
  return RowPointer{page->number, number};
}

Status TableWriter::WriteTableCounts(int32_t row_delta, uint32_t last_autonumber) {
  const Format& f = db_.format();
  JET_ASSIGN_OR_RETURN(Page * tdef, db_.pager().Modify(table_->tdef_page));
  uint8_t* p = tdef->bytes.data();
  int64_t rows = int64_t(Le32(p + f.tdef_row_count)) + row_delta;
  PutLe32(p + f.tdef_row_count, uint32_t(std::max<int64_t>(rows, 0)));
  PutLe32(p + f.tdef_autonumber, last_autonumber);
  return Status::Ok();
}

Status TableWriter::LocateRow(RowId id, bool to_change, RowPointer* header, RowPointer* body,
                              std::vector<Value>* values) {
  Pager& pager = db_.pager();
  const Format& f = pager.format();
  JET_ASSIGN_OR_RETURN(PageRef page, pager.ReadTyped(id.page, kPageData, "a data page"));
  if (Le32(page->bytes.data() + f.data_owner) != table_->tdef_page) {
    return Status::NotFound("Page " + std::to_string(id.page) + " holds no rows of table '" +
                            table_->name + "'");
  }
  JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*page, f, id.row, pager.path()));
  if (slot.deleted) return Status::NotFound("The row was deleted");
  *header = RowPointer{id.page, uint8_t(id.row)};
  *body = *header;
  ByteView bytes(page->bytes.data() + slot.start, slot.end - slot.start);
  PageRef holder = page;
  for (int hops = 0; slot.overflow; ++hops) {
    if (hops >= 8 || bytes.size() < 4) {
      return pager.CorruptAt(body->page, "A moved row's forwarding pointer is damaged");
    }
    *body = RowPointer::FromRaw(Le32(bytes.data()));
    JET_ASSIGN_OR_RETURN(bytes, ReadRowBytes(pager, *body, &holder));
    JET_ASSIGN_OR_RETURN(slot, GetRowSlot(*holder, f, body->row, pager.path()));
    if (!to_change) continue;
    // Changing the row frees its moved copy, which must be this table's and
    // nothing else.
    if (slot.overflow && !slot.deleted) {
      return Status::Unsupported(
                 "A row of table '" + table_->name +
                 "' was moved more than once; Access keeps a moved row one step from its "
                 "place, and this engine will not change one that is not")
          .AtFile(pager.path())
          .AtPage(id.page);
    }
    // A moved copy is flagged deleted alone; both flags mark a deleted row.
    if (!slot.deleted || slot.overflow ||
        Le32(holder->bytes.data() + f.data_owner) != table_->tdef_page) {
      return pager.CorruptAt(body->page,
                             "A moved row's forwarding pointer leads to a slot "
                             "that is not a moved row of table '" +
                                 table_->name + "'");
    }
  }
  RowDecoder decoder(pager, db_.header(), *table_);
  return decoder.Decode(bytes, body->page, values);
}

Status TableWriter::Read(RowId id, std::vector<Value>* values) {
  RowPointer header, body;
  return LocateRow(id, false, &header, &body, values);
}

Status TableWriter::RemoveRow(RowPointer at) {
  return RemoveRowAndReclaim(db_.pager(), at, table_->owned_pages, table_->free_space_pages);
}

Result<RowPointer> TableWriter::InsertOne(std::vector<Value> values, uint32_t* last_autonumber,
                                          IndexWriter* shared_indexes, bool collect,
                                          uint32_t ordinal) {
  JET_RETURN_IF_ERROR(CheckComputedColumns(true));
  if (values.size() != table_->columns.size()) {
    return Status::InvalidArgument("A row of table '" + table_->name + "' needs " +
                                   std::to_string(table_->columns.size()) + " values");
  }
  JET_RETURN_IF_ERROR(FillAutonumbers(&values, last_autonumber));
  JET_RETURN_IF_ERROR(CheckProperties(values, nullptr));
  std::unique_ptr<IndexWriter> own_indexes;
  if (!shared_indexes) {
    own_indexes = std::make_unique<IndexWriter>(db_.pager(), db_.header(), *table_);
  }
  IndexWriter& indexes = shared_indexes ? *shared_indexes : *own_indexes;
  if (!collect) JET_RETURN_IF_ERROR(indexes.CheckInsert(values));
  PageLongValueStore long_values(db_.pager(), *table_);
  RowEncoder encoder(db_.format(), db_.header(), *table_);
  std::string row;
  JET_RETURN_IF_ERROR(encoder.Encode(values, &long_values, 0, &row));
  JET_ASSIGN_OR_RETURN(RowPointer at, PlaceRow(row, 0));
  if (collect) {
    JET_RETURN_IF_ERROR(indexes.Collect(values, at, ordinal));
  } else {
    JET_RETURN_IF_ERROR(indexes.Insert(values, at));
  }
  // Relationships: the row must refer to rows that exist.
  JET_RETURN_IF_ERROR(RelationshipEnforcer(db_, *table_).AfterInsert(values));
  return at;
}

Result<RowId> TableWriter::Insert(std::vector<Value> values) {
  JET_RETURN_IF_ERROR(CheckWritable());
  RowPointer at;
  Status s = [&]() -> Status {
    uint32_t last = table_->last_autonumber;
    JET_ASSIGN_OR_RETURN(at, InsertOne(std::move(values), &last));
    return WriteTableCounts(+1, last);
  }();
  JET_RETURN_IF_ERROR(Finish(s));
  return RowId{at.page, at.row};
}

Status TableWriter::InsertWithoutCommit(std::vector<Value> values) {
  // The definition in the batch may already count earlier rows of the same
  // operation; continue from what it says.
  JET_ASSIGN_OR_RETURN(PageRef tdef, db_.pager().Read(table_->tdef_page));
  uint32_t last = Le32(tdef->bytes.data() + db_.format().tdef_autonumber);
  JET_ASSIGN_OR_RETURN(RowPointer at, InsertOne(std::move(values), &last));
  (void)at;
  return WriteTableCounts(+1, last);
}

Status TableWriter::InsertBatch(std::vector<std::vector<Value>> rows, std::vector<RowId>* ids) {
  JET_RETURN_IF_ERROR(CheckWritable());
  if (ids) ids->clear();
  Status s = [&]() -> Status {
    // The counters advance row by row, so each row sees the ones before it.
    // One index writer serves the whole batch, keeping the pages it parsed.
    uint32_t last = table_->last_autonumber;
    IndexWriter indexes(db_.pager(), db_.header(), *table_);
    for (size_t i = 0; i < rows.size(); ++i) {
      auto at = InsertOne(std::move(rows[i]), &last, &indexes);
      if (!at.ok()) {
        Status err = at.TakeStatus();
        return Status::Error(err.kind(), "Row " + std::to_string(i + 1) + ": " + err.message());
      }
      if (ids) ids->push_back(RowId{at->page, at->row});
    }
    return WriteTableCounts(int32_t(rows.size()), last);
  }();
  if (!s.ok() && ids) ids->clear();
  return Finish(s);
}

Status TableWriter::BeginBulk(size_t entry_memory) {
  if (bulk_) return Status::InvalidArgument("A bulk insertion is already open");
  JET_RETURN_IF_ERROR(CheckWritable());
  JET_RETURN_IF_ERROR(CheckComputedColumns(true));
  auto bulk = std::make_unique<Bulk>();
  bulk->indexes = std::make_unique<IndexWriter>(db_.pager(), db_.header(), *table_);
  if (entry_memory != 0) bulk->indexes->set_collect_memory(entry_memory);
  bulk->last_autonumber = table_->last_autonumber;
  bulk->rows_before = table_->row_count;
  for (const LogicalIndex& li : table_->logical_indexes) {
    if (li.foreign() && li.related_table_type == kReferencingSide &&
        li.related_table_page == table_->tdef_page) {
      bulk->collect = false;
    }
  }
  bulk_ = std::move(bulk);
  db_.pager().SetSpillThreshold(kBulkSpillPages);
  return Status::Ok();
}

Status TableWriter::AddBulk(std::vector<Value> values) {
  if (!bulk_) return Status::InvalidArgument("No bulk insertion is open");
  const uint32_t ordinal = uint32_t(bulk_->rows + 1);
  auto at = InsertOne(std::move(values), &bulk_->last_autonumber, bulk_->indexes.get(),
                      bulk_->collect, ordinal);
  if (!at.ok()) {
    Status s = at.TakeStatus();
    AbortBulk();
    return s.AtFile(db_.path());
  }
  ++bulk_->rows;
  // Between rows no page of the batch is held: it may go to the file.
  Status spilled = db_.pager().MaybeSpill();
  if (!spilled.ok()) {
    AbortBulk();
    return spilled;
  }
  return Status::Ok();
}

Status TableWriter::CommitBulk() {
  if (!bulk_) return Status::InvalidArgument("No bulk insertion is open");
  Status s = bulk_->collect ? bulk_->indexes->WriteCollected(bulk_->rows_before) : Status::Ok();
  if (s.ok()) s = WriteTableCounts(int32_t(bulk_->rows), bulk_->last_autonumber);
  bulk_.reset();
  s = Finish(s);
  db_.pager().SetSpillThreshold(0);
  return s;
}

void TableWriter::AbortBulk() {
  if (!bulk_) return;
  bulk_.reset();
  (void)Finish(Status::InvalidArgument("The bulk insertion was abandoned"));
  db_.pager().SetSpillThreshold(0);
}

Status TableWriter::UpdateOne(RowId id, std::vector<Value> values, IndexWriter& indexes) {
  if (values.size() != table_->columns.size()) {
    return Status::InvalidArgument("A row of table '" + table_->name + "' needs " +
                                   std::to_string(table_->columns.size()) + " values");
  }
  JET_RETURN_IF_ERROR(CheckComputedColumns(false));
  RowPointer header, body;
  std::vector<Value> old;
  JET_RETURN_IF_ERROR(LocateRow(id, true, &header, &body, &old));
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnDef& c = table_->columns[i];
    if ((c.flags & kColumnAutoLong) && !old[i].null &&
        (values[i].null || values[i].integer != old[i].integer)) {
      return Status::InvalidArgument("Column '" + c.name +
                                     "' is an autonumber and cannot be changed");
    }
    if (c.type == ColumnType::kComplex &&
        (values[i].null != old[i].null || values[i].integer != old[i].integer)) {
      return Status::Unsupported("Column '" + c.name + "' is an attachment or multi-valued "
                                 "field, whose values this engine does not write");
    }
  }
  JET_RETURN_IF_ERROR(CheckProperties(values, &old));
  const RowPointer home{id.page, uint8_t(id.row)};
  JET_RETURN_IF_ERROR(indexes.CheckUpdate(old, values, home));

  Pager& pager = db_.pager();
  const Format& f = pager.format();
  PageRef holder;
  JET_ASSIGN_OR_RETURN(ByteView old_bytes, ReadRowBytes(pager, body, &holder));
  const uint32_t old_size = uint32_t(old_bytes.size());

  PageLongValueStore long_values(pager, *table_);
  JET_RETURN_IF_ERROR(ReleaseLongValues(pager, db_.header(), *table_, old_bytes, body.page, old,
                                        &values, &long_values));
  RowEncoder encoder(f, db_.header(), *table_);
  std::string row;
  JET_RETURN_IF_ERROR(encoder.Encode(values, &long_values, 0, &row));
  if (row.size() <= old_size) {
    // Fits where the row is: rewrite it there, padded to its old size.
    JET_RETURN_IF_ERROR(encoder.Encode(values, &long_values, old_size, &row));
  }
  if (row.size() == old_size) {
    JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(body.page));
    JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*page, f, body.row, pager.path()));
    if (slot.deleted) {  // a moved row's body: bounds as for any row
      const uint8_t* p = page->bytes.data();
      slot.start = Le16(p + f.data_first_row_slot + 2 * body.row) & kRowOffsetMask;
    }
    std::copy(row.begin(), row.end(), page->bytes.begin() + slot.start);
  } else {
    // Too big for its place: store it elsewhere, flagged so that scans
    // skip it there, and leave a forwarding pointer in the original slot.
    // A row that had moved before moves again from where it is: its old
    // copy is deleted first (so its room can take the new one) and the
    // original slot points at the new place, one step as ever.
    if (body.page != header.page || body.row != header.row) {
      JET_RETURN_IF_ERROR(RemoveRow(body));
    }
    JET_ASSIGN_OR_RETURN(RowPointer moved, PlaceRow(row, kRowDeletedFlag));
    JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(header.page));
    JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*page, f, header.row, pager.path()));
    if (slot.end - slot.start < 4) {
      return pager.CorruptAt(header.page, "A row is too short to hold a forwarding pointer");
    }
    uint8_t* p = page->bytes.data();
    std::fill(p + slot.start, p + slot.end, 0);
    PutLe32(p + slot.start, moved.raw());
    const uint32_t at = f.data_first_row_slot + 2 * header.row;
    PutLe16(p + at, uint16_t(Le16(p + at) | kRowOverflowFlag));
  }
  JET_RETURN_IF_ERROR(indexes.Update(old, values, home));
  // Relationships: check the new foreign keys, cascade a changed key.
  return RelationshipEnforcer(db_, *table_).AfterUpdate(old, values);
}

Status TableWriter::DeleteOne(RowId id, IndexWriter& indexes) {
  RowPointer header, body;
  std::vector<Value> old;
  JET_RETURN_IF_ERROR(LocateRow(id, true, &header, &body, &old));
  JET_RETURN_IF_ERROR(indexes.Delete(old, header));
  // Its memo and OLE values go with it.
  {
    Pager& pager = db_.pager();
    PageRef holder;
    JET_ASSIGN_OR_RETURN(ByteView bytes, ReadRowBytes(pager, body, &holder));
    PageLongValueStore long_values(pager, *table_);
    JET_RETURN_IF_ERROR(ReleaseLongValues(pager, db_.header(), *table_, bytes, body.page, old,
                                          nullptr, &long_values));
  }
  // The row goes as Access deletes one (data_page.h), and a moved row's
  // copy with it: left behind, every reader that does not follow pointers
  // would still see it, and its room would never be used again.
  JET_RETURN_IF_ERROR(RemoveRow(header));
  if (body.page != header.page || body.row != header.row) {
    JET_RETURN_IF_ERROR(RemoveRow(body));
  }
  // Relationships: refuse, or cascade to the rows that refer to this one.
  return RelationshipEnforcer(db_, *table_).AfterDelete(old);
}

Status TableWriter::Update(RowId id, std::vector<Value> values) {
  return UpdateMany({id}, {std::move(values)});
}

Status TableWriter::Delete(RowId id) { return DeleteMany({id}); }

Status TableWriter::ChangeMany(size_t count, const std::function<Status(size_t, IndexWriter&)>& one,
                               int32_t row_delta) {
  JET_RETURN_IF_ERROR(CheckWritable());
  Pager& pager = db_.pager();
  const bool spill = !within_change_ && count > 1;
  if (spill) pager.SetSpillThreshold(kBulkSpillPages);
  Status s = [&]() -> Status {
    IndexWriter indexes(pager, db_.header(), *table_);
    for (size_t i = 0; i < count; ++i) {
      Status row = one(i, indexes);
      if (!row.ok()) {
        if (count == 1) return row;
        return Status::Error(row.kind(), "Row " + std::to_string(i + 1) + ": " + row.message());
      }
      // Between rows no page of the batch is held: it may go to the file.
      if (spill) JET_RETURN_IF_ERROR(pager.MaybeSpill());
    }
    return WriteTableCounts(row_delta, table_->last_autonumber);
  }();
  s = Finish(s);
  if (spill) pager.SetSpillThreshold(0);
  return s;
}

Status TableWriter::UpdateMany(const std::vector<RowId>& ids,
                               std::vector<std::vector<Value>> rows) {
  if (rows.size() != ids.size()) {
    return Status::InvalidArgument("An update needs one row of values per row it changes");
  }
  return ChangeMany(
      ids.size(),
      [&](size_t i, IndexWriter& indexes) { return UpdateOne(ids[i], std::move(rows[i]), indexes); },
      0);
}

Status TableWriter::DeleteMany(const std::vector<RowId>& ids) {
  return ChangeMany(
      ids.size(), [&](size_t i, IndexWriter& indexes) { return DeleteOne(ids[i], indexes); },
      -int32_t(ids.size()));
}

}  // namespace jet
