#include "schema_json.h"

#include <cstdio>

namespace jet {

namespace {

const char* Bool(bool b) { return b ? "true" : "false"; }

std::string ColumnSize(const ColumnDef& c, const Format& f) {
  switch (c.type) {
    case ColumnType::kText:
      return std::to_string(f.version == JetVersion::kJet4 ? c.length / 2 : c.length) + " chars";
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
  const Format& f = db.format();
  std::string out = "{\n  \"name\": " + JsonQuote(t.name) + ",\n";
  out += "  \"format\": \"" + std::string(f.version == JetVersion::kJet3 ? "jet3" : "jet4") +
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
    if (c.flags & kColumnAutoGuid) out += ", \"guid_autonumber\": true";
    if (c.flags & kColumnHyperlink) out += ", \"hyperlink\": true";
    if (IsTextual(c.type)) {
      if (f.version == JetVersion::kJet4) {
        out += ", \"compressed_unicode\": " + std::string(Bool(c.compressed_unicode()));
      }
      out += ", \"sort_order\": {\"lcid\": " + std::to_string(c.sort_order.lcid) +
             ", \"version\": " + std::to_string(c.sort_order.version) + "}";
      if (f.version == JetVersion::kJet3) out += ", \"code_page\": " + std::to_string(c.code_page);
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
  const Format& f = db.format();
  std::string out = "Table " + t.name + " (" + std::to_string(t.row_count) + " rows)\n";
  out += "  Columns:\n";
  for (const ColumnDef& c : t.columns) {
    char line[512];
    std::string size = ColumnSize(c, f);
    std::string extra;
    if (c.flags & kColumnAutoLong) extra += " autonumber";
    if (c.flags & kColumnAutoGuid) extra += " guid-autonumber";
    if (c.fixed() && (c.type == ColumnType::kText || c.type == ColumnType::kBinary)) {
      extra += " fixed";
    }
    if (c.compressed_unicode()) extra += " compressed";
    if (c.flags & kColumnHyperlink) extra += " hyperlink";
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

}  // namespace jet
