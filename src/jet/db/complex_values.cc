// SPDX-License-Identifier: Apache-2.0
#include "jet/complex_values.h"

#include <zlib.h>


#include "jet/table_scanner.h"

namespace jet {

namespace {

uint32_t Le32At(std::string_view s, size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data()) + at;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Deflate cannot expand data by more than about this factor, so a stored
// length beyond it is damage, not a file.
constexpr uint64_t kMaxInflateRatio = 1032;

Status Inflate(std::string_view in, uint32_t size, std::string* out) {
  if (uint64_t(size) > uint64_t(in.size()) * kMaxInflateRatio + 64) {
    return Status::Corrupt("a compressed attachment claims " + std::to_string(size) +
                           " bytes from " + std::to_string(in.size()));
  }
  out->resize(size);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return Status::Corrupt("cannot start decompressing an attachment");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out->data());
  z.avail_out = uInt(size);
  const int rc = inflate(&z, Z_FINISH);
  const uLong produced = z.total_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || produced != size) {
    return Status::Corrupt("a compressed attachment does not decompress to its stated " +
                           std::to_string(size) + " bytes");
  }
  return Status::Ok();
}

int FindColumn(const TableDef& t, const char* name) {
  for (size_t i = 0; i < t.columns.size(); ++i) {
    if (NamesEqual(t.columns[i].name, name)) return int(i);
  }
  return -1;
}

Result<std::shared_ptr<const TableDef>> TableById(Database& db, int64_t id, const char* what) {
  JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> tables, db.ListTables(true));
  for (const CatalogEntry& e : tables) {
    if (int64_t(e.tdef_page()) == id) return db.GetTable(e.name);
  }
  return Status::Corrupt("MSysComplexColumns names " + std::string(what) + " " +
                         std::to_string(id) + ", which is no table")
      .AtFile(db.path());
}

// The row of MSysComplexColumns for one complex id.
struct ComplexColumnRow {
  int64_t flat_table = 0;
  int64_t type_table = 0;
  int64_t owner_table = 0;
};

Result<ComplexColumnRow> FindComplexColumn(Database& db, uint32_t complex_id) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> sys, db.GetTable("MSysComplexColumns"));
  const int id_col = FindColumn(*sys, "ComplexID");
  const int flat_col = FindColumn(*sys, "FlatTableID");
  const int type_col = FindColumn(*sys, "ComplexTypeObjectID");
  const int owner_col = FindColumn(*sys, "ConceptualTableID");
  if (id_col < 0 || flat_col < 0 || type_col < 0 || owner_col < 0) {
    return Status::Corrupt("MSysComplexColumns lacks one of its columns").AtFile(db.path());
  }
  TableScanner scan(db, sys);
  std::vector<Value> row;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next(&row));
    if (!more) break;
    const Value& id = row[size_t(id_col)];
    if (id.null || id.integer != int64_t(complex_id)) continue;
    return ComplexColumnRow{row[size_t(flat_col)].integer, row[size_t(type_col)].integer,
                            row[size_t(owner_col)].integer};
  }
  return Status::Corrupt("MSysComplexColumns has no entry for complex id " +
                         std::to_string(complex_id))
      .AtFile(db.path());
}

}  // namespace

Status DecodeAttachmentData(std::string_view stored, std::string* data) {
  if (stored.size() < 8) return Status::Corrupt("an attachment's data is cut short");
  const uint32_t flag = Le32At(stored, 0);
  const uint32_t size = Le32At(stored, 4);
  std::string content;
  if (flag == 0) {
    if (stored.size() - 8 < size) return Status::Corrupt("an attachment's data is cut short");
    content.assign(stored.substr(8, size));
  } else if (flag == 1) {
    JET_RETURN_IF_ERROR(Inflate(stored.substr(8), size, &content));
  } else {
    return Status::Corrupt("an attachment's data has unknown encoding " + std::to_string(flag));
  }
  const uint32_t header = content.size() >= 4 ? Le32At(content, 0) : 0;
  if (header < 8 || header > content.size()) {
    return Status::Corrupt("an attachment's content header is damaged");
  }
  data->assign(content, header);
  return Status::Ok();
}

Result<std::unique_ptr<ComplexValues>> ComplexValues::Read(Database& db, const TableDef& table,
                                                           const ColumnDef& column) {
  const std::string where = "column '" + column.name + "' of table '" + table.name + "'";
  if (column.type != ColumnType::kComplex) {
    return Status::InvalidArgument("The " + where + " is not a complex column");
  }
  auto values = std::unique_ptr<ComplexValues>(new ComplexValues());
  auto fail = [&](const Status& s) {
    return Status::Error(s.kind(), "The values of " + where + ": " + s.message())
        .AtFile(db.path());
  };
  auto found = FindComplexColumn(db, column.complex_id);
  if (!found.ok()) return fail(found.status());
  if (found->owner_table != int64_t(table.tdef_page)) {
    return fail(Status::Corrupt("MSysComplexColumns gives its complex id " +
                                std::to_string(column.complex_id) + " to another table"));
  }
  auto flat = TableById(db, found->flat_table, "flat table");
  if (!flat.ok()) return fail(flat.status());
  auto type = TableById(db, found->type_table, "template table");
  if (!type.ok()) return fail(type.status());
  const TableDef& ft = **flat;
  const TableDef& tt = **type;

  // The flat table: the template's columns, an autonumber key, and the
  // foreign key that holds the field's id.
  int fk = -1;
  for (size_t i = 0; i < ft.columns.size(); ++i) {
    const ColumnDef& c = ft.columns[i];
    if (c.type != ColumnType::kLong || c.autonumber() || FindColumn(tt, c.name.c_str()) >= 0) continue;
    if (fk >= 0) return fail(Status::Corrupt("its table '" + ft.name + "' has two id columns"));
    fk = int(i);
  }
  if (fk < 0) return fail(Status::Corrupt("its table '" + ft.name + "' has no id column"));

  int value = -1, name = -1, file_type = -1, file_data = -1;
  if (tt.columns.size() == 1) {
    values->kind_ = Kind::kMultiValue;
    value = FindColumn(ft, tt.columns[0].name.c_str());
    if (value < 0) return fail(Status::Corrupt("its table '" + ft.name + "' has no value column"));
    values->value_column_ = ft.columns[size_t(value)];
  } else if (FindColumn(tt, "FileName") >= 0 && FindColumn(tt, "FileType") >= 0 &&
             FindColumn(tt, "FileData") >= 0) {
    values->kind_ = Kind::kAttachment;
    name = FindColumn(ft, "FileName");
    file_type = FindColumn(ft, "FileType");
    file_data = FindColumn(ft, "FileData");
    if (name < 0 || file_type < 0 || file_data < 0) {
      return fail(Status::Corrupt("its table '" + ft.name + "' lacks an attachment column"));
    }
  } else {
    return values;
  }

  TableScanner scan(db, *flat);
  std::vector<Value> row;
  RowId at;
  while (true) {
    auto more = scan.Next(&row, &at);
    if (!more.ok()) return fail(more.status());
    if (!*more) break;
    const Value& id = row[size_t(fk)];
    if (id.null) continue;  // belongs to no field
    if (values->kind_ == Kind::kMultiValue) {
      values->values_[id.integer].push_back(std::move(row[size_t(value)]));
      continue;
    }
    Attachment a;
    a.file_name = std::move(row[size_t(name)].bytes);
    a.file_type = std::move(row[size_t(file_type)].bytes);
    const Value& stored = row[size_t(file_data)];
    if (!stored.null) {
      Status s = DecodeAttachmentData(stored.bytes, &a.data);
      if (!s.ok()) {
        return fail(Status::Corrupt("'" + a.file_name + "' in its table '" + ft.name + "': " +
                                    s.message()))
            .AtPage(at.page);
      }
    }
    values->attachments_[id.integer].push_back(std::move(a));
  }
  return values;
}

const std::vector<Value>& ComplexValues::MultiValues(int64_t id) const {
  static const std::vector<Value> kNone;
  auto it = values_.find(id);
  return it == values_.end() ? kNone : it->second;
}

const std::vector<Attachment>& ComplexValues::Attachments(int64_t id) const {
  static const std::vector<Attachment> kNone;
  auto it = attachments_.find(id);
  return it == attachments_.end() ? kNone : it->second;
}

}  // namespace jet
