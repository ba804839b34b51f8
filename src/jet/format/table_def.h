// Table definitions (TDEF pages): columns, indexes and usage maps of a table.
//
// A definition starts on a page of type 0x02 and may continue on further
// TDEF pages; each continuation contributes its bytes after its 8-byte
// header. The joined definition reads (Jet 3 / Jet 4 offsets):
//
//   off      size   meaning
//   0        1      0x02
//   2        2      Jet 3: "VC"; Jet 4: free space
//   4        4      next TDEF page of this definition, 0 if none
//   8        4      length of the definition
//   12 / 16  4      number of rows
//   16 / 20  4      last autonumber value given out
//   - / 24   1      Jet 4: autonumber in use
//   20 / 40  1      table type: 0x4E user, 0x53 system
//   21 / 41  2      highest column number in use + 1 (counts deleted columns)
//   23 / 43  2      number of variable-length columns
//   25 / 45  2      number of columns
//   27 / 47  4      number of logical indexes
//   31 / 51  4      number of physical indexes
//   35 / 55  4      row pointer to the usage map of the table's data pages
//   39 / 59  4      row pointer to the usage map of its pages with free space
//   43 / 63         then, in order:
//     per physical index:  8 / 12 bytes, holding its row count at offset 4
//     per column:          18 / 25 bytes (see ColumnDef)
//     per column:          name (1-byte length + code page text / 2-byte
//                          length + UTF-16LE)
//     per physical index:  39 / 52 bytes: [4 unknown (Jet 4)], 10 x (column
//                          number uint16, 0xFFFF = unused; order byte, 1 =
//                          ascending), usage map pointer, root page,
//                          [4 unknown (Jet 4)], flags, [5 unknown (Jet 4)]
//     per logical index:   20 / 28 bytes: [4 unknown (Jet 4)], index number,
//                          physical index number, related table type,
//                          related index number, related table page, cascade
//                          updates, cascade deletes, type (1 = primary key,
//                          2 = foreign key), [4 unknown (Jet 4)]
//     per logical index:   name
//     repeated:            column number of a long-value column, and row
//                          pointers to its two usage maps; ends with 0xFFFF
//
// Column block (Jet 3 / Jet 4 offsets):
//   0        1   type
//   1 / 5    2   column number (stable; counts deleted columns)
//   3 / 7    2   index into the variable-length offset table
//   5 / 9    2   column index (position in the table's column order)
//   9 / 11   2   text: collating order; numeric: precision (11) and scale (12)
//   11 / -   2   Jet 3 text: code page
//   - / 14   1   Jet 4 text: collating order version
//   13 / 15  1   flags: 0x01 fixed length, 0x02 nullable, 0x04 autonumber,
//                0x40 GUID autonumber (GUID columns only), 0x80 hyperlink
//                (Memo columns only)
//   - / 16   1   Jet 4: 0x01 compressed Unicode
//   14 / 21  2   offset of the value in the fixed-length area
//   16 / 23  2   length in bytes (0 for memo and OLE)

#ifndef JET_TABLE_DEF_H_
#define JET_TABLE_DEF_H_

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/data_page.h"
#include "jet/storage/header.h"
#include "base/status.h"
#include "jet/value.h"
#include "jet/storage/pager.h"

namespace jet {

// "Boolean", "Text", ...; the names jetdb prints and reads back.
const char* ColumnTypeName(ColumnType type);
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
  const ColumnDef* FindColumnByNumber(uint16_t number) const;
};

// Reads the definition that starts on `tdef_page`. `header` supplies the code
// page that Jet 3 names are stored in.
Result<TableDef> ReadTableDef(Pager& pager, const DatabaseHeader& header, uint32_t tdef_page,
                              const std::string& name);

// Case-insensitive comparison of ASCII letters, as Jet compares names.
bool NamesEqual(const std::string& a, const std::string& b);

}  // namespace jet

#endif  // JET_TABLE_DEF_H_
