// SPDX-License-Identifier: Apache-2.0
// The data-access objects over the Jet engine.

#include "data/ado.h"

#include <utility>

#include "jet/table_writer.h"
#include "jet/value_text.h"

namespace afc::ado {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// A DataError for an engine failure, numbered by its kind. `path` names the
// file in the description where that helps the user.
DataError FromStatus(const jet::Status& status, const std::string& path) {
  const std::string& m = status.message();
  // Failures Jet numbers itself (a validation rule, a default that does not
  // fit its column) keep Jet's number and words.
  if (!status.ok() && status.jet_error() != 0) return MakeError(status.jet_error(), m);
  switch (status.kind()) {
    case jet::ErrorKind::kOk:
      return DataError::None();
    case jet::ErrorKind::kNotFound:
      return MakeError(kErrFileNotFound, "Could not find the database file '" + path + "'.");
    case jet::ErrorKind::kNotADatabase:
      // The engine's message may only say the same again.
      if (m.find("not a Microsoft Access database") != std::string::npos) {
        return MakeError(kErrNotADatabase,
                         "The file '" + path + "' is not a Microsoft Access database.");
      }
      return MakeError(kErrNotADatabase,
                       "The file '" + path + "' is not a Microsoft Access database (" + m + ").");
    case jet::ErrorKind::kBusy:
      return MakeError(kErrFileInUse, "The database '" + path +
                                          "' is in use by another program or user: " + m + ".");
    case jet::ErrorKind::kIoError:
      return MakeError(kErrFileInUse,
                       "The database '" + path + "' cannot be read or written: " + m + ".");
    case jet::ErrorKind::kPasswordProtected:
      return MakeError(kErrPassword, "The database '" + path + "' is protected: " + m +
                                         ". Remove the password in Access first.");
    case jet::ErrorKind::kEncrypted:
      return MakeError(kErrPassword, "The database '" + path + "' is protected: " + m + ".");
    case jet::ErrorKind::kCorrupt:
    case jet::ErrorKind::kUnsupported:
      return MakeError(kErrDamaged, "The database '" + path + "' cannot be used: " + m + ".");
    case jet::ErrorKind::kConstraint:
    case jet::ErrorKind::kInvalidArgument:
      return MakeError(kErrChangeRefused, "The database refused the change: " + m + ".");
  }
  return MakeError(kErrDamaged, m);
}

// Whether two rows hold the same values, column by column.
bool SameRow(const std::vector<jet::Value>& a, const std::vector<jet::Value>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].null != b[i].null) return false;
    if (!a[i].null && a[i].ToText() != b[i].ToText()) return false;
  }
  return true;
}

}  // namespace

int32_t AdoTypeOf(jet::ColumnType type) {
  switch (type) {
    case jet::ColumnType::kBoolean:
      return 11;  // adBoolean
    case jet::ColumnType::kByte:
      return 17;  // adUnsignedTinyInt
    case jet::ColumnType::kInteger:
      return 2;  // adSmallInt
    case jet::ColumnType::kLong:
      return 3;  // adInteger
    case jet::ColumnType::kCurrency:
      return 6;  // adCurrency
    case jet::ColumnType::kSingle:
      return 4;  // adSingle
    case jet::ColumnType::kDouble:
      return 5;  // adDouble
    case jet::ColumnType::kDateTime:
      return 7;  // adDate
    case jet::ColumnType::kBinary:
      return 128;  // adBinary
    case jet::ColumnType::kText:
      return 202;  // adVarWChar
    case jet::ColumnType::kOle:
      return 205;  // adLongVarBinary
    case jet::ColumnType::kMemo:
      return 203;  // adLongVarWChar
    case jet::ColumnType::kGuid:
      return 72;  // adGUID
    case jet::ColumnType::kNumeric:
      return 131;  // adNumeric
    default:
      return 204;  // adVarBinary: system-table types read as raw bytes
  }
}

DataError ParseConnectionString(const std::string& text, ConnectionString* out) {
  *out = ConnectionString();
  bool have_provider = false, have_source = false;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    size_t semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      std::string rest =
          Trim(text.substr(i, semi == std::string::npos ? std::string::npos : semi - i));
      if (!rest.empty()) {
        return MakeError(kErrBadArgument,
                         "The connection string part '" + rest + "' is not of the form Key=Value.");
      }
      if (semi == std::string::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = Trim(text.substr(i, eq - i));
    std::string value;
    size_t next;
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    if (v < text.size() && text[v] == '"') {
      size_t close = text.find('"', v + 1);
      if (close == std::string::npos) {
        return MakeError(kErrBadArgument,
                         "The connection string value of '" + key + "' has no closing quote.");
      }
      value = text.substr(v + 1, close - v - 1);
      next = text.find(';', close);
      if (!Trim(text.substr(close + 1,
                            next == std::string::npos ? std::string::npos : next - close - 1))
               .empty()) {
        return MakeError(kErrBadArgument,
                         "The connection string has text after the quoted value of '" + key + "'.");
      }
    } else {
      next = text.find(';', eq);
      // The path is taken as written: only the spaces around '=' are not
      // part of it.
      value = text.substr(v, next == std::string::npos ? std::string::npos : next - v);
    }
    if (jet::NamesEqual(key, "Provider")) {
      out->provider = Trim(value);
      have_provider = true;
    } else if (jet::NamesEqual(key, "Data Source")) {
      out->data_source = value;
      have_source = true;
    } else {
      return MakeError(kErrBadArgument, "The connection string key '" + key +
                                            "' is not supported; only Provider and Data Source "
                                            "are.");
    }
    if (next == std::string::npos) break;
    i = next + 1;
  }
  if (!have_provider) {
    return MakeError(kErrProvider,
                     "The connection string names no provider; expected "
                     "Provider=Microsoft.Jet.OLEDB.4.0.");
  }
  if (!jet::NamesEqual(out->provider, kJetProvider)) {
    return MakeError(kErrProvider, "The provider '" + out->provider +
                                       "' is not available; only Microsoft.Jet.OLEDB.4.0 is.");
  }
  if (!have_source || out->data_source.empty()) {
    return MakeError(kErrBadArgument,
                     "The connection string names no database file (Data Source=...).");
  }
  return DataError::None();
}

DataError Connection::Open(const std::string& connection_string, const std::string&,
                           const std::string&, int) {
  if (db_) return MakeError(kErrAlreadyOpen, "The connection is already open.");
  ConnectionString parsed;
  if (DataError e = ParseConnectionString(connection_string, &parsed); !e.ok()) return e;
  path_ = parsed.data_source;
  auto db = jet::Database::Open(path_);
  if (!db.ok()) return FromStatus(db.status(), path_);
  db_ = std::move(db).value();
  return DataError::None();
}

DataError Connection::Database(bool writable, jet::Database** out) {
  *out = nullptr;
  if (!db_) return MakeError(kErrNotOpen, "The connection is not open.");
  if (writable && !db_->writable()) {
    // Our own read lock would keep the writer out: let it go first.
    db_.reset();
    jet::Database::Options options;
    options.writable = true;
    auto db = jet::Database::Open(path_, options);
    if (!db.ok()) {
      DataError e = FromStatus(db.status(), path_);
      auto reader = jet::Database::Open(path_);
      if (reader.ok()) db_ = std::move(reader).value();
      return e;
    }
    db_ = std::move(db).value();
  }
  *out = db_.get();
  return DataError::None();
}

DataError ValueForColumn(const jet::ColumnDef& column, const Variant& value, jet::Value* out) {
  *out = jet::Value();
  out->type = column.type;
  if (value.IsEmpty() || value.IsNull()) return DataError::None();
  const jet::Value& v = value.value();
  auto failed = [&]() {
    return MakeError(kErrConversion, "The value '" + value.TextForm() +
                                         "' cannot be stored in the column '" + column.name +
                                         "' (" + jet::ColumnTypeName(column.type) + ").");
  };
  if (v.type == column.type || (jet::IsTextual(v.type) && jet::IsTextual(column.type))) {
    *out = v;
    out->type = column.type;
    return DataError::None();
  }
  std::string text;
  switch (value.kind()) {
    case VariantKind::kBoolean:
      if (column.type == jet::ColumnType::kBoolean) {
        text = v.boolean ? "true" : "false";
      } else if (jet::IsNumeric(column.type)) {
        text = v.boolean ? "-1" : "0";
      } else if (jet::IsTextual(column.type)) {
        text = value.TextForm();
      } else {
        return failed();
      }
      break;
    case VariantKind::kNumber:
      if (column.type == jet::ColumnType::kBoolean) {
        double d = v.type == jet::ColumnType::kDouble   ? v.real
                   : v.type == jet::ColumnType::kSingle ? v.single
                                                        : static_cast<double>(v.integer);
        text = d != 0 ? "true" : "false";
      } else if (column.type == jet::ColumnType::kDateTime && v.type == jet::ColumnType::kDouble) {
        text = jet::FormatDateTime(v.real);
      } else {
        text = value.TextForm();
      }
      break;
    case VariantKind::kDate:
      if (column.type == jet::ColumnType::kDouble) {
        text = jet::FormatDouble(v.real);
      } else {
        text = value.TextForm();
      }
      break;
    case VariantKind::kText:
      if (column.type == jet::ColumnType::kBoolean) {
        if (jet::NamesEqual(v.bytes, "True") || v.bytes == "-1") {
          text = "true";
        } else if (jet::NamesEqual(v.bytes, "False") || v.bytes == "0") {
          text = "false";
        } else {
          return failed();
        }
      } else {
        text = v.bytes;
        if (text.empty()) return DataError::None();  // an empty text stores null
      }
      break;
    default:
      if (column.type == jet::ColumnType::kBinary || column.type == jet::ColumnType::kOle) {
        *out = v;
        out->type = column.type;
        return DataError::None();
      }
      return failed();
  }
  if (!jet::ValueFromText(column, text, out).ok()) return failed();
  return DataError::None();
}

DataError Field::Name(std::string* out) const {
  out->clear();
  if (recordset_ == nullptr) return MakeError(kErrNoObject, "The field refers to no recordset.");
  if (DataError e = recordset_->CheckOpen(); !e.ok()) return e;
  if (index_ >= recordset_->columns_.size()) {
    return MakeError(kErrNoSuchField,
                     "The recordset has no field number " + std::to_string(index_) + ".");
  }
  *out = recordset_->ColumnOf(index_).name;
  return DataError::None();
}

DataError Field::Type(int32_t* out) const {
  *out = 0;
  std::string name;
  if (DataError e = Name(&name); !e.ok()) return e;
  *out = AdoTypeOf(recordset_->ColumnOf(index_).type);
  return DataError::None();
}

DataError Field::Value(Variant* out) const {
  *out = Variant();
  std::string name;
  if (DataError e = Name(&name); !e.ok()) return e;
  Recordset::Row* row = nullptr;
  if (DataError e = recordset_->CurrentRow(&row); !e.ok()) return e;
  *out = Variant::FromValue(row->values[recordset_->columns_[index_]]);
  return DataError::None();
}

DataError Field::SetValue(const Variant& value) {
  std::string name;
  if (DataError e = Name(&name); !e.ok()) return e;
  if (!recordset_->updatable_) {
    return MakeError(kErrReadOnly,
                     "The recordset is read-only; the field '" + name + "' cannot be changed.");
  }
  Recordset::Row* row = nullptr;
  if (DataError e = recordset_->CurrentRow(&row); !e.ok()) return e;
  jet::Value converted;
  const jet::ColumnDef& column = recordset_->ColumnOf(index_);
  if (DataError e = ValueForColumn(column, value, &converted); !e.ok()) return e;
  if (!recordset_->adding_ && !recordset_->editing_) {
    recordset_->edit_ = *row;
    recordset_->editing_ = true;
  }
  recordset_->edit_.values[recordset_->columns_[index_]] = std::move(converted);
  if (recordset_->adding_) recordset_->assigned_[recordset_->columns_[index_]] = true;
  return DataError::None();
}

size_t Fields::Count() const { return recordset_->open_ ? recordset_->columns_.size() : 0; }

DataError Fields::Item(size_t index, Field* out) const {
  *out = Field();
  if (DataError e = recordset_->CheckOpen(); !e.ok()) return e;
  if (index >= recordset_->columns_.size()) {
    return MakeError(kErrNoSuchField,
                     "The recordset has no field number " + std::to_string(index) + ".");
  }
  *out = Field(recordset_, index);
  return DataError::None();
}

DataError Fields::Item(const std::string& name, Field* out) const {
  *out = Field();
  if (DataError e = recordset_->CheckOpen(); !e.ok()) return e;
  for (size_t i = 0; i < recordset_->columns_.size(); ++i) {
    if (jet::NamesEqual(recordset_->ColumnOf(i).name, name)) {
      *out = Field(recordset_, i);
      return DataError::None();
    }
  }
  return MakeError(kErrNoSuchField, "The recordset has no field named '" + name + "'.");
}

DataError Recordset::CheckOpen() const {
  if (!open_) return MakeError(kErrNotOpen, "The recordset is not open.");
  return DataError::None();
}

DataError Recordset::CurrentRow(Row** row) {
  *row = nullptr;
  if (DataError e = CheckOpen(); !e.ok()) return e;
  if (adding_ || editing_) {
    *row = &edit_;
  } else if (position_ < rows_.size()) {
    *row = &rows_[position_];
  } else {
    return MakeError(kErrNoCurrentRow, "There is no current row: the recordset is at its end.");
  }
  return DataError::None();
}

DataError Recordset::Open(const std::string& source, std::shared_ptr<Connection> connection,
                          int cursor_type, int lock_type, int options) {
  if (open_) return MakeError(kErrAlreadyOpen, "The recordset is already open.");
  if (cursor_location_ != kAdUseClient) {
    return MakeError(kErrBadArgument,
                     "Only client-side recordsets (CursorLocation 3) are "
                     "supported.");
  }
  if (cursor_type != kAdOpenForwardOnly || options != kAdCmdText ||
      (lock_type != kAdLockReadOnly && lock_type != kAdLockOptimistic)) {
    return MakeError(kErrBadArgument, "Unsupported recordset options: cursor type " +
                                          std::to_string(cursor_type) + ", lock type " +
                                          std::to_string(lock_type) + ", options " +
                                          std::to_string(options) + ".");
  }
  if (!connection || connection->State() != kAdStateOpen) {
    return MakeError(kErrNotOpen, "The recordset's connection is not open.");
  }
  sql::Select select;
  if (DataError e = sql::Parse(source, &select); !e.ok()) return e;

  // An updatable recordset reads under a shared lock like any other, so
  // that other readers (the installer looks up reference values while its
  // new row is pending) are not shut out. The file is taken for writing
  // only by the first Update, which checks that an edited row is still as
  // it was read (optimistic locking).
  bool updatable = lock_type == kAdLockOptimistic;
  jet::Database* db = nullptr;
  if (DataError e = connection->Database(false, &db); !e.ok()) return e;
  auto table = db->GetTable(select.table);
  if (!table.ok()) {
    if (table.status().kind() == jet::ErrorKind::kNotFound) {
      return MakeError(kErrUnknownTable,
                       "The database has no table or query named '" + select.table + "'.");
    }
    return FromStatus(table.status(), connection->path());
  }
  sql::BoundQuery query;
  if (DataError e = sql::BoundQuery::Bind(select, **table, *db, &query); !e.ok()) {
    return e;
  }
  std::vector<Row> rows;
  jet::TableScanner scanner(*db, *table);
  while (true) {
    Row row;
    jet::RowId id;
    auto more = scanner.Next(&row.values, &id);
    if (!more.ok()) return FromStatus(more.status(), connection->path());
    if (!*more) break;
    if (!query.Matches(row.values)) continue;
    row.id = id;
    rows.push_back(std::move(row));
  }
  table_ = *table;
  columns_ = query.columns();
  rows_ = std::move(rows);
  position_ = 0;
  adding_ = editing_ = false;
  updatable_ = updatable;
  connection_ = std::move(connection);
  open_ = true;
  return DataError::None();
}

DataError Recordset::MoveNext() {
  if (DataError e = CheckOpen(); !e.ok()) return e;
  if (adding_ || editing_) {
    if (DataError e = Update(); !e.ok()) return e;
  }
  if (position_ >= rows_.size()) {
    return MakeError(kErrNoCurrentRow, "There is no next row: the recordset is at its end.");
  }
  ++position_;
  return DataError::None();
}

DataError Recordset::AddNew() {
  if (DataError e = CheckOpen(); !e.ok()) return e;
  if (!updatable_)
    return MakeError(kErrReadOnly,
                     "The recordset is read-only; rows cannot be "
                     "added.");
  if (adding_ || editing_) {
    if (DataError e = Update(); !e.ok()) return e;
  }
  edit_ = Row();
  edit_.values.resize(table_->columns.size());
  for (size_t i = 0; i < table_->columns.size(); ++i)
    edit_.values[i].type = table_->columns[i].type;
  assigned_.assign(table_->columns.size(), false);
  adding_ = true;
  return DataError::None();
}

DataError Recordset::Update() {
  if (DataError e = CheckOpen(); !e.ok()) return e;
  if (!adding_ && !editing_) return DataError::None();  // nothing to store
  if (!updatable_) return MakeError(kErrReadOnly, "The recordset is read-only.");
  if (!connection_ || connection_->State() != kAdStateOpen) {
    return MakeError(kErrNotOpen,
                     "The recordset is not attached to an open connection; the "
                     "change cannot be stored.");
  }
  jet::Database* db = nullptr;
  if (DataError e = connection_->Database(true, &db); !e.ok()) return e;
  auto writer = jet::TableWriter::Open(*db, table_->name);
  if (!writer.ok()) return FromStatus(writer.status(), connection_->path());
  if (adding_) {
    // Columns no field write set take their DefaultValue, evaluated as
    // Access evaluates it; a default this program cannot evaluate refuses
    // the row.
    std::vector<jet::Value> values = edit_.values;
    jet::Status defaults = (*writer)->ApplyDefaults(assigned_, &values);
    if (!defaults.ok()) return FromStatus(defaults, connection_->path());
    auto id = (*writer)->Insert(values);
    if (!id.ok()) return FromStatus(id.status(), connection_->path());
    edit_.values = std::move(values);
    edit_.id = *id;
    rows_.push_back(std::move(edit_));
    position_ = rows_.size() - 1;
  } else {
    std::vector<jet::Value> stored;
    jet::Status read = (*writer)->Read(*edit_.id, &stored);
    if (read.kind() == jet::ErrorKind::kNotFound ||
        (read.ok() && !SameRow(stored, rows_[position_].values))) {
      return MakeError(kErrWriteConflict,
                       "The row was changed or deleted by another user after it was read; "
                       "the change was not stored.");
    }
    if (!read.ok()) return FromStatus(read, connection_->path());
    jet::Status s = (*writer)->Update(*edit_.id, edit_.values);
    if (!s.ok()) return FromStatus(s, connection_->path());
    rows_[position_] = std::move(edit_);
  }
  adding_ = editing_ = false;
  edit_ = Row();
  return DataError::None();
}

DataError Recordset::Close() {
  if (DataError e = CheckOpen(); !e.ok()) return e;
  open_ = false;
  adding_ = editing_ = false;
  rows_.clear();
  columns_.clear();
  table_.reset();
  connection_.reset();
  return DataError::None();
}

}  // namespace afc::ado
