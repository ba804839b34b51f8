// SPDX-License-Identifier: Apache-2.0
#include "jet/format/row_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "jet/storage/text.h"

namespace jet {

namespace {

constexpr uint32_t kLongValueHeader = 12;
constexpr uint32_t kInlineLongValueMax = 64;
constexpr uint32_t kCompressedTextMax = 1024;  // longer text is never compressed
constexpr uint32_t kLongValueMax = 0x3FFFFFFF;

void PutLe16(std::string& out, uint16_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char(v >> 8));
}
void PutLe32(std::string& out, uint32_t v) {
  PutLe16(out, uint16_t(v));
  PutLe16(out, uint16_t(v >> 16));
}
void PutLe64(std::string& out, uint64_t v) {
  PutLe32(out, uint32_t(v));
  PutLe32(out, uint32_t(v >> 32));
}

Status Invalid(const ColumnDef& c, const std::string& why) {
  return Status::InvalidArgument("Column '" + c.name + "': " + why);
}

}  // namespace

uint32_t MaxRowSize(const Format& format) {
  return format.version == JetVersion::kJet4 ? 4060 : 2012;
}

bool EncodeText(const Format& format, const DatabaseHeader& header, const ColumnDef& column,
                const std::string& utf8, std::string* out, size_t* chars) {
  out->clear();
  std::u16string units;
  if (!Utf8ToUtf16(utf8, &units)) return false;
  *chars = units.size();
  if (format.version == JetVersion::kJet3) {
    for (size_t i = 0; i < units.size(); ++i) {
      uint32_t c = units[i];
      if (c >= 0xD800 && c <= 0xDFFF) return false;
      uint8_t b;
      if (!EncodeCodePageChar(c, header.code_page, &b)) return false;
      out->push_back(char(b));
    }
    return true;
  }
  // Fixed-length text is never compressed: its length is counted in UTF-16
  // units, and a compressed value padded to the column's byte length would
  // read back one character too long, or (one character) as nothing at all.
  bool compress =
      column.compressed_unicode() && !column.fixed() && units.size() <= kCompressedTextMax;
  for (char16_t u : units) {
    if (u == 0 || u > 0xFF) {
      compress = false;
      break;
    }
  }
  if (compress) {
    out->reserve(units.size() + 2);
    out->push_back(char(0xFF));
    out->push_back(char(0xFE));
    for (char16_t u : units) out->push_back(char(u));
  } else {
    out->reserve(units.size() * 2);
    for (char16_t u : units) PutLe16(*out, uint16_t(u));
  }
  return true;
}

Status EncodeFieldBytes(const Format& format, const DatabaseHeader& header, const ColumnDef& c,
                        const Value& v, std::string* out) {
  out->clear();
  if (v.type != c.type) {
    return Invalid(c, std::string("a ") + ColumnTypeName(v.type) + " value does not fit a " +
                          ColumnTypeName(c.type) + " column");
  }
  switch (c.type) {
    case ColumnType::kBoolean:
      return Status::Ok();  // lives in the null mask
    case ColumnType::kByte:
      if (v.integer < 0 || v.integer > 255) return Invalid(c, "value out of range for Byte");
      out->push_back(char(v.integer));
      return Status::Ok();
    case ColumnType::kInteger:
      if (v.integer < -32768 || v.integer > 32767) {
        return Invalid(c, "value out of range for Integer");
      }
      PutLe16(*out, uint16_t(int16_t(v.integer)));
      return Status::Ok();
    case ColumnType::kLong:
      if (v.integer < INT32_MIN || v.integer > INT32_MAX) {
        return Invalid(c, "value out of range for Long");
      }
      PutLe32(*out, uint32_t(int32_t(v.integer)));
      return Status::Ok();
    case ColumnType::kCurrency:
    case ColumnType::kBigInt:
      PutLe64(*out, uint64_t(v.integer));
      return Status::Ok();
    case ColumnType::kExtDateTime:
      if (!ExtDateTimeValid(v.bytes)) return Invalid(c, "not an extended date");
      *out = v.bytes;
      return Status::Ok();
    case ColumnType::kSingle: {
      uint32_t bits;
      std::memcpy(&bits, &v.single, 4);
      PutLe32(*out, bits);
      return Status::Ok();
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      if (c.type == ColumnType::kDateTime && !std::isfinite(v.real)) {
        return Invalid(c, "not a date");
      }
      uint64_t bits;
      std::memcpy(&bits, &v.real, 8);
      PutLe64(*out, bits);
      return Status::Ok();
    }
    case ColumnType::kGuid:
      if (v.bytes.size() != 16) return Invalid(c, "a GUID has 16 bytes");
      *out = v.bytes;
      return Status::Ok();
    case ColumnType::kNumeric: {
      if (v.decimal.scale != c.scale) return Invalid(c, "decimal scale differs from the column's");
      // Count the digits: at most the column's precision.
      std::string digits = v.decimal.ToString();
      size_t n = 0;
      bool leading = true;
      for (char ch : digits) {
        if (ch < '0' || ch > '9') continue;
        if (leading && ch == '0') continue;
        leading = false;
        ++n;
      }
      if (n > c.precision && c.precision > 0) {
        return Invalid(
            c, "value has more digits than the column's precision " + std::to_string(c.precision));
      }
      out->push_back(v.decimal.negative ? char(0x80) : char(0));
      for (uint32_t w : v.decimal.words) PutLe32(*out, w);
      return Status::Ok();
    }
    case ColumnType::kText: {
      size_t chars = 0;
      if (!EncodeText(format, header, c, v.bytes, out, &chars)) {
        return Invalid(c, format.version == JetVersion::kJet3
                              ? "the text has a character the database's code page lacks"
                              : "the text is not valid UTF-8");
      }
      size_t max_chars = format.version == JetVersion::kJet4 ? c.length / 2 : c.length;
      if (chars > max_chars) {
        return Invalid(c, "text of " + std::to_string(chars) + " characters is longer than " +
                              std::to_string(max_chars));
      }
      if (c.fixed()) {
        // Fixed-length text is padded with spaces to the column's length, as
        // Jet pads it: one byte each in Jet 3 and compressed Jet 4 text, a
        // UTF-16 space otherwise.
        const bool units =
            format.version == JetVersion::kJet4 &&
            !(out->size() >= 2 && uint8_t((*out)[0]) == 0xFF && uint8_t((*out)[1]) == 0xFE);
        while (out->size() + (units ? 2 : 1) <= c.length) {
          out->push_back(' ');
          if (units) out->push_back('\0');
        }
        out->resize(c.length, '\0');
      }
      return Status::Ok();
    }
    case ColumnType::kMemo: {
      size_t chars = 0;
      if (!EncodeText(format, header, c, v.bytes, out, &chars)) {
        return Invalid(c, format.version == JetVersion::kJet3
                              ? "the text has a character the database's code page lacks"
                              : "the text is not valid UTF-8");
      }
      if (out->size() > kLongValueMax) return Invalid(c, "memo is too long");
      return Status::Ok();
    }
    case ColumnType::kBinary:
      if (v.bytes.size() > c.length) {
        return Invalid(c, std::to_string(v.bytes.size()) + " bytes is longer than " +
                              std::to_string(c.length));
      }
      *out = v.bytes;
      if (c.fixed()) out->resize(c.length, 0);
      return Status::Ok();
    case ColumnType::kOle:
      if (v.bytes.size() > kLongValueMax) return Invalid(c, "OLE value is too long");
      *out = v.bytes;
      return Status::Ok();
    case ColumnType::kComplex:  // kept as it is by an update (the writer sees to it)
      PutLe32(*out, uint32_t(int32_t(v.integer)));
      return Status::Ok();
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      return Status::Unsupported("Column '" + c.name + "' has a type this engine does not write");
  }
  return Invalid(c, "unknown column type");
}

RowEncoder::RowEncoder(const Format& format, const DatabaseHeader& header, const TableDef& table)
    : format_(format), header_(header), table_(table) {
  // Counted wide: a damaged definition (column number or slot 0xFFFF) must
  // not wrap round to a small row.
  uint32_t columns = table.max_columns, slots = 0;
  for (const ColumnDef& c : table.columns) {
    columns = std::max<uint32_t>(columns, uint32_t(c.number) + 1);
    if (c.type == ColumnType::kBoolean) continue;
    if (c.fixed()) {
      uint32_t size = FixedSizeOf(c.type) ? FixedSizeOf(c.type) : c.length;
      fixed_size_ = std::max<uint32_t>(fixed_size_, uint32_t(c.fixed_offset) + size);
    } else {
      slots = std::max<uint32_t>(slots, uint32_t(c.var_index) + 1);
    }
  }
  const uint32_t limit = format.version == JetVersion::kJet4 ? 0xFFFF : 0xFF;
  layout_fits_ = columns <= limit && slots <= limit && fixed_size_ <= MaxRowSize(format);
  column_count_ = uint16_t(std::min(columns, limit));
  var_slots_ = uint16_t(std::min(slots, limit));
}

Status RowEncoder::Encode(const std::vector<Value>& values, LongValueStore* long_values,
                          uint32_t min_size, std::string* row) {
  if (values.size() != table_.columns.size()) {
    return Status::InvalidArgument("A row of table '" + table_.name + "' needs " +
                                   std::to_string(table_.columns.size()) + " values");
  }
  if (!layout_fits_) {
    return Status::Corrupt("The definition of table '" + table_.name +
                           "' places columns where no row can hold them");
  }
  const bool jet4 = format_.version == JetVersion::kJet4;
  const size_t nm = (size_t(column_count_) + 7) / 8;
  std::vector<uint8_t> null_mask(nm, 0);
  auto mark = [&](const ColumnDef& c) { null_mask[c.number / 8] |= uint8_t(1u << (c.number % 8)); };

  row->clear();
  if (jet4) {
    PutLe16(*row, column_count_);
  } else {
    row->push_back(char(column_count_));
  }
  const size_t fixed_start = row->size();
  row->resize(fixed_start + fixed_size_, 0);

  std::string bytes;
  // Fixed columns first, each at its offset.
  for (size_t i = 0; i < table_.columns.size(); ++i) {
    const ColumnDef& c = table_.columns[i];
    const Value& v = values[i];
    if (c.type == ColumnType::kBoolean) {
      if (!v.null && v.type != ColumnType::kBoolean) {
        JET_RETURN_IF_ERROR(EncodeFieldBytes(format_, header_, c, v, &bytes));
      }
      if (!v.null && v.boolean) mark(c);
      continue;
    }
    if (!c.fixed() || v.null) continue;
    JET_RETURN_IF_ERROR(EncodeFieldBytes(format_, header_, c, v, &bytes));
    if (c.fixed_offset + bytes.size() > fixed_size_) {
      return Status::Corrupt("Column '" + c.name + "' does not fit the fixed part of its row");
    }
    std::memcpy(row->data() + fixed_start + c.fixed_offset, bytes.data(), bytes.size());
    mark(c);
  }

  // Variable-length columns in slot order; a slot without a column (it was
  // deleted) or with a null value takes no bytes.
  std::vector<const ColumnDef*> by_slot(var_slots_, nullptr);
  std::vector<size_t> value_index(var_slots_, 0);
  for (size_t i = 0; i < table_.columns.size(); ++i) {
    const ColumnDef& c = table_.columns[i];
    if (c.fixed() || c.type == ColumnType::kBoolean) continue;
    by_slot[c.var_index] = &c;
    value_index[c.var_index] = i;
  }
  const uint32_t max_row = MaxRowSize(format_);
  std::vector<uint32_t> offsets(var_slots_ + 1, 0);
  for (uint16_t slot = 0; slot < var_slots_; ++slot) {
    offsets[slot] = uint32_t(row->size());
    const ColumnDef* c = by_slot[slot];
    if (!c) continue;
    const Value& v = values[value_index[slot]];
    if (v.null) continue;
    const std::string* kept =
        IsLongValue(c->type) && long_values ? long_values->Kept(*c) : nullptr;
    if (kept) {
      *row += *kept;
      mark(*c);
      continue;
    }
    JET_RETURN_IF_ERROR(EncodeFieldBytes(format_, header_, *c, v, &bytes));
    if (IsLongValue(c->type)) {
      const uint32_t length = uint32_t(bytes.size());
      std::string header;
      const uint32_t page_room = format_.page_size - format_.data_first_row_slot - 2 - 4;
      if (length <= kInlineLongValueMax && row->size() + kLongValueHeader + length + 64 < max_row) {
        PutLe32(header, length | 0x80000000u);
        PutLe32(header, 0);
        PutLe32(header, 0);
        header += bytes;
      } else {
        if (!long_values) return Invalid(*c, "long values cannot be stored here");
        bool chained = length > page_room;
        JET_ASSIGN_OR_RETURN(RowPointer where, long_values->Store(*c, bytes, chained));
        PutLe32(header, length | (chained ? 0u : 0x40000000u));
        PutLe32(header, where.raw());
        PutLe32(header, 0);
      }
      *row += header;
    } else {
      *row += bytes;
    }
    mark(*c);
  }
  offsets[var_slots_] = uint32_t(row->size());  // end of the variable data

  // The trailer, and padding before it up to `min_size`. A Jet 3 row keeps
  // one jump-table byte per 256 bytes of the whole row, so its length is
  // settled by iterating.
  const size_t n = var_slots_;
  const size_t trailer = n == 0 ? nm : (jet4 ? 2 + 2 * n + 2 + nm : n + 1 + 1 + nm);
  auto length_for = [&](size_t data_end) {
    size_t jumps = 0;
    if (!jet4 && n > 0) {
      while (true) {
        size_t next = (data_end + trailer + jumps - 1) / 256;
        if (next == jumps) break;
        jumps = next;
      }
    }
    return data_end + trailer + jumps;
  };
  size_t data_end = row->size();
  size_t total = length_for(data_end);
  if (total < min_size) {
    data_end += min_size - total;
    total = length_for(data_end);
  }
  if (total > max_row) {
    return Status::InvalidArgument("A row of table '" + table_.name + "' would be " +
                                   std::to_string(total) + " bytes, more than the " +
                                   std::to_string(max_row) + " a row can hold");
  }
  row->resize(data_end, 0);

  if (var_slots_ > 0) {
    if (jet4) {
      PutLe16(*row, uint16_t(offsets[var_slots_]));
      for (int i = int(var_slots_) - 1; i >= 0; --i) PutLe16(*row, uint16_t(offsets[size_t(i)]));
      PutLe16(*row, var_slots_);
    } else {
      // One-byte offsets: the end of the data first, then the offsets from
      // the last slot down, then the jump table from its last entry down.
      // Jump entry j is the first offset index at or past byte (j+1)*256; an
      // entry that no offset reaches holds 0xFF.
      const size_t jumps = (total - 1) / 256;
      std::vector<uint8_t> jump(jumps, 0xFF);
      for (size_t j = 0; j < jumps; ++j) {
        for (size_t k = 0; k <= var_slots_; ++k) {
          if (offsets[k] >= (j + 1) * 256) {
            jump[j] = uint8_t(k);
            break;
          }
        }
      }
      row->push_back(char(offsets[var_slots_] & 0xFF));
      for (int i = int(var_slots_) - 1; i >= 0; --i)
        row->push_back(char(offsets[size_t(i)] & 0xFF));
      for (size_t j = jumps; j-- > 0;) row->push_back(char(jump[j]));
      row->push_back(char(var_slots_));
    }
  }
  row->append(reinterpret_cast<const char*>(null_mask.data()), nm);
  return Status::Ok();
}

}  // namespace jet
