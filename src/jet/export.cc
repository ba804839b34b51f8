#include "export.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "row.h"
#include "value_format.h"

namespace jet {

namespace {

// The output is gathered and written in pieces of about this size.
constexpr size_t kFlushAt = 1 << 18;

Status Flush(std::string& buf, std::FILE* out) {
  if (!buf.empty() && std::fwrite(buf.data(), 1, buf.size(), out) != buf.size()) {
    return Status::IoError("Cannot write the output");
  }
  buf.clear();
  return Status::Ok();
}

// Bytes that make a CSV field need quotes.
struct CsvSpecial {
  bool table[256] = {};
  constexpr CsvSpecial() {
    table[uint8_t(',')] = table[uint8_t('"')] = table[uint8_t('\r')] = table[uint8_t('\n')] = true;
  }
};
constexpr CsvSpecial kCsvSpecial;

bool NeedsQuotes(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (kCsvSpecial.table[uint8_t(p[i])]) return true;
  }
  return false;
}

// Quotes the field that starts at `from` in `out`, if it needs quotes.
void QuoteTail(std::string& out, size_t from) {
  if (!NeedsQuotes(out.data() + from, out.size() - from)) return;
  std::string field = out.substr(from);
  out.resize(from);
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

template <size_t N>
void Put(std::string& out, const char (&literal)[N]) {
  out.append(literal, N - 1);
}

// Formats each field of a row straight from the row's bytes into the
// output, as Value::AppendText (CSV) or Value::AppendJson (JSONL) would.
template <bool kJson>
class ExportSink {
 public:
  ExportSink(RowDecoder& decoder, std::string& out, const std::vector<std::string>& keys)
      : decoder_(decoder), out_(out), keys_(keys) {}

  void set_page(uint32_t page) { page_ = page; }

  void Null(size_t i, const ColumnDef&) {
    Start(i);
    if constexpr (kJson) Put(out_, "null");
  }

  void Boolean(size_t i, const ColumnDef&, bool bit) {
    Start(i);
    if (bit) {
      Put(out_, "true");
    } else {
      Put(out_, "false");
    }
  }

  Status Field(size_t i, const ColumnDef& col, ByteView d) {
    Start(i);
    const uint8_t* p = d.data();
    switch (col.type) {
      case ColumnType::kByte: return Int(p[0]);
      case ColumnType::kInteger: return Int(int16_t(Le16(p)));
      case ColumnType::kLong: return Int(int32_t(Le32(p)));
      case ColumnType::kCurrency: {
        char buf[kMaxFormattedNumber];
        return Quoted(buf, FormatCurrencyTo(buf, int64_t(Le64(p))));
      }
      case ColumnType::kDouble: {
        const double v = BitsToDouble(Le64(p));
        if (!std::isfinite(v)) break;
        char buf[kMaxFormattedNumber];
        out_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        return Status::Ok();
      }
      case ColumnType::kDateTime: {
        char buf[kMaxFormattedNumber];
        return Quoted(buf, FormatDateTimeTo(buf, BitsToDouble(Le64(p))));
      }
      case ColumnType::kText: return Text(d);
      case ColumnType::kMemo:
        JET_RETURN_IF_ERROR(decoder_.ReadLongValue(d, page_, &long_value_));
        return Text(ByteView(reinterpret_cast<const uint8_t*>(long_value_.data()),
                             long_value_.size()));
      default: break;
    }
    // The rarer forms go through Value.
    JET_RETURN_IF_ERROR(decoder_.DecodeField(col, d, page_, &value_));
    if constexpr (kJson) {
      value_.AppendJson(out_);
    } else {
      const size_t from = out_.size();
      value_.AppendText(out_);
      QuoteTail(out_, from);
    }
    return Status::Ok();
  }

 private:
  void Start(size_t i) {
    if constexpr (kJson) {
      if (i) out_.push_back(',');
      out_ += keys_[i];
    } else {
      if (i) out_.push_back(',');
    }
  }

  Status Int(int64_t v) {
    char buf[24];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
    return Status::Ok();
  }

  // A form that JSON shows as a string and that needs no escaping.
  Status Quoted(const char* begin, const char* end) {
    if constexpr (kJson) out_.push_back('"');
    out_.append(begin, end);
    if constexpr (kJson) out_.push_back('"');
    return Status::Ok();
  }

  Status Text(ByteView d) {
    if constexpr (kJson) {
      text_.clear();
      decoder_.AppendText(d, text_);
      AppendJsonQuoted(out_, text_);
    } else {
      const size_t from = out_.size();
      decoder_.AppendText(d, out_);
      QuoteTail(out_, from);
    }
    return Status::Ok();
  }

  RowDecoder& decoder_;
  std::string& out_;
  const std::vector<std::string>& keys_;
  uint32_t page_ = 0;
  std::string long_value_;  // a memo's raw bytes, reused across rows
  std::string text_;        // decoded text before JSON escaping, reused
  Value value_;
};

template <bool kJson>
Status ExportRows(Database& db, std::shared_ptr<const TableDef> table,
                  const std::vector<std::string>& keys, std::string& buf, std::FILE* out) {
  TableScanner scan(db, std::move(table));
  ExportSink<kJson> sink(scan.decoder(), buf, keys);
  ByteView row;
  uint32_t page = 0;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.NextRaw(&row, &page));
    if (!more) break;
    if constexpr (kJson) buf.push_back('{');
    sink.set_page(page);
    JET_RETURN_IF_ERROR(scan.decoder().Walk(row, page, sink));
    if constexpr (kJson) {
      Put(buf, "}\n");
    } else {
      Put(buf, "\r\n");
    }
    if (buf.size() >= kFlushAt) JET_RETURN_IF_ERROR(Flush(buf, out));
  }
  return Status::Ok();
}

}  // namespace

void AppendCsvField(std::string& out, const std::string& field) {
  size_t from = out.size();
  out += field;
  QuoteTail(out, from);
}

Status ExportTable(Database& db, const std::string& name, ExportFormat format, std::FILE* out) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> table, db.GetTable(name));
  std::string buf;
  buf.reserve(kFlushAt + (kFlushAt >> 2));

  std::vector<std::string> keys;  // JSON keys, quoted once
  for (size_t i = 0; i < table->columns.size(); ++i) {
    const std::string& col = table->columns[i].name;
    if (format == ExportFormat::kCsv) {
      if (i) buf.push_back(',');
      AppendCsvField(buf, col);
    } else {
      keys.push_back(JsonQuote(col) + ":");
    }
  }
  if (format == ExportFormat::kCsv) {
    buf += "\r\n";
    JET_RETURN_IF_ERROR(ExportRows<false>(db, table, keys, buf, out));
  } else {
    JET_RETURN_IF_ERROR(ExportRows<true>(db, table, keys, buf, out));
  }
  JET_RETURN_IF_ERROR(Flush(buf, out));
  if (std::fflush(out) != 0) return Status::IoError("Cannot write the output");
  return Status::Ok();
}

}  // namespace jet
