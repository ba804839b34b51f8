// SPDX-License-Identifier: Apache-2.0
#include "jet/storage/format.h"

namespace jet {

namespace {

Format MakeJet3() {
  Format f{};
  f.version = JetVersion::kJet3;
  f.page_size = 2048;
  f.masked_header_offset = 0x18;
  f.masked_header_length = 126;
  f.header_sort_order = 0x3A;
  f.header_sort_version = -1;
  f.header_code_page = 0x3C;
  f.header_encoding_key = 0x3E;
  f.header_password = 0x42;
  f.header_password_size = 20;
  f.header_creation_date = -1;

  f.data_free_space = 2;
  f.data_owner = 4;
  f.data_row_count = 8;
  f.data_first_row_slot = 10;

  f.row_column_count_size = 1;
  f.row_var_offset_size = 1;

  f.tdef_row_count = 12;
  f.tdef_autonumber = 16;
  f.tdef_table_type = 20;
  f.tdef_max_cols = 21;
  f.tdef_var_cols = 23;
  f.tdef_num_cols = 25;
  f.tdef_num_logical_idx = 27;
  f.tdef_num_real_idx = 31;
  f.tdef_owned_pages = 35;
  f.tdef_free_pages = 39;
  f.tdef_header_size = 43;
  f.tdef_real_idx_count_size = 8;
  f.column_block_size = 18;
  f.col_type = 0;
  f.col_number = 1;
  f.col_var_index = 3;
  f.col_index = 5;
  f.col_sort_order = 9;
  f.col_sort_version = -1;
  f.col_code_page = 11;
  f.col_precision = 11;
  f.col_scale = 12;
  f.col_flags = 13;
  f.col_ext_flags = -1;
  f.col_fixed_offset = 14;
  f.col_length = 16;
  f.name_length_size = 1;
  f.real_index_block_size = 39;
  f.real_index_skip_before = 0;
  f.real_index_skip_before_flags = 0;
  f.logical_index_block_size = 20;
  f.logical_index_skip_before = 0;

  f.index_prev_page = 8;
  f.index_next_page = 12;
  f.index_tail_page = 16;
  f.index_prefix_length = 20;
  f.index_prefix_length_size = 1;  // byte 21 is unrelated
  f.index_entry_mask = 22;
  f.index_entry_mask_size = 226;
  f.index_first_entry = 22 + 226;

  f.inline_map_bytes = 128 - 5;
  f.max_inline_long_value = 64;

  f.tdef_next_complex_id = -1;
  f.col_complex_id = -1;
  f.legacy_numeric_index_keys = true;
  return f;
}

Format MakeJet4() {
  Format f{};
  f.version = JetVersion::kJet4;
  f.page_size = 4096;
  f.masked_header_offset = 0x18;
  f.masked_header_length = 128;
  f.header_sort_order = 0x6E;
  f.header_sort_version = 0x71;
  f.header_code_page = 0x3C;
  f.header_encoding_key = 0x3E;
  f.header_password = 0x42;
  f.header_password_size = 40;
  f.header_creation_date = 0x72;

  f.data_free_space = 2;
  f.data_owner = 4;
  f.data_row_count = 12;
  f.data_first_row_slot = 14;

  f.row_column_count_size = 2;
  f.row_var_offset_size = 2;

  f.tdef_row_count = 16;
  f.tdef_autonumber = 20;
  f.tdef_table_type = 40;
  f.tdef_max_cols = 41;
  f.tdef_var_cols = 43;
  f.tdef_num_cols = 45;
  f.tdef_num_logical_idx = 47;
  f.tdef_num_real_idx = 51;
  f.tdef_owned_pages = 55;
  f.tdef_free_pages = 59;
  f.tdef_header_size = 63;
  f.tdef_real_idx_count_size = 12;
  f.column_block_size = 25;
  f.col_type = 0;
  f.col_number = 5;
  f.col_var_index = 7;
  f.col_index = 9;
  f.col_sort_order = 11;
  f.col_sort_version = 14;
  f.col_code_page = -1;
  f.col_precision = 11;
  f.col_scale = 12;
  f.col_flags = 15;
  f.col_ext_flags = 16;
  f.col_fixed_offset = 21;
  f.col_length = 23;
  f.name_length_size = 2;
  f.real_index_block_size = 52;
  f.real_index_skip_before = 4;
  f.real_index_skip_before_flags = 4;
  f.logical_index_block_size = 28;
  f.logical_index_skip_before = 4;

  f.index_prev_page = 12;
  f.index_next_page = 16;
  f.index_tail_page = 20;
  f.index_prefix_length = 24;
  f.index_prefix_length_size = 2;
  f.index_entry_mask = 27;
  f.index_entry_mask_size = 453;
  f.index_first_entry = 27 + 453;

  f.inline_map_bytes = 64 - 5;
  f.max_inline_long_value = 64;

  f.tdef_next_complex_id = -1;
  f.col_complex_id = -1;
  f.legacy_numeric_index_keys = true;
  return f;
}

Format MakeAce() {
  Format f = MakeJet4();
  f.ace = true;
  f.tdef_next_complex_id = 28;
  f.col_complex_id = 11;
  f.legacy_numeric_index_keys = false;
  return f;
}

}  // namespace

const Format& Jet3Format() {
  static const Format f = MakeJet3();
  return f;
}

const Format& Jet4Format() {
  static const Format f = MakeJet4();
  return f;
}

const Format& AceFormat() {
  static const Format f = MakeAce();
  return f;
}

}  // namespace jet
