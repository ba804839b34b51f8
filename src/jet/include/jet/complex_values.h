// SPDX-License-Identifier: Apache-2.0
// ComplexValues: the values behind a complex column (.accdb), an attachment
// or a multi-valued field.
//
//   auto values = jet::ComplexValues::Read(db, *table, column);
//   ...
//   // a row's field of that column holds an id (Value::integer):
//   for (const jet::Value& v : (*values)->MultiValues(id)) ...
//   for (const jet::Attachment& a : (*values)->Attachments(id)) ...
//
// A complex field stores only an integer; its values are rows of a hidden
// table of the database (its "flat table"), each with that integer in a
// foreign-key column. The system table MSysComplexColumns names the flat
// table of each complex column, and a template table (MSysComplexType_*)
// whose columns say what a value is: a single column of some type for a
// multi-valued field, FileURL, FileName, FileType, FileData, FileTimeStamp
// and FileFlags for an attachment. docs/accdb.md has the details.
//
// Read goes through the flat table once and keeps every value in memory,
// so that an export looks each row's values up without reading again.

#ifndef JET_COMPLEX_VALUES_H_
#define JET_COMPLEX_VALUES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jet/database.h"
#include "jet/status.h"
#include "jet/table_def.h"
#include "jet/value.h"

namespace jet {

struct Attachment {
  std::string file_name;  // UTF-8
  std::string file_type;  // the extension, "txt"
  std::string data;       // the file's bytes, decompressed
};

class ComplexValues {
 public:
  enum class Kind {
    kMultiValue,
    kAttachment,
    kOther,  // version history (an append-only memo's) and others: not read
  };

  // Reads the values of `column`, a complex column of `table`. A catalog
  // entry or hidden table that is missing or not of the expected shape is
  // kCorrupt; so is attachment data that does not decode.
  static Result<std::unique_ptr<ComplexValues>> Read(Database& db, const TableDef& table,
                                                     const ColumnDef& column);

  Kind kind() const { return kind_; }
  // A multi-valued field's value column (its type and size).
  const ColumnDef& value_column() const { return value_column_; }

  // The values of the field that holds `id`, in stored order; empty when
  // it has none (and for the other kind).
  const std::vector<Value>& MultiValues(int64_t id) const;
  const std::vector<Attachment>& Attachments(int64_t id) const;

 private:
  Kind kind_ = Kind::kOther;
  ColumnDef value_column_;
  std::unordered_map<int64_t, std::vector<Value>> values_;
  std::unordered_map<int64_t, std::vector<Attachment>> attachments_;
};

// An attachment's FileData as stored: an 8-byte header (a 32-bit flag, 0 raw
// or 1 zlib-compressed, and the 32-bit length of what follows decoded),
// then a content header (its own 32-bit length, a 32-bit 1, the
// extension's length in characters and the extension in UTF-16 with its
// terminating zero), then the file. Gives the file's bytes; kCorrupt if
// `stored` is not of that shape.
Status DecodeAttachmentData(std::string_view stored, std::string* data);

}  // namespace jet

#endif  // JET_COMPLEX_VALUES_H_
