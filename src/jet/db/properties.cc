// SPDX-License-Identifier: Apache-2.0
#include "jet/db/properties.h"

#include <cstring>

#include "jet/format/row.h"

namespace jet {

namespace {

constexpr uint16_t kNamePool = 0x80;
constexpr size_t kChunkHeader = 6;
constexpr size_t kEntryHeader = 8;

Status Damaged(const std::string& what) {
  return Status::Corrupt("The properties of a table are damaged: " + what);
}

// A cursor over one run of bytes that never reads past its end.
class Reader {
 public:
  explicit Reader(ByteView bytes) : bytes_(bytes) {}
  size_t left() const { return bytes_.size() - pos_; }
  size_t pos() const { return pos_; }
  bool U16(uint16_t* out) {
    if (left() < 2) return false;
    *out = Le16(bytes_.data() + pos_);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* out) {
    if (left() < 4) return false;
    *out = Le32(bytes_.data() + pos_);
    pos_ += 4;
    return true;
  }
  bool Take(size_t n, ByteView* out) {
    if (left() < n) return false;
    *out = bytes_.subspan(pos_, n);
    pos_ += n;
    return true;
  }

 private:
  ByteView bytes_;
  size_t pos_ = 0;
};

Status ParseBlock(const Format& format, uint16_t code_page, ByteView body,
                  const std::vector<std::string>& names, PropertyBlock* block) {
  Reader r(body);
  if (r.left() > 0) {
    uint32_t header = 0;
    if (!r.U32(&header) || header < 4 || header > body.size()) {
      return Damaged("a block's header has a bad length");
    }
    ByteView rest;
    (void)r.Take(header - 4, &rest);
    if (header > 6) {
      Reader h(rest);
      uint16_t length = 0;
      ByteView name;
      if (!h.U16(&length) || !h.Take(length, &name)) {
        return Damaged("a block's object name is longer than its header");
      }
      block->object = DecodeTextBytes(format, code_page, name);
    }
  }
  while (r.left() > 0) {
    const size_t at = r.pos();
    uint16_t length = 0;
    ByteView skipped;
    if (!r.U16(&length) || length < kEntryHeader || !r.Take(length - 2, &skipped)) {
      return Damaged("a property entry runs past its block");
    }
    const ByteView entry = body.subspan(at, length);
    Property p;
    p.ddl = entry[2];
    p.type = entry[3];
    const uint16_t name_index = Le16(entry.data() + 4);
    const uint16_t size = Le16(entry.data() + 6);
    if (name_index >= names.size()) return Damaged("a property refers to a name it does not have");
    if (size_t(size) > length - kEntryHeader) {
      return Damaged("a property's value is longer than its entry");
    }
    p.name = names[name_index];
    p.data.assign(reinterpret_cast<const char*>(entry.data() + kEntryHeader), size);
    block->properties.push_back(std::move(p));
  }
  return Status::Ok();
}

// The Id of the table's catalog row.
Result<int32_t> CatalogId(Database& db, const TableDef& table) {
  JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> tables, db.ListTables(true));
  for (const CatalogEntry& e : tables) {
    if (e.tdef_page() == table.tdef_page && NamesEqual(e.name, table.name)) return e.id;
  }
  return Status::NotFound("The catalog has no row for table '" + table.name + "'");
}

}  // namespace

const Property* PropertyBlock::Find(const std::string& name) const {
  for (const Property& p : properties) {
    if (NamesEqual(p.name, name)) return &p;
  }
  return nullptr;
}

Result<std::vector<PropertyBlock>> ParseProperties(const Format& format, uint16_t code_page,
                                                   ByteView blob) {
  std::vector<PropertyBlock> blocks;
  if (blob.size() < 4 ||
      (std::memcmp(blob.data(), "MR2\0", 4) != 0 && std::memcmp(blob.data(), "KKD\0", 4) != 0)) {
    return Damaged("the value does not start with MR2 or KKD");
  }
  Reader r(blob.subspan(4));
  std::vector<std::string> names;
  bool have_names = false;
  while (r.left() > 0) {
    uint32_t length = 0;
    uint16_t type = 0;
    ByteView body;
    if (!r.U32(&length) || !r.U16(&type) || length < kChunkHeader ||
        !r.Take(length - kChunkHeader, &body)) {
      return Damaged("a chunk runs past the end of the value");
    }
    if (type == kNamePool) {
      names.clear();
      Reader n(body);
      while (n.left() > 0) {
        uint16_t size = 0;
        ByteView name;
        if (!n.U16(&size) || !n.Take(size, &name)) return Damaged("a name runs past its chunk");
        names.push_back(DecodeTextBytes(format, code_page, name));
      }
      have_names = true;
      continue;
    }
    if (!have_names) return Damaged("a block of properties comes before the names");
    PropertyBlock block;
    block.kind = type;
    JET_RETURN_IF_ERROR(ParseBlock(format, code_page, body, names, &block));
    blocks.push_back(std::move(block));
  }
  return blocks;
}

std::string PropertyText(const Format& format, uint16_t code_page, const Property& property) {
  return DecodeTextBytes(
      format, code_page,
      ByteView(reinterpret_cast<const uint8_t*>(property.data.data()), property.data.size()));
}

Result<std::string> ReadPropertyBlob(Database& db, const TableDef& table) {
  JET_ASSIGN_OR_RETURN(int32_t id, CatalogId(db, table));
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> catalog, db.GetTable("MSysObjects"));
  const ColumnDef* id_column = catalog->FindColumn("Id");
  const ColumnDef* prop_column = catalog->FindColumn("LvProp");
  if (!id_column) return Status::Corrupt("The catalog (MSysObjects) lacks its Id column");
  if (!prop_column) return std::string();
  const size_t id_pos = size_t(id_column - catalog->columns.data());
  const size_t prop_pos = size_t(prop_column - catalog->columns.data());
  // Only the table's own row's value is read: another object's damaged
  // properties are no concern of this table's.
  TableScanner scan(db, catalog);
  const RowView* row = nullptr;
  Value row_id;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.NextView(&row));
    if (!more) break;
    JET_RETURN_IF_ERROR(row->Decode(id_pos, &row_id));
    if (row_id.null || int32_t(row_id.integer) != id) continue;
    std::string blob;
    Status read = row->ReadLongValue(prop_pos, &blob);
    if (!read.ok()) {
      Status out = Status::Error(read.kind(), "The properties of table '" + table.name +
                                                  "' cannot be read: " + read.message());
      if (read.page()) out.AtPage(*read.page());
      return out.AtFile(db.path());
    }
    return blob;
  }
  return std::string();
}

namespace {

// The property blocks of `table` and its columns; none if it has no
// property value.
Result<std::vector<PropertyBlock>> ReadTableProperties(Database& db, const TableDef& table) {
  JET_ASSIGN_OR_RETURN(std::string blob, ReadPropertyBlob(db, table));
  if (blob.empty()) return std::vector<PropertyBlock>();
  auto parsed =
      ParseProperties(db.format(), db.header().code_page,
                      ByteView(reinterpret_cast<const uint8_t*>(blob.data()), blob.size()));
  if (!parsed.ok()) {
    Status s = parsed.TakeStatus();
    return Status::Corrupt(s.message() + " (table '" + table.name + "')").AtFile(db.path());
  }
  return parsed;
}

}  // namespace

Status ApplyCalculatedColumns(Database& db, TableDef* table) {
  JET_ASSIGN_OR_RETURN(std::vector<PropertyBlock> blocks, ReadTableProperties(db, *table));
  const Format& format = db.format();
  const uint16_t code_page = db.header().code_page;
  for (const PropertyBlock& b : blocks) {
    ColumnDef* column = b.object.empty() ? nullptr : table->FindColumn(b.object);
    if (!column || !column->calculated()) continue;
    if (const Property* p = b.Find("Expression")) {
      column->expression = PropertyText(format, code_page, *p);
    }
    const Property* result = b.Find("ResultType");
    if (!result || result->data.empty()) continue;
    const uint8_t type = uint8_t(result->data[0]);
    if (!ColumnTypeKnown(type) || type == uint8_t(ColumnType::kComplex)) {
      return Status::Unsupported("Calculated column '" + column->name + "' of table '" +
                                 table->name + "' has a result of unknown type " +
                                 std::to_string(type))
          .AtFile(db.path());
    }
    column->type = ColumnType(type);
  }
  return Status::Ok();
}

Result<ColumnProperties> ReadColumnProperties(Database& db, const TableDef& table) {
  ColumnProperties out;
  out.columns.resize(table.columns.size());
  JET_ASSIGN_OR_RETURN(std::vector<PropertyBlock> blocks, ReadTableProperties(db, table));
  const Format& format = db.format();
  const uint16_t code_page = db.header().code_page;
  auto text = [&](const PropertyBlock& b, const char* name) -> std::optional<std::string> {
    const Property* p = b.Find(name);
    if (!p) return std::nullopt;
    std::string t = PropertyText(format, code_page, *p);
    if (t.find_first_not_of(" \t\r\n") == std::string::npos) return std::nullopt;
    return t;
  };
  for (const PropertyBlock& b : blocks) {
    if (b.object.empty()) {
      if (auto rule = text(b, "ValidationRule")) out.table_validation_rule = rule;
      if (auto message = text(b, "ValidationText")) out.table_validation_text = message;
      continue;
    }
    const ColumnDef* column = table.FindColumn(b.object);
    if (!column) continue;
    ColumnRules& rules = out.columns[size_t(column - table.columns.data())];
    if (const Property* p = b.Find("Required")) rules.required = p->boolean();
    if (const Property* p = b.Find("AllowZeroLength")) rules.allow_zero_length = p->boolean();
    rules.default_value = text(b, "DefaultValue");
    rules.validation_rule = text(b, "ValidationRule");
    rules.validation_text = text(b, "ValidationText");
  }
  return out;
}

}  // namespace jet
