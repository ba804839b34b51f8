// SPDX-License-Identifier: Apache-2.0
#include "jet/check/checker.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/format/usage_map.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"
#include "jet/index/packed_entries.h"

namespace jet {

namespace {

constexpr size_t kMaxProblemsPerIndex = 5;
constexpr uint32_t kMaxDepth = 32;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

// "1 row", "2 rows".
std::string Rows(size_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

// The entries of sorted `a` that sorted `b` lacks.
std::vector<std::vector<uint8_t>> Missing(const PackedEntries& a, const PackedEntries& b) {
  std::vector<std::vector<uint8_t>> out;
  size_t j = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    while (j < b.size() && EntryLess(b[j], a[i])) ++j;
    if (j < b.size() && !EntryLess(a[i], b[j])) {
      ++j;  // the same entry
      continue;
    }
    out.emplace_back(a[i].begin(), a[i].end());
  }
  return out;
}

class Checker {
 public:
  Checker(Database& db, CheckReport* report) : db_(db), pager_(db.pager()), report_(report) {}

  Status Run() {
    ReadFreePages();
    JET_RETURN_IF_ERROR(ScanPages());
    JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> tables, db_.ListTables(true));
    for (const CatalogEntry& t : tables) {
      auto def = db_.GetTable(t.name);
      if (!def.ok()) {
        Problem("table '" + t.name + "': " + def.status().ToString());
        continue;
      }
      CheckTable(**def, t.is_system());
    }
    return Status::Ok();
  }

 private:
  void Problem(const std::string& p) { report_->problems.push_back(p); }
  void Note(const std::string& n) { report_->notes.push_back(n); }

  // The pages that hold a table's definition and its usage maps are in use
  // for as long as the table is.
  void ExpectInUse(const std::string& where, const char* what, uint32_t page) {
    if (free_.count(page)) {
      Problem(where + ": page " + std::to_string(page) + ", which holds " + what +
              ", is marked free in the global usage map");
    }
  }
  void ExpectInUse(const std::string& where, const char* what, const UsageMap& map) {
    ExpectInUse(where, what, map.location.page);
    for (uint32_t p : map.map_pages) ExpectInUse(where, what, p);
  }

  // The pages the global usage map marks free. Access marks pages past the
  // end of the file too, ready for when the file grows; those are dropped.
  void ReadFreePages() {
    const uint32_t count = pager_.page_count();
    auto bits = [&](const uint8_t* p, size_t n, uint64_t first) {
      for (size_t i = 0; i < n; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
          const uint64_t page = first + i * 8 + uint64_t(bit);
          if ((p[i] >> bit & 1) && page < count) free_.insert(uint32_t(page));
        }
      }
    };
    PageRef holder;
    auto row = ReadRowBytes(pager_, kGlobalUsageMap, &holder);
    if (!row.ok()) {
      Problem("the global usage map: " + row.status().ToString());
    } else if (row->size() >= 5 && (*row)[0] == 0x00) {
      bits(row->data() + 5, row->size() - 5, Le32(row->data() + 1));
    } else if (row->size() >= 1 && (*row)[0] == 0x01) {
      const uint64_t per_page = uint64_t(pager_.page_size() - 4) * 8;
      for (size_t i = 0; 1 + 4 * i + 4 <= row->size(); ++i) {
        // Only bitmap pages that describe pages of the file are read: Access
        // leaves junk in the slots past them (0xFFFFFF80 in one of its Access
        // 2000 databases).
        const uint32_t map_page = Le32(row->data() + 1 + 4 * i);
        if (map_page == 0 || i * per_page >= count) continue;
        auto bitmap = pager_.ReadTyped(map_page, kPageUsageMap, "a usage bitmap page");
        if (!bitmap.ok()) {
          Problem("the global usage map: " + bitmap.status().ToString());
          continue;
        }
        bits((*bitmap)->bytes.data() + 4, pager_.page_size() - 4, i * per_page);
      }
    } else {
      Problem("the global usage map: page 1 row 0 holds no usage map");
    }
    report_->free_pages = free_.size();
  }

  // One pass over every page in use: data pages by owner, and their free
  // space.
  Status ScanPages() {
    report_->pages = pager_.page_count();
    for (uint32_t n = 1; n < pager_.page_count(); ++n) {
      if (free_.count(n)) continue;
      JET_RETURN_IF_ERROR(ExamineDataPage(n));
    }
    return Status::Ok();
  }

  Status ExamineDataPage(uint32_t n) {
    const Format& f = pager_.format();
    JET_ASSIGN_OR_RETURN(PageRef page, pager_.Read(n));
    if (page->type() != kPageData) return Status::Ok();
    const uint32_t owner = Le32(page->bytes.data() + f.data_owner);
    data_pages_[owner].insert(n);
    for (uint32_t r = 0;
         r < RowSlotCount(*page, f) && f.data_first_row_slot + 2 * r + 2 <= f.page_size; ++r) {
      if (!(Le16(page->bytes.data() + f.data_first_row_slot + 2 * r) & kRowDeletedFlag)) {
        pages_with_rows_[owner].insert(n);
        break;
      }
    }
    const uint32_t count = RowSlotCount(*page, f);
    if (f.data_first_row_slot + 2 * count > f.page_size) {
      Problem("page " + std::to_string(n) + ": row table runs past the page");
      return Status::Ok();
    }
    if (owner != kLongValueOwner) NoteMovedRows(*page, owner);
    const uint32_t lowest =
        count == 0
            ? f.page_size
            : (Le16(page->bytes.data() + f.data_first_row_slot + 2 * (count - 1)) & kRowOffsetMask);
    const int64_t expected =
        int64_t(f.page_size) - f.data_first_row_slot - 2 * int64_t(count) - (f.page_size - lowest);
    const uint16_t stored = Le16(page->bytes.data() + f.data_free_space);
    if (expected != stored) {
      Problem("page " + std::to_string(n) + ": free space says " + std::to_string(stored) +
              ", its rows leave " + std::to_string(expected));
    }
    return Status::Ok();
  }

  // Moved rows on a page of `owner`: the copies (flagged 0x8000 alone) and
  // where the forwarding pointers (0x4000 alone) lead.
  void NoteMovedRows(const Page& page, uint32_t owner) {
    const Format& f = pager_.format();
    const uint8_t* p = page.bytes.data();
    const uint32_t count = RowSlotCount(page, f);
    for (uint32_t r = 0; r < count; ++r) {
      const uint16_t raw = Le16(p + f.data_first_row_slot + 2 * r);
      const uint16_t flags = raw & (kRowDeletedFlag | kRowOverflowFlag);
      if (flags == kRowDeletedFlag) {
        moved_copies_[owner].insert(RowPointer{page.number, uint8_t(r)}.raw());
      } else if (flags == kRowOverflowFlag) {
        const uint32_t start = raw & kRowOffsetMask;
        const uint32_t end =
            r == 0 ? f.page_size : (Le16(p + f.data_first_row_slot + 2 * (r - 1)) & kRowOffsetMask);
        // A pointer with impossible bounds is the row scan's to report.
        if (start + 4 > end || end > f.page_size) continue;
        const RowPointer to = RowPointer::FromRaw(Le32(p + start));
        ++pointed_at_[owner][to.raw()];
        if (free_.count(to.page)) {
          Problem("page " + std::to_string(page.number) + " row " + std::to_string(r) +
                  ": its row moved to page " + std::to_string(to.page) +
                  ", which is marked free in the global usage map");
        }
      }
    }
  }

  // Every moved copy of the table is the row of exactly one pointer. One
  // that none leads to was left behind by a delete or a second move: scans
  // that do not follow pointers (mdbtools) read it as a row of its own, and
  // its room is never used again.
  void CheckMovedRows(const TableDef& t, const std::string& where) {
    const auto& pointed = pointed_at_[t.tdef_page];
    for (uint32_t raw : moved_copies_[t.tdef_page]) {
      const RowPointer copy = RowPointer::FromRaw(raw);
      const auto it = pointed.find(raw);
      const size_t n = it == pointed.end() ? 0 : it->second;
      if (n == 1) continue;
      Problem(
          where + ": page " + std::to_string(copy.page) + " row " + std::to_string(copy.row) +
          " is a moved row that " +
          (n == 0 ? "no row points to (an orphaned copy)" : std::to_string(n) + " rows point to"));
    }
  }

  // Rows of one index whose keys could not be rebuilt: each must still have
  // exactly one entry, but its key bytes are not compared.
  struct Unrebuilt {
    std::map<uint32_t, size_t> entries;  // raw row pointer -> entries found
    size_t unsupported = 0;              // rows the engine cannot encode
    std::string unsupported_reason;      // the first of them
    size_t failed = 0;                   // rows whose values give no key
    std::string failed_reason;
  };

  void CheckTable(const TableDef& t, bool system) {
    ++report_->tables;
    const std::string where = "table '" + t.name + "'";
    for (uint32_t p : t.tdef_pages) ExpectInUse(where, "its definition", p);
    // Rows, read once: for each index, the entry each row must have. Only
    // the entries are kept, never the rows, so memory follows the keys.
    const size_t n_indexes = t.physical_indexes.size();
    std::vector<PackedEntries> expected(n_indexes);
    // Where Access versions key a row differently, the entries other
    // versions would have made, each with the one `expected` holds.
    std::vector<std::map<std::vector<uint8_t>, std::vector<uint8_t>>> variants(n_indexes);
    std::vector<Unrebuilt> unrebuilt(n_indexes);
    size_t row_count = 0;
    TableScanner scan(db_, std::make_shared<const TableDef>(t));
    std::vector<Value> values;
    RowId id;
    while (true) {
      auto more = scan.Next(&values, &id);
      if (!more.ok()) {
        Problem(where + ": " + more.status().ToString());
        return;
      }
      if (!*more) break;
      ++row_count;
      const RowPointer at{id.page, uint8_t(id.row)};
      for (size_t i = 0; i < n_indexes; ++i) {
        const PhysicalIndex& ix = t.physical_indexes[i];
        bool all_null = true;
        for (const IndexColumn& ic : ix.columns) {
          const ColumnDef* c = t.FindColumnByNumber(ic.column_number);
          if (c == nullptr) continue;  // EncodeIndexKey reports it
          const Value& v = values[size_t(c - t.columns.data())];
          if (!v.null || c->type == ColumnType::kBoolean) all_null = false;
        }
        if (ix.ignore_nulls() && all_null) continue;
        IndexEntry e;
        std::vector<std::vector<uint8_t>> keys;
        Status s = PossibleIndexKeys(t, ix, values, db_.header(), &keys);
        if (s.ok() && keys.empty()) s = Status::Corrupt("no key for a row");
        if (!s.ok()) {
          Unrebuilt& u = unrebuilt[i];
          u.entries[at.raw()] = 0;
          const bool unsupported = s.kind() == ErrorKind::kUnsupported;
          if ((unsupported ? u.unsupported++ : u.failed++) == 0) {
            (unsupported ? u.unsupported_reason : u.failed_reason) = s.message();
          }
          continue;
        }
        e.row = at;
        e.key = std::move(keys[0]);
        const std::vector<uint8_t> entry = EntryBytes(e);
        expected[i].Add(ByteView(entry.data(), entry.size()));
        for (size_t k = 1; k < keys.size(); ++k) variants[i][EntryBytes(keys[k], at)] = entry;
      }
    }
    report_->rows += row_count;
    // Access brings a table's row count up to date when it compacts the
    // database; until then a count that is off is tolerated (as are those
    // of its own system tables, which it does not keep exact at all).
    if (row_count != t.row_count && !system) {
      Note(where + ": holds " + std::to_string(row_count) + " rows, its definition says " +
           std::to_string(t.row_count));
    }

    // The table's page map against the pages that say they are its.
    auto owned = ReadUsageMap(pager_, t.owned_pages);
    if (!owned.ok()) {
      Problem(where + ": page map: " + owned.status().ToString());
    } else {
      ExpectInUse(where, "its page map", *owned);
      std::set<uint32_t> in_map(owned->pages.begin(), owned->pages.end());
      // A page that the map lists is in use whatever it holds: marked free,
      // Access would give it to the next table or index that grows.
      for (uint32_t p : in_map) {
        if (!free_.count(p)) continue;
        Problem(where + ": its page map lists page " + std::to_string(p) +
                ", which the global usage map marks free");
        if (auto s = ExamineDataPage(p); !s.ok()) Problem(where + ": " + s.ToString());
      }
      // A page with live rows that the map misses would hide them from every
      // reader. Pages whose rows are all deleted may drop out of the map
      // (Access leaves such pages behind in its own databases), and Access
      // does not hold its own system tables to this either: one of its
      // Access 2000 databases keeps a page of MSysNavPaneObjectIDs rows
      // outside that table's map.
      for (uint32_t p : pages_with_rows_[t.tdef_page]) {
        if (!in_map.count(p) && !system) {
          Problem(where + ": data page " + std::to_string(p) +
                  " holds rows but is missing from the table's page map");
        }
      }
      for (uint32_t p : in_map) {
        if (!data_pages_[t.tdef_page].count(p)) {
          Problem(where + ": its page map lists page " + std::to_string(p) +
                  ", which holds no rows of the table");
        }
      }
    }
    CheckMovedRows(t, where);

    for (size_t i = 0; i < n_indexes; ++i) {
      CheckIndex(t, t.physical_indexes[i], system, std::move(expected[i]), variants[i],
                 &unrebuilt[i]);
    }
  }

  void CheckIndex(const TableDef& t, const PhysicalIndex& ix, bool system, PackedEntries expected,
                  const std::map<std::vector<uint8_t>, std::vector<uint8_t>>& variants,
                  Unrebuilt* unrebuilt) {
    ++report_->indexes;
    std::string name = "#" + std::to_string(ix.number);
    for (const LogicalIndex& li : t.logical_indexes) {
      if (li.physical == ix.number) {
        name = li.name;
        break;
      }
    }
    const std::string where = "table '" + t.name + "', index '" + name + "'";
    size_t reported = 0;
    auto problem = [&](const std::string& p) {
      if (reported++ < kMaxProblemsPerIndex) Problem(where + ": " + p);
    };
    if (unrebuilt->failed) {
      problem("cannot rebuild the key of " + Rows(unrebuilt->failed) + ": " +
              unrebuilt->failed_reason);
    }
    expected.Sort();

    // What the tree holds, as it orders it (each tagged with its raw row
    // pointer, its key's size as extra), and whether its shape is sound.
    PackedEntries found;
    std::set<uint32_t> pages;
    std::vector<uint8_t> max;
    std::map<uint32_t, std::vector<uint32_t>> levels;  // depth -> pages, left to right
    Status s = Visit(t, ix.root_page, 0, &found, &pages, &levels, &max, problem);
    if (!s.ok()) {
      problem(s.ToString());
      return;
    }
    report_->index_entries += found.size();
    size_t distinct = 0;
    for (size_t i = 0; i < found.size(); ++i) {
      if (i > 0 && !EntryLess(found[i - 1], found[i])) {
        problem("entries out of order at position " + std::to_string(i));
        break;
      }
      if (i == 0 || found.extra(i - 1) != found.extra(i) ||
          !std::equal(found[i].begin(), found[i].begin() + long(found.extra(i)),
                      found[i - 1].begin())) {
        ++distinct;
      }
    }
    // Sibling links on every level.
    for (const auto& [depth, list] : levels) {
      for (size_t i = 0; i < list.size(); ++i) {
        auto page = ReadIndexPage(pager_, list[i]);
        if (!page.ok()) continue;
        uint32_t want_prev = i ? list[i - 1] : 0, want_next = i + 1 < list.size() ? list[i + 1] : 0;
        if (page->prev != want_prev || page->next != want_next) {
          problem("page " + std::to_string(list[i]) + " links to " + std::to_string(page->prev) +
                  "/" + std::to_string(page->next) + ", its neighbours are " +
                  std::to_string(want_prev) + "/" + std::to_string(want_next));
        }
      }
    }
    // Entries against rows: by their bytes where the key could be rebuilt,
    // by their row pointers where it could not.
    const size_t entries = found.size();
    if (!unrebuilt->entries.empty()) {
      found.Filter([&](size_t i) {
        auto it = unrebuilt->entries.find(found.tag(i));
        if (it == unrebuilt->entries.end()) return true;
        ++it->second;
        return false;
      });
    }
    found.Sort();
    std::vector<std::vector<uint8_t>> missing = Missing(expected, found);
    std::vector<std::vector<uint8_t>> extra = Missing(found, expected);
    // An entry another Access version would have made stands for the row.
    std::set<std::vector<uint8_t>> stood_for;
    std::erase_if(extra, [&](const std::vector<uint8_t>& e) {
      auto v = variants.find(e);
      if (v == variants.end()) return false;
      stood_for.insert(v->second);
      return true;
    });
    std::erase_if(missing, [&](const std::vector<uint8_t>& m) { return stood_for.count(m) > 0; });
    for (const auto& m : missing) problem("no entry for a row: expected " + Hex(m));
    for (const auto& e : extra) problem("entry matches no row: " + Hex(e));
    for (const auto& [raw, n] : unrebuilt->entries) {
      if (n == 1) continue;
      const RowPointer row = RowPointer::FromRaw(raw);
      problem((n == 0 ? std::string("no entry") : std::to_string(n) + " entries") +
              " for the row at page " + std::to_string(row.page) + " row " +
              std::to_string(row.row) + ", whose key cannot be rebuilt");
    }
    if (unrebuilt->unsupported) {
      report_->unverified_entries += unrebuilt->unsupported;
      report_->unverified.push_back(
          where + ": " + std::to_string(unrebuilt->unsupported) + " of " + std::to_string(entries) +
          " entries not verified (their keys cannot be rebuilt): " + unrebuilt->unsupported_reason);
    }
    // Access counts an index's distinct keys, and brings the count up to
    // date when it compacts the database; as with row counts, it does not
    // keep those of its own system tables exact at all.
    if (distinct != ix.row_count && !system) {
      Note(where + ": holds " + std::to_string(distinct) + " distinct keys, its definition says " +
           std::to_string(ix.row_count));
    }
    auto map = ReadUsageMap(pager_, ix.usage_map);
    if (!map.ok()) {
      problem("page map: " + map.status().ToString());
    } else {
      ExpectInUse(where, "its page map", *map);
      std::set<uint32_t> in_map(map->pages.begin(), map->pages.end());
      for (uint32_t p : pages) {
        if (!in_map.count(p)) {
          problem("page " + std::to_string(p) + " is missing from its page map");
        }
      }
    }
  }

  template <typename ProblemFn>
  Status Visit(const TableDef& t, uint32_t number, uint32_t depth, PackedEntries* found,
               std::set<uint32_t>* pages, std::map<uint32_t, std::vector<uint32_t>>* levels,
               std::vector<uint8_t>* max, ProblemFn& problem) {
    if (depth > kMaxDepth) return pager_.CorruptAt(number, "index tree is impossibly deep");
    if (!pages->insert(number).second) {
      return pager_.CorruptAt(number, "index page " + std::to_string(number) + " is reached twice");
    }
    (*levels)[depth].push_back(number);
    if (free_.count(number)) {
      problem("page " + std::to_string(number) +
              " is in its tree, but the global usage map marks it free");
    }
    JET_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(pager_, number));
    if (page.owner != t.tdef_page) {
      problem("page " + std::to_string(number) + " belongs to table page " +
              std::to_string(page.owner));
    }
    max->clear();
    if (page.leaf) {
      for (const IndexEntry& e : page.entries) {
        const std::vector<uint8_t> entry = EntryBytes(e);
        found->Add(ByteView(entry.data(), entry.size()), e.row.raw(), uint16_t(e.key.size()));
      }
      if (!page.entries.empty()) *max = EntryBytes(page.entries.back());
      return Status::Ok();
    }
    std::vector<uint8_t> child_max;
    for (const IndexEntry& e : page.entries) {
      JET_RETURN_IF_ERROR(Visit(t, e.child, depth + 1, found, pages, levels, &child_max, problem));
      if (child_max != EntryBytes(e)) {
        problem("intermediate page " + std::to_string(number) + " names child " +
                std::to_string(e.child) + " by an entry that is not the child's largest");
      }
      *max = child_max;
    }
    if (page.tail != 0) {
      JET_RETURN_IF_ERROR(
          Visit(t, page.tail, depth + 1, found, pages, levels, &child_max, problem));
      *max = child_max;
    }
    return Status::Ok();
  }

  Database& db_;
  Pager& pager_;
  CheckReport* report_;
  std::set<uint32_t> free_;                                    // as the global usage map says
  std::map<uint32_t, std::set<uint32_t>> data_pages_;          // owner -> data pages
  std::map<uint32_t, std::set<uint32_t>> pages_with_rows_;     // owner -> pages with live rows
  std::map<uint32_t, std::set<uint32_t>> moved_copies_;        // owner -> raw row pointers
  std::map<uint32_t, std::map<uint32_t, size_t>> pointed_at_;  // owner -> target -> pointers
};

}  // namespace

Result<CheckReport> CheckDatabase(Database& db) {
  CheckReport report;
  Checker checker(db, &report);
  JET_RETURN_IF_ERROR(checker.Run());
  return report;
}

}  // namespace jet
