// SPDX-License-Identifier: Apache-2.0
// Relationships between tables, and the referential integrity Access keeps
// for them on every insert, update and delete.
//
// A relationship is described twice. The catalog table MSysRelationships
// has one row per column pair:
//
//   column              meaning
//   szRelationship      the relationship's name
//   grbit               flags (below)
//   ccolumn             number of column pairs
//   icolumn             position of this pair, from 0
//   szObject            the referencing table (the "many" side)
//   szColumn            its column
//   szReferencedObject  the referenced table (the "one" side)
//   szReferencedColumn  its column
//
//   grbit    meaning
//   0x0001   one-to-one
//   0x0002   referential integrity is not enforced
//   0x0004   inherited (the tables are linked from another database)
//   0x0100   cascade updates
//   0x1000   cascade deletes
//   0x2000   deletes set the referencing columns to null
//   0x01000000, 0x02000000  left / right outer join (for queries only)
//
// A relationship whose integrity is enforced also has a foreign-key logical
// index (type 2) on each of its tables, and those are what Jet enforces:
//
//   field                on the referencing table     on the referenced table
//   name                 the relationship's name      ".rA", ".rB", ...
//   physical index       the foreign-key columns      shared with the primary
//                                                     key (or unique index)
//   related table type   0x02                         0x01
//   related table page   TDEF of the referenced       TDEF of the referencing
//   related index        number of the ".rX" index    number of the named index
//   cascade updates      1 if updates cascade (the same on both sides)
//   cascade deletes      1 if deletes cascade (format notes give 2 for
//                        "set null"; TableDef keeps only non-zero, so the
//                        catalog's grbit tells the two apart)
//
// The indexes, not grbit, decide what is enforced: a relationship without
// enforced integrity has no such indexes, and nothing to keep.
//
// The rules, applied after a writer has put its change in the pager's batch
// and before it commits:
//   - a referencing row whose foreign-key columns are all non-null must match
//     a row of the referenced table (looked up by key in its index);
//   - a referenced row that rows still refer to may only be deleted if the
//     relationship cascades deletes (the referencing rows go too) or sets
//     null (their foreign-key columns become null), and its key may only
//     change if the relationship cascades updates (the referencing rows
//     follow).
// Cascaded changes go through TableWriter, into the same batch, so they
// obey every rule (indexes, further relationships) themselves, and the whole
// operation commits or is refused as one.

#ifndef JET_TABLE_RELATIONSHIPS_H_
#define JET_TABLE_RELATIONSHIPS_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/db/database.h"

namespace jet {

constexpr uint32_t kRelationshipOneToOne = 0x0001;
constexpr uint32_t kRelationshipNotEnforced = 0x0002;
constexpr uint32_t kRelationshipInherited = 0x0004;
constexpr uint32_t kRelationshipCascadeUpdates = 0x0100;
constexpr uint32_t kRelationshipCascadeDeletes = 0x1000;
constexpr uint32_t kRelationshipCascadeNulls = 0x2000;

// The related-table-type byte of a foreign-key logical index.
constexpr uint8_t kReferencedSide = 0x01;
constexpr uint8_t kReferencingSide = 0x02;

// One relationship as MSysRelationships lists it.
struct Relationship {
  std::string name;
  uint32_t flags = 0;
  std::string table;  // referencing
  std::vector<std::string> columns;
  std::string referenced_table;
  std::vector<std::string> referenced_columns;  // paired with `columns`

  bool enforced() const { return !(flags & kRelationshipNotEnforced); }
};

// Every relationship in MSysRelationships, in catalog order. A database
// without that table has none.
Result<std::vector<Relationship>> ReadRelationships(Database& db);

// The hooks TableWriter calls once a change to a row of `table` is in the
// pager's batch. Each refuses, with kConstraint, a change that would break
// an enforced relationship, and carries out the cascades the relationship
// asks for, in the same batch.
class RelationshipEnforcer {
 public:
  RelationshipEnforcer(Database& db, const TableDef& table) : db_(db), table_(table) {}
  ~RelationshipEnforcer();

  Status AfterInsert(const std::vector<Value>& row);
  Status AfterUpdate(const std::vector<Value>& old_row, const std::vector<Value>& new_row);
  Status AfterDelete(const std::vector<Value>& row);

 private:
  struct Link;

  // The relationships of every foreign-key index of the table on `side`.
  Status Links(uint8_t side, std::vector<Link>* links);
  Result<std::shared_ptr<const TableDef>> TableAt(uint32_t tdef_page);
  Status AlignByCatalog(Link* link);
  Status RequireReferencedRow(const Link& link, const std::vector<Value>& row);
  // Up to `limit` rows of the referencing table that refer to `row`, a row
  // of the referenced table.
  Status Referencing(const Link& link, const std::vector<Value>& row, size_t limit,
                     std::vector<RowPointer>* rows);
  // Changes (or, with `remove`, deletes) up to `count` rows that refer to
  // `old_row`: their foreign key takes the key of `new_row`, or null when
  // there is none.
  Status Cascade(const Link& link, const std::vector<Value>& old_row,
                 const std::vector<Value>* new_row, bool remove, size_t count);
  std::string StillReferenced(const Link& link, size_t rows, const std::vector<Value>& row) const;

  Database& db_;
  const TableDef& table_;
  std::vector<CatalogEntry> catalog_;
  bool catalog_read_ = false;
  std::vector<Relationship> relationships_;
  bool relationships_read_ = false;
  // Definitions this enforcer loaded, dropped from the database's cache when
  // it is done: they may reflect the open batch, which can still be rolled
  // back.
  std::vector<uint32_t> loaded_;
};

}  // namespace jet

#endif  // JET_TABLE_RELATIONSHIPS_H_
