// SPDX-License-Identifier: Apache-2.0
#include "jet/format/row.h"

#include <unordered_set>

#include "jet/format/data_page.h"
#include "jet/storage/text.h"

namespace jet {

namespace {

constexpr uint32_t kLongValueHeader = 12;
constexpr uint8_t kLongValueInline = 0x80;
constexpr uint8_t kLongValueSingle = 0x40;
constexpr uint32_t kMaxLongValue = 0x3FFFFFFF;

}  // namespace

void AppendTextBytes(std::string& out, const Format& format, uint16_t code_page, ByteView data) {
  if (format.version == JetVersion::kJet4) {
    AppendJet4Text(out, data);
  } else {
    AppendCodePageText(out, data, code_page);
  }
}

std::string DecodeTextBytes(const Format& format, uint16_t code_page, ByteView data) {
  std::string out;
  AppendTextBytes(out, format, code_page, data);
  return out;
}

RowDecoder::RowDecoder(Pager& pager, const DatabaseHeader& header, const TableDef& table)
    : pager_(pager),
      header_(header),
      table_(table),
      decimals_(table.columns.size()) {
  for (const ColumnDef& col : table.columns) {
    const uint32_t size = col.calculated() ? 0 : FixedSizeOf(col.type);
    // A calculated value in the variable area is as long as it is (Unwrap
    // checks it).
    sizes_.push_back(size != 0 ? size : col.calculated() && !col.fixed() ? 0 : col.length);
    switch (col.type) {
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
      case ColumnType::kCurrency:
      case ColumnType::kSingle:
      case ColumnType::kDouble:
      case ColumnType::kDateTime:
      case ColumnType::kGuid:
      case ColumnType::kNumeric:
      case ColumnType::kComplex:
      case ColumnType::kBigInt:
      case ColumnType::kExtDateTime:
      case ColumnType::kText:
      case ColumnType::kBinary:
      case ColumnType::kUnknown0D:
      case ColumnType::kUnknown11: readable_.push_back(1); break;
      default: readable_.push_back(col.calculated());
    }
  }
}

void RowDecoder::AppendText(ByteView data, std::string& out) const {
  AppendTextBytes(out, pager_.format(), header_.code_page, data);
}

char* RowDecoder::TextTo(ByteView data, char* out) const {
  if (pager_.format().version == JetVersion::kJet4) return DecodeJet4TextTo(out, data);
  return DecodeCodePageTextTo(out, data, header_.code_page);
}

void RowDecoder::DecodeText(ByteView data, std::string* out) const {
  out->clear();
  AppendTextBytes(*out, pager_.format(), header_.code_page, data);
}

Status RowDecoder::VarOffsets(ByteView row, uint32_t page, size_t nm, std::vector<uint32_t>* out) {
  const Format& f = pager_.format();
  const size_t len = row.size();
  const uint8_t* p = row.data();
  size_t table_start;  // the offset table's lowest byte; values end before it
  if (f.row_var_offset_size == 2) {
    if (len < nm + 2 + f.row_column_count_size) {
      return pager_.CorruptAt(page, "A row is too short for its variable-length columns");
    }
    uint32_t n = Le16(p + len - nm - 2);
    if (size_t(2) * (n + 1) + nm + 2 + f.row_column_count_size > len) {
      return pager_.CorruptAt(page, "A row claims more variable-length columns than fit in it");
    }
    out->resize(n + 1);
    for (uint32_t i = 0; i <= n; ++i) (*out)[i] = Le16(p + len - nm - 4 - 2 * i);
    table_start = len - nm - 4 - 2 * size_t(n);
  } else {
    // Jet 3: one-byte offsets, plus a jump table for rows of 256 bytes or more.
    if (len < nm + 1 + f.row_column_count_size) {
      return pager_.CorruptAt(page, "A row is too short for its variable-length columns");
    }
    const size_t last = len - 1;
    uint32_t n = p[last - nm];
    size_t jumps = (len - 1) / 256;
    if (jumps + nm + 1 + n + 1 > len) {
      return pager_.CorruptAt(page, "A row claims more variable-length columns than fit in it");
    }
    size_t col_offset = last - nm - jumps - 1;
    // The last jump entry may be a placeholder that no offset needs.
    if ((col_offset - n) / 256 < jumps) --jumps;
    size_t used = 0;
    out->resize(n + 1);
    for (uint32_t i = 0; i <= n; ++i) {
      while (used < jumps && i == p[last - nm - used - 1]) ++used;
      (*out)[i] = uint32_t(p[col_offset - i]) + uint32_t(used * 256);
    }
    table_start = col_offset - n;
  }
  // Offsets must be in order and inside the variable area: past the column
  // count, and not into the offset table, so that damaged offsets never hand
  // the row's own bookkeeping bytes out as values.
  for (size_t i = 0; i < out->size(); ++i) {
    const uint32_t off = (*out)[i];
    if (off < f.row_column_count_size || off > table_start ||
        (i > 0 && off < (*out)[i - 1])) {
      return pager_.CorruptAt(
          page, "A row's variable-length offsets are out of order or outside the row");
    }
  }
  return Status::Ok();
}

namespace {

// Fills one Value per column.
class ValueSink {
 public:
  ValueSink(RowDecoder& decoder, std::vector<Value>& out, uint32_t page)
      : decoder_(decoder), out_(out), page_(page) {}
  void Null(size_t, const ColumnDef&) {}
  void Boolean(size_t i, const ColumnDef&, bool bit) {
    out_[i].null = false;
    out_[i].boolean = bit;
  }
  Status Field(size_t i, const ColumnDef& col, ByteView data) {
    return decoder_.DecodeField(col, data, page_, &out_[i]);
  }

 private:
  RowDecoder& decoder_;
  std::vector<Value>& out_;
  uint32_t page_;
};

}  // namespace

Status RowDecoder::Decode(ByteView row, uint32_t page, std::vector<Value>* out) {
  out->resize(table_.columns.size());
  for (size_t i = 0; i < table_.columns.size(); ++i) {
    Value& v = (*out)[i];
    v.type = table_.columns[i].type;
    v.null = true;
    v.bytes.clear();
  }
  ValueSink sink(*this, *out, page);
  return Walk(row, page, sink);
}

Status RowDecoder::CorruptColumn(uint32_t page, const ColumnDef& col, const char* what) const {
  if (what == nullptr) {
    return pager_.CorruptAt(page, "Column '" + col.name + "' of type " +
                                      ColumnTypeName(col.type) + " is stored as fixed-length");
  }
  return pager_.CorruptAt(page, "Column '" + col.name + "' " + what);
}

Status RowDecoder::RawVarField(ByteView row, uint32_t page, const ColumnDef& col, ByteView* out,
                               bool* present) {
  const Format& f = pager_.format();
  *present = false;
  if (col.fixed() || col.type == ColumnType::kBoolean || row.size() < f.row_column_count_size) {
    return Status::Ok();
  }
  const uint32_t row_cols = f.row_column_count_size == 2 ? Le16(row.data()) : uint32_t(row[0]);
  const size_t nm = (row_cols + 7) / 8;
  if (nm + f.row_column_count_size > row.size()) {
    return pager_.CorruptAt(page, "A row's null mask does not fit in the row");
  }
  const uint8_t* mask = row.data() + row.size() - nm;
  if (col.number >= row_cols || !(mask[col.number / 8] & (1u << (col.number % 8)))) {
    return Status::Ok();
  }
  JET_RETURN_IF_ERROR(VarOffsets(row, page, nm, &offsets_));
  if (size_t(col.var_index) + 1 >= offsets_.size()) return Status::Ok();
  *out = row.subspan(offsets_[col.var_index], offsets_[col.var_index + 1] - offsets_[col.var_index]);
  *present = true;
  return Status::Ok();
}

Status RowDecoder::DecodeField(const ColumnDef& col, ByteView d, uint32_t page, Value* v) {
  const uint8_t* p = d.data();
  v->type = col.type;
  v->null = false;
  switch (col.type) {
    case ColumnType::kByte: v->integer = p[0]; break;
    case ColumnType::kInteger: v->integer = int16_t(Le16(p)); break;
    case ColumnType::kLong:
    case ColumnType::kComplex: v->integer = int32_t(Le32(p)); break;
    case ColumnType::kBigInt: v->integer = int64_t(Le64(p)); break;
    case ColumnType::kExtDateTime:
      v->bytes.assign(reinterpret_cast<const char*>(p), kExtDateTimeSize);
      if (!ExtDateTimeValid(v->bytes)) return CorruptColumn(page, col, "holds no extended date");
      break;
    case ColumnType::kCurrency: v->integer = int64_t(Le64(p)); break;
    case ColumnType::kSingle: v->single = BitsToFloat(Le32(p)); break;
    case ColumnType::kDouble:
    case ColumnType::kDateTime: v->real = BitsToDouble(Le64(p)); break;
    case ColumnType::kGuid: v->bytes.assign(reinterpret_cast<const char*>(p), 16); break;
    case ColumnType::kNumeric:
      // Sign byte, then the 128-bit magnitude as four little-endian 32-bit
      // words, most significant word first.
      v->decimal.negative = p[0] != 0;
      v->decimal.scale = col.calculated() && d.size() == 18 ? p[17] : col.scale;
      for (int w = 0; w < 4; ++w) v->decimal.words[w] = Le32(p + 1 + 4 * w);
      break;
    case ColumnType::kText:
      DecodeText(d, &v->bytes);
      break;
    case ColumnType::kMemo:
      JET_RETURN_IF_ERROR(ReadLongValue(d, page, &scratch_));
      if (col.calculated()) JET_RETURN_IF_ERROR(UnwrapLongValue(col, page, &scratch_));
      DecodeText(ByteView(reinterpret_cast<const uint8_t*>(scratch_.data()), scratch_.size()),
                 &v->bytes);
      break;
    case ColumnType::kOle:
      JET_RETURN_IF_ERROR(ReadLongValue(d, page, &v->bytes));
      if (col.calculated()) JET_RETURN_IF_ERROR(UnwrapLongValue(col, page, &v->bytes));
      break;
    default:  // Binary and the system tables' raw types (Walk lets no other through)
      v->bytes.assign(reinterpret_cast<const char*>(p), d.size());
      break;
  }
  return Status::Ok();
}

Status RowDecoder::Unwrap(const ColumnDef& col, ByteView field, uint32_t page, ByteView* out) {
  constexpr size_t kHeader = 20;
  if (field.size() < kHeader) return CorruptColumn(page, col, "holds a calculated value cut short");
  const uint32_t n = Le32(field.data() + 16);
  if (n > field.size() - kHeader) return CorruptColumn(page, col, "holds a calculated value cut short");
  *out = field.subspan(kHeader, n);
  if (out->empty()) return Status::Ok();
  if (col.type == ColumnType::kNumeric) {
    const ByteView d = *out;
    if (d.size() != 16 || d[2] > 28) {
      return CorruptColumn(page, col, "holds a calculated Decimal of no known layout");
    }
    // To the stored layout: sign, then the words from the most significant.
    uint8_t* s = decimals_[size_t(&col - table_.columns.data())].data();
    std::memset(s, 0, 5);
    s[0] = d[3] != 0;
    std::memcpy(s + 5, d.data() + 4, 4);   // high 32 bits
    std::memcpy(s + 9, d.data() + 12, 4);  // middle 32 bits
    std::memcpy(s + 13, d.data() + 8, 4);  // low 32 bits
    s[17] = d[2];  // the scale, which DecodeField takes from here
    *out = ByteView(s, 18);
    return Status::Ok();
  }
  const uint32_t need = FixedSizeOf(col.type);
  if (need != 0 && out->size() < need) {
    return CorruptColumn(page, col, "holds a calculated value shorter than its type");
  }
  return Status::Ok();
}

Status RowDecoder::UnwrapLongValue(const ColumnDef& col, uint32_t page, std::string* value) const {
  if (value->size() < 20 || Le32(reinterpret_cast<const uint8_t*>(value->data()) + 16) >
                                value->size() - 20) {
    return CorruptColumn(page, col, "holds a calculated value cut short");
  }
  const uint32_t n = Le32(reinterpret_cast<const uint8_t*>(value->data()) + 16);
  value->erase(0, 20);
  value->resize(n);
  return Status::Ok();
}

Status RowDecoder::ReadLongValue(ByteView field, uint32_t page, std::string* out) {
  out->clear();
  if (field.size() < kLongValueHeader) {
    return pager_.CorruptAt(page, "A memo or OLE value's header is cut short");
  }
  const uint32_t length = Le32(field.data()) & kMaxLongValue;
  const uint8_t kind = field[3] & 0xC0;
  const RowPointer first = RowPointer::FromRaw(Le32(field.data() + 4));
  if (kind == kLongValueInline) {
    if (length > field.size() - kLongValueHeader) {
      return pager_.CorruptAt(page, "An inline memo or OLE value is longer than its row");
    }
    out->assign(reinterpret_cast<const char*>(field.data() + kLongValueHeader), length);
    return Status::Ok();
  }
  if (uint64_t(length) > uint64_t(pager_.page_count()) * pager_.page_size()) {
    return pager_.CorruptAt(page, "A memo or OLE value claims to be larger than the file");
  }
  PageRef holder;
  if (kind == kLongValueSingle) {
    JET_ASSIGN_OR_RETURN(ByteView lv, ReadRowBytes(pager_, first, &holder));
    if (lv.size() < length) {
      return pager_.CorruptAt(first.page, "A memo or OLE value is shorter than its length");
    }
    out->assign(reinterpret_cast<const char*>(lv.data()), length);
    return Status::Ok();
  }
  if (kind != 0) return pager_.CorruptAt(page, "A memo or OLE value has an unknown layout");
  // A chain: each piece is a row pointer to the next piece, then data.
  RowPointer at = first;
  out->reserve(std::min<uint32_t>(length, 1u << 20));
  // A piece seen twice means the chain loops. Counting pieces is not enough:
  // a short loop can fill the value's length with repeated bytes first.
  std::unordered_set<uint32_t> seen;
  while (out->size() < length) {
    if (at.null()) {
      return pager_.CorruptAt(page, "A memo or OLE value's chain ends before its length");
    }
    if (!seen.insert(at.raw()).second) {
      return pager_.CorruptAt(at.page, "A memo or OLE value's chain loops");
    }
    JET_ASSIGN_OR_RETURN(ByteView lv, ReadRowBytes(pager_, at, &holder));
    if (lv.size() < 4) return pager_.CorruptAt(at.page, "A long-value piece is cut short");
    size_t take = std::min<size_t>(lv.size() - 4, length - out->size());
    if (take == 0) return pager_.CorruptAt(at.page, "A long-value piece is empty");
    out->append(reinterpret_cast<const char*>(lv.data() + 4), take);
    at = RowPointer::FromRaw(Le32(lv.data()));
  }
  return Status::Ok();
}

Status LongValueRows(Pager& pager, ByteView field, uint32_t page, std::vector<RowPointer>* rows) {
  rows->clear();
  if (field.size() < kLongValueHeader) {
    return pager.CorruptAt(page, "A memo or OLE value's header is cut short");
  }
  const uint8_t kind = field[3] & 0xC0;
  RowPointer at = RowPointer::FromRaw(Le32(field.data() + 4));
  if (kind == kLongValueInline) return Status::Ok();
  if (kind == kLongValueSingle) {
    rows->push_back(at);
    return Status::Ok();
  }
  if (kind != 0) return pager.CorruptAt(page, "A memo or OLE value has an unknown layout");
  std::unordered_set<uint32_t> seen;
  PageRef holder;
  for (uint64_t left = Le32(field.data()) & kMaxLongValue; left > 0;) {
    if (at.null()) {
      return pager.CorruptAt(page, "A memo or OLE value's chain ends before its length");
    }
    if (!seen.insert(at.raw()).second) {
      return pager.CorruptAt(at.page, "A memo or OLE value's chain loops");
    }
    rows->push_back(at);
    JET_ASSIGN_OR_RETURN(ByteView piece, ReadRowBytes(pager, at, &holder));
    if (piece.size() <= 4) return pager.CorruptAt(at.page, "A long-value piece is cut short");
    left -= std::min<uint64_t>(piece.size() - 4, left);
    at = RowPointer::FromRaw(Le32(piece.data()));
  }
  return Status::Ok();
}

}  // namespace jet
