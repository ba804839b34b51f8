// SPDX-License-Identifier: Apache-2.0
#include "jet/format/table_def.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "jet/storage/text.h"

namespace jet {

namespace {

constexpr uint32_t kMaxTdefPages = 256;
constexpr uint32_t kTdefNextPage = 4;
constexpr uint32_t kTdefPageHeader = 8;
constexpr int kIndexColumnSlots = 10;
constexpr uint16_t kNoColumn = 0xFFFF;
constexpr uint16_t kMaxColumns = 255;

// A cursor over the joined definition bytes. Any read past the end marks it
// failed; the caller checks once per section.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  bool Has(size_t n) const { return ok_ && InBounds(bytes_.size(), pos_, n); }

  const uint8_t* Take(size_t n) {
    if (!Has(n)) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += n;
    return p;
  }
  uint8_t U8() {
    const uint8_t* p = Take(1);
    return p ? *p : 0;
  }
  uint16_t U16() {
    const uint8_t* p = Take(2);
    return p ? Le16(p) : 0;
  }
  uint32_t U32() {
    const uint8_t* p = Take(4);
    return p ? Le32(p) : 0;
  }
  void Skip(size_t n) { Take(n); }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

bool ColumnTypeKnown(uint8_t t) {
  return (t >= 0x01 && t <= 0x0D) || (t >= 0x0F && t <= 0x14);
}

const char* ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return "Boolean";
    case ColumnType::kByte: return "Byte";
    case ColumnType::kInteger: return "Integer";
    case ColumnType::kLong: return "Long";
    case ColumnType::kCurrency: return "Currency";
    case ColumnType::kSingle: return "Single";
    case ColumnType::kDouble: return "Double";
    case ColumnType::kDateTime: return "DateTime";
    case ColumnType::kBinary: return "Binary";
    case ColumnType::kText: return "Text";
    case ColumnType::kOle: return "OLE";
    case ColumnType::kMemo: return "Memo";
    case ColumnType::kGuid: return "GUID";
    case ColumnType::kNumeric: return "Decimal";
    case ColumnType::kComplex: return "Complex";
    case ColumnType::kBigInt: return "BigInt";
    case ColumnType::kExtDateTime: return "DateTimeExtended";
    case ColumnType::kUnknown0D: return "Unknown0D";
    case ColumnType::kUnknown11: return "Unknown11";
  }
  return "Unknown";
}

bool ColumnTypeFromName(const std::string& name, ColumnType* type) {
  static const ColumnType kAll[] = {
      ColumnType::kBoolean, ColumnType::kByte,     ColumnType::kInteger, ColumnType::kLong,
      ColumnType::kCurrency, ColumnType::kSingle,  ColumnType::kDouble,  ColumnType::kDateTime,
      ColumnType::kBinary,  ColumnType::kText,     ColumnType::kOle,     ColumnType::kMemo,
      ColumnType::kGuid,    ColumnType::kNumeric,  ColumnType::kBigInt, ColumnType::kExtDateTime};
  for (ColumnType t : kAll) {
    if (NamesEqual(name, ColumnTypeName(t))) {
      *type = t;
      return true;
    }
  }
  return false;
}

uint32_t FixedSizeOf(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return 0;
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: return 4;
    case ColumnType::kCurrency: return 8;
    case ColumnType::kSingle: return 4;
    case ColumnType::kDouble: return 8;
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    case ColumnType::kComplex: return 4;
    case ColumnType::kBigInt: return 8;
    case ColumnType::kExtDateTime: return 42;
    default: return 0;
  }
}

bool IsLongValue(ColumnType type) { return type == ColumnType::kMemo || type == ColumnType::kOle; }
bool IsTextual(ColumnType type) { return type == ColumnType::kText || type == ColumnType::kMemo; }

bool IsNumeric(ColumnType type) {
  switch (type) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kNumeric: return true;
    default: return false;
  }
}

bool NamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  }
  return true;
}

const ColumnDef* TableDef::FindColumn(const std::string& column) const {
  for (const ColumnDef& c : columns) {
    if (NamesEqual(c.name, column)) return &c;
  }
  return nullptr;
}

const ColumnDef* TableDef::FindColumnByNumber(uint16_t number) const {
  for (const ColumnDef& c : columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

Result<TableDef> ReadTableDef(Pager& pager, const DatabaseHeader& header, uint32_t tdef_page,
                              const std::string& name) {
  const Format& f = pager.format();
  TableDef def;
  def.name = name;
  def.tdef_page = tdef_page;

  // Join the chain of TDEF pages.
  std::vector<uint8_t> bytes;
  std::unordered_set<uint32_t> seen;
  uint32_t next = tdef_page;
  while (next != 0) {
    if (!seen.insert(next).second || seen.size() > kMaxTdefPages) {
      return pager.CorruptAt(next, "The definition of table '" + name + "' loops over its pages");
    }
    JET_ASSIGN_OR_RETURN(PageRef page, pager.ReadTyped(next, kPageTableDef, "a table definition"));
    def.tdef_pages.push_back(next);
    if (bytes.empty()) {
      bytes.assign(page->bytes.begin(), page->bytes.end());
    } else {
      bytes.insert(bytes.end(), page->bytes.begin() + kTdefPageHeader, page->bytes.end());
    }
    next = Le32(page->bytes.data() + kTdefNextPage);
  }

  auto corrupt = [&](const std::string& what) {
    return pager.CorruptAt(tdef_page, "The definition of table '" + name + "' is damaged: " + what);
  };

  Reader r(bytes);
  r.Seek(f.tdef_row_count);
  def.row_count = r.U32();
  r.Seek(f.tdef_autonumber);
  def.last_autonumber = r.U32();
  r.Seek(f.tdef_table_type);
  def.table_type = r.U8();
  def.max_columns = r.U16();
  def.var_columns = r.U16();
  uint16_t num_cols = r.U16();
  uint32_t num_logical = r.U32();
  uint32_t num_real = r.U32();
  def.owned_pages = RowPointer::FromRaw(r.U32());
  def.free_space_pages = RowPointer::FromRaw(r.U32());
  if (!r.ok()) return corrupt("its header is cut short");
  if (num_logical > 1000 || num_real > 1000) return corrupt("impossible number of indexes");
  // Jet allows 255 columns. A larger count is damage, and reading on would
  // take the bytes after the column list for columns of nonsense types.
  if (num_cols > kMaxColumns) return corrupt("impossible number of columns");

  r.Seek(f.tdef_header_size);
  std::vector<uint32_t> index_row_counts;
  for (uint32_t i = 0; i < num_real; ++i) {
    r.Skip(4);
    index_row_counts.push_back(r.U32());
    r.Skip(f.tdef_real_idx_count_size - 8);
  }
  if (!r.ok()) return corrupt("its index counts are cut short");

  def.columns.resize(num_cols);
  for (uint16_t i = 0; i < num_cols; ++i) {
    const uint8_t* b = r.Take(f.column_block_size);
    if (!b) return corrupt("its column list is cut short");
    ColumnDef& c = def.columns[i];
    uint8_t type = b[f.col_type];
    if (!ColumnTypeKnown(type)) {
      return Status::Unsupported("Table '" + name + "' has a column of unknown type " +
                                 std::to_string(type))
          .AtFile(pager.path())
          .AtPage(tdef_page);
    }
    c.type = ColumnType(type);
    c.number = Le16(b + f.col_number);
    c.var_index = Le16(b + f.col_var_index);
    c.column_index = Le16(b + f.col_index);
    c.flags = b[f.col_flags];
    if (f.col_ext_flags >= 0) c.ext_flags = b[f.col_ext_flags];
    c.fixed_offset = Le16(b + f.col_fixed_offset);
    c.length = Le16(b + f.col_length);
    if (c.type == ColumnType::kComplex && f.col_complex_id >= 0) {
      c.complex_id = Le32(b + f.col_complex_id);
    }
    if (c.type == ColumnType::kNumeric) {
      c.precision = b[f.col_precision];
      c.scale = b[f.col_scale];
    }
    if (IsTextual(c.type)) {
      c.sort_order.lcid = Le16(b + f.col_sort_order);
      c.sort_order.version = f.col_sort_version >= 0 ? b[f.col_sort_version] : -1;
      c.code_page = f.col_code_page >= 0 ? Le16(b + f.col_code_page) : 0;
    }
  }
  for (uint16_t i = 0; i < num_cols; ++i) {
    uint32_t len = f.name_length_size == 1 ? r.U8() : r.U16();
    const uint8_t* p = r.Take(len);
    if (!p) return corrupt("its column names are cut short");
    def.columns[i].name = f.version == JetVersion::kJet3
                              ? DecodeCodePageText(ByteView(p, len), header.code_page)
                              : Utf16LeToUtf8(ByteView(p, len));
  }

  // Validate column placement so row decoding can trust it.
  for (const ColumnDef& c : def.columns) {
    if (c.number >= def.max_columns && def.max_columns != 0) {
      return corrupt("column '" + c.name + "' has number " + std::to_string(c.number) +
                     " beyond the column count");
    }
    if (c.type == ColumnType::kNumeric && (c.scale > 28 || c.precision > 28)) {
      return corrupt("decimal column '" + c.name + "' has precision or scale beyond 28");
    }
  }

  def.physical_indexes.resize(num_real);
  for (uint32_t i = 0; i < num_real; ++i) {
    PhysicalIndex& ix = def.physical_indexes[i];
    ix.number = i;
    ix.row_count = index_row_counts[i];
    r.Skip(f.real_index_skip_before);
    for (int k = 0; k < kIndexColumnSlots; ++k) {
      uint16_t col = r.U16();
      uint8_t order = r.U8();
      if (col == kNoColumn) continue;
      if (!def.FindColumnByNumber(col)) {
        return corrupt("an index refers to column number " + std::to_string(col) +
                       ", which does not exist");
      }
      // Order byte: 0x01 ascending, 0x00 descending.
      ix.columns.push_back(IndexColumn{col, (order & 0x01) != 0});
    }
    ix.usage_map = RowPointer::FromRaw(r.U32());
    ix.root_page = r.U32();
    r.Skip(f.real_index_skip_before_flags);
    ix.flags = r.U8();
    r.Skip(f.real_index_block_size - f.real_index_skip_before - 3 * kIndexColumnSlots - 9 -
           f.real_index_skip_before_flags);
    if (!r.ok()) return corrupt("its index list is cut short");
  }

  def.logical_indexes.resize(num_logical);
  for (uint32_t i = 0; i < num_logical; ++i) {
    LogicalIndex& li = def.logical_indexes[i];
    size_t start = r.pos();
    r.Skip(f.logical_index_skip_before);
    li.number = r.U32();
    li.physical = r.U32();
    li.related_table_type = r.U8();
    li.related_index = int32_t(r.U32());
    li.related_table_page = r.U32();
    li.cascade_updates = r.U8() != 0;
    li.cascade_deletes = r.U8() != 0;
    li.kind = r.U8();
    r.Seek(start + f.logical_index_block_size);
    if (!r.ok() || r.pos() > bytes.size()) return corrupt("its logical index list is cut short");
    if (li.physical >= num_real) {
      return corrupt("an index refers to physical index " + std::to_string(li.physical) +
                     " of " + std::to_string(num_real));
    }
  }
  for (uint32_t i = 0; i < num_logical; ++i) {
    uint32_t len = f.name_length_size == 1 ? r.U8() : r.U16();
    const uint8_t* p = r.Take(len);
    if (!p) return corrupt("its index names are cut short");
    def.logical_indexes[i].name = f.version == JetVersion::kJet3
                                      ? DecodeCodePageText(ByteView(p, len), header.code_page)
                                      : Utf16LeToUtf8(ByteView(p, len));
  }

  // Long-value column usage maps: optional trailer, tolerated if absent.
  while (r.Has(2)) {
    uint16_t col = r.U16();
    if (col == kNoColumn || !r.Has(8)) break;
    LongValueMaps m;
    m.column_number = col;
    m.used_pages = RowPointer::FromRaw(r.U32());
    m.free_pages = RowPointer::FromRaw(r.U32());
    def.long_value_maps.push_back(m);
  }

  std::stable_sort(def.columns.begin(), def.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b) {
                     return a.column_index < b.column_index;
                   });
  return def;
}

}  // namespace jet
