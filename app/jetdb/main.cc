// jetdb: inspect, export, create and change Microsoft Access (Jet)
// databases.
//
// Exit codes: 0 success, 1 an error (printed on stderr), 2 bad usage.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "jet/create.h"
#include "interchange/export.h"
#include "jet/jet.h"
#include "interchange/json.h"
#include "util/program_start.h"
#include "interchange/schema_json.h"
#include "jet/table_writer.h"
#include "jet/database_info.h"
#include "interchange/value_json.h"
#include "jet/value_text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: jetdb COMMAND FILE [ARGS]\n"
    "\n"
    "Inspect, export, create and change Microsoft Access 97/2000/2002/2003 (.mdb)\n"
    "databases.\n"
    "\n"
    "Reading:\n"
    "  info FILE                         format, page size and count, code page,\n"
    "                                    sort order, whether a password is set and\n"
    "                                    whether the file is encoded\n"
    "  tables FILE                       user tables, one per line, in catalog order\n"
    "  schema FILE [TABLE] [--json]      columns and indexes of one or every table;\n"
    "                                    the JSON is what create-table reads\n"
    "  export FILE TABLE [--format csv|jsonl]\n"
    "                                    rows in table scan order (default csv)\n"
    "  check FILE                        verify rows, indexes and page maps; prints\n"
    "                                    problems (damage) on stderr, and notes (such\n"
    "                                    as stale counts, which Access tolerates until\n"
    "                                    it compacts) and what could not be verified\n"
    "                                    (keys in an unknown sort order) on stdout\n"
    "\n"
    "Writing:\n"
    "  new FILE [--jet4|--jet3]          create an empty Access 2000 (default) or\n"
    "                                    Access 97 database; FILE must not exist\n"
    "  create-table FILE SCHEMA.json     create a table from a schema as 'schema\n"
    "                                    --json' prints it (one object, or an array\n"
    "                                    for several tables); foreign-key indexes are\n"
    "                                    skipped, as relationships are not created\n"
    "  import FILE TABLE [ROWS.jsonl|-]  add rows from JSON Lines as 'export --format\n"
    "                                    jsonl' prints them (default: standard input);\n"
    "                                    keys are column names (any case); a missing\n"
    "                                    key takes the column's DefaultValue, evaluated\n"
    "                                    as Access does (Now(), =0, \"N\"; one this\n"
    "                                    program cannot evaluate refuses the row), or\n"
    "                                    else null; autonumbers are kept as given;\n"
    "                                    all rows go in as one step, or none of them;\n"
    "                                    --batch N commits every N rows as a step of\n"
    "                                    its own, kept if a later row fails\n"
    "  update FILE TABLE --where COLUMN=VALUE --set COLUMN=VALUE [COLUMN=VALUE...]\n"
    "                                    change the rows that match\n"
    "  delete FILE TABLE --where COLUMN=VALUE\n"
    "                                    delete the rows that match\n"
    "\n"
    "  VALUE is written as CSV export shows it: 12, 12.5000 (Currency), true,\n"
    "  2024-02-29T13:45:00, {GUID}, hex for binary; empty is null. --where may be\n"
    "  given more than once (all must match); text matches without regard to case.\n"
    "\n"
    "Options:\n"
    "  --password TEXT                   the database password, for a database that\n"
    "                                    has one (as Access compares it: exactly,\n"
    "                                    case and all); ignored by one without\n"
    "  --password-file FILE              the same, read from the first line of FILE\n"
    "                                    (- for standard input), so that it is not\n"
    "                                    seen on the command line\n"
    "  -h, --help                        show this help\n"
    "\n"
    "Exit status: 0 on success, 1 on an error, 2 on bad usage. For check, 0 means\n"
    "the database is sound (notes and unverified items allowed), 1 that it has\n"
    "problems or could not be read.\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "jetdb: %s\nTry 'jetdb --help'.\n", message.c_str());
  return kExitUsage;
}

int Fail(const jet::Status& status) {
  std::fprintf(stderr, "jetdb: %s\n", status.ToString().c_str());
  if (status.kind() == jet::ErrorKind::kPasswordProtected) {
    std::fprintf(stderr, "jetdb: give the password with --password or --password-file\n");
  }
  return kExitError;
}

int CmdInfo(const std::string& path) {
  auto info = jet::Database::ReadInfo(path);
  if (!info.ok()) return Fail(info.status());
  const bool jet3 = info->version == jet::JetVersion::kJet3;
  std::printf("format: %s (%s)\n", jet3 ? "jet3" : "jet4",
              jet3 ? "Access 97" : "Access 2000/2002/2003");
  std::printf("page size: %u\n", info->page_size);
  std::printf("page count: %u\n", info->page_count);
  std::printf(
      "code page: %s%s%s\n", jet::CodePageName(info->code_page).c_str(),
      info->code_page != info->stored_code_page ? ", from the sort order" : "",
      jet3 && !jet::CodePageKnown(info->code_page) ? " (text beyond ASCII cannot be read)" : "");
  std::printf("sort order: %s (%u)\n", jet::SortOrderName(info->sort_order, info->version).c_str(),
              unsigned(info->sort_order.lcid));
  std::printf("password: %s\n", info->has_password ? "yes" : "no");
  std::printf("encoded: %s\n", info->encoded ? "yes" : "no");
  return kExitOk;
}

// A change that an earlier writer left unfinished is rolled back when the
// database is opened; the user hears of it on stderr.
jet::Result<std::unique_ptr<jet::Database>> Reported(
    jet::Result<std::unique_ptr<jet::Database>> db) {
  if (db.ok() && !(*db)->recovery_message().empty()) {
    std::fprintf(stderr, "jetdb: %s\n", (*db)->recovery_message().c_str());
  }
  return db;
}

// The database password given with --password or --password-file.
std::string& Password() {
  static std::string password;
  return password;
}

jet::Result<std::unique_ptr<jet::Database>> OpenDb(const std::string& path) {
  jet::Database::Options options;
  options.password = Password();
  return Reported(jet::Database::Open(path, options));
}

jet::Result<std::unique_ptr<jet::Database>> OpenWritable(const std::string& path) {
  jet::Database::Options options;
  options.writable = true;
  options.password = Password();
  return Reported(jet::Database::Open(path, options));
}

int CmdTables(const std::string& path) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  auto tables = (*db)->ListTables();
  if (!tables.ok()) return Fail(tables.status());
  for (const auto& t : *tables) std::printf("%s\n", t.name.c_str());
  return kExitOk;
}

int CmdSchema(const std::string& path, const std::string& table, bool json) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  std::vector<std::string> names;
  if (!table.empty()) {
    names.push_back(table);
  } else {
    auto tables = (*db)->ListTables();
    if (!tables.ok()) return Fail(tables.status());
    for (const auto& t : *tables) names.push_back(t.name);
  }
  if (json && table.empty()) std::printf("[");
  for (size_t i = 0; i < names.size(); ++i) {
    auto def = (*db)->GetTable(names[i]);
    if (!def.ok()) return Fail(def.status());
    if (json) {
      if (table.empty() && i) std::printf(",");
      std::fputs(jet::SchemaToJson(**def, **db).c_str(), stdout);
    } else {
      if (i) std::printf("\n");
      std::fputs(jet::SchemaToText(**def, **db).c_str(), stdout);
    }
  }
  if (json && table.empty()) std::printf("]\n");
  return kExitOk;
}

// "1 row", "2 rows".
std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Problems (damage) go to stderr; notes and unverified items, which leave
// the database sound, go to stdout with the summary.
int CmdCheck(const std::string& path) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  auto report = jet::CheckDatabase(**db);
  if (!report.ok()) return Fail(report.status());
  for (const std::string& p : report->problems) std::fprintf(stderr, "problem: %s\n", p.c_str());
  for (const std::string& n : report->notes) std::printf("note: %s\n", n.c_str());
  for (const std::string& u : report->unverified) std::printf("unverified: %s\n", u.c_str());
  std::string entries = Count(report->index_entries, "index entry", "index entries");
  if (report->unverified_entries) {
    entries += " (" + std::to_string(report->unverified_entries) + " not verified)";
  }
  std::string verdict = report->ok() ? "ok" : Count(report->problems.size(), "problem", "problems");
  if (!report->notes.empty()) verdict += ", " + Count(report->notes.size(), "note", "notes");
  if (!report->unverified.empty()) {
    verdict += ", " + Count(report->unverified.size(), "index", "indexes") + " not fully verified";
  }
  std::printf("%s, %s, %s, %s, %s (%zu free): %s\n",
              Count(report->tables, "table", "tables").c_str(),
              Count(report->rows, "row", "rows").c_str(),
              Count(report->indexes, "index", "indexes").c_str(), entries.c_str(),
              Count(report->pages, "page", "pages").c_str(), report->free_pages, verdict.c_str());
  return report->ok() ? kExitOk : kExitError;
}

int CmdExport(const std::string& path, const std::string& table, jet::ExportFormat format) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  jet::Status s = jet::ExportTable(**db, table, format, stdout);
  if (!s.ok()) return Fail(s);
  return kExitOk;
}

int CmdNew(const std::string& path, bool jet3) {
  jet::Status s = jet::CreateDatabase(path, jet3 ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4);
  if (!s.ok()) return Fail(s);
  std::printf("Created %s (%s)\n", path.c_str(), jet3 ? "Access 97, Jet 3" : "Access 2000, Jet 4");
  return kExitOk;
}

// The whole of a file, or of standard input for "-".
jet::Result<std::string> ReadInput(const std::string& path) {
  std::ostringstream ss;
  if (path == "-") {
    ss << std::cin.rdbuf();
  } else {
    std::ifstream in(afc::NativePath(path), std::ios::binary);
    if (!in) return jet::Status::IoError("Cannot open " + path + ": " + std::strerror(errno));
    ss << in.rdbuf();
    if (in.bad()) return jet::Status::IoError("Cannot read " + path);
  }
  return ss.str();
}

int CmdCreateTable(const std::string& path, const std::string& schema_path) {
  auto schema = ReadInput(schema_path);
  if (!schema.ok()) return Fail(schema.status());
  auto db = OpenWritable(path);
  if (!db.ok()) return Fail(db.status());
  auto tables = jet::TableSpecsFromJson(*schema, (*db)->version());
  if (!tables.ok()) return Fail(tables.TakeStatus().AtFile(schema_path));
  for (size_t i = 0; i < tables->size(); ++i) {
    const jet::TableSpec& def = (*tables)[i];
    jet::Status s = jet::CreateTable(**db, def);
    if (!s.ok()) {
      if (i > 0) {
        std::fprintf(stderr, "jetdb: %zu of the %zu tables were created before this failure\n", i,
                     tables->size());
      }
      return Fail(s);
    }
    std::printf("Created table %s (%s, %s)\n", def.name.c_str(),
                Count(def.columns.size(), "column", "columns").c_str(),
                Count(def.indexes.size(), "index", "indexes").c_str());
  }
  return kExitOk;
}

// Reads JSON Lines one line at a time and hands each row to the writer's
// bulk insertion, which writes pages out as they fill: memory stays bounded
// whatever the size of the input. By default the whole import is one step,
// every row or none; with a batch size, every that many rows are a step of
// their own, kept even if a later row fails.
class ImportJob {
 public:
  ImportJob(jet::TableWriter& writer, size_t batch) : writer_(writer), batch_(batch) {}

  // Imports every line of `in`; on failure, the Status says where.
  jet::Status Run(std::istream& in) {
    std::string line;
    while (std::getline(in, line)) {
      ++line_number_;
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;  // blank
      JET_RETURN_IF_ERROR(AddLine(line));
      if (batch_ != 0 && lines_.size() >= batch_) JET_RETURN_IF_ERROR(Commit());
    }
    if (in.bad()) {
      writer_.AbortBulk();
      return jet::Status::IoError("Cannot read the input");
    }
    return Commit();
  }

  size_t imported() const { return imported_; }
  // The first line of the step that failed (and of what was not imported).
  size_t step_first_line() const { return step_first_line_; }

 private:
  jet::Status AddLine(const std::string& line) {
    if (lines_.empty()) {
      step_first_line_ = line_number_;
      JET_RETURN_IF_ERROR(writer_.BeginBulk());
    }
    auto fail = [&](const jet::Status& s) {
      writer_.AbortBulk();
      return jet::Status::Error(s.kind(),
                                "Line " + std::to_string(line_number_) + ": " + s.message());
    };
    auto json = jet::ParseJson(line);
    if (!json.ok()) {
      // The parser counts lines within the one it was given.
      std::string m = json.status().message();
      if (m.rfind("line 1, ", 0) == 0) m = m.substr(8);
      return fail(jet::Status::InvalidArgument(m));
    }
    std::vector<jet::Value> row;
    std::vector<bool> given;
    jet::Status s = jet::RowFromJson(writer_.table(), *json, &row, &given);
    if (!s.ok()) return fail(s);
    // A column without a key takes its DefaultValue, as Access's import
    // gives it.
    s = writer_.ApplyDefaults(given, &row);
    if (!s.ok()) return fail(s);
    lines_.push_back(line_number_);
    s = writer_.AddBulk(std::move(row));
    if (!s.ok()) return fail(s);
    return jet::Status::Ok();
  }

  jet::Status Commit() {
    if (lines_.empty()) return jet::Status::Ok();
    const size_t count = lines_.size();
    jet::Status s = writer_.CommitBulk();
    if (!s.ok()) {
      // The writer names a row of the step: "Row N: ...".
      std::string m = s.message();
      size_t n = 0, at = 4;
      if (m.rfind("Row ", 0) == 0) {
        while (at < m.size() && m[at] >= '0' && m[at] <= '9') n = n * 10 + size_t(m[at++] - '0');
      }
      if (n >= 1 && n <= lines_.size() && m.compare(at, 2, ": ") == 0) {
        m = "Line " + std::to_string(lines_[n - 1]) + ": " + m.substr(at + 2);
      } else {
        m = "Lines " + std::to_string(lines_.front()) + "-" + std::to_string(lines_.back()) + ": " +
            m;
      }
      jet::Status out = jet::Status::Error(s.kind(), m);
      if (!s.file().empty()) out.AtFile(s.file());
      return out;
    }
    imported_ += count;
    lines_.clear();
    return jet::Status::Ok();
  }

  jet::TableWriter& writer_;
  size_t batch_;                 // rows per step; 0: one step
  std::vector<uint32_t> lines_;  // input line of each row of the open step
  size_t line_number_ = 0;
  size_t step_first_line_ = 0;
  size_t imported_ = 0;
};

int CmdImport(const std::string& path, const std::string& table, const std::string& input,
              size_t batch) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (input != "-") {
    file.open(afc::NativePath(input), std::ios::binary);
    if (!file) {
      return Fail(jet::Status::IoError("Cannot open " + input + ": " + std::strerror(errno)));
    }
    in = &file;
  }
  auto db = OpenWritable(path);
  if (!db.ok()) return Fail(db.status());
  auto writer = jet::TableWriter::Open(**db, table);
  if (!writer.ok()) return Fail(writer.status());
  ImportJob job(**writer, batch);
  jet::Status s = job.Run(*in);
  if (!s.ok()) {
    std::fprintf(stderr, "jetdb: %s: %s\n", input == "-" ? "standard input" : input.c_str(),
                 s.ToString().c_str());
    if (batch == 0) {
      std::fprintf(stderr, "jetdb: nothing was imported; the table is as it was\n");
    } else {
      std::fprintf(stderr,
                   "jetdb: %zu rows were imported before the failure; nothing from line %zu on "
                   "was imported\n",
                   job.imported(), job.step_first_line());
    }
    return kExitError;
  }
  std::printf("Imported %zu rows into %s\n", job.imported(), (*writer)->table().name.c_str());
  return kExitOk;
}

// COLUMN=VALUE, the value in its CSV text form, resolved against the table.
struct Assignment {
  size_t column = 0;
  jet::Value value;
};

// Splits COLUMN=VALUE at the first '='; false if there is none.
bool SplitAssignment(const std::string& arg, std::string* column, std::string* value) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *column = arg.substr(0, eq);
  *value = arg.substr(eq + 1);
  return true;
}

jet::Status ResolveAssignments(const jet::TableDef& table, const std::vector<std::string>& args,
                               std::vector<Assignment>* out) {
  for (const std::string& arg : args) {
    std::string name, text;
    SplitAssignment(arg, &name, &text);  // checked when the arguments were read
    Assignment a;
    const jet::ColumnDef* column = table.FindColumn(name);
    if (!column) {
      return jet::Status::NotFound("Table '" + table.name + "' has no column '" + name + "'");
    }
    a.column = size_t(column - table.columns.data());
    JET_RETURN_IF_ERROR(jet::ValueFromText(*column, text, &a.value));
    out->push_back(std::move(a));
  }
  return jet::Status::Ok();
}

// Changes (or, without `sets`, deletes) every row that matches `wheres`.
// The matching rows are found first, then changed one at a time.
int CmdChange(const std::string& path, const std::string& table,
              const std::vector<std::string>& wheres, const std::vector<std::string>& sets,
              bool del) {
  auto db = OpenWritable(path);
  if (!db.ok()) return Fail(db.status());
  auto writer = jet::TableWriter::Open(**db, table);
  if (!writer.ok()) return Fail(writer.status());
  const jet::TableDef& def = (*writer)->table();
  std::vector<Assignment> conditions, changes;
  jet::Status s = ResolveAssignments(def, wheres, &conditions);
  if (s.ok()) s = ResolveAssignments(def, sets, &changes);
  if (!s.ok()) return Fail(s);

  std::vector<jet::RowId> ids;
  std::vector<std::vector<jet::Value>> rows;  // for update: the rows as they are
  {
    auto shared = (*db)->GetTable(table);
    if (!shared.ok()) return Fail(shared.status());
    jet::TableScanner scan(**db, *shared);
    std::vector<jet::Value> row;
    jet::RowId id;
    while (true) {
      auto more = scan.Next(&row, &id);
      if (!more.ok()) return Fail(more.status());
      if (!*more) break;
      bool match = true;
      for (const Assignment& c : conditions) {
        match = match && jet::ValueMatches(row[c.column], c.value);
      }
      if (!match) continue;
      ids.push_back(id);
      if (!del) rows.push_back(row);
    }
  }

  const char* verb = del ? "deleted" : "updated";
  for (size_t i = 0; i < ids.size(); ++i) {
    if (del) {
      s = (*writer)->Delete(ids[i]);
    } else {
      std::vector<jet::Value> values = std::move(rows[i]);
      for (const Assignment& a : changes) values[a.column] = a.value;
      s = (*writer)->Update(ids[i], std::move(values));
    }
    if (!s.ok()) {
      std::fprintf(stderr, "jetdb: %s\n", s.ToString().c_str());
      std::fprintf(stderr, "jetdb: %zu of the %zu matching rows were %s before the failure\n", i,
                   ids.size(), verb);
      return kExitError;
    }
  }
  std::printf("%s %s\n", del ? "Deleted" : "Updated", Count(ids.size(), "row", "rows").c_str());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = afc::StartProgram(argc, argv);
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
  }
  if (args.empty()) return Usage("missing command");

  // Split options from positional arguments.
  std::vector<std::string> pos;
  bool json = false;
  std::string format_name;
  std::optional<bool> jet3;  // --jet3 or --jet4
  std::vector<std::string> wheres, sets;
  std::optional<std::string> password, password_file;
  std::optional<size_t> batch;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string column, value;
    if (a == "--json") {
      json = true;
    } else if (a == "--jet3" || a == "--jet4") {
      if (jet3 && *jet3 != (a == "--jet3")) return Usage("choose one of --jet3 and --jet4");
      jet3 = a == "--jet3";
    } else if (a == "--where" || a.rfind("--where=", 0) == 0) {
      std::string w = a == "--where" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(8);
      if (!SplitAssignment(w, &column, &value)) return Usage("--where needs COLUMN=VALUE");
      wheres.push_back(w);
    } else if (a == "--set" || a.rfind("--set=", 0) == 0) {
      std::string w = a == "--set" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(6);
      if (!SplitAssignment(w, &column, &value)) return Usage("--set needs COLUMN=VALUE");
      sets.push_back(w);
      // More assignments may follow one --set.
      while (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0 &&
             SplitAssignment(args[i + 1], &column, &value)) {
        sets.push_back(args[++i]);
      }
    } else if (a == "--password" || a == "--password-file") {
      if (i + 1 >= args.size()) return Usage(a + " needs a value");
      (a == "--password" ? password : password_file) = args[++i];
    } else if (a.rfind("--password=", 0) == 0) {
      password = a.substr(11);
    } else if (a.rfind("--password-file=", 0) == 0) {
      password_file = a.substr(16);
    } else if (a == "--batch" || a.rfind("--batch=", 0) == 0) {
      std::string n = a == "--batch" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(8);
      size_t value = 0;
      auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), value);
      if (n.empty() || ec != std::errc() || end != n.data() + n.size() || value == 0) {
        return Usage("--batch needs a positive number of rows");
      }
      batch = value;
    } else if (a == "--format") {
      if (i + 1 >= args.size()) return Usage("--format needs a value: csv or jsonl");
      format_name = args[++i];
    } else if (a.rfind("--format=", 0) == 0) {
      format_name = a.substr(9);
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return Usage("unknown option '" + a + "'");
    } else {
      pos.push_back(a);
    }
  }
  if (pos.empty()) return Usage("missing command");
  const std::string cmd = pos[0];
  auto want = [&](size_t min, size_t max) {
    return pos.size() >= min + 1 && pos.size() <= max + 1;
  };

  if (cmd != "schema" && json) return Usage("--json applies to 'schema' only");
  if (cmd != "export" && !format_name.empty()) return Usage("--format applies to 'export' only");
  if (cmd != "new" && jet3) return Usage("--jet3 and --jet4 apply to 'new' only");
  if (cmd != "update" && cmd != "delete" && !wheres.empty()) {
    return Usage("--where applies to 'update' and 'delete' only");
  }
  if (cmd != "update" && !sets.empty()) return Usage("--set applies to 'update' only");
  if (cmd != "import" && batch) return Usage("--batch applies to 'import' only");
  if (password && password_file) return Usage("give one of --password and --password-file");
  if (cmd == "new" && (password || password_file)) {
    return Usage("'new' creates a database without a password");
  }
  if (password_file == "-" && cmd == "import" && (pos.size() < 4 || pos[3] == "-")) {
    return Usage("the rows and the password cannot both come from standard input");
  }
  if (password_file) {
    auto text = ReadInput(*password_file);
    if (!text.ok()) return Fail(text.status());
    // The first line, without its end (LF or CR LF).
    std::string line = text->substr(0, text->find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    password = line;
  }
  Password() = password.value_or("");

  if (cmd == "info") {
    if (!want(1, 1)) return Usage("usage: jetdb info FILE");
    return CmdInfo(pos[1]);
  }
  if (cmd == "tables") {
    if (!want(1, 1)) return Usage("usage: jetdb tables FILE");
    return CmdTables(pos[1]);
  }
  if (cmd == "schema") {
    if (!want(1, 2)) return Usage("usage: jetdb schema FILE [TABLE] [--json]");
    return CmdSchema(pos[1], pos.size() > 2 ? pos[2] : "", json);
  }
  if (cmd == "check") {
    if (!want(1, 1)) return Usage("usage: jetdb check FILE");
    return CmdCheck(pos[1]);
  }
  if (cmd == "export") {
    if (!want(2, 2)) return Usage("usage: jetdb export FILE TABLE [--format csv|jsonl]");
    jet::ExportFormat format = jet::ExportFormat::kCsv;
    if (format_name == "jsonl") {
      format = jet::ExportFormat::kJsonl;
    } else if (!format_name.empty() && format_name != "csv") {
      return Usage("unknown format '" + format_name + "': use csv or jsonl");
    }
    return CmdExport(pos[1], pos[2], format);
  }
  if (cmd == "new") {
    if (!want(1, 1)) return Usage("usage: jetdb new FILE [--jet4|--jet3]");
    return CmdNew(pos[1], jet3.value_or(false));
  }
  if (cmd == "create-table") {
    if (!want(2, 2)) return Usage("usage: jetdb create-table FILE SCHEMA.json");
    return CmdCreateTable(pos[1], pos[2]);
  }
  if (cmd == "import") {
    if (!want(2, 3)) return Usage("usage: jetdb import FILE TABLE [ROWS.jsonl|-] [--batch N]");
    return CmdImport(pos[1], pos[2], pos.size() > 3 ? pos[3] : "-", batch.value_or(0));
  }
  if (cmd == "update") {
    if (!want(2, 2) || wheres.empty() || sets.empty()) {
      return Usage("usage: jetdb update FILE TABLE --where COLUMN=VALUE --set COLUMN=VALUE...");
    }
    return CmdChange(pos[1], pos[2], wheres, sets, false);
  }
  if (cmd == "delete") {
    if (!want(2, 2) || wheres.empty()) {
      return Usage("usage: jetdb delete FILE TABLE --where COLUMN=VALUE");
    }
    return CmdChange(pos[1], pos[2], wheres, {}, true);
  }
  return Usage("unknown command '" + cmd + "'");
}
