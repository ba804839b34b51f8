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

#ifndef JET_ROW_H_
#define JET_ROW_H_

#include <cstdint>
#include <vector>

#include "header.h"
#include "jet/value.h"
#include "pager.h"
#include "table_def.h"

namespace jet {

class RowDecoder {
 public:
  RowDecoder(Pager& pager, const DatabaseHeader& header, const TableDef& table);

  // Decodes `row` (which lies on `page`) into `out`, one value per column in
  // the table's column order.
  Status Decode(ByteView row, uint32_t page, std::vector<Value>* out);

  // The stored bytes of a variable-length column of `row`; false in
  // *present when the column is null or missing from the row.
  Status RawVarField(ByteView row, uint32_t page, const ColumnDef& column, ByteView* out,
                     bool* present);

  // The raw bytes of a memo or OLE value, given its 12-byte header and
  // whatever follows it in the row.
  Status ReadLongValue(ByteView field, uint32_t page, std::string* out);

 private:
  Status VarOffsets(ByteView row, uint32_t page, size_t null_mask_size,
                    std::vector<uint32_t>* offsets);
  Status DecodeFixed(const ColumnDef& col, ByteView data, uint32_t page, Value* v);
  Status DecodeVariable(const ColumnDef& col, ByteView data, uint32_t page, Value* v);
  void DecodeText(ByteView data, std::string* out) const;

  Pager& pager_;
  const DatabaseHeader& header_;
  const TableDef& table_;
  std::vector<uint32_t> offsets_;  // scratch, reused across rows
  std::string scratch_;            // raw memo bytes, reused across rows
};

// Reads Jet's text bytes in this database's encoding.
std::string DecodeTextBytes(const Format& format, uint16_t code_page, ByteView data);
void AppendTextBytes(std::string& out, const Format& format, uint16_t code_page, ByteView data);

}  // namespace jet

#endif  // JET_ROW_H_
