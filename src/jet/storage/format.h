// SPDX-License-Identifier: Apache-2.0
// The on-disk dialects this engine speaks: Jet 3 (Access 97), Jet 4
// (Access 2000, 2002 and 2003) and ACE (Access 2007 and later, .accdb). They
// share one design and differ in page size, in the width of a few fields and
// in where those fields sit. ACE is Jet 4's layout with a few additions
// (complex columns, the index keys of decimal numbers). Every offset that
// differs is a member of Format; code never tests the version to pick an
// offset.
//
// Page types (first byte of every page):
//   0x00  database header (page 0 only)
//   0x01  data page (rows, long values, usage-map rows)
//   0x02  table definition (TDEF)
//   0x03  index page, intermediate level
//   0x04  index page, leaf level
//   0x05  usage bitmap page (target of a reference usage map)

#ifndef JET_STORAGE_FORMAT_H_
#define JET_STORAGE_FORMAT_H_

#include "jet/internal/guard.h"

#include <cstdint>

#include "jet/database_info.h"

namespace jet {

enum PageType : uint8_t {
  kPageHeader = 0x00,
  kPageData = 0x01,
  kPageTableDef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageMap = 0x05,
};

struct Format {
  JetVersion version;  // the dialect of rows and pages: ACE files are kJet4
  bool ace;            // Access 2007 and later (.accdb)
  uint32_t page_size;

  // Database header (page 0). Bytes [masked_header_offset,
  // masked_header_offset + masked_header_length) are XOR-masked.
  uint32_t masked_header_offset;
  uint32_t masked_header_length;
  uint32_t header_sort_order;     // 2-byte collating order id (LCID)
  int32_t header_sort_version;    // byte with the sort order version, -1 if none
  uint32_t header_code_page;
  uint32_t header_encoding_key;
  uint32_t header_password;
  uint32_t header_password_size;
  int32_t header_creation_date;  // 8-byte date that masks the password, -1 if none

  // Data pages.
  uint32_t data_row_count;      // uint16: number of row slots
  uint32_t data_first_row_slot; // first uint16 row offset
  uint32_t data_free_space;     // uint16
  uint32_t data_owner;          // uint32: TDEF page of the owning table

  // Rows.
  uint32_t row_column_count_size;  // 1 (Jet 3) or 2 (Jet 4)
  uint32_t row_var_offset_size;    // 1 (Jet 3, with jump table) or 2 (Jet 4)

  // Table definition.
  uint32_t tdef_row_count;
  uint32_t tdef_autonumber;
  uint32_t tdef_table_type;
  uint32_t tdef_max_cols;
  uint32_t tdef_var_cols;
  uint32_t tdef_num_cols;
  uint32_t tdef_num_logical_idx;
  uint32_t tdef_num_real_idx;
  uint32_t tdef_owned_pages;
  uint32_t tdef_free_pages;
  uint32_t tdef_header_size;        // where the per-index row counts begin
  uint32_t tdef_real_idx_count_size;  // bytes per physical index row-count entry
  uint32_t column_block_size;
  uint32_t col_type;
  uint32_t col_number;
  uint32_t col_var_index;
  uint32_t col_index;
  uint32_t col_sort_order;
  int32_t col_sort_version;  // -1 if none
  int32_t col_code_page;     // -1 if none
  uint32_t col_precision;
  uint32_t col_scale;
  uint32_t col_flags;
  int32_t col_ext_flags;  // -1 if none
  uint32_t col_fixed_offset;
  uint32_t col_length;
  uint32_t name_length_size;  // 1 (Jet 3, code page text) or 2 (Jet 4, UCS-2 bytes)
  uint32_t real_index_block_size;
  uint32_t real_index_skip_before;       // unknown bytes before the 10 column slots
  uint32_t real_index_skip_before_flags;  // unknown bytes between root page and flags
  uint32_t logical_index_block_size;
  uint32_t logical_index_skip_before;

  // Index pages.
  uint32_t index_prev_page;
  uint32_t index_next_page;
  uint32_t index_tail_page;
  uint32_t index_prefix_length;
  uint32_t index_prefix_length_size;  // 1 (Jet 3) or 2 (Jet 4)
  uint32_t index_entry_mask;
  uint32_t index_entry_mask_size;
  uint32_t index_first_entry;  // index_entry_mask + index_entry_mask_size

  // Usage maps.
  uint32_t inline_map_bytes;  // bitmap bytes in an inline (type 0) map row

  // Long values.
  uint32_t max_inline_long_value;

  // ACE additions, -1 where the dialect has none.
  int32_t tdef_next_complex_id;  // uint32: the next id the table's complex columns hand out
  int32_t col_complex_id;        // uint32 in a complex column's definition
  // Decimal (numeric) index keys: Jet 3 and Jet 4 keep the legacy encoding,
  // ACE the corrected one.
  bool legacy_numeric_index_keys;
};

const Format& Jet3Format();
const Format& Jet4Format();
const Format& AceFormat();

}  // namespace jet

#endif  // JET_STORAGE_FORMAT_H_
