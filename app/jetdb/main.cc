// jetdb: inspect and export Microsoft Access (Jet) databases.
//
// Exit codes: 0 success, 1 an error (printed on stderr), 2 bad usage.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jet/jet.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: jetdb COMMAND FILE [ARGS]\n"
    "\n"
    "Inspect and export Microsoft Access 97/2000/2002/2003 (.mdb) databases.\n"
    "\n"
    "Commands:\n"
    "  info FILE                         format, page size and count, code page,\n"
    "                                    sort order, and whether a password is set\n"
    "  tables FILE                       user tables, one per line, in catalog order\n"
    "  schema FILE [TABLE] [--json]      columns and indexes of one or every table\n"
    "  export FILE TABLE [--format csv|jsonl]\n"
    "  check FILE                        verify rows, indexes, page maps and counts;\n"
    "                                    exits 1 and lists the problems if any"
    "                                    rows in table scan order (default csv)\n"
    "\n"
    "Options:\n"
    "  -h, --help                        show this help\n"
    "\n"
    "Exit status: 0 on success, 1 on an error, 2 on bad usage.\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "jetdb: %s\nTry 'jetdb --help'.\n", message.c_str());
  return kExitUsage;
}

int Fail(const jet::Status& status) {
  std::fprintf(stderr, "jetdb: %s\n", status.ToString().c_str());
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
  std::printf("code page: %s\n", jet::CodePageName(info->code_page).c_str());
  std::printf("sort order: %s (%u)\n", jet::SortOrderName(info->sort_order, info->version).c_str(),
              unsigned(info->sort_order.lcid));
  std::printf("password: %s\n", info->has_password ? "yes" : "no");
  std::printf("encoded: %s\n", info->encoded ? "yes" : "no");
  return kExitOk;
}

jet::Result<std::unique_ptr<jet::Database>> OpenDb(const std::string& path) {
  return jet::Database::Open(path);
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

int CmdCheck(const std::string& path) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  auto report = jet::CheckDatabase(**db);
  if (!report.ok()) return Fail(report.status());
  for (const std::string& p : report->problems) std::fprintf(stderr, "problem: %s\n", p.c_str());
  std::printf("%zu tables, %zu rows, %zu indexes, %zu index entries, %zu pages: %s\n",
              report->tables, report->rows, report->indexes, report->index_entries,
              report->pages,
              report->ok() ? "ok" : (std::to_string(report->problems.size()) + " problems").c_str());
  return report->ok() ? kExitOk : kExitError;
}

int CmdExport(const std::string& path, const std::string& table, jet::ExportFormat format) {
  auto db = OpenDb(path);
  if (!db.ok()) return Fail(db.status());
  jet::Status s = jet::ExportTable(**db, table, format, stdout);
  if (!s.ok()) return Fail(s);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
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
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--json") {
      json = true;
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
  auto want = [&](size_t min, size_t max) { return pos.size() >= min + 1 && pos.size() <= max + 1; };

  if (cmd != "schema" && json) return Usage("--json applies to 'schema' only");
  if (cmd != "export" && !format_name.empty()) return Usage("--format applies to 'export' only");

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
  return Usage("unknown command '" + cmd + "'");
}
