// SPDX-License-Identifier: Apache-2.0
#include "interchange/export.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <algorithm>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "interchange/json_quote.h"
#include "interchange/value_json.h"
#include "jet/complex_values.h"
#include "jet/row_view.h"
#include "jet/table_scanner.h"
#include "jet/value_format.h"

namespace jet {

namespace {

// The output is gathered and written in pieces of about this size.
constexpr size_t kFlushAt = 1 << 18;

// Bytes that make a CSV field need quotes.
struct CsvSpecial {
  bool table[256] = {};
  constexpr CsvSpecial() {
    table[uint8_t(',')] = table[uint8_t('"')] = table[uint8_t('\r')] = table[uint8_t('\n')] = true;
  }
};
constexpr CsvSpecial kCsvSpecial;

// The output as it is gathered between writes: a plain buffer that fields
// are formatted into in place. It grows only when one row does not fit.
class OutBuf {
 public:
  explicit OutBuf(size_t capacity)
      : data_(new char[capacity]), p_(data_.get()), end_(data_.get() + capacity) {}

  // Room for `n` more bytes, at the returned position; Commit(end) keeps
  // what was written there.
  char* Room(size_t n) {
    if (size_t(end_ - p_) < n) Grow(n);
    return p_;
  }
  void Commit(char* end) { p_ = end; }

  void Append(const char* s, size_t n) {
    char* o = Room(n);
    std::memcpy(o, s, n);
    p_ = o + n;
  }
  void Append(const std::string& s) { Append(s.data(), s.size()); }

  size_t size() const { return size_t(p_ - data_.get()); }

  Status WriteTo(std::FILE* out) {
    const size_t n = size();
    if (n != 0 && std::fwrite(data_.get(), 1, n, out) != n) {
      return Status::IoError("Cannot write the output");
    }
    p_ = data_.get();
    return Status::Ok();
  }

 private:
  void Grow(size_t n) {
    const size_t used = size();
    const size_t capacity = std::max(size_t(end_ - data_.get()) * 2, used + n);
    std::unique_ptr<char[]> bigger(new char[capacity]);
    std::memcpy(bigger.get(), data_.get(), used);
    data_ = std::move(bigger);
    p_ = data_.get() + used;
    end_ = data_.get() + capacity;
  }

  std::unique_ptr<char[]> data_;
  char* p_;
  char* end_;
};

// Bytes a text field may be read past its end when looking for CSV
// specials; its reservation in the output leaves that much more room.
constexpr size_t kScanSlack = 16;

#if !defined(__SSE2__)
constexpr uint64_t kOnes = 0x0101010101010101ull;

// Nonzero when some byte of `v` is `c`.
inline uint64_t ByteIs(uint64_t v, uint8_t c) {
  const uint64_t x = v ^ (kOnes * c);
  return (x - kOnes) & ~x & (kOnes * 0x80);
}

inline uint64_t CsvSpecials(uint64_t v) {
  return ByteIs(v, ',') | ByteIs(v, '"') | ByteIs(v, '\r') | ByteIs(v, '\n');
}
#endif

// Whether a field needs CSV quotes: it holds a comma, a quote, CR or LF.
// Reads up to 15 bytes past the end when `slack` (there must be room then).
bool NeedsQuotes(const char* p, size_t n, bool slack = false) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  auto specials = [&](const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    return unsigned(_mm_movemask_epi8(hit));
  };
  for (; i + 16 <= n; i += 16) {
    if (specials(p + i)) return true;
  }
  if (i == n) return false;
  if (slack) return (specials(p + i) & ((1u << (n - i)) - 1)) != 0;
#else
  (void)slack;
  for (; i + 8 <= n; i += 8) {
    uint64_t v;
    std::memcpy(&v, p + i, 8);
    if (CsvSpecials(v)) return true;
  }
#endif
  for (; i < n; ++i) {
    if (kCsvSpecial.table[uint8_t(p[i])]) return true;
  }
  return false;
}

// Writes the field [s, s + n) quoted at `o`, quotes doubled; returns the end.
char* PutQuoted(char* o, const char* s, size_t n) {
  *o++ = '"';
  const char* end = s + n;
  while (true) {
    const char* q = static_cast<const char*>(std::memchr(s, '"', size_t(end - s)));
    const char* stop = q ? q + 1 : end;
    std::memcpy(o, s, size_t(stop - s));
    o += stop - s;
    if (!q) break;
    *o++ = '"';
    s = stop;
  }
  *o++ = '"';
  return o;
}

// The values of a table's complex columns, by column; null for other
// columns and for complex columns of kinds that export as their id.
using ComplexColumns = std::vector<std::unique_ptr<ComplexValues>>;

Result<ComplexColumns> ReadComplexColumns(Database& db, const TableDef& table) {
  ComplexColumns out(table.columns.size());
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (table.columns[i].type != ColumnType::kComplex) continue;
    JET_ASSIGN_OR_RETURN(out[i], ComplexValues::Read(db, table, table.columns[i]));
    if (out[i]->kind() == ComplexValues::Kind::kOther) out[i].reset();
  }
  return out;
}

// A complex field's values as a JSON array: a multi-valued field's values
// as AppendJson gives them, an attachment as {"file_name", "type", "data"}
// with the file's bytes in lowercase hex, as binary values are exported.
void AppendComplexJson(std::string& out, const ComplexValues& values, int64_t id) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('[');
  const char* sep = "";
  if (values.kind() == ComplexValues::Kind::kMultiValue) {
    for (const Value& v : values.MultiValues(id)) {
      out += std::exchange(sep, ",");
      AppendJson(out, v);
    }
  } else {
    for (const Attachment& a : values.Attachments(id)) {
      out += std::exchange(sep, ",");
      out += "{\"file_name\":";
      AppendJsonQuoted(out, a.file_name);
      out += ",\"type\":";
      AppendJsonQuoted(out, a.file_type);
      out += ",\"data\":\"";
      for (unsigned char c : a.data) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
      }
      out += "\"}";
    }
  }
  out.push_back(']');
}

// Formats each field of a row straight from the row's bytes into the
// output, as Value::AppendText (CSV) or AppendJson (JSONL) would.
template <bool kJson>
class RowFormatter {
 public:
  RowFormatter(OutBuf& out, const std::vector<std::string>& keys, const ComplexColumns& complex)
      : out_(out), keys_(keys), complex_(complex) {}

  Status Row(const RowView& row) {
    row_ = &row;
    const size_t n = row.size();
    for (size_t i = 0; i < n; ++i) {
      const FieldView& f = row[i];
      if (f.null) {
        Null(i);
      } else if (complex_[i]) {
        text_.clear();
        AppendComplexJson(text_, *complex_[i], f.Int32());
        PutText(i);
      } else if (!Field(i, f)) {
        JET_RETURN_IF_ERROR(SlowField(i, f));
      }
    }
    return Status::Ok();
  }

 private:
  void Null(size_t i) {
    char* o = Start(i, 4);
    if constexpr (kJson) {
      std::memcpy(o, "null", 4);
      o += 4;
    }
    out_.Commit(o);
  }

  void Boolean(size_t i, bool bit) {
    char* o = Start(i, 5);
    if (bit) {
      std::memcpy(o, "true", 4);
      o += 4;
    } else {
      std::memcpy(o, "false", 5);
      o += 5;
    }
    out_.Commit(o);
  }

  // The common forms, which cannot fail; false for the others.
  bool Field(size_t i, const FieldView& d) {
    switch (d.type) {
      case ColumnType::kBoolean: Boolean(i, d.boolean); return true;
      case ColumnType::kByte: Int(i, d.Byte()); return true;
      case ColumnType::kInteger: Int(i, d.Int16()); return true;
      case ColumnType::kLong: Int(i, d.Int32()); return true;
      case ColumnType::kCurrency: {
        char* o = Start(i, kMaxFormattedNumber + 2);
        if constexpr (kJson) *o++ = '"';
        o = FormatCurrencyTo(o, d.Int64());
        if constexpr (kJson) *o++ = '"';
        out_.Commit(o);
        return true;
      }
      case ColumnType::kDouble: {
        const double v = d.Double();
        if (!std::isfinite(v)) return false;
        out_.Commit(FormatFiniteDoubleTo(Start(i, kMaxFormattedNumber), v));
        return true;
      }
      case ColumnType::kDateTime: {
        char* o = Start(i, kMaxFormattedNumber + 2);
        if constexpr (kJson) *o++ = '"';
        o = FormatDateTimeTo(o, d.Double(), &dates_);
        if constexpr (kJson) *o++ = '"';
        out_.Commit(o);
        return true;
      }
      case ColumnType::kText: Text(i, d.data, d.size); return true;
      default: return false;
    }
  }

  // Memo, whose bytes may lie elsewhere, and the rarer forms, through Value.
  Status SlowField(size_t i, const FieldView& d) {
    if (d.type == ColumnType::kMemo) {
      JET_RETURN_IF_ERROR(row_->ReadLongValue(i, &long_value_));
      Text(i, reinterpret_cast<const uint8_t*>(long_value_.data()), long_value_.size());
      return Status::Ok();
    }
    JET_RETURN_IF_ERROR(row_->Decode(i, &value_));
    text_.clear();
    if constexpr (kJson) {
      AppendJson(text_, value_);
    } else {
      value_.AppendText(text_);
    }
    PutText(i);
    return Status::Ok();
  }

  // text_ as field i: as it is in JSON, quoted if need be in CSV.
  void PutText(size_t i) {
    if constexpr (kJson) {
      out_.Commit(Start(i, 0));
      out_.Append(text_);
    } else {
      char* o = Start(i, 2 * text_.size() + 2);
      if (NeedsQuotes(text_.data(), text_.size())) {
        o = PutQuoted(o, text_.data(), text_.size());
      } else {
        std::memcpy(o, text_.data(), text_.size());
        o += text_.size();
      }
      out_.Commit(o);
    }
  }

  // Room for the separator, the key (JSON) and `n` more bytes; returns
  // where the value goes.
  char* Start(size_t i, size_t n) {
    if constexpr (kJson) {
      const std::string& key = keys_[i];
      char* o = out_.Room(key.size() + 1 + n);
      if (i) *o++ = ',';
      std::memcpy(o, key.data(), key.size());
      return o + key.size();
    } else {
      char* o = out_.Room(1 + n);
      if (i) *o++ = ',';
      return o;
    }
  }

  void Int(size_t i, int64_t v) {
    char* o = Start(i, 24);
    out_.Commit(std::to_chars(o, o + 24, v).ptr);
  }

  void Text(size_t i, const uint8_t* d, size_t size) {
    const size_t most = RowView::kMaxTextGrowth * size;
    if constexpr (kJson) {
      if (text_buf_.size() < most) text_buf_.resize(most);
      const char* s = text_buf_.data();
      const size_t n = size_t(row_->TextTo(d, size, text_buf_.data()) - s);
      out_.Commit(JsonQuoteTo(Start(i, 6 * n + 2), s, n));
    } else {
      // Decoded in place; quoted (rarely) through a copy.
      char* o = Start(i, 2 * most + 2 + kScanSlack);
      char* e = row_->TextTo(d, size, o);
      const size_t n = size_t(e - o);
      if (NeedsQuotes(o, n, true)) {
        text_.assign(o, n);
        e = PutQuoted(o, text_.data(), n);
      }
      out_.Commit(e);
    }
  }

  OutBuf& out_;
  const std::vector<std::string>& keys_;
  const ComplexColumns& complex_;
  const RowView* row_ = nullptr;
  std::string long_value_;     // a memo's raw bytes, reused across rows
  std::string text_;           // scratch text, reused
  std::vector<char> text_buf_;  // decoded text before JSON escaping, reused
  Value value_;
  DateTextCache dates_;
};

template <bool kJson>
Status ExportRows(Database& db, std::shared_ptr<const TableDef> table,
                  const std::vector<std::string>& keys, OutBuf& buf, std::FILE* out) {
  JET_ASSIGN_OR_RETURN(ComplexColumns complex, ReadComplexColumns(db, *table));
  TableScanner scan(db, std::move(table));
  RowFormatter<kJson> formatter(buf, keys, complex);
  const RowView* row = nullptr;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.NextView(&row));
    if (!more) break;
    if constexpr (kJson) buf.Append("{", 1);
    JET_RETURN_IF_ERROR(formatter.Row(*row));
    if constexpr (kJson) {
      buf.Append("}\n", 2);
    } else {
      buf.Append("\r\n", 2);
    }
    if (buf.size() >= kFlushAt) JET_RETURN_IF_ERROR(buf.WriteTo(out));
  }
  return Status::Ok();
}

}  // namespace

void AppendCsvField(std::string& out, const std::string& field) {
  if (!NeedsQuotes(field.data(), field.size())) {
    out += field;
    return;
  }
  const size_t at = out.size();
  out.resize(at + 2 * field.size() + 2);
  out.resize(size_t(PutQuoted(out.data() + at, field.data(), field.size()) - out.data()));
}

Status ExportTable(Database& db, const std::string& name, ExportFormat format, std::FILE* out) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> table, db.GetTable(name));
  OutBuf buf(kFlushAt + (kFlushAt >> 2));
  std::vector<std::string> keys;  // JSON keys, quoted once
  if (format == ExportFormat::kCsv) {
    std::string header;
    for (size_t i = 0; i < table->columns.size(); ++i) {
      if (i) header.push_back(',');
      AppendCsvField(header, table->columns[i].name);
    }
    header += "\r\n";
    buf.Append(header);
    JET_RETURN_IF_ERROR(ExportRows<false>(db, table, keys, buf, out));
  } else {
    for (const ColumnDef& col : table->columns) keys.push_back(JsonQuote(col.name) + ":");
    JET_RETURN_IF_ERROR(ExportRows<true>(db, table, keys, buf, out));
  }
  JET_RETURN_IF_ERROR(buf.WriteTo(out));
  if (std::fflush(out) != 0) return Status::IoError("Cannot write the output");
  return Status::Ok();
}

}  // namespace jet
