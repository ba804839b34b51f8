// SPDX-License-Identifier: Apache-2.0
#include "jet/table/create.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_key.h"
#include "jet/storage/header.h"
#include "jet/storage/text.h"
#include "jet/table/table_writer.h"

namespace jet {

namespace {

#include "jet/table/empty_ace12_data.inc"
#include "jet/table/empty_ace16_data.inc"
#include "jet/table/empty_database_data.inc"
#include "jet/table/empty_jet3_data.inc"

// Constants Jet writes into every definition it makes (seen in every Jet 4
// definition of the fixtures; Jet 3 has none of them).
constexpr uint32_t kTdefMagic = 0x0659;         // TDEF offset 12, each column and logical index
constexpr uint32_t kPhysicalIndexMagic = 1923;  // first 4 bytes of a physical index block
constexpr uint8_t kIndexAlwaysSet = 0x80;       // set in the flags of every Jet 4 index
constexpr uint8_t kUserTable = 0x4E;
constexpr uint32_t kTablesContainer = 0x0F000001;  // catalog id of the "Tables" folder
constexpr uint32_t kDatabaseObject = 0x10000000;   // catalog id of MSysDb, the database
constexpr int16_t kCatalogTypeTable = 1;
constexpr uint32_t kFullAccess = 0xFFFFF;         // access mask of a new object's owner
constexpr uint32_t kUsersFolderAccess = 0xF00FE;  // the Users group's mask on the Tables folder
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxNameLength = 64;
constexpr uint32_t kMaxMapRowsPerPage = 50;
// Bytes 2-3 of every Jet 3 definition page, continuation pages included.
constexpr uint8_t kJet3TdefSignature[2] = {'V', 'C'};
// Access 97 keeps a record's fixed-length part within 2000 bytes.
constexpr uint32_t kMaxFixedBytesJet3 = 2000, kMaxFixedBytesJet4 = 4000;

std::vector<uint8_t> ExpandTemplate(const uint8_t* runs, size_t size) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < size; ++i) {
    if (runs[i] == 0 && i + 1 < size) {
      out.insert(out.end(), size_t(runs[i + 1]) + 1, 0);
      ++i;
    } else {
      out.push_back(runs[i]);
    }
  }
  return out;
}

// Access refuses names with these characters, a leading space, or control
// characters.
Status CheckName(const std::string& what, const std::string& name, const DatabaseHeader& header) {
  std::u16string units;
  if (name.empty() || !Utf8ToUtf16(name, &units)) {
    return Status::InvalidArgument(what + " needs a name");
  }
  if (header.format->version == JetVersion::kJet3) {
    // Access 97 keeps names in the database's code page.
    for (char16_t c : units) {
      // Other code pages are known to the engine only in their ASCII half.
      uint8_t byte = 0;
      const bool held = header.code_page == 1252 ? EncodeCodePageChar(c, 1252, &byte) : c < 0x80;
      if (!held) {
        return Status::InvalidArgument(what + " '" + name + "' has a character that code page " +
                                       std::to_string(header.code_page) +
                                       " of this Access 97 database cannot hold");
      }
    }
  }
  if (units.size() > kMaxNameLength) {
    return Status::InvalidArgument(what + " '" + name + "' is longer than 64 characters");
  }
  if (units[0] == u' ')
    return Status::InvalidArgument(what + " '" + name + "' starts with a space");
  for (char16_t c : units) {
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') {
      return Status::InvalidArgument(what + " '" + name +
                                     "' contains a character Access does not allow in names");
    }
  }
  return Status::Ok();
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = char(std::tolower(uint8_t(c)));
  return s;
}

double JetNow() {
  // The catalog's dates are kept to the whole second.
  DateTimeParts p = LocalNow();
  p.millisecond = 0;
  double days = 0;
  DateTimeToJet(p, &days);
  return days;
}

Value MakeLong(int64_t v) {
  Value out;
  out.type = ColumnType::kLong;
  out.null = false;
  out.integer = v;
  return out;
}

void Append16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
  Append16(b, uint16_t(v));
  Append16(b, uint16_t(v >> 16));
}
// Jet 4: 2-byte length, UTF-16LE. Jet 3: 1-byte length, code page bytes
// (CheckName made sure each character has one).
void AppendName(std::vector<uint8_t>& b, const std::string& utf8, JetVersion version) {
  std::u16string units;
  Utf8ToUtf16(utf8, &units);
  if (version == JetVersion::kJet3) {
    b.push_back(uint8_t(units.size()));
    for (char16_t u : units) {
      uint8_t byte = uint8_t(u);
      EncodeCodePageChar(u, 1252, &byte);
      b.push_back(byte);
    }
    return;
  }
  Append16(b, uint16_t(units.size() * 2));
  for (char16_t u : units) Append16(b, uint16_t(u));
}

// One column's definition, resolved from what was asked for.
struct Planned {
  ColumnSpec design;
  uint16_t number = 0;
  uint16_t var_index = 0;
  uint16_t fixed_offset = 0;
  uint16_t length = 0;
  uint8_t flags = 0;
  uint8_t ext_flags = 0;
  bool variable = false;
};

Status PlanColumns(const TableSpec& design, const DatabaseHeader& header,
                   std::vector<Planned>* out) {
  const bool jet3 = header.format->version == JetVersion::kJet3;
  if (design.columns.empty()) return Status::InvalidArgument("A table needs at least one column");
  if (design.columns.size() > 255) {
    return Status::InvalidArgument("A table holds at most 255 columns");
  }
  std::set<std::string> names;
  uint16_t var_count = 0, fixed_at = 0;
  int autonumbers = 0;
  for (size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnSpec& c = design.columns[i];
    JET_RETURN_IF_ERROR(CheckName("A column", c.name, header));
    if (!names.insert(LowerAscii(c.name)).second) {
      return Status::InvalidArgument("Two columns are named '" + c.name + "'");
    }
    Planned p;
    p.design = c;
    p.number = uint16_t(i);
    p.flags = kColumnNullable;
    const std::string where = "Column '" + c.name + "': ";
    switch (c.type) {
      case ColumnType::kText:
        if (jet3) {
          p.length = c.length ? c.length : 255;
          if (p.length > 255) {
            return Status::InvalidArgument(where + "text holds 1 to 255 characters");
          }
          break;
        }
        p.length = c.length ? c.length : 510;
        if (p.length % 2 != 0 || p.length > 510) {
          return Status::InvalidArgument(where + "text holds 1 to 255 characters (2 bytes each)");
        }
        if (c.compressed_unicode) p.ext_flags = kColumnExtCompressed;
        break;
      case ColumnType::kBinary:
        p.length = c.length ? c.length : 255;
        if (p.length > 255) return Status::InvalidArgument(where + "binary holds 1 to 255 bytes");
        break;
      case ColumnType::kMemo:
        if (c.compressed_unicode && !jet3) p.ext_flags = kColumnExtCompressed;
        if (c.hyperlink) p.flags |= kColumnHyperlink;
        break;
      case ColumnType::kOle:
        break;
      case ColumnType::kNumeric:
        if (jet3) {
          return Status::Unsupported(where +
                                     "Access 97 databases have no Decimal type; use "
                                     "Double or Currency, or an Access 2000 database");
        }
        if (c.precision < 1 || c.precision > 28 || c.scale > c.precision) {
          return Status::InvalidArgument(where +
                                         "a decimal needs a precision of 1 to 28 and a "
                                         "scale no larger than it");
        }
        p.length = 17;
        break;
      case ColumnType::kUnknown0D:
      case ColumnType::kUnknown11:
        return Status::Unsupported(where + "this type is not one a table can be given");
      case ColumnType::kComplex:
        return Status::Unsupported(where +
                                   "attachment and multi-valued fields are not created by "
                                   "this engine");
      case ColumnType::kBigInt:
      case ColumnType::kExtDateTime:
        // Access marks a database that uses these so that earlier versions
        // refuse it; where it keeps that mark is not established here.
        return Status::Unsupported(where + ColumnTypeName(c.type) +
                                   " columns (Access 2016 and 2019) are not created by this "
                                   "engine");
      default:
        p.length = uint16_t(FixedSizeOf(c.type));
        break;
    }
    if (c.type == ColumnType::kBoolean) p.length = 1;
    if (c.autonumber) {
      if (c.type != ColumnType::kLong)
        return Status::InvalidArgument(where + "only a Long can be an autonumber");
      p.flags |= kColumnAutoLong;
      ++autonumbers;
    }
    if (c.guid_autonumber) {
      if (c.type != ColumnType::kGuid) {
        return Status::InvalidArgument(where + "only a GUID can be a GUID autonumber");
      }
      p.flags |= kColumnAutoGuid;
    }
    if (c.hyperlink && c.type != ColumnType::kMemo) {
      return Status::InvalidArgument(where + "only a memo can be a hyperlink");
    }
    const bool fixed_text =
        c.fixed && (c.type == ColumnType::kText || c.type == ColumnType::kBinary);
    p.variable = !fixed_text && (c.type == ColumnType::kText || c.type == ColumnType::kBinary ||
                                 IsLongValue(c.type));
    if (!p.variable) {
      p.flags |= kColumnFixed;
      if (c.type != ColumnType::kBoolean) {
        p.fixed_offset = fixed_at;
        if (uint32_t(fixed_at) + p.length > (jet3 ? kMaxFixedBytesJet3 : kMaxFixedBytesJet4)) {
          return Status::InvalidArgument("The fixed-length columns of table '" + design.name +
                                         "' need more room than a row has");
        }
        fixed_at = uint16_t(fixed_at + p.length);
      }
      p.var_index = var_count;
    } else {
      p.var_index = var_count++;
    }
    out->push_back(p);
  }
  if (autonumbers > 1)
    return Status::InvalidArgument("A table can have only one autonumber column");
  return Status::Ok();
}

struct PlannedIndex {
  IndexSpec design;
  std::vector<std::pair<uint16_t, bool>> columns;  // column number, ascending
  uint8_t flags = 0;
};

Status PlanIndexes(const TableSpec& design, const std::vector<Planned>& columns,
                   const DatabaseHeader& header, std::vector<PlannedIndex>* out) {
  if (design.indexes.size() > kMaxIndexes) {
    return Status::InvalidArgument("A table holds at most 32 indexes");
  }
  std::set<std::string> names;
  int primaries = 0;
  for (const IndexSpec& ix : design.indexes) {
    JET_RETURN_IF_ERROR(CheckName("An index", ix.name, header));
    if (!names.insert(LowerAscii(ix.name)).second) {
      return Status::InvalidArgument("Two indexes are named '" + ix.name + "'");
    }
    if (ix.columns.empty() || ix.columns.size() > 10) {
      return Status::InvalidArgument("Index '" + ix.name + "' needs 1 to 10 columns");
    }
    PlannedIndex p;
    p.design = ix;
    for (const IndexColumnSpec& ic : ix.columns) {
      const Planned* col = nullptr;
      for (const Planned& c : columns) {
        if (NamesEqual(c.design.name, ic.name)) col = &c;
      }
      if (!col) {
        return Status::InvalidArgument("Index '" + ix.name + "' names column '" + ic.name +
                                       "', which the table does not have");
      }
      if (IsLongValue(col->design.type)) {
        return Status::Unsupported("Index '" + ix.name + "': memo and OLE columns are not indexed");
      }
      if (IsTextual(col->design.type)) {
        // A text key must be buildable exactly in the database's sort order.
        JET_RETURN_IF_ERROR(TextCollationOf(header.sort_order, header.format->version).status());
      }
      p.columns.emplace_back(col->number, ic.ascending);
    }
    if (ix.primary) ++primaries;
    if (ix.primary || ix.unique) p.flags |= kIndexUnique;
    if (ix.ignore_nulls) p.flags |= kIndexIgnoreNulls;
    if (ix.primary || ix.required) p.flags |= kIndexRequired;
    if (header.format->version == JetVersion::kJet4) p.flags |= kIndexAlwaysSet;
    out->push_back(p);
  }
  if (primaries > 1) return Status::InvalidArgument("A table can have only one primary key");
  return Status::Ok();
}

// A fresh inline usage map row: type, first page, and an empty bitmap.
std::string EmptyMapRow(const Format& f) {
  const size_t bitmap = f.version == JetVersion::kJet4 ? 64 : 128;
  return std::string(5 + bitmap, '\0');
}

void PutDouble(uint8_t* p, double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  PutLe32(p, uint32_t(bits));
  PutLe32(p + 4, uint32_t(bits >> 32));
}

// Jet 4 keeps the day the database was made in its header, and masks the
// password with that day (header.h): the password is re-masked for the new
// day, or an empty one would read as set.
void StampHeaderDate(std::vector<uint8_t>& bytes, const Format& f, double now) {
  if (f.header_creation_date < 0) return;
  uint8_t* page = bytes.data();
  ApplyHeaderMask(page, f);
  uint8_t* date = page + uint32_t(f.header_creation_date);
  uint8_t old_mask[4], new_mask[4];
  PutLe32(old_mask, uint32_t(int32_t(BitsToDouble(Le64(date)))));
  PutLe32(new_mask, uint32_t(int32_t(now)));
  for (uint32_t i = 0; i < f.header_password_size; ++i) {
    page[f.header_password + i] ^= uint8_t(old_mask[i % 4] ^ new_mask[i % 4]);
  }
  PutDouble(date, now);
  ApplyHeaderMask(page, f);
}

// Gives every catalog row the creation and update date `now`, as Access
// dates the system objects of a database it makes. Both are fixed columns
// in no index of the catalog, so they are changed where they are.
Status StampCatalogDates(const std::string& path, double now) {
  JET_ASSIGN_OR_RETURN(std::unique_ptr<Database> db, Database::Open(path, {.writable = true}));
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> catalog, db->GetTable("MSysObjects"));
  std::vector<size_t> dates;
  for (const char* name : {"DateCreate", "DateUpdate"}) {
    const ColumnDef* c = catalog->FindColumn(name);
    if (!c || c->type != ColumnType::kDateTime || !c->fixed()) {
      return Status::Corrupt("The built-in empty database has no catalog dates");
    }
    dates.push_back(size_t(c - catalog->columns.data()));
  }
  std::vector<RowId> rows;
  {
    TableScanner scan(*db, catalog);
    std::vector<Value> values;
    RowId id;
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, scan.Next(&values, &id));
      if (!more) break;
      if (!values[dates[0]].null && !values[dates[1]].null) rows.push_back(id);
    }
  }
  Pager& pager = db->pager();
  const Format& f = db->format();
  for (const RowId& id : rows) {
    JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(id.page));
    JET_ASSIGN_OR_RETURN(RowSlot slot, GetRowSlot(*page, f, id.row, path));
    for (size_t i : dates) {
      const size_t at = slot.start + f.row_column_count_size + catalog->columns[i].fixed_offset;
      if (slot.overflow || at + 8 > slot.end) {
        pager.Rollback();
        return Status::Corrupt("The built-in empty database has a catalog row out of place");
      }
      PutDouble(page->bytes.data() + at, now);
    }
  }
  Status s = pager.Commit();
  if (!s.ok()) pager.Rollback();
  return s;
}

}  // namespace

Status CreateDatabase(const std::string& path, JetVersion version) {
  return CreateDatabase(path, version == JetVersion::kJet3 ? FileVersion::kJet3 : FileVersion::kJet4);
}

Status CreateDatabase(const std::string& path, FileVersion version) {
  std::vector<uint8_t> bytes;
  uint32_t size = 0;
  const Format* format = &Jet4Format();
  switch (version) {
    case FileVersion::kJet3:
      bytes = ExpandTemplate(kEmptyJet3Runs, sizeof kEmptyJet3Runs);
      size = kEmptyJet3Size;
      format = &Jet3Format();
      break;
    case FileVersion::kJet4:
      bytes = ExpandTemplate(kEmptyJet4Runs, sizeof kEmptyJet4Runs);
      size = kEmptyJet4Size;
      break;
    case FileVersion::kAce12:
      bytes = ExpandTemplate(kEmptyAce12Runs, sizeof kEmptyAce12Runs);
      size = kEmptyAce12Size;
      format = &AceFormat();
      break;
    case FileVersion::kAce16:
      bytes = ExpandTemplate(kEmptyAce16Runs, sizeof kEmptyAce16Runs);
      size = kEmptyAce16Size;
      format = &AceFormat();
      break;
    default:
      return Status::Unsupported(std::string("New databases in the format of ") +
                                 FileVersionName(version) +
                                 " are not made (Access 97, 2000, 2007 and 2016 are)")
          .AtFile(path);
  }
  if (bytes.size() != size) return Status::Corrupt("The built-in empty database is damaged");
  // The database and its system objects are dated now, not when the
  // database the empty one came from was made.
  const double now = JetNow();
  StampHeaderDate(bytes, *format, now);
  JET_ASSIGN_OR_RETURN(std::unique_ptr<File> file, File::CreateNew(path));
  Status written = file->WriteAt(0, bytes);
  if (written.ok()) written = file->Sync();
  file.reset();
  if (!written.ok()) {
    (void)RemoveFile(path);
    return Status::IoError("Cannot write the new database: " + written.message()).AtFile(path);
  }
  Status stamped = StampCatalogDates(path, now);
  if (!stamped.ok()) {
    (void)RemoveFile(path);
    return stamped.AtFile(path);
  }
  return Status::Ok();
}

Status CreateTable(Database& db, const TableSpec& design) {
  if (!db.writable())
    return Status::InvalidArgument("The database was opened read-only").AtFile(db.path());
  const Format& f = db.format();
  const bool jet3 = f.version == JetVersion::kJet3;
  Pager& pager = db.pager();
  if (pager.HasChanges())
    return Status::InvalidArgument("Another change to the database is still open");

  JET_RETURN_IF_ERROR(CheckName("A table", design.name, db.header()));
  {
    JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> tables, db.ListTables(true));
    for (const CatalogEntry& t : tables) {
      if (NamesEqual(t.name, design.name)) {
        return Status::InvalidArgument("A table named '" + t.name + "' exists already")
            .AtFile(db.path());
      }
    }
  }
  std::vector<Planned> columns;
  JET_RETURN_IF_ERROR(PlanColumns(design, db.header(), &columns));
  std::vector<PlannedIndex> indexes;
  JET_RETURN_IF_ERROR(PlanIndexes(design, columns, db.header(), &indexes));
  std::vector<size_t> long_columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (IsLongValue(columns[i].design.type)) long_columns.push_back(i);
  }
  const size_t map_rows = 2 + indexes.size() + 2 * long_columns.size();
  const size_t map_row_size = EmptyMapRow(f).size();
  const size_t maps_per_page = std::min<size_t>(
      kMaxMapRowsPerPage, (f.page_size - f.data_first_row_slot) / (map_row_size + 2));
  // Jet 3 columns repeat what the catalog's own columns hold in bytes 7-8
  // (01 00 or 00 00, the same in every table of a file).
  uint8_t jet3_column_word[2] = {0, 0};
  if (jet3) {
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> catalog, db.GetTable("MSysObjects"));
    JET_ASSIGN_OR_RETURN(PageRef first, pager.Read(catalog->tdef_page));
    const size_t at =
        f.tdef_header_size + f.tdef_real_idx_count_size * catalog->physical_indexes.size() + 7;
    jet3_column_word[0] = first->bytes[at];
    jet3_column_word[1] = first->bytes[at + 1];
  }

  Status s = [&]() -> Status {
    // Pages: the definition, pages of usage-map rows (one is enough but
    // for Jet 3 tables with many memos), an empty root leaf per index.
    JET_ASSIGN_OR_RETURN(Page * tdef_page, AllocatePage(pager));
    const uint32_t tdef = tdef_page->number;
    std::vector<RowPointer> map_at;
    uint32_t maps_page = 0;
    for (size_t i = 0; i < map_rows; ++i) {
      if (i % maps_per_page == 0) {
        JET_ASSIGN_OR_RETURN(Page * maps, AllocatePage(pager));
        maps_page = maps->number;
        InitDataPage(maps, f, 0);
      }
      JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(maps_page));
      map_at.push_back(RowPointer{maps_page, AddRowToPage(page, f, EmptyMapRow(f), 0)});
    }
    std::vector<uint32_t> roots;
    for (size_t i = 0; i < indexes.size(); ++i) {
      JET_ASSIGN_OR_RETURN(Page * root, AllocatePage(pager));
      uint8_t* p = root->bytes.data();
      p[0] = kPageIndexLeaf;
      p[1] = 0x01;
      PutLe16(p + 2, uint16_t(f.page_size - f.index_first_entry));
      PutLe32(p + 4, tdef);
      roots.push_back(root->number);
      JET_RETURN_IF_ERROR(UsageMapAdd(pager, map_at[2 + i], root->number));
    }

    // The definition itself.
    std::vector<uint8_t> b(f.tdef_header_size, 0);
    b[0] = kPageTableDef;
    b[1] = 0x01;
    if (!jet3) {
      PutLe32(&b[12], kTdefMagic);
      b[24] = 0x01;  // autonumbers in use
      PutLe32(&b[36], 0xFFFFFFFF);
    }
    b[f.tdef_table_type] = kUserTable;
    uint16_t var_columns = 0;
    for (const Planned& c : columns) var_columns = uint16_t(var_columns + (c.variable ? 1 : 0));
    PutLe16(&b[f.tdef_max_cols], uint16_t(columns.size()));
    PutLe16(&b[f.tdef_var_cols], var_columns);
    PutLe16(&b[f.tdef_num_cols], uint16_t(columns.size()));
    PutLe32(&b[f.tdef_num_logical_idx], uint32_t(indexes.size()));
    PutLe32(&b[f.tdef_num_real_idx], uint32_t(indexes.size()));
    PutLe32(&b[f.tdef_owned_pages], map_at[0].raw());
    PutLe32(&b[f.tdef_free_pages], map_at[1].raw());
    b.insert(b.end(), f.tdef_real_idx_count_size * indexes.size(), 0);
    for (const Planned& c : columns) {
      std::vector<uint8_t> col(f.column_block_size, 0);
      col[f.col_type] = uint8_t(c.design.type);
      if (!jet3) PutLe32(&col[1], kTdefMagic);
      PutLe16(&col[f.col_number], c.number);
      PutLe16(&col[f.col_var_index], c.var_index);
      PutLe16(&col[f.col_index], c.number);
      if (jet3) {
        // Every Jet 3 column names the sort order and the code page.
        col[7] = jet3_column_word[0];
        col[8] = jet3_column_word[1];
        PutLe16(&col[f.col_sort_order], db.header().sort_order.lcid);
        PutLe16(&col[f.col_code_page], db.header().code_page);
      } else if (c.design.type == ColumnType::kNumeric) {
        col[f.col_precision] = c.design.precision;
        col[f.col_scale] = c.design.scale;
      } else {
        PutLe16(&col[f.col_sort_order], db.header().sort_order.lcid);
        if (IsTextual(c.design.type) && db.header().sort_order.version > 0) {
          col[uint32_t(f.col_sort_version)] = uint8_t(db.header().sort_order.version);
        }
      }
      col[f.col_flags] = c.flags;
      if (!jet3) col[uint32_t(f.col_ext_flags)] = c.ext_flags;
      PutLe16(&col[f.col_fixed_offset], c.fixed_offset);
      PutLe16(&col[f.col_length], c.length);
      b.insert(b.end(), col.begin(), col.end());
    }
    for (const Planned& c : columns) AppendName(b, c.design.name, f.version);
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (!jet3) Append32(b, kPhysicalIndexMagic);
      for (size_t k = 0; k < 10; ++k) {
        if (k < indexes[i].columns.size()) {
          Append16(b, indexes[i].columns[k].first);
          b.push_back(indexes[i].columns[k].second ? 0x01 : 0x00);
        } else {
          Append16(b, 0xFFFF);
          b.push_back(0x00);
        }
      }
      Append32(b, map_at[2 + i].raw());
      Append32(b, roots[i]);
      if (!jet3) Append32(b, 0);
      b.push_back(indexes[i].flags);
      if (!jet3) b.insert(b.end(), 5, 0);
    }
    for (size_t i = 0; i < indexes.size(); ++i) {
      if (!jet3) Append32(b, kTdefMagic);
      Append32(b, uint32_t(i));  // index number
      Append32(b, uint32_t(i));  // its physical index
      b.push_back(0);
      Append32(b, 0xFFFFFFFF);  // no related index
      Append32(b, 0);
      b.push_back(0x04);
      b.push_back(0x04);
      b.push_back(indexes[i].design.primary ? 0x01 : 0x00);
      if (!jet3) Append32(b, 0);
    }
    for (const PlannedIndex& ix : indexes) AppendName(b, ix.design.name, f.version);
    for (size_t k = 0; k < long_columns.size(); ++k) {
      Append16(b, columns[long_columns[k]].number);
      Append32(b, map_at[2 + indexes.size() + 2 * k].raw());
      Append32(b, map_at[2 + indexes.size() + 2 * k + 1].raw());
    }
    Append16(b, 0xFFFF);
    PutLe32(&b[8], uint32_t(b.size()));

    // Spread it over as many pages as it needs; each continuation page has
    // an 8-byte header of its own.
    std::vector<Page*> pages{tdef_page};
    const size_t first_room = f.page_size, more_room = f.page_size - 8;
    size_t remaining = b.size() > first_room ? b.size() - first_room : 0;
    while (remaining > 0) {
      JET_ASSIGN_OR_RETURN(Page * next, AllocatePage(pager));
      pages.push_back(next);
      remaining = remaining > more_room ? remaining - more_room : 0;
    }
    size_t at = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
      JET_ASSIGN_OR_RETURN(Page * page, pager.Modify(pages[i]->number));
      uint8_t* p = page->bytes.data();
      size_t start = i == 0 ? 0 : 8;
      size_t take = std::min(b.size() - at, f.page_size - start);
      std::memcpy(p + start, b.data() + at, take);
      at += take;
      p[0] = kPageTableDef;
      p[1] = 0x01;
      PutLe32(p + 4, i + 1 < pages.size() ? pages[i + 1]->number : 0);
      if (jet3) {
        std::memcpy(p + 2, kJet3TdefSignature, 2);
      } else {
        PutLe16(p + 2, uint16_t(f.page_size - (start + take) - (i == 0 ? 8 : 0)));
      }
    }

    // The catalog row, and the access control entries of the new object,
    // written through the ordinary row writer so that the catalog's indexes
    // stay exact.
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> catalog, db.GetTable("MSysObjects"));
    std::vector<Value> row(catalog->columns.size());
    std::vector<uint8_t> owner;
    {
      // Only the two fields are read: the other objects' memo and OLE
      // values are not this table's business.
      TableScanner scan(db, catalog);
      const RowView* view = nullptr;
      Value id_value, o;
      const ColumnDef* id = catalog->FindColumn("Id");
      const ColumnDef* owner_col = catalog->FindColumn("Owner");
      if (!id || !owner_col) return pager.CorruptAt(2, "The catalog lacks its Id or Owner column");
      while (true) {
        JET_ASSIGN_OR_RETURN(bool more, scan.NextView(&view));
        if (!more) break;
        // Jet 4: the owner of the Tables folder. Access 97 makes the
        // database's owner (the owner of MSysDb) the owner of its tables,
        // where the folder belongs to the engine.
        const uint32_t owner_of = jet3 ? kDatabaseObject : kTablesContainer;
        JET_RETURN_IF_ERROR(view->Decode(size_t(id - catalog->columns.data()), &id_value));
        if (uint32_t(id_value.integer) == owner_of) {
          JET_RETURN_IF_ERROR(view->Decode(size_t(owner_col - catalog->columns.data()), &o));
          owner.assign(o.bytes.begin(), o.bytes.end());
        }
      }
    }
    const double now = JetNow();
    for (size_t i = 0; i < catalog->columns.size(); ++i) {
      const ColumnDef& c = catalog->columns[i];
      row[i].type = c.type;
      row[i].null = true;
      if (NamesEqual(c.name, "Id")) {
        row[i] = MakeLong(int64_t(tdef));
      } else if (NamesEqual(c.name, "ParentId")) {
        row[i] = MakeLong(int64_t(kTablesContainer));
      } else if (NamesEqual(c.name, "Name")) {
        row[i].null = false;
        row[i].bytes = design.name;
      } else if (NamesEqual(c.name, "Type")) {
        row[i].null = false;
        row[i].integer = kCatalogTypeTable;
      } else if (NamesEqual(c.name, "Flags")) {
        row[i] = MakeLong(0);
      } else if (NamesEqual(c.name, "DateCreate") || NamesEqual(c.name, "DateUpdate")) {
        row[i].null = false;
        row[i].real = now;
      } else if (NamesEqual(c.name, "Owner") && !owner.empty()) {
        row[i].null = false;
        row[i].bytes.assign(owner.begin(), owner.end());
      }
    }
    JET_ASSIGN_OR_RETURN(std::unique_ptr<TableWriter> objects,
                         TableWriter::Open(db, "MSysObjects"));
    JET_RETURN_IF_ERROR(objects->InsertWithoutCommit(std::move(row)));

    // The new table inherits the SIDs that hold rights on the Tables folder.
    // Access 97 gives it the folder's own access masks, and no entry for the
    // SID whose mask on the folder is that of the Users group (every table
    // of every Access 97 fixture shows both); Jet 4 tables get full access
    // for each SID.
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> aces, db.GetTable("MSysACEs"));
    const ColumnDef* object_id = aces->FindColumn("ObjectId");
    const ColumnDef* sid = aces->FindColumn("SID");
    const ColumnDef* acm = aces->FindColumn("ACM");
    const ColumnDef* inherit = aces->FindColumn("FInheritable");
    if (!object_id || !sid || !acm || !inherit) {
      return pager.CorruptAt(aces->tdef_page, "The access control table lacks a column");
    }
    std::vector<std::pair<std::string, uint32_t>> sids;  // SID, access mask
    {
      TableScanner scan(db, aces);
      std::vector<Value> values;
      while (true) {
        JET_ASSIGN_OR_RETURN(bool more, scan.Next(&values));
        if (!more) break;
        if (uint32_t(values[size_t(object_id - aces->columns.data())].integer) !=
            kTablesContainer) {
          continue;
        }
        const std::string& s = values[size_t(sid - aces->columns.data())].bytes;
        const auto mask = uint32_t(values[size_t(acm - aces->columns.data())].integer);
        if (jet3 && mask == kUsersFolderAccess) continue;
        if (std::find_if(sids.begin(), sids.end(), [&](auto& e) { return e.first == s; }) ==
            sids.end()) {
          sids.emplace_back(s, jet3 ? mask : kFullAccess);
        }
      }
    }
    JET_ASSIGN_OR_RETURN(std::unique_ptr<TableWriter> ace_writer,
                         TableWriter::Open(db, "MSysACEs"));
    for (const auto& [s, mask] : sids) {
      std::vector<Value> ace(aces->columns.size());
      for (size_t i = 0; i < aces->columns.size(); ++i) ace[i].type = aces->columns[i].type;
      ace[size_t(object_id - aces->columns.data())] = MakeLong(int64_t(tdef));
      Value& sv = ace[size_t(sid - aces->columns.data())];
      sv.null = false;
      sv.bytes = s;
      ace[size_t(acm - aces->columns.data())] = MakeLong(mask);
      Value& iv = ace[size_t(inherit - aces->columns.data())];
      iv.null = false;
      iv.boolean = false;
      JET_RETURN_IF_ERROR(ace_writer->InsertWithoutCommit(std::move(ace)));
    }
    return Status::Ok();
  }();
  if (s.ok()) s = pager.Commit();
  if (!s.ok()) {
    pager.Rollback();
    s.AtFile(db.path());
  }
  db.ForgetCatalog();
  return s;
}

}  // namespace jet
