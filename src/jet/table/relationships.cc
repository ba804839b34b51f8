// SPDX-License-Identifier: Apache-2.0
#include "jet/table/relationships.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "jet/index/index_key.h"
#include "jet/index/index_page.h"
#include "jet/table/table_writer.h"

namespace jet {

namespace {

constexpr uint32_t kMaxTreeDepth = 32;
// Cascades run through nested writers, one level of the call stack each; a
// chain deeper than this (or a cycle of cascades) is refused.
constexpr int kMaxCascadeDepth = 64;

thread_local int cascade_depth = 0;

class CascadeLevel {
 public:
  CascadeLevel() { ++cascade_depth; }
  ~CascadeLevel() { --cascade_depth; }
  CascadeLevel(const CascadeLevel&) = delete;
  CascadeLevel& operator=(const CascadeLevel&) = delete;
};


// Up to `limit` rows whose entries in `index` carry exactly `key`: descends
// to the first entry at or after the key, then walks right along the leaves.
Status FindRows(Pager& pager, const TableDef& table, const PhysicalIndex& index,
                const std::vector<uint8_t>& key, size_t limit, std::vector<RowPointer>* rows) {
  rows->clear();
  std::vector<uint8_t> probe = key;
  probe.insert(probe.end(), 4, 0);
  auto load = [&](uint32_t number) -> Result<IndexPage> {
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(pager, number));
    if (page.owner != table.tdef_page) {
      return pager.CorruptAt(number, "Index page " + std::to_string(number) + " of table '" +
                                         table.name + "' belongs to another table");
    }
    return page;
  };
  JET_ASSIGN_OR_RETURN(IndexPage node, load(index.root_page));
  for (uint32_t depth = 0; !node.leaf; ++depth) {
    if (depth > kMaxTreeDepth || (node.entries.empty() && node.tail == 0)) {
      return pager.CorruptAt(node.number, "An index of table '" + table.name + "' is damaged");
    }
    // The first child whose largest entry is at or after the probe; past
    // them all, the tail (or, without one, the last child).
    uint32_t child = node.tail != 0 ? node.tail : node.entries.back().child;
    for (const IndexEntry& e : node.entries) {
      if (EntryBytes(e) >= probe) {
        child = e.child;
        break;
      }
    }
    JET_ASSIGN_OR_RETURN(node, load(child));
  }
  for (uint32_t pages = 0;; ++pages) {
    for (const IndexEntry& e : node.entries) {
      if (EntryBytes(e) < probe) continue;
      if (e.key != key) return Status::Ok();  // past the key
      rows->push_back(e.row);
      if (rows->size() >= limit) return Status::Ok();
    }
    if (node.next == 0) return Status::Ok();
    if (pages > pager.page_count()) {
      return pager.CorruptAt(node.number, "An index's leaf pages form a loop");
    }
    JET_ASSIGN_OR_RETURN(node, load(node.next));
  }
}

bool IsNull(const TableDef& table, const std::vector<Value>& row, size_t column) {
  // Booleans are never null, in an index as anywhere.
  return row[column].null && table.columns[column].type != ColumnType::kBoolean;
}

// "id = 7", "code = 'AB', n = 2": the values of a key, for messages.
std::string Describe(const TableDef& table, const std::vector<size_t>& columns,
                     const std::vector<Value>& row) {
  std::string out;
  for (size_t c : columns) {
    if (!out.empty()) out += ", ";
    out += table.columns[c].name + " = ";
    if (row[c].null) {
      out += "Null";
    } else if (IsTextual(table.columns[c].type)) {
      out += "'" + row[c].ToText() + "'";
    } else {
      out += row[c].ToText();
    }
  }
  return out;
}

}  // namespace

Result<std::vector<Relationship>> ReadRelationships(Database& db) {
  std::vector<Relationship> out;
  auto def = db.GetTable("MSysRelationships");
  if (!def.ok()) {
    if (def.status().kind() == ErrorKind::kNotFound) return out;
    return def.TakeStatus();
  }
  const TableDef& t = **def;
  const char* names[] = {"szRelationship",    "grbit",    "icolumn",
                         "szObject",          "szColumn", "szReferencedObject",
                         "szReferencedColumn"};
  size_t pos[7];
  for (int i = 0; i < 7; ++i) {
    const ColumnDef* c = t.FindColumn(names[i]);
    if (!c) {
      return Status::Corrupt(std::string("The catalog table MSysRelationships lacks the column ") +
                             names[i])
          .AtFile(db.path());
    }
    pos[i] = size_t(c - t.columns.data());
  }
  // Column pairs by relationship, in icolumn order.
  std::map<std::string, std::map<int64_t, std::pair<std::string, std::string>>> pairs;
  TableScanner scan(db, *def);
  std::vector<Value> row;
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next(&row));
    if (!more) break;
    const std::string& name = row[pos[0]].bytes;
    auto it =
        std::find_if(out.begin(), out.end(), [&](const Relationship& r) { return r.name == name; });
    if (it == out.end()) {
      Relationship r;
      r.name = name;
      r.flags = uint32_t(row[pos[1]].integer);
      r.table = row[pos[3]].bytes;
      r.referenced_table = row[pos[5]].bytes;
      out.push_back(std::move(r));
    }
    pairs[name][row[pos[2]].integer] = {row[pos[4]].bytes, row[pos[6]].bytes};
  }
  for (Relationship& r : out) {
    for (const auto& [icolumn, pair] : pairs[r.name]) {
      r.columns.push_back(pair.first);
      r.referenced_columns.push_back(pair.second);
    }
  }
  return out;
}

// One enforced relationship of the table, as its two foreign-key indexes
// describe it. foreign_columns[i] (of the referencing table) pairs with
// key_columns[i] (of the referenced table); both are positions in their
// table's column order.
struct RelationshipEnforcer::Link {
  std::string name;
  std::shared_ptr<const TableDef> referencing;
  std::shared_ptr<const TableDef> referenced;
  const PhysicalIndex* foreign_index = nullptr;
  const PhysicalIndex* key_index = nullptr;
  std::vector<size_t> foreign_columns;
  std::vector<size_t> key_columns;
  bool cascade_updates = false;
  bool cascade_deletes = false;  // delete the referencing rows, or set null
};

RelationshipEnforcer::~RelationshipEnforcer() {
  for (uint32_t page : loaded_) db_.ForgetTable(page);
}

Result<std::shared_ptr<const TableDef>> RelationshipEnforcer::TableAt(uint32_t tdef_page) {
  if (!catalog_read_) {
    JET_ASSIGN_OR_RETURN(catalog_, db_.ListTables(true));
    catalog_read_ = true;
  }
  for (const CatalogEntry& e : catalog_) {
    if (e.tdef_page() != tdef_page) continue;
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> def, db_.GetTable(e.name));
    if (tdef_page != table_.tdef_page) loaded_.push_back(tdef_page);
    return def;
  }
  return Status::Corrupt("Table '" + table_.name + "' has a relationship with the table on page " +
                         std::to_string(tdef_page) + ", which the catalog does not list")
      .AtFile(db_.path());
}

Status RelationshipEnforcer::Links(uint8_t side, std::vector<Link>* links) {
  links->clear();
  for (const LogicalIndex& own : table_.logical_indexes) {
    if (!own.foreign() || own.related_index < 0) continue;
    const bool referenced_side = own.related_table_type == kReferencedSide;
    if (referenced_side != (side == kReferencedSide)) continue;
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> other, TableAt(own.related_table_page));
    // The table's own definition as the database holds it, which a nested
    // writer can share.
    JET_ASSIGN_OR_RETURN(std::shared_ptr<const TableDef> self, TableAt(table_.tdef_page));
    const LogicalIndex* pair = nullptr;
    for (const LogicalIndex& li : other->logical_indexes) {
      if (li.number == uint32_t(own.related_index)) pair = &li;
    }
    if (!pair || !pair->foreign() || pair->related_table_page != table_.tdef_page ||
        pair->related_index != int32_t(own.number) ||
        (pair->related_table_type == kReferencedSide) == referenced_side ||
        own.physical >= self->physical_indexes.size() ||
        pair->physical >= other->physical_indexes.size()) {
      return Status::Corrupt("The relationship indexes '" + own.name + "' of table '" +
                             table_.name + "' and #" + std::to_string(own.related_index) +
                             " of table '" + other->name + "' do not describe each other")
          .AtFile(db_.path());
    }
    Link link;
    const PhysicalIndex& other_index = other->physical_indexes[pair->physical];
    if (referenced_side) {
      link.name = pair->name;
      link.referencing = other;
      link.referenced = self;
      link.foreign_index = &other_index;
      link.key_index = &self->physical_indexes[own.physical];
    } else {
      link.name = own.name;
      link.referencing = self;
      link.referenced = other;
      link.foreign_index = &self->physical_indexes[own.physical];
      link.key_index = &other_index;
    }
    link.cascade_updates = own.cascade_updates;
    link.cascade_deletes = own.cascade_deletes;
    // Paired by position unless MSysRelationships pairs them otherwise.
    if (link.foreign_index->columns.size() != link.key_index->columns.size() ||
        link.key_index->columns.empty()) {
      return Status::Corrupt("The indexes of relationship '" + link.name +
                             "' do not have the same number of columns")
          .AtFile(db_.path());
    }
    auto position = [](const TableDef& t, uint16_t number) -> Result<size_t> {
      const ColumnDef* c = t.FindColumnByNumber(number);
      if (!c) {
        return Status::Corrupt("An index of table '" + t.name + "' names column number " +
                               std::to_string(number) + ", which does not exist");
      }
      return size_t(c - t.columns.data());
    };
    for (size_t i = 0; i < link.key_index->columns.size(); ++i) {
      JET_ASSIGN_OR_RETURN(
          size_t f, position(*link.referencing, link.foreign_index->columns[i].column_number));
      JET_ASSIGN_OR_RETURN(size_t k,
                           position(*link.referenced, link.key_index->columns[i].column_number));
      link.foreign_columns.push_back(f);
      link.key_columns.push_back(k);
    }
    if (link.key_columns.size() > 1) JET_RETURN_IF_ERROR(AlignByCatalog(&link));
    for (size_t i = 0; i < link.key_columns.size(); ++i) {
      const ColumnDef& f = link.referencing->columns[link.foreign_columns[i]];
      const ColumnDef& k = link.referenced->columns[link.key_columns[i]];
      if (f.type != k.type) {
        return Status::Unsupported("Relationship '" + link.name + "' pairs column '" + f.name +
                                   "' (" + ColumnTypeName(f.type) + ") with column '" + k.name +
                                   "' (" + ColumnTypeName(k.type) +
                                   "); this engine keeps relationships only between columns of "
                                   "one type, as Access creates them")
            .AtFile(db_.path());
      }
    }
    links->push_back(std::move(link));
  }
  return Status::Ok();
}

Status RelationshipEnforcer::AlignByCatalog(Link* link) {
  if (!relationships_read_) {
    JET_ASSIGN_OR_RETURN(relationships_, ReadRelationships(db_));
    relationships_read_ = true;
  }
  for (const Relationship& r : relationships_) {
    if (!NamesEqual(r.name, link->name) || !NamesEqual(r.table, link->referencing->name)) continue;
    std::vector<size_t> keys;
    for (size_t f : link->foreign_columns) {
      const std::string& name = link->referencing->columns[f].name;
      size_t j = 0;
      while (j < r.columns.size() && !NamesEqual(r.columns[j], name)) ++j;
      const ColumnDef* k =
          j < r.columns.size() ? link->referenced->FindColumn(r.referenced_columns[j]) : nullptr;
      if (!k) break;
      keys.push_back(size_t(k - link->referenced->columns.data()));
    }
    std::vector<size_t> sorted_keys = keys, sorted_index = link->key_columns;
    std::sort(sorted_keys.begin(), sorted_keys.end());
    std::sort(sorted_index.begin(), sorted_index.end());
    if (sorted_keys != sorted_index) {
      return Status::Corrupt("MSysRelationships and the indexes of relationship '" + link->name +
                             "' name different columns")
          .AtFile(db_.path());
    }
    link->key_columns = std::move(keys);
    return Status::Ok();
  }
  return Status::Ok();
}

Status RelationshipEnforcer::RequireReferencedRow(const Link& link, const std::vector<Value>& row) {
  const TableDef& referenced = *link.referenced;
  std::vector<Value> key_row(referenced.columns.size());
  for (size_t c = 0; c < key_row.size(); ++c) key_row[c].type = referenced.columns[c].type;
  for (size_t i = 0; i < link.foreign_columns.size(); ++i) {
    // A foreign key with a null part refers to nothing.
    if (IsNull(*link.referencing, row, link.foreign_columns[i])) return Status::Ok();
    key_row[link.key_columns[i]] = row[link.foreign_columns[i]];
    key_row[link.key_columns[i]].type = referenced.columns[link.key_columns[i]].type;
  }
  std::vector<uint8_t> key;
  JET_RETURN_IF_ERROR(EncodeIndexKey(referenced, *link.key_index, key_row, db_.header(), &key));
  std::vector<RowPointer> found;
  JET_RETURN_IF_ERROR(FindRows(db_.pager(), referenced, *link.key_index, key, 1, &found));
  if (!found.empty()) return Status::Ok();
  return Status::Error(ErrorKind::kConstraint, "The change would break the relationship '" +
                                                   link.name + "': no row of '" + referenced.name +
                                                   "' has " +
                                                   Describe(referenced, link.key_columns, key_row));
}

Status RelationshipEnforcer::Referencing(const Link& link, const std::vector<Value>& row,
                                         size_t limit, std::vector<RowPointer>* rows) {
  rows->clear();
  const TableDef& referencing = *link.referencing;
  std::vector<Value> foreign_row(referencing.columns.size());
  for (size_t c = 0; c < foreign_row.size(); ++c) foreign_row[c].type = referencing.columns[c].type;
  for (size_t i = 0; i < link.key_columns.size(); ++i) {
    if (IsNull(*link.referenced, row, link.key_columns[i])) return Status::Ok();
    foreign_row[link.foreign_columns[i]] = row[link.key_columns[i]];
    foreign_row[link.foreign_columns[i]].type = referencing.columns[link.foreign_columns[i]].type;
  }
  std::vector<uint8_t> key;
  JET_RETURN_IF_ERROR(
      EncodeIndexKey(referencing, *link.foreign_index, foreign_row, db_.header(), &key));
  return FindRows(db_.pager(), referencing, *link.foreign_index, key, limit, rows);
}

Status RelationshipEnforcer::Cascade(const Link& link, const std::vector<Value>& old_row,
                                     const std::vector<Value>* new_row, bool remove, size_t count) {
  if (cascade_depth >= kMaxCascadeDepth) {
    return Status::Unsupported("The cascades of relationship '" + link.name + "' reach more than " +
                               std::to_string(kMaxCascadeDepth) + " levels deep");
  }
  CascadeLevel level;
  std::unique_ptr<TableWriter> writer(new TableWriter(db_, link.referencing));
  writer->within_change_ = true;
  // One row at a time, looked up afresh: each change takes its row out of
  // the old key's entries, and a cascade further down may have reached
  // some of the rows already.
  std::vector<RowPointer> rows;
  for (size_t n = 0; n < count; ++n) {
    JET_RETURN_IF_ERROR(Referencing(link, old_row, 1, &rows));
    if (rows.empty()) break;
    const RowId id{rows[0].page, rows[0].row};
    if (remove) {
      JET_RETURN_IF_ERROR(writer->Delete(id));
      continue;
    }
    std::vector<Value> values;
    JET_RETURN_IF_ERROR(writer->Read(id, &values));
    for (size_t i = 0; i < link.foreign_columns.size(); ++i) {
      Value& v = values[link.foreign_columns[i]];
      const ColumnType type = v.type;
      v = new_row ? (*new_row)[link.key_columns[i]] : Value();  // no new row: set null
      v.type = type;
    }
    JET_RETURN_IF_ERROR(writer->Update(id, std::move(values)));
  }
  return Status::Ok();
}

std::string RelationshipEnforcer::StillReferenced(const Link& link, size_t rows,
                                                  const std::vector<Value>& row) const {
  return "The change would break the relationship '" + link.name +
         "': " + (rows == 1 ? "a row" : std::to_string(rows) + " rows") + " of '" +
         link.referencing->name + (rows == 1 ? "' refers" : "' refer") + " to the row of '" +
         table_.name + "' with " + Describe(table_, link.key_columns, row);
}

Status RelationshipEnforcer::AfterInsert(const std::vector<Value>& row) {
  std::vector<Link> links;
  JET_RETURN_IF_ERROR(Links(kReferencingSide, &links));
  for (const Link& link : links) JET_RETURN_IF_ERROR(RequireReferencedRow(link, row));
  return Status::Ok();
}

Status RelationshipEnforcer::AfterUpdate(const std::vector<Value>& old_row,
                                         const std::vector<Value>& new_row) {
  std::vector<Link> links;
  std::vector<uint8_t> old_key, new_key;
  const DatabaseHeader& header = db_.header();
  JET_RETURN_IF_ERROR(Links(kReferencingSide, &links));
  for (const Link& link : links) {
    // A foreign key that keeps its key is left alone.
    const TableDef& t = *link.referencing;
    JET_RETURN_IF_ERROR(EncodeIndexKey(t, *link.foreign_index, old_row, header, &old_key));
    JET_RETURN_IF_ERROR(EncodeIndexKey(t, *link.foreign_index, new_row, header, &new_key));
    if (old_key != new_key) JET_RETURN_IF_ERROR(RequireReferencedRow(link, new_row));
  }

  JET_RETURN_IF_ERROR(Links(kReferencedSide, &links));
  std::vector<size_t> counts(links.size());
  for (size_t i = 0; i < links.size(); ++i) {
    const Link& link = links[i];
    const TableDef& t = *link.referenced;
    JET_RETURN_IF_ERROR(EncodeIndexKey(t, *link.key_index, old_row, header, &old_key));
    JET_RETURN_IF_ERROR(EncodeIndexKey(t, *link.key_index, new_row, header, &new_key));
    if (old_key == new_key) continue;
    std::vector<RowPointer> rows;
    JET_RETURN_IF_ERROR(Referencing(link, old_row, SIZE_MAX, &rows));
    counts[i] = rows.size();
    if (!rows.empty() && !link.cascade_updates) {
      return Status::Error(ErrorKind::kConstraint,
                           StillReferenced(link, rows.size(), old_row) +
                               ", and the relationship does not cascade updates");
    }
  }
  for (size_t i = 0; i < links.size(); ++i) {
    if (counts[i] > 0) JET_RETURN_IF_ERROR(Cascade(links[i], old_row, &new_row, false, counts[i]));
  }
  return Status::Ok();
}

Status RelationshipEnforcer::AfterDelete(const std::vector<Value>& row) {
  std::vector<Link> links;
  JET_RETURN_IF_ERROR(Links(kReferencedSide, &links));
  // Refusals first, so that a refused delete cascades nothing.
  std::vector<size_t> counts(links.size());
  for (size_t i = 0; i < links.size(); ++i) {
    std::vector<RowPointer> rows;
    JET_RETURN_IF_ERROR(Referencing(links[i], row, SIZE_MAX, &rows));
    counts[i] = rows.size();
    if (!rows.empty() && !links[i].cascade_deletes) {
      return Status::Error(ErrorKind::kConstraint,
                           StillReferenced(links[i], rows.size(), row) +
                               ", and the relationship does not cascade deletes");
    }
  }
  for (size_t i = 0; i < links.size(); ++i) {
    if (counts[i] == 0) continue;
    // The index says only that deletes cascade; the catalog tells deleting
    // the referencing rows from setting their foreign key to null.
    if (!relationships_read_) {
      JET_ASSIGN_OR_RETURN(relationships_, ReadRelationships(db_));
      relationships_read_ = true;
    }
    bool set_null = false;
    for (const Relationship& r : relationships_) {
      if (NamesEqual(r.name, links[i].name) && NamesEqual(r.table, links[i].referencing->name)) {
        set_null =
            (r.flags & kRelationshipCascadeNulls) && !(r.flags & kRelationshipCascadeDeletes);
      }
    }
    JET_RETURN_IF_ERROR(Cascade(links[i], row, nullptr, !set_null, counts[i]));
  }
  return Status::Ok();
}

}  // namespace jet
