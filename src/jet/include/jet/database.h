// SPDX-License-Identifier: Apache-2.0
// Database: an open Jet file, its catalog and its tables.
//
//   jet::Database::Options options;
//   options.writable = true;          // default: read-only
//   options.password = "secret";      // for a database that has one
//   auto db = jet::Database::Open("Tallowin.mdb", options);
//   auto tables = (*db)->ListTables();
//   auto master = (*db)->GetTable("Master");   // its design: table_def.h
//
// The catalog is the system table MSysObjects. Each object is a row; a
// table's row has Type 1 and the low 24 bits of its Id are the page of its
// definition. System tables carry 0x80000000 or 0x00000002 in Flags.
//
// Rows are read with TableScanner (table_scanner.h) and written with
// TableWriter (table_writer.h).

#ifndef JET_DATABASE_H_
#define JET_DATABASE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/database_info.h"
#include "jet/status.h"
#include "jet/table_def.h"

namespace jet {

// The engine's own parts of an open database (internal to the engine).
class DatabaseLock;
class Pager;
struct DatabaseHeader;
struct Format;

struct CatalogEntry {
  std::string name;
  int32_t id = 0;
  int32_t parent_id = 0;
  int16_t type = 0;
  uint32_t flags = 0;
  uint32_t tdef_page() const { return uint32_t(id) & 0x00FFFFFF; }
  bool is_table() const { return type == 1; }
  bool is_system() const { return (flags & 0x80000002u) != 0; }
};

class Database {
 public:
  struct Options {
    size_t cache_pages = 256;
    // The database password (UTF-8), for a database that has one; a
    // database without one ignores it.
    std::string password = {};
    bool writable = false;
  };

  // Opens a database for reading (or, with options.writable, for reading and
  // writing). An encoded database reads and writes like any other, and
  // stays encoded. A database with a password opens only with
  // options.password exactly that, compared as Jet compares it: case and
  // all; the password is kept, as the engine never writes the header.
  // An .accdb encrypted with its password (Access 2007 and later) opens
  // only for reading: for writing it is refused (kUnsupported) before
  // anything is locked or written.
  // Opening rolls back a change an earlier writer left unfinished
  // (recovery_message says so).
  static Result<std::unique_ptr<Database>> Open(const std::string& path, Options options);
  static Result<std::unique_ptr<Database>> Open(const std::string& path) {
    return Open(path, Options{});
  }

  // Reads only the header: works on databases that Open refuses.
  static Result<DatabaseInfo> ReadInfo(const std::string& path);

  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  JetVersion version() const;
  const std::string& path() const;
  bool writable() const;

  // Catalog entries for tables, in catalog order.
  Result<std::vector<CatalogEntry>> ListTables(bool include_system = false);

  // A table's definition, by name (case-insensitive).
  Result<std::shared_ptr<const TableDef>> GetTable(const std::string& name);

  // What opening did about a crash of an earlier writer (an unfinished
  // change rolled back, an incomplete journal removed), as a sentence to show
  // the user; empty if there was nothing to do.
  const std::string& recovery_message() const { return recovery_message_; }

  // The engine's own view of the file; the types are internal to it.
  const DatabaseHeader& header() const { return *header_; }
  const Format& format() const;
  Pager& pager() { return *pager_; }

  // Drops the cached definition of the table on `tdef_page`, after a write
  // changed it; the next GetTable reads it again.
  void ForgetTable(uint32_t tdef_page) { tables_.erase(tdef_page); }

  // Drops everything read from the catalog, after a write changed it.
  void ForgetCatalog() {
    catalog_loaded_ = false;
    catalog_.clear();
    tables_.clear();
  }

 private:
  Database(std::unique_ptr<Pager> pager, const DatabaseHeader& header);
  Status LoadCatalog();

  std::unique_ptr<Pager> pager_;
  std::unique_ptr<DatabaseLock> lock_;  // released before the file closes
  std::string recovery_message_;
  std::unique_ptr<const DatabaseHeader> header_;
  bool catalog_loaded_ = false;
  std::vector<CatalogEntry> catalog_;
  std::map<uint32_t, std::shared_ptr<const TableDef>> tables_;  // by TDEF page
};

}  // namespace jet

#endif  // JET_DATABASE_H_
