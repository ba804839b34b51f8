// SPDX-License-Identifier: Apache-2.0
// RowView: one row's fields as they are stored, for readers that turn many
// rows into text (export) and cannot afford a Value per field.
//
//   const jet::RowView* row;
//   while (*scan.NextView(&row)) {              // TableScanner
//     for (size_t i = 0; i < row->size(); ++i) {
//       const jet::FieldView& f = (*row)[i];
//       if (f.null) { ...; continue; }
//       switch (f.type) {
//         case jet::ColumnType::kLong: Put(f.Int32()); break;
//         case jet::ColumnType::kText: end = row->TextTo(f.data, f.size, out); break;
//         default: row->Decode(i, &value); ...    // anything, through a Value
//       }
//     }
//   }
//
// A field's bytes are Jet's: little-endian integers (Byte 1, Integer 2,
// Long 4, Currency 8 in 1/10000 units), IEEE Single and Double, Date/Time as
// a Double day count (value_format.h formats it), Text in the database's
// encoding (TextTo turns it into UTF-8), and for Memo and OLE a 12-byte
// header that ReadLongValue follows to the value's bytes. A Boolean has no
// bytes: its value is in `boolean`, and it is never null. A field's data
// and size mean nothing when it is null. Everything points
// into the scanner's pages and is valid until its next call.

#ifndef JET_ROW_VIEW_H_
#define JET_ROW_VIEW_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

class RowDecoder;

struct FieldView {
  const uint8_t* data = nullptr;
  uint32_t size = 0;  // at least the type's size for fixed-size types
  ColumnType type = ColumnType::kText;  // the column's
  bool null = true;
  bool boolean = false;

  uint8_t Byte() const { return data[0]; }
  int16_t Int16() const { return int16_t(Le(2)); }
  int32_t Int32() const { return int32_t(Le(4)); }
  int64_t Int64() const { return int64_t(Le(8)); }
  float Float() const {
    const uint32_t bits = uint32_t(Le(4));
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  double Double() const {
    const uint64_t bits = Le(8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }

 private:
  uint64_t Le(int n) const {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&v, data, size_t(n));
    } else {
      for (int i = n - 1; i >= 0; --i) v = (v << 8) | data[i];
    }
    return v;
  }
};

class RowView {
 public:
  size_t size() const { return fields_.size(); }
  const FieldView& operator[](size_t i) const { return fields_[i]; }
  const ColumnDef& column(size_t i) const { return table_->columns[i]; }

  // Text bytes of this database (a Text field, or a Memo's bytes from
  // ReadLongValue) written at `out` as UTF-8; `out` must have room for
  // kMaxTextGrowth * size bytes. Returns the end of what was written.
  static constexpr size_t kMaxTextGrowth = 3;
  char* TextTo(const uint8_t* data, size_t size, char* out) const;

  // The bytes of field i, a Memo or OLE value, wherever they are stored.
  Status ReadLongValue(size_t i, std::string* out) const;

  // Field i as a Value, exactly as TableScanner::Next gives it.
  Status Decode(size_t i, Value* out) const;

 private:
  friend class TableScanner;
  std::vector<FieldView> fields_;
  const TableDef* table_ = nullptr;
  RowDecoder* decoder_ = nullptr;
  uint32_t page_ = 0;
  uint16_t code_page_ = 0;  // Jet 3 text's
  bool jet3_ = false;
};

}  // namespace jet

#endif  // JET_ROW_VIEW_H_
