// SPDX-License-Identifier: Apache-2.0
// jetdb: inspect, export, create and change Microsoft Access (Jet)
// databases.
//
// Exit codes: 0 success, 1 an error (printed on stderr), 2 bad usage.
// The help text is usage.txt, which is also made into the manual page.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "interchange/export.h"
#include "interchange/json.h"
#include "interchange/schema_json.h"
#include "interchange/value_json.h"
#include "jet/create.h"
#include "jet/database_info.h"
#include "jet/jet.h"
#include "jet/table_writer.h"
#include "jet/value_text.h"
#include "usage_text.h"
#include "util/program_start.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

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
  std::printf("format: %s (%s)\n", jet::FileVersionId(info->file_version),
              jet::FileVersionName(info->file_version));
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
  if (jet::IsAce(info->file_version)) {
    std::printf("encrypted: %s%s%s\n", info->encryption.empty() ? "no" : "yes (",
                info->encryption.c_str(), info->encryption.empty() ? "" : ")");
  }
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
  std::printf("%s, %s, %s, %s, %s (%zu in use, %zu free): %s\n",
              Count(report->tables, "table", "tables").c_str(),
              Count(report->rows, "row", "rows").c_str(),
              Count(report->indexes, "index", "indexes").c_str(), entries.c_str(),
              Count(report->pages, "page", "pages").c_str(),
              report->pages - report->free_pages, report->free_pages, verdict.c_str());
  return report->ok() ? kExitOk : kExitError;
}

int CmdExport(const std::string& path, const std::string& table, jet::ExportFormat format) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  jet::Status s = jet::ExportTable(**db, table, format, stdout);
  if (!s.ok()) return Fail(s);
  return kExitOk;
}

int CmdNew(const std::string& path, bool jet3, const std::string& accdb) {
  // Access picks the format by the name, so the name must match the format.
  std::string lower = path;
  for (char& c : lower) c = char(std::tolower(uint8_t(c)));
  const bool named_accdb = lower.size() >= 6 && lower.compare(lower.size() - 6, 6, ".accdb") == 0;
  if (named_accdb != !accdb.empty()) {
    return Fail(jet::Status::InvalidArgument(
                    named_accdb ? "an .accdb file is made with --accdb (Access 2007) or "
                                  "--accdb=2016"
                                : "an Access 2007 or later database is named NAME.accdb")
                    .AtFile(path));
  }
  const jet::FileVersion version = !accdb.empty()  ? (accdb == "2016" ? jet::FileVersion::kAce16
                                                                      : jet::FileVersion::kAce12)
                                   : jet3          ? jet::FileVersion::kJet3
                                                   : jet::FileVersion::kJet4;
  jet::Status s = jet::CreateDatabase(path, version);
  if (!s.ok()) return Fail(s);
  std::printf("Created %s (%s)\n", path.c_str(),
              jet3              ? "Access 97, Jet 3"
              : accdb.empty()   ? "Access 2000, Jet 4"
              : accdb == "2016" ? "Access 2016, ACE 16"
                                : "Access 2007, ACE 12");
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
// The matching rows are found first, then changed in one step.
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

  // One step: every matching row changes, or (on any failure) none.
  if (del) {
    s = (*writer)->DeleteMany(ids);
  } else {
    for (std::vector<jet::Value>& values : rows) {
      for (const Assignment& a : changes) values[a.column] = a.value;
    }
    s = (*writer)->UpdateMany(ids, std::move(rows));
  }
  if (!s.ok()) {
    std::fprintf(stderr, "jetdb: %s\n", s.ToString().c_str());
    std::fprintf(stderr, "jetdb: no row was %s; the table is as it was\n",
                 del ? "deleted" : "updated");
    return kExitError;
  }
  std::printf("%s %s\n", del ? "Deleted" : "Updated", Count(ids.size(), "row", "rows").c_str());
  return kExitOk;
}

// COLUMN=VALUE, for --where and --set.
CLI::Validator Assignment() {
  return CLI::Validator(
      [](const std::string& arg) {
        std::string column, value;
        return SplitAssignment(arg, &column, &value) ? std::string() : "needs COLUMN=VALUE";
      },
      "");
}

// A positive number of rows, for --batch. Written back in plain decimal:
// CLI11 would read a leading 0 as octal.
CLI::Validator RowCount() {
  return CLI::Validator(
      [](std::string& arg) {
        size_t n = 0;
        auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), n);
        if (arg.empty() || ec != std::errc() || end != arg.data() + arg.size() || n == 0) {
          return std::string("needs a positive number of rows");
        }
        arg = std::to_string(n);
        return std::string();
      },
      "");
}

// The command line in the order CLI11 reads it. jetdb takes its options
// anywhere, before the command too, and one --set takes the assignments
// that follow it; CLI11 wants a command's options after the command and one
// value for each --set. So the command (the first argument that is neither
// an option nor an option's value) moves to the front, and each assignment
// after a --set gets a --set of its own.
std::vector<std::string> InCommandOrder(const std::vector<std::string>& args) {
  static const char* const kTakesValue[] = {"--password", "--password-file", "--format",
                                            "--batch",    "--where",         "--set"};
  auto is_assignment = [](const std::string& arg) {
    std::string column, value;
    return !arg.starts_with("-") && SplitAssignment(arg, &column, &value);
  };
  std::vector<std::string> out;
  std::optional<size_t> command;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    out.push_back(arg);
    const bool takes_value = std::find(std::begin(kTakesValue), std::end(kTakesValue), arg) !=
                             std::end(kTakesValue);
    if (takes_value && i + 1 < args.size()) {
      out.push_back(args[++i]);
    } else if (!command && !arg.starts_with("-")) {
      command = out.size() - 1;
    }
    if (arg == "--set" || arg.starts_with("--set=")) {
      while (i + 1 < args.size() && is_assignment(args[i + 1])) {
        out.push_back("--set");
        out.push_back(args[++i]);
      }
    }
  }
  if (command) std::rotate(out.begin(), out.begin() + long(*command), out.begin() + long(*command) + 1);
  return out;
}

// A command given the wrong arguments: how it is used.
int CommandUsage(const CLI::App& command) {
  return Usage("usage: jetdb " + command.get_name() + " " + command.get_description());
}

// What is wrong with an option that the command given (if any) does not
// take: that it belongs to other commands, or is no option at all.
std::string OptionProblem(const CLI::App& app, const std::string& arg) {
  const std::string name = arg.substr(0, arg.find('='));
  const std::vector<const CLI::App*> owners = app.get_subcommands(
      [&](const CLI::App* c) { return c->get_option_no_throw(name) != nullptr; });
  if (owners.empty()) return "unknown option '" + arg + "'";
  std::string names;
  for (size_t i = 0; i < owners.size(); ++i) {
    names += (i == 0 ? "" : i + 1 == owners.size() ? " and " : ", ");
    names += "'" + owners[i]->get_name() + "'";
  }
  return name + " applies to " + names + " only";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = afc::StartProgram(argc, argv);
  // Help wins over whatever else the line holds.
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
  }

  CLI::App app("", "jetdb");
  // An argument that starts with / is a path (a Wine path, say), never an
  // option, on Windows too.
  app.allow_windows_style_options(false);
  app.set_help_flag();  // answered above
  app.allow_extras();   // what is left over is reported below, in this program's words
  app.fallthrough();    // the password options also after the command
  app.require_subcommand(0, 1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

  std::string password, password_file;
  CLI::Option* password_option = app.add_option("--password", password)->type_name("TEXT");
  CLI::Option* password_file_option = app.add_option("--password-file", password_file)
                                          ->type_name("FILE")
                                          ->excludes(password_option);

  std::string file, table, input = "-", format = "csv";
  bool json = false, jet3 = false, jet4 = false;
  size_t batch = 0;
  std::vector<std::string> wheres, sets;
  // Each command's description is what follows its name in a usage line.
  auto command = [&](const char* name, const char* arguments) {
    CLI::App* c = app.add_subcommand(name, arguments);
    c->add_option("FILE", file)->required();
    return c;
  };
  auto assignments = [](CLI::App* c, const char* name, std::vector<std::string>& to) {
    return c->add_option(name, to)
        ->required()
        ->type_name("COLUMN=VALUE")
        ->check(Assignment())
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };

  CLI::App* info = command("info", "FILE");
  CLI::App* tables = command("tables", "FILE");
  CLI::App* schema = command("schema", "FILE [TABLE] [--json]");
  schema->add_option("TABLE", table);
  schema->add_flag("--json", json);
  CLI::App* check = command("check", "FILE");
  CLI::App* export_rows = command("export", "FILE TABLE [--format csv|jsonl]");
  export_rows->add_option("TABLE", table)->required();
  export_rows->add_option("--format", format)->check(CLI::IsMember({"csv", "jsonl"}));
  CLI::App* create = command("new", "FILE [--jet4|--jet3|--accdb[=2007|2016]]");
  std::string accdb;
  CLI::Option* accdb_option = create->add_option("--accdb", accdb)
                                  ->expected(0, 1)
                                  ->check(CLI::IsMember({"2007", "2016"}));
  create->add_flag("--jet3", jet3)->excludes(create->add_flag("--jet4", jet4))->excludes(accdb_option);
  CLI::App* create_table = command("create-table", "FILE SCHEMA.json");
  create_table->add_option("SCHEMA.json", input)->required();
  CLI::App* import_rows = command("import", "FILE TABLE [ROWS.jsonl|-] [--batch N]");
  import_rows->add_option("TABLE", table)->required();
  import_rows->add_option("ROWS.jsonl", input);
  import_rows->add_option("--batch", batch)->transform(RowCount());
  CLI::App* update = command("update", "FILE TABLE --where COLUMN=VALUE --set COLUMN=VALUE...");
  update->add_option("TABLE", table)->required();
  assignments(update, "--where", wheres)->allow_extra_args(false);
  assignments(update, "--set", sets)->allow_extra_args(false);
  CLI::App* delete_rows = command("delete", "FILE TABLE --where COLUMN=VALUE");
  delete_rows->add_option("TABLE", table)->required();
  assignments(delete_rows, "--where", wheres)->allow_extra_args(false);

  try {
    std::vector<std::string> ordered = InCommandOrder(args);
    app.parse(std::vector<std::string>(ordered.rbegin(), ordered.rend()));  // CLI11 takes them reversed
  } catch (const CLI::RequiredError& e) {
    // A missing argument, or --where or --set.
    if (app.get_subcommands().empty()) return Usage(e.what());
    return CommandUsage(*app.get_subcommands()[0]);
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }
  const CLI::App* cmd = app.get_subcommands().empty() ? nullptr : app.get_subcommands()[0];
  const std::vector<std::string> extra = app.remaining(true);
  if (!extra.empty()) {
    if (extra[0].size() > 1 && extra[0][0] == '-') return Usage(OptionProblem(app, extra[0]));
    if (cmd == nullptr) return Usage("unknown command '" + extra[0] + "'");
    return CommandUsage(*cmd);
  }
  if (cmd == nullptr) return Usage("missing command");

  const bool has_password = password_option->count() || password_file_option->count();
  if (cmd == create && has_password) return Usage("'new' creates a database without a password");
  if (password_file_option->count() && password_file == "-" && cmd == import_rows && input == "-") {
    return Usage("the rows and the password cannot both come from standard input");
  }
  if (password_file_option->count()) {
    auto text = ReadInput(password_file);
    if (!text.ok()) return Fail(text.status());
    // The first line, without its end (LF or CR LF).
    password = text->substr(0, text->find('\n'));
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }
  Password() = password;

  if (cmd == info) return CmdInfo(file);
  if (cmd == tables) return CmdTables(file);
  if (cmd == schema) return CmdSchema(file, table, json);
  if (cmd == check) return CmdCheck(file);
  if (cmd == export_rows) {
    return CmdExport(file, table,
                     format == "jsonl" ? jet::ExportFormat::kJsonl : jet::ExportFormat::kCsv);
  }
  if (cmd == create) {
    if (accdb_option->count() > 0 && accdb.empty()) accdb = "2007";
    return CmdNew(file, jet3, accdb);
  }
  if (cmd == create_table) return CmdCreateTable(file, input);
  if (cmd == import_rows) return CmdImport(file, table, input, batch);
  if (cmd == update) return CmdChange(file, table, wheres, sets, false);
  return CmdChange(file, table, wheres, {}, true);
}
