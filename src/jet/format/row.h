// SPDX-License-Identifier: Apache-2.0
// Row decoding: from the bytes of one row to one Value per column.
//
// Jet 4 row (Jet 3 differences in brackets):
//
//   field           size        meaning
//   column count    2 [1]       columns this row was written with
//   fixed area      ...         fixed-length values at each column's fixed offset
//   variable area   ...         variable-length values, in var-index order
//   ...
//   offsets         2*(n+1) [1*(n+1)]  start of each variable value, then the
//                               end of the variable area, stored backwards
//                               from just before the count below
//   [jump table]    [k]         Jet 3 only: rows of 256 bytes or more keep one
//                               byte per 256-byte boundary, the index of the
//                               first offset that lies past it
//   var count n     2 [1]
//   null mask       (count+7)/8 bit per column number, set = not null; a
//                               Boolean's value is its bit
//
// A column whose number or var-index lies beyond what the row holds (it was
// added after the row was written) is null.
//
// Memo and OLE values start with a 12-byte header:
//   off  size  meaning
//   0    3     length of the value
//   3    1     0x80 = stored right after this header, 0x40 = in one long-value
//               row, 0x00 = in a chain of long-value rows
//   4    4     row pointer to the (first) long-value row
//   8    4     unused
// Each row of a chain starts with the row pointer to the next (0 at the end).

#ifndef JET_FORMAT_ROW_H_
#define JET_FORMAT_ROW_H_

#include "jet/internal/guard.h"

#include <array>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "jet/format/table_def.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"
#include "jet/value.h"

namespace jet {

class RowDecoder {
 public:
  RowDecoder(Pager& pager, const DatabaseHeader& header, const TableDef& table);

  // Decodes `row` (which lies on `page`) into `out`, one value per column in
  // the table's column order.
  Status Decode(ByteView row, uint32_t page, std::vector<Value>* out);

  // Hands each column of `row` to `sink`, in the table's column order,
  // without copying anything out of the row:
  //   sink.Null(i, column)            null, or added after the row was written
  //   sink.Boolean(i, column, bit)    a Boolean (never null)
  //   sink.Field(i, column, bytes)    Status or void; the stored bytes of a non-null
  //                                   value (for Memo and OLE, the 12-byte
  //                                   header and what follows it)
  // A fixed-size type in the variable area comes with at least its size in
  // bytes, and Memo and OLE only ever from the variable area; anything else
  // is Corrupt before the sink sees it. The first error, the sink's or the
  // row's, ends the walk.
  template <class Sink>
  Status Walk(ByteView row, uint32_t page, Sink& sink);

  // One field as Walk hands it to a sink, decoded into `v` (whose type and
  // null flag it sets).
  Status DecodeField(const ColumnDef& col, ByteView data, uint32_t page, Value* v);

  // Appends Jet text bytes of this database as UTF-8.
  void AppendText(ByteView data, std::string& out) const;
  // The same, written at `out`, which must have room for
  // kMaxTextGrowth * data.size() bytes; returns the end.
  static constexpr size_t kMaxTextGrowth = 3;
  char* TextTo(ByteView data, char* out) const;

  // The stored bytes of a variable-length column of `row`; false in
  // *present when the column is null or missing from the row.
  Status RawVarField(ByteView row, uint32_t page, const ColumnDef& column, ByteView* out,
                     bool* present);

  // The raw bytes of a memo or OLE value, given its 12-byte header and
  // whatever follows it in the row.
  Status ReadLongValue(ByteView field, uint32_t page, std::string* out);

  // A calculated column's value is stored wrapped:
  //
  //   off  size  meaning
  //   0    16    zeros (in every file seen)
  //   16   4     n, the length of the value
  //   20   n     the value, as its type stores it; a Decimal as below
  //   20+n 3     zeros
  //
  // A fixed-size result lies in the fixed area in a field of 39 bytes; Text
  // and Memo results lie where their type's values do. A Decimal result
  // keeps its own scale, in the 16 bytes of a Windows DECIMAL: a uint16
  // (14), the scale, a sign byte (0x80 or 0 in files seen; any non-zero is
  // negative), the high 32 bits of the magnitude and then its low 64 bits,
  // little-endian (calcFieldTestV2010.accdb, page 90: WeeklySalary). An empty value of a fixed-size type is null. Returns the
  // value inside `field`, or a Decimal in the stored layout followed by
  // its scale.
  Status Unwrap(const ColumnDef& col, ByteView field, uint32_t page, ByteView* out);
  // The same for a long value read whole.
  Status UnwrapLongValue(const ColumnDef& col, uint32_t page, std::string* value) const;

 private:
  Status VarOffsets(ByteView row, uint32_t page, size_t null_mask_size,
                    std::vector<uint32_t>* offsets);
  void DecodeText(ByteView data, std::string* out) const;
  Status CorruptColumn(uint32_t page, const ColumnDef& col, const char* what) const;

  Pager& pager_;
  const DatabaseHeader& header_;
  const TableDef& table_;
  std::vector<uint32_t> sizes_;  // per column: bytes in the fixed area, or
                                 // least bytes in the variable area
  std::vector<uint8_t> readable_; // per column: a type the fixed area can hold
  std::vector<uint32_t> offsets_;  // scratch, reused across rows
  std::string scratch_;            // raw memo bytes, reused across rows
  std::vector<std::array<uint8_t, 18>> decimals_;  // calculated Decimals, as stored + scale
};

template <class Sink>
Status RowDecoder::Walk(ByteView row, uint32_t page, Sink& sink) {
  const Format& f = pager_.format();
  const size_t ccs = f.row_column_count_size;
  if (row.size() < ccs) return pager_.CorruptAt(page, "A row is shorter than its header");
  const uint32_t row_cols = ccs == 2 ? Le16(row.data()) : uint32_t(row[0]);
  const size_t nm = (row_cols + 7) / 8;
  if (nm + ccs > row.size()) {
    return pager_.CorruptAt(page, "A row's null mask does not fit in the row");
  }
  const uint8_t* mask = row.data() + row.size() - nm;
  bool offsets_read = false;
  const size_t ncols = table_.columns.size();
  for (size_t i = 0; i < ncols; ++i) {
    const ColumnDef& col = table_.columns[i];
    const bool bit = col.number < row_cols && (mask[col.number / 8] & (1u << (col.number % 8)));
    if (col.type == ColumnType::kBoolean && !col.calculated()) {
      // Booleans live in the null mask and are never null.
      sink.Boolean(i, col, bit);
      continue;
    }
    if (!bit) {
      sink.Null(i, col);
      continue;
    }
    ByteView data;
    if (col.fixed()) {
      const size_t start = ccs + size_t(col.fixed_offset);
      if (!InBounds(row.size() - nm, start, sizes_[i])) {
        return CorruptColumn(page, col, "lies outside its row");
      }
      if (!readable_[i]) return CorruptColumn(page, col, nullptr);
      data = row.subspan(start, sizes_[i]);
    } else {
      if (!offsets_read) {
        JET_RETURN_IF_ERROR(VarOffsets(row, page, nm, &offsets_));
        offsets_read = true;
      }
      if (size_t(col.var_index) + 1 >= offsets_.size()) {  // added after this row
        sink.Null(i, col);
        continue;
      }
      const uint32_t start = offsets_[col.var_index];
      data = row.subspan(start, offsets_[col.var_index + 1] - start);
      switch (col.type) {
        case ColumnType::kText:
        case ColumnType::kBinary:
        case ColumnType::kUnknown0D:
        case ColumnType::kUnknown11:
        case ColumnType::kMemo:
        case ColumnType::kOle: break;
        default:
          // A fixed-size type in the variable area: read as fixed.
          if (!readable_[i]) return CorruptColumn(page, col, nullptr);
          if (data.size() < sizes_[i]) return CorruptColumn(page, col, "is cut short");
      }
    }
    if (col.calculated() && !IsLongValue(col.type)) {
      JET_RETURN_IF_ERROR(Unwrap(col, data, page, &data));
      if (col.type == ColumnType::kBoolean) {
        sink.Boolean(i, col, !data.empty() && data[0] != 0);
        continue;
      }
      if (data.empty() && col.type != ColumnType::kText) {
        sink.Null(i, col);
        continue;
      }
    }
    if constexpr (std::is_void_v<decltype(sink.Field(i, col, data))>) {
      sink.Field(i, col, data);
    } else {
      JET_RETURN_IF_ERROR(sink.Field(i, col, data));
    }
  }
  return Status::Ok();
}

// The long-value rows of a memo or OLE field (its 12-byte header and what
// follows, in a row on `page`): none for a value kept in the row, one for
// a value on a row of its own, and each piece of a chain in order, as far
// as the value's length reaches (what the last piece points at is never
// read). Corrupt if the chain loops, ends early or has an empty piece;
// `rows` then holds the pieces found before that.
Status LongValueRows(Pager& pager, ByteView field, uint32_t page, std::vector<RowPointer>* rows);

// Reads Jet's text bytes in this database's encoding.
std::string DecodeTextBytes(const Format& format, uint16_t code_page, ByteView data);
void AppendTextBytes(std::string& out, const Format& format, uint16_t code_page, ByteView data);

}  // namespace jet

#endif  // JET_FORMAT_ROW_H_
