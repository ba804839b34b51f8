// SPDX-License-Identifier: Apache-2.0
// The data-access objects the installer works with, in ADO's shape, over our
// own Jet engine: Connection, Recordset, Fields and Field.
//
// Only what the installer needs is here. A connection opens one .mdb file
// named by a connection string; a recordset runs one SELECT (sql.h) on it
// and holds every row it returned in memory (the client-side cursor), so a
// recordset that is detached from its connection stays readable. An
// updatable recordset writes through the engine's TableWriter: AddNew then
// Update inserts a row, and field writes then Update change the current row
// in place, indexes included.
//
// Every operation that can fail returns a DataError (data_error.h).

#ifndef DATA_ADO_H_
#define DATA_ADO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/data_error.h"
#include "data/sql.h"
#include "data/variant.h"
#include "jet/database.h"
#include "jet/table_scanner.h"

namespace afc::ado {

// States, cursor locations, cursor and lock types, and options, with ADO's
// values.
constexpr int kAdStateClosed = 0;
constexpr int kAdStateOpen = 1;
constexpr int kAdUseServer = 2;
constexpr int kAdUseClient = 3;
constexpr int kAdOpenForwardOnly = 0;
constexpr int kAdLockReadOnly = 1;
constexpr int kAdLockOptimistic = 3;
constexpr int kAdCmdText = 1;
constexpr int kAdConnectUnspecified = -1;

// The provider this layer stands in for.
inline constexpr char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";

// The type code the Jet OLE DB provider reports for a column of `type`.
int32_t AdoTypeOf(jet::ColumnType type);

// The parts of a connection string that we use.
struct ConnectionString {
  std::string provider;
  std::string data_source;
};
// Reads "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=PATH". Keys are
// case-insensitive; the path runs to the end of the string or to a ';', and
// may stand in double quotes. Another provider, a missing key or an unknown
// key is an error.
DataError ParseConnectionString(const std::string& text, ConnectionString* out);

class Connection {
 public:
  Connection() = default;
  ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database the string names, for reading. A recordset that
  // needs to write reopens it for writing (which takes the file for itself).
  DataError Open(const std::string& connection_string, const std::string& user_id = "",
                 const std::string& password = "", int options = kAdConnectUnspecified);
  int State() const { return db_ ? kAdStateOpen : kAdStateClosed; }
  void Close() { db_.reset(); }
  const std::string& path() const { return path_; }

  // The open database; for writing if `writable`, reopening it so if needed.
  DataError Database(bool writable, jet::Database** out);

 private:
  std::string path_;
  std::unique_ptr<jet::Database> db_;
};

class Recordset;

// One column of a recordset's current row. A Field is a handle: it reads and
// writes the row its recordset is on when it is used, and must not outlive
// that recordset.
class Field {
 public:
  Field() = default;
  Field(Recordset* recordset, size_t index) : recordset_(recordset), index_(index) {}

  DataError Name(std::string* out) const;
  DataError Type(int32_t* out) const;
  DataError Value(Variant* out) const;
  // Sets the value in the row being edited; Update stores it.
  DataError SetValue(const Variant& value);

 private:
  Recordset* recordset_ = nullptr;
  size_t index_ = 0;
};

class Fields {
 public:
  explicit Fields(Recordset* recordset) : recordset_(recordset) {}
  size_t Count() const;
  // By zero-based index, or by column name (case-insensitive).
  DataError Item(size_t index, Field* out) const;
  DataError Item(const std::string& name, Field* out) const;

 private:
  Recordset* recordset_;
};

class Recordset {
 public:
  Recordset() : fields_(this) {}
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  int CursorLocation() const { return cursor_location_; }
  void SetCursorLocation(int location) { cursor_location_ = location; }

  // Runs `source` (SQL text) on `connection` and reads its rows. Only the
  // client-side cursor is offered; lock type kAdLockReadOnly or
  // kAdLockOptimistic.
  DataError Open(const std::string& source, std::shared_ptr<Connection> connection, int cursor_type,
                 int lock_type, int options);
  int State() const { return open_ ? kAdStateOpen : kAdStateClosed; }
  // True when there is no current row (the query returned none, or MoveNext
  // went past the last one).
  bool Eof() const { return !open_ || (!adding_ && position_ >= rows_.size()); }
  DataError MoveNext();

  ado::Fields& Fields() { return fields_; }

  DataError AddNew();
  DataError Update();
  DataError Close();

  std::shared_ptr<Connection> ActiveConnection() const { return connection_; }
  // Detaches the recordset (ActiveConnection = Nothing); a detached
  // recordset keeps its rows but can no longer store changes.
  void SetActiveConnectionNothing() { connection_.reset(); }

 private:
  friend class Field;
  friend class ado::Fields;

  struct Row {
    std::vector<jet::Value> values;  // every column of the table
    std::optional<jet::RowId> id;
  };

  // The row that field reads and writes go to, or an error at EOF.
  DataError CurrentRow(Row** row);
  DataError CheckOpen() const;
  const jet::ColumnDef& ColumnOf(size_t field) const { return table_->columns[columns_[field]]; }

  ado::Fields fields_;
  int cursor_location_ = kAdUseServer;
  bool open_ = false;
  bool updatable_ = false;
  std::shared_ptr<Connection> connection_;
  std::shared_ptr<const jet::TableDef> table_;
  std::vector<size_t> columns_;  // the recordset's fields, as table positions
  std::vector<Row> rows_;
  size_t position_ = 0;
  bool adding_ = false;   // AddNew was called and Update has not stored it
  bool editing_ = false;  // a field of the current row was changed
  Row edit_;              // the row being added or edited
  // Columns of the row being added that a field write set; the others get
  // their column's DefaultValue at Update.
  std::vector<bool> assigned_;
};

// Converts a variant to a value of `column`'s type, as a field write does.
DataError ValueForColumn(const jet::ColumnDef& column, const Variant& value, jet::Value* out);

}  // namespace afc::ado

#endif  // DATA_ADO_H_
