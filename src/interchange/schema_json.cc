// SPDX-License-Identifier: Apache-2.0
#include "interchange/schema_json.h"

#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "interchange/json_quote.h"

namespace jet {

namespace {

const char* Bool(bool b) { return b ? "true" : "false"; }

std::string ColumnSize(const ColumnDef& c, JetVersion version) {
  switch (c.type) {
    case ColumnType::kText:
      return std::to_string(version == JetVersion::kJet4 ? c.length / 2 : c.length) + " chars";
    case ColumnType::kBinary: return std::to_string(c.length) + " bytes";
    case ColumnType::kNumeric:
      return "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    default: return "";
  }
}

std::string IndexColumnsJson(const TableDef& t, const PhysicalIndex& ix) {
  std::string out = "[";
  for (size_t k = 0; k < ix.columns.size(); ++k) {
    const ColumnDef* c = t.FindColumnByNumber(ix.columns[k].column_number);
    if (k) out += ", ";
    out += "{\"name\": " + JsonQuote(c ? c->name : "?") +
           ", \"ascending\": " + Bool(ix.columns[k].ascending) + "}";
  }
  return out + "]";
}

}  // namespace

std::string SchemaToJson(const TableDef& t, const Database& db) {
  const JetVersion version = db.version();
  std::string out = "{\n  \"name\": " + JsonQuote(t.name) + ",\n";
  out += "  \"format\": \"" + std::string(version == JetVersion::kJet3 ? "jet3" : "jet4") +
         "\",\n";
  out += "  \"row_count\": " + std::to_string(t.row_count) + ",\n";
  out += "  \"last_autonumber\": " + std::to_string(t.last_autonumber) + ",\n";
  out += "  \"columns\": [";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    out += i ? ",\n    {" : "\n    {";
    out += "\"name\": " + JsonQuote(c.name);
    out += ", \"type\": \"" + std::string(ColumnTypeName(c.type)) + "\"";
    out += ", \"length\": " + std::to_string(c.length);
    if (c.type == ColumnType::kNumeric) {
      out += ", \"precision\": " + std::to_string(c.precision) +
             ", \"scale\": " + std::to_string(c.scale);
    }
    out += ", \"fixed\": " + std::string(Bool(c.fixed()));
    out += ", \"nullable\": " + std::string(Bool(c.flags & kColumnNullable));
    out += ", \"autonumber\": " + std::string(Bool(c.flags & kColumnAutoLong));
    if (c.guid_autonumber()) out += ", \"guid_autonumber\": true";
    if (c.hyperlink()) out += ", \"hyperlink\": true";
    if (c.calculated()) out += ", \"expression\": " + JsonQuote(c.expression);
    if (IsTextual(c.type)) {
      if (version == JetVersion::kJet4) {
        out += ", \"compressed_unicode\": " + std::string(Bool(c.compressed_unicode()));
      }
      out += ", \"sort_order\": {\"lcid\": " + std::to_string(c.sort_order.lcid) +
             ", \"version\": " + std::to_string(c.sort_order.version) + "}";
      if (version == JetVersion::kJet3) out += ", \"code_page\": " + std::to_string(c.code_page);
    }
    out += ", \"number\": " + std::to_string(c.number);
    out += ", \"flags\": " + std::to_string(c.flags);
    out += "}";
  }
  out += t.columns.empty() ? "],\n" : "\n  ],\n";
  out += "  \"indexes\": [";
  for (size_t i = 0; i < t.logical_indexes.size(); ++i) {
    const LogicalIndex& li = t.logical_indexes[i];
    const PhysicalIndex& ix = t.physical_indexes[li.physical];
    out += i ? ",\n    {" : "\n    {";
    out += "\"name\": " + JsonQuote(li.name);
    out += ", \"columns\": " + IndexColumnsJson(t, ix);
    out += ", \"primary\": " + std::string(Bool(li.primary()));
    out += ", \"unique\": " + std::string(Bool(ix.unique()));
    out += ", \"ignore_nulls\": " + std::string(Bool(ix.ignore_nulls()));
    out += ", \"required\": " + std::string(Bool(ix.required()));
    out += ", \"foreign_key\": " + std::string(Bool(li.foreign()));
    if (li.foreign()) {
      out += ", \"related_table_page\": " + std::to_string(li.related_table_page) +
             ", \"related_index\": " + std::to_string(li.related_index) +
             ", \"cascade_updates\": " + Bool(li.cascade_updates) +
             ", \"cascade_deletes\": " + Bool(li.cascade_deletes);
    }
    out += ", \"physical_index\": " + std::to_string(li.physical);
    out += ", \"root_page\": " + std::to_string(ix.root_page);
    out += ", \"flags\": " + std::to_string(ix.flags);
    out += "}";
  }
  out += t.logical_indexes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string SchemaToText(const TableDef& t, const Database& db) {
  const JetVersion version = db.version();
  std::string out = "Table " + t.name + " (" + std::to_string(t.row_count) + " rows)\n";
  out += "  Columns:\n";
  for (const ColumnDef& c : t.columns) {
    char line[512];
    std::string size = ColumnSize(c, version);
    std::string extra;
    if (c.flags & kColumnAutoLong) extra += " autonumber";
    if (c.guid_autonumber()) extra += " guid-autonumber";
    if (c.fixed() && (c.type == ColumnType::kText || c.type == ColumnType::kBinary)) {
      extra += " fixed";
    }
    if (c.compressed_unicode()) extra += " compressed";
    if (c.hyperlink()) extra += " hyperlink";
    if (c.calculated()) extra += " calculated: " + c.expression;
    std::snprintf(line, sizeof line, "    %-30s %-9s %-12s%s\n", c.name.c_str(),
                  ColumnTypeName(c.type), size.c_str(), extra.c_str());
    out += line;
  }
  if (!t.logical_indexes.empty()) out += "  Indexes:\n";
  for (const LogicalIndex& li : t.logical_indexes) {
    const PhysicalIndex& ix = t.physical_indexes[li.physical];
    std::string cols;
    for (const IndexColumn& ic : ix.columns) {
      const ColumnDef* c = t.FindColumnByNumber(ic.column_number);
      if (!cols.empty()) cols += ", ";
      cols += (c ? c->name : "?") + std::string(ic.ascending ? "" : " DESC");
    }
    std::string kind;
    if (li.primary()) kind += " primary";
    if (ix.unique()) kind += " unique";
    if (ix.ignore_nulls()) kind += " ignore-nulls";
    if (ix.required()) kind += " required";
    if (li.foreign()) kind += " foreign-key";
    out += "    " + li.name + " (" + cols + ")" + kind + "\n";
  }
  return out;
}

namespace {

// Reads the members of one JSON object, checking their types, and reports
// any key it was not told about. `where` names the object in messages.
class ObjectReader {
 public:
  ObjectReader(const JsonValue& object, std::string where)
      : object_(object), where_(std::move(where)) {}

  Status Error(const std::string& message) const {
    return Status::InvalidArgument("Table schema: " + where_ + ": " + message);
  }

  Status CheckObject() const {
    if (!object_.is_object()) {
      return Error(std::string("expected an object, found ") + JsonKindName(object_.kind()));
    }
    return Status::Ok();
  }

  // Every key must be one of `known`.
  Status CheckKeys(std::initializer_list<std::string_view> known) const {
    for (const auto& [key, value] : object_.members()) {
      bool found = false;
      for (std::string_view k : known) found = found || key == k;
      if (!found) return Error("unknown key " + JsonQuote(key));
    }
    return Status::Ok();
  }

  const JsonValue* Find(std::string_view key) const { return object_.Find(key); }
  // Names the object better once its name is known.
  void Rename(std::string where) { where_ = std::move(where); }

  Status String(std::string_view key, bool required, std::string* out) const {
    const JsonValue* v = object_.Find(key);
    if (!v) return required ? Error("\"" + std::string(key) + "\" is missing") : Status::Ok();
    if (!v->is_string()) return WrongType(key, "a string", *v);
    *out = v->text();
    return Status::Ok();
  }

  Status Bool(std::string_view key, bool* out) const {
    const JsonValue* v = object_.Find(key);
    if (!v) return Status::Ok();
    if (!v->is_bool()) return WrongType(key, "true or false", *v);
    *out = v->boolean();
    return Status::Ok();
  }

  Status Integer(std::string_view key, int64_t max, int64_t* out) const {
    const JsonValue* v = object_.Find(key);
    if (!v) return Status::Ok();
    int64_t n;
    if (!v->is_number() || !v->AsInt64(&n)) return WrongType(key, "a whole number", *v);
    if (n < 0 || n > max) {
      return Error("\"" + std::string(key) + "\" must be between 0 and " + std::to_string(max));
    }
    *out = n;
    return Status::Ok();
  }

  Status Array(std::string_view key, bool required, const std::vector<JsonValue>** out) const {
    static const std::vector<JsonValue> kEmpty;
    *out = &kEmpty;
    const JsonValue* v = object_.Find(key);
    if (!v) return required ? Error("\"" + std::string(key) + "\" is missing") : Status::Ok();
    if (!v->is_array()) return WrongType(key, "an array", *v);
    *out = &v->items();
    return Status::Ok();
  }

 private:
  Status WrongType(std::string_view key, const char* want, const JsonValue& v) const {
    return Error("\"" + std::string(key) + "\" must be " + want + ", not " +
                 (v.is_number() || v.is_string() ? v.text() : JsonKindName(v.kind())));
  }

  const JsonValue& object_;
  std::string where_;
};

Status ReadColumn(const JsonValue& json, size_t i, JetVersion from, JetVersion target,
                  ColumnSpec* c) {
  ObjectReader r(json, "column " + std::to_string(i + 1));
  JET_RETURN_IF_ERROR(r.CheckObject());
  JET_RETURN_IF_ERROR(r.String("name", true, &c->name));
  r.Rename("column " + JsonQuote(c->name));
  JET_RETURN_IF_ERROR(
      r.CheckKeys({"name", "type", "length", "precision", "scale", "fixed", "nullable",
                   "autonumber", "guid_autonumber", "hyperlink", "compressed_unicode", "sort_order",
                   "code_page", "number", "flags", "expression"}));
  if (r.Find("expression")) {
    return r.Error("is a calculated column, which this engine does not create (Access "
                   "computes its values)");
  }
  std::string type_name;
  JET_RETURN_IF_ERROR(r.String("type", true, &type_name));
  if (type_name == "Complex") {
    return r.Error("is an attachment or multi-valued field, which this engine does not create");
  }
  if (!ColumnTypeFromName(type_name, &c->type)) {
    return r.Error("unknown type " + JsonQuote(type_name) +
                   " (use Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, "
                   "Binary, Text, OLE, Memo, GUID, Decimal, BigInt or DateTimeExtended)");
  }
  int64_t n = 0;
  // Fixed-size types have a length of their own; only Text and Binary take
  // one from the schema.
  if (c->type == ColumnType::kText || c->type == ColumnType::kBinary) {
    JET_RETURN_IF_ERROR(r.Integer("length", 0xFFFF, &n));
    if (c->type == ColumnType::kText && from != target) {
      n = from == JetVersion::kJet3 ? n * 2 : n / 2;
    }
    if (n > 0xFFFF) return r.Error("\"length\" is too large");
    c->length = uint16_t(n);
    JET_RETURN_IF_ERROR(r.Bool("fixed", &c->fixed));
  }
  if (c->type == ColumnType::kNumeric) {
    n = c->precision;
    JET_RETURN_IF_ERROR(r.Integer("precision", 255, &n));
    c->precision = uint8_t(n);
    n = c->scale;
    JET_RETURN_IF_ERROR(r.Integer("scale", 255, &n));
    c->scale = uint8_t(n);
  }
  JET_RETURN_IF_ERROR(r.Bool("autonumber", &c->autonumber));
  JET_RETURN_IF_ERROR(r.Bool("guid_autonumber", &c->guid_autonumber));
  JET_RETURN_IF_ERROR(r.Bool("hyperlink", &c->hyperlink));
  JET_RETURN_IF_ERROR(r.Bool("compressed_unicode", &c->compressed_unicode));
  // The remaining keys describe the stored column and are settled by the
  // engine when it creates one; their types are still checked.
  bool ignored_bool = false;
  int64_t ignored_int = 0;
  JET_RETURN_IF_ERROR(r.Bool("nullable", &ignored_bool));
  if (c->type != ColumnType::kText && c->type != ColumnType::kBinary) {
    JET_RETURN_IF_ERROR(r.Integer("length", 0xFFFF, &ignored_int));
    JET_RETURN_IF_ERROR(r.Bool("fixed", &ignored_bool));
  }
  JET_RETURN_IF_ERROR(r.Integer("number", 0xFFFF, &ignored_int));
  JET_RETURN_IF_ERROR(r.Integer("flags", 0xFF, &ignored_int));
  JET_RETURN_IF_ERROR(r.Integer("code_page", 0xFFFF, &ignored_int));
  if (const JsonValue* order = r.Find("sort_order"); order && !order->is_object()) {
    return r.Error("\"sort_order\" must be an object");
  }
  return Status::Ok();
}

// False in *keep for a foreign-key index, which is skipped.
Status ReadIndex(const JsonValue& json, size_t i, IndexSpec* ix, bool* keep) {
  ObjectReader r(json, "index " + std::to_string(i + 1));
  JET_RETURN_IF_ERROR(r.CheckObject());
  JET_RETURN_IF_ERROR(r.String("name", true, &ix->name));
  r.Rename("index " + JsonQuote(ix->name));
  JET_RETURN_IF_ERROR(
      r.CheckKeys({"name", "columns", "primary", "unique", "ignore_nulls", "required",
                   "foreign_key", "related_table_page", "related_index", "cascade_updates",
                   "cascade_deletes", "physical_index", "root_page", "flags"}));
  bool foreign = false;
  JET_RETURN_IF_ERROR(r.Bool("foreign_key", &foreign));
  *keep = !foreign;
  if (foreign) return Status::Ok();
  JET_RETURN_IF_ERROR(r.Bool("primary", &ix->primary));
  JET_RETURN_IF_ERROR(r.Bool("unique", &ix->unique));
  JET_RETURN_IF_ERROR(r.Bool("ignore_nulls", &ix->ignore_nulls));
  JET_RETURN_IF_ERROR(r.Bool("required", &ix->required));
  const std::vector<JsonValue>* columns;
  JET_RETURN_IF_ERROR(r.Array("columns", true, &columns));
  for (size_t k = 0; k < columns->size(); ++k) {
    const JsonValue& cj = (*columns)[k];
    IndexColumnSpec col;
    if (cj.is_string()) {  // a bare column name: ascending
      col.name = cj.text();
    } else {
      ObjectReader cr(cj, "index " + JsonQuote(ix->name) + ", column " + std::to_string(k + 1));
      JET_RETURN_IF_ERROR(cr.CheckObject());
      JET_RETURN_IF_ERROR(cr.CheckKeys({"name", "ascending"}));
      JET_RETURN_IF_ERROR(cr.String("name", true, &col.name));
      JET_RETURN_IF_ERROR(cr.Bool("ascending", &col.ascending));
    }
    ix->columns.push_back(std::move(col));
  }
  return Status::Ok();
}

}  // namespace

Result<TableSpec> TableSpecFromJson(const JsonValue& json, JetVersion target) {
  TableSpec table;
  ObjectReader r(json, "table");
  JET_RETURN_IF_ERROR(r.CheckObject());
  JET_RETURN_IF_ERROR(r.String("name", true, &table.name));
  r.Rename("table " + JsonQuote(table.name));
  JET_RETURN_IF_ERROR(
      r.CheckKeys({"name", "format", "row_count", "last_autonumber", "columns", "indexes"}));
  std::string format;
  JET_RETURN_IF_ERROR(r.String("format", false, &format));
  JetVersion from = target;
  if (format == "jet3") {
    from = JetVersion::kJet3;
  } else if (format == "jet4") {
    from = JetVersion::kJet4;
  } else if (!format.empty()) {
    return r.Error("\"format\" must be \"jet3\" or \"jet4\", not " + JsonQuote(format));
  }
  int64_t ignored = 0;
  JET_RETURN_IF_ERROR(r.Integer("row_count", UINT32_MAX, &ignored));
  JET_RETURN_IF_ERROR(r.Integer("last_autonumber", UINT32_MAX, &ignored));

  const std::vector<JsonValue>* columns;
  JET_RETURN_IF_ERROR(r.Array("columns", true, &columns));
  for (size_t i = 0; i < columns->size(); ++i) {
    ColumnSpec c;
    JET_RETURN_IF_ERROR(ReadColumn((*columns)[i], i, from, target, &c));
    table.columns.push_back(std::move(c));
  }
  const std::vector<JsonValue>* indexes;
  JET_RETURN_IF_ERROR(r.Array("indexes", false, &indexes));
  for (size_t i = 0; i < indexes->size(); ++i) {
    IndexSpec ix;
    bool keep = true;
    JET_RETURN_IF_ERROR(ReadIndex((*indexes)[i], i, &ix, &keep));
    if (keep) table.indexes.push_back(std::move(ix));
  }
  return table;
}

Result<TableSpec> TableSpecFromJson(const std::string& json, JetVersion target) {
  auto parsed = ParseJson(json);
  if (!parsed.ok()) {
    return Status::InvalidArgument("Table schema: " + parsed.status().message());
  }
  return TableSpecFromJson(*parsed, target);
}

Result<std::vector<TableSpec>> TableSpecsFromJson(const std::string& json, JetVersion target) {
  auto parsed = ParseJson(json);
  if (!parsed.ok()) {
    return Status::InvalidArgument("Table schema: " + parsed.status().message());
  }
  std::vector<TableSpec> tables;
  if (!parsed->is_array()) {
    JET_ASSIGN_OR_RETURN(TableSpec table, TableSpecFromJson(*parsed, target));
    tables.push_back(std::move(table));
    return tables;
  }
  for (const JsonValue& item : parsed->items()) {
    JET_ASSIGN_OR_RETURN(TableSpec table, TableSpecFromJson(item, target));
    tables.push_back(std::move(table));
  }
  return tables;
}

}  // namespace jet
