// Database: an open Jet file, its catalog and its tables.
//
// The catalog is the system table MSysObjects, whose definition is always on
// page 2. Each object is a row; a table's row has Type 1 and the low 24 bits
// of its Id are the page of its definition. System tables carry 0x80000000
// or 0x00000002 in Flags.

#ifndef JET_DATABASE_H_
#define JET_DATABASE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/storage/header.h"
#include "base/status.h"
#include "jet/value.h"
#include "jet/os/lock_file.h"
#include "jet/storage/pager.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"

namespace jet {

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

struct DatabaseInfo {
  JetVersion version = JetVersion::kJet4;
  uint32_t page_size = 0;
  uint32_t page_count = 0;
  uint16_t code_page = 0;         // the one Access 97 text is in
  uint16_t stored_code_page = 0;  // what the header says (0: the system's)
  SortOrder sort_order;
  bool has_password = false;
  bool encoded = false;
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
  // stays encoded (page_codec.h). A database with a password opens only
  // with options.password exactly that (see PasswordMatches in header.h);
  // it is kept, as the engine never writes the header.
  static Result<std::unique_ptr<Database>> Open(const std::string& path, Options options);
  static Result<std::unique_ptr<Database>> Open(const std::string& path) {
    return Open(path, Options{});
  }

  // Reads only the header: works on databases that Open refuses.
  static Result<DatabaseInfo> ReadInfo(const std::string& path);

  const DatabaseHeader& header() const { return header_; }
  const Format& format() const { return pager_->format(); }
  Pager& pager() { return *pager_; }
  const std::string& path() const { return pager_->path(); }

  // Catalog entries for tables, in catalog order.
  Result<std::vector<CatalogEntry>> ListTables(bool include_system = false);

  // A table's definition, by name (case-insensitive).
  Result<std::shared_ptr<const TableDef>> GetTable(const std::string& name);

  bool writable() const { return pager_->writable(); }

  // What opening did about a crash of an earlier writer (an unfinished
  // change rolled back, an incomplete journal removed), as a sentence to show
  // the user; empty if there was nothing to do.
  const std::string& recovery_message() const { return recovery_message_; }

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
  Database(std::unique_ptr<Pager> pager, DatabaseHeader header)
      : pager_(std::move(pager)), header_(header) {}
  Status LoadCatalog();

  std::unique_ptr<Pager> pager_;
  std::unique_ptr<DatabaseLock> lock_;  // released before the file closes
  std::string recovery_message_;
  DatabaseHeader header_;
  bool catalog_loaded_ = false;
  std::vector<CatalogEntry> catalog_;
  std::map<uint32_t, std::shared_ptr<const TableDef>> tables_;  // by TDEF page
};

// Identifies a stored row.
struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
};

// Reads the rows of one table in scan order: the table's data pages in page
// order, and the rows of each page in slot order. Deleted rows are skipped,
// moved rows followed. Holds a bounded number of pages at any time.
class TableScanner {
 public:
  TableScanner(Database& db, std::shared_ptr<const TableDef> table);

  // Fills `values` with the next row; false at the end of the table.
  Result<bool> Next(std::vector<Value>* values, RowId* id = nullptr);

  // The next row's stored bytes and the page they lie on, valid until the
  // next call; false at the end of the table. Moved rows are followed.
  Result<bool> NextRaw(ByteView* bytes, uint32_t* at_page, RowId* id = nullptr);

  const TableDef& table() const { return *table_; }
  RowDecoder& decoder() { return decoder_; }

 private:
  Status Start();

  Database& db_;
  std::shared_ptr<const TableDef> table_;
  RowDecoder decoder_;
  bool started_ = false;
  std::vector<uint32_t> pages_;
  size_t page_pos_ = 0;
  uint32_t ahead_ = 0;  // pages below this were read ahead
  static constexpr size_t kReadAhead = 32;
  PageRef page_;
  PageRef moved_;  // the page a moved row was followed to
  uint32_t slot_ = 0;
  uint32_t slot_count_ = 0;
};

}  // namespace jet

#endif  // JET_DATABASE_H_
