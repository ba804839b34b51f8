#include "export.h"

namespace jet {

namespace {

constexpr size_t kFlushAt = 1 << 16;

Status Flush(std::string& buf, std::FILE* out) {
  if (!buf.empty() && std::fwrite(buf.data(), 1, buf.size(), out) != buf.size()) {
    return Status::IoError("Cannot write the output");
  }
  buf.clear();
  return Status::Ok();
}

}  // namespace

namespace {

bool NeedsQuotes(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char c = p[i];
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
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

}  // namespace

void AppendCsvField(std::string& out, const std::string& field) {
  size_t from = out.size();
  out += field;
  QuoteTail(out, from);
}

Status ExportTable(Database& db, const std::string& name, ExportFormat format, std::FILE* out) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> table, db.GetTable(name));
  std::string buf;
  buf.reserve(kFlushAt * 2);

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
  if (format == ExportFormat::kCsv) buf += "\r\n";

  TableScanner scan(db, table);
  std::vector<Value> row;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next(&row));
    if (!more) break;
    if (format == ExportFormat::kCsv) {
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) buf.push_back(',');
        size_t from = buf.size();
        row[i].AppendText(buf);
        QuoteTail(buf, from);
      }
      buf += "\r\n";
    } else {
      buf.push_back('{');
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) buf.push_back(',');
        buf += keys[i];
        row[i].AppendJson(buf);
      }
      buf += "}\n";
    }
    if (buf.size() >= kFlushAt) JET_RETURN_IF_ERROR(Flush(buf, out));
  }
  JET_RETURN_IF_ERROR(Flush(buf, out));
  if (std::fflush(out) != 0) return Status::IoError("Cannot write the output");
  return Status::Ok();
}

}  // namespace jet
