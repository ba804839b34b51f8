// SPDX-License-Identifier: Apache-2.0
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

#ifndef JET_FORMAT_TABLE_DEF_H_
#define JET_FORMAT_TABLE_DEF_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/data_page.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

// Reads the definition that starts on `tdef_page`. `header` supplies the code
// page that Jet 3 names are stored in.
Result<TableDef> ReadTableDef(Pager& pager, const DatabaseHeader& header, uint32_t tdef_page,
                              const std::string& name);

}  // namespace jet

#endif  // JET_FORMAT_TABLE_DEF_H_
