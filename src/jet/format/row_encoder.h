// SPDX-License-Identifier: Apache-2.0
// Row encoding: the inverse of RowDecoder, from one Value per column to the
// bytes of a row (layout in row.h).
//
// Rows are written the way Access writes them: the column count is the
// table's highest column number + 1 (deleted columns included), the fixed
// area always holds room for every fixed column (null or not), and the
// offset table holds an entry for every variable-length slot, deleted ones
// included. Memo and OLE values that do not fit in the row are handed to a
// LongValueStore, which puts them on long-value pages and returns the row
// pointer to store in their 12-byte header.

#ifndef JET_FORMAT_ROW_ENCODER_H_
#define JET_FORMAT_ROW_ENCODER_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/data_page.h"
#include "jet/format/table_def.h"
#include "jet/storage/header.h"
#include "jet/value.h"

namespace jet {

// Where memo and OLE data goes when it is not kept inside the row.
class LongValueStore {
 public:
  virtual ~LongValueStore() = default;
  // Stores `data` for column `column` as one long-value row (single) or a
  // chain of rows; returns the pointer to the (first) row.
  virtual Result<RowPointer> Store(const ColumnDef& column, const std::string& data,
                                   bool chained) = 0;
  // For a row being rewritten: the field of column `column` exactly as the
  // row stores it now (the 12-byte header), when its value stays and its
  // long-value rows with it; null to encode the value afresh. A value kept
  // this way keeps the form its writer gave it (Access's compressed text,
  // a short value on a page of its own), which encoding anew could change.
  virtual const std::string* Kept(const ColumnDef& column) {
    (void)column;
    return nullptr;
  }
};

// Largest row Jet accepts on a page.
uint32_t MaxRowSize(const Format& format);

// Checks `value` against `column` (type, text length, range) and returns the
// bytes Jet stores for it: text in the column's encoding, numbers in their
// on-disk form. Memo/OLE values are returned raw (before the 12-byte header).
Status EncodeFieldBytes(const Format& format, const DatabaseHeader& header,
                        const ColumnDef& column, const Value& value, std::string* out);

class RowEncoder {
 public:
  RowEncoder(const Format& format, const DatabaseHeader& header, const TableDef& table);

  // Encodes `values` (one per column, in column order). `min_size` pads the
  // row to at least that many bytes (a row rewritten in place keeps its size).
  Status Encode(const std::vector<Value>& values, LongValueStore* long_values,
                uint32_t min_size, std::string* row);

 private:
  const Format& format_;
  const DatabaseHeader& header_;
  const TableDef& table_;
  uint16_t column_count_ = 0;  // columns every row is written with
  uint16_t var_slots_ = 0;     // entries in every row's offset table
  uint32_t fixed_size_ = 0;    // bytes of the fixed area
  bool layout_fits_ = true;    // false: the definition places columns no row can hold
};

// Text in Jet's storage form: Jet 4 compressed Unicode when the column asks
// for it and every character allows it, UTF-16LE otherwise; Jet 3 the code
// page. False if the text cannot be stored (invalid UTF-8, or a character
// the code page lacks).
bool EncodeText(const Format& format, const DatabaseHeader& header, const ColumnDef& column,
                const std::string& utf8, std::string* out, size_t* chars);

}  // namespace jet

#endif  // JET_FORMAT_ROW_ENCODER_H_
