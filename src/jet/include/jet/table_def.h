// SPDX-License-Identifier: Apache-2.0
// A table's design as the engine reads it from the file: its columns (name,
// type, size, flags), its indexes (the logical ones a user sees, and the
// physical B-trees behind them) and its counts. Database::GetTable returns
// one; TableScanner and TableWriter work by it.

#ifndef JET_TABLE_DEF_H_
#define JET_TABLE_DEF_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/database_info.h"
#include "jet/value.h"

namespace jet {

// Where a row is stored: its page, and its slot on that page (a usage map,
// a long value).
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;

  static RowPointer FromRaw(uint32_t raw) { return RowPointer{raw >> 8, uint8_t(raw & 0xFF)}; }
  uint32_t raw() const { return (page << 8) | row; }
  bool null() const { return page == 0 && row == 0; }
};

// "Boolean", "Text", ...; the names jetdb prints and reads back.
const char* ColumnTypeName(ColumnType type);
// Whether a type byte names a type this engine reads.
bool ColumnTypeKnown(uint8_t type);
bool ColumnTypeFromName(const std::string& name, ColumnType* type);
// Size in bytes of a fixed-length value of this type, 0 if variable.
uint32_t FixedSizeOf(ColumnType type);
bool IsLongValue(ColumnType type);
bool IsTextual(ColumnType type);
// Byte, Integer, Long, Currency, Single, Double and Decimal.
bool IsNumeric(ColumnType type);

constexpr uint8_t kColumnFixed = 0x01;
constexpr uint8_t kColumnNullable = 0x02;
constexpr uint8_t kColumnAutoLong = 0x04;
constexpr uint8_t kColumnAutoGuid = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
constexpr uint8_t kColumnExtCompressed = 0x01;
constexpr uint8_t kColumnExtCalculated = 0xC0;  // Access 2010 and later

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::kText;
  uint16_t number = 0;      // its bit in the null mask
  uint16_t var_index = 0;   // its slot in the variable offset table
  uint16_t column_index = 0;
  uint16_t fixed_offset = 0;
  uint16_t length = 0;
  uint8_t flags = 0;
  uint8_t ext_flags = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  SortOrder sort_order;
  uint16_t code_page = 0;
  // A calculated column's expression, from its Expression property. Its
  // type is that of the result (the ResultType property), which is what
  // the value stored in a row has.
  std::string expression;
  // A complex column's key in MSysComplexColumns (complex_values.h).
  uint32_t complex_id = 0;

  bool fixed() const { return flags & kColumnFixed; }
  // 0x40 makes a GUID column a GUID autonumber. Access 97 sets the bit on
  // columns of other types as well, meaning something else there (Northwind:
  // 24 Text, 7 DateTime, 2 Currency and 2 Integer columns, none of them
  // generated), so it counts only on a GUID column; 0x80 likewise only on a
  // Memo column.
  bool guid_autonumber() const { return type == ColumnType::kGuid && (flags & kColumnAutoGuid); }
  bool hyperlink() const { return type == ColumnType::kMemo && (flags & kColumnHyperlink); }
  bool autonumber() const { return (flags & kColumnAutoLong) || guid_autonumber(); }
  bool compressed_unicode() const { return ext_flags & kColumnExtCompressed; }
  // A calculated column (Access 2010): Access stores the result of its
  // expression, wrapped (row.h), and recomputes it on every change.
  bool calculated() const { return ext_flags & kColumnExtCalculated; }
};

constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;

struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

// The index as stored: its B-tree and the columns of its keys.
struct PhysicalIndex {
  uint32_t number = 0;
  std::vector<IndexColumn> columns;
  RowPointer usage_map;
  uint32_t root_page = 0;
  uint8_t flags = 0;
  uint32_t row_count = 0;  // as kept in the table definition

  bool unique() const { return flags & kIndexUnique; }
  bool ignore_nulls() const { return flags & kIndexIgnoreNulls; }
  bool required() const { return flags & kIndexRequired; }
};

// The index as the user sees it: a name, and the physical index behind it.
// Several logical indexes may share one physical index.
struct LogicalIndex {
  std::string name;
  uint32_t number = 0;
  uint32_t physical = 0;  // index into TableDef::physical_indexes
  uint8_t kind = 0;       // 1 primary key, 2 foreign key, 0 ordinary
  uint8_t related_table_type = 0;
  int32_t related_index = -1;
  uint32_t related_table_page = 0;
  bool cascade_updates = false;
  bool cascade_deletes = false;

  bool primary() const { return kind == 1; }
  bool foreign() const { return kind == 2; }
};

struct LongValueMaps {
  uint16_t column_number = 0;
  RowPointer used_pages;
  RowPointer free_pages;
};

struct TableDef {
  std::string name;
  uint32_t tdef_page = 0;
  std::vector<uint32_t> tdef_pages;  // the whole chain, first page first
  uint32_t row_count = 0;
  uint32_t last_autonumber = 0;  // the autonumber most recently given out
  uint8_t table_type = 0;
  uint16_t max_columns = 0;
  uint16_t var_columns = 0;
  std::vector<ColumnDef> columns;  // in column order (column_index)
  std::vector<PhysicalIndex> physical_indexes;
  std::vector<LogicalIndex> logical_indexes;
  std::vector<LongValueMaps> long_value_maps;
  RowPointer owned_pages;
  RowPointer free_space_pages;

  const ColumnDef* FindColumn(const std::string& name) const;  // case-insensitive
  ColumnDef* FindColumn(const std::string& name) {
    return const_cast<ColumnDef*>(std::as_const(*this).FindColumn(name));
  }
  const ColumnDef* FindColumnByNumber(uint16_t number) const;
};

// Case-insensitive comparison of ASCII letters, as Jet compares names.
bool NamesEqual(const std::string& a, const std::string& b);

}  // namespace jet

#endif  // JET_TABLE_DEF_H_
