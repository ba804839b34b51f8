// SPDX-License-Identifier: Apache-2.0
#include "jet/check/checker.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "jet/check/scratch_file.h"
#include "jet/format/row.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"

namespace jet {

namespace {

constexpr size_t kMaxProblemsPerIndex = 5;
constexpr size_t kMaxListed = 10;  // pages or rows named in one message
constexpr uint32_t kMaxDepth = 32;

std::string Hex(ByteView bytes) {
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

std::string At(RowPointer p) {
  return "page " + std::to_string(p.page) + " row " + std::to_string(p.row);
}

// Where Access versions key a row differently: each entry another version
// would have made, with the one the checker expects.
using Variants = std::map<std::vector<uint8_t>, std::vector<uint8_t>>;

// The entries an index holds, in entry order, against those its rows call
// for (sorted): what is missing and what matches no row. An entry another
// Access version would have made stands for the row's expected one. Only
// the first few of each are kept, with their counts.
class EntryComparison {
 public:
  EntryComparison(EntryRuns* expected, const File* runs, const Variants& variants)
      : expected_(expected), runs_(runs), variants_(variants) {
    for (const auto& [variant, entry] : variants) targets_.insert(entry);
  }

  Status Start() {
    JET_RETURN_IF_ERROR(expected_->Start(runs_));
    JET_ASSIGN_OR_RETURN(have_, expected_->Next());
    return Status::Ok();
  }

  // The next entry the index holds; each is larger than the one before.
  Status Found(ByteView f) {
    while (have_ && EntryLess(expected_->entry(), f)) {
      Missing(expected_->entry());
      JET_ASSIGN_OR_RETURN(have_, expected_->Next());
    }
    if (have_ && !EntryLess(f, expected_->entry())) {  // the same entry
      JET_ASSIGN_OR_RETURN(have_, expected_->Next());
      return Status::Ok();
    }
    if (!variants_.empty()) {
      auto v = variants_.find(std::vector<uint8_t>(f.begin(), f.end()));
      if (v != variants_.end()) {
        stood_for_.insert(v->second);
        return Status::Ok();
      }
    }
    if (extra_.size() < kMaxProblemsPerIndex) extra_.push_back(Hex(f));
    return Status::Ok();
  }

  Status Finish() {
    while (have_) {
      Missing(expected_->entry());
      JET_ASSIGN_OR_RETURN(have_, expected_->Next());
    }
    for (const auto& m : pending_) {
      if (!stood_for_.count(m) && missing_.size() < kMaxProblemsPerIndex)
        missing_.push_back(Hex(m));
    }
    return Status::Ok();
  }

  const std::vector<std::string>& missing() const { return missing_; }
  const std::vector<std::string>& extra() const { return extra_; }

 private:
  void Missing(ByteView m) {
    if (!targets_.empty()) {
      std::vector<uint8_t> entry(m.begin(), m.end());
      if (targets_.count(entry)) {
        pending_.push_back(std::move(entry));
        return;
      }
    }
    if (missing_.size() < kMaxProblemsPerIndex) missing_.push_back(Hex(m));
  }

  EntryRuns* expected_;
  const File* runs_;
  const Variants& variants_;
  std::set<std::vector<uint8_t>> targets_;     // expected entries that have variants
  std::set<std::vector<uint8_t>> stood_for_;   // of those, the ones a variant stood for
  std::vector<std::vector<uint8_t>> pending_;  // of those, the ones missing as such
  bool have_ = false;
  std::vector<std::string> missing_, extra_;
};

// Ranges of page numbers, for messages: "34-52, 61, 63".
std::string PageRanges(const std::vector<uint32_t>& pages) {
  std::string out;
  size_t ranges = 0;
  for (size_t i = 0; i < pages.size();) {
    size_t j = i;
    while (j + 1 < pages.size() && pages[j + 1] == pages[j] + 1) ++j;
    if (ranges++ == kMaxListed) {
      out += ", ...";
      break;
    }
    if (!out.empty()) out += ", ";
    out += std::to_string(pages[i]);
    if (j > i) out += "-" + std::to_string(pages[j]);
    i = j + 1;
  }
  return out;
}

class Checker {
 public:
  Checker(Database& db, const CheckOptions& options, CheckReport* report)
      : db_(db),
        pager_(db.pager()),
        options_(options),
        report_(report),
        scratch_(db.pager().path(), !db.pager().encoded()) {}

  Status Run() {
    page_.assign(pager_.page_count(), 0);
    owner_.assign(pager_.page_count(), 0);
    Own(0);  // the header
    Own(kGlobalUsageMap.page);
    ReadFreePages();
    JET_RETURN_IF_ERROR(ScanPages());
    JET_ASSIGN_OR_RETURN(std::vector<CatalogEntry> tables, db_.ListTables(true));
    for (const CatalogEntry& t : tables) {
      auto def = db_.GetTable(t.name);
      if (!def.ok()) {
        Problem("table '" + t.name + "': " + def.status().ToString());
        complete_ = false;
        continue;
      }
      JET_RETURN_IF_ERROR(CheckTable(**def, t.is_system()));
    }
    // Without the free pages, or every table's pages and rows, what no one
    // holds or refers to is not known.
    if (complete_) {
      CheckLongValues();
      CheckOwnedPages();
    }
    return Status::Ok();
  }

 private:
  // What the page scan and the tables say of each page.
  enum : uint8_t {
    kFree = 1,   // marked free in the global usage map
    kOwned = 2,  // something holds it: see Own
    kData = 4,   // a data page (owner_ says whose)
    kLive = 8,   // a data page with a live row
  };

  void Problem(const std::string& p) { report_->problems.push_back(p); }
  void Note(const std::string& n) { report_->notes.push_back(n); }

  bool Is(uint32_t page, uint8_t flag) const { return page < page_.size() && (page_[page] & flag); }
  bool IsFree(uint32_t page) const { return Is(page, kFree); }
  void Own(uint32_t page) {
    if (page < page_.size()) page_[page] |= kOwned;
  }
  void Own(const UsageMap& map, bool with_pages) {
    Own(map.location.page);
    for (uint32_t p : map.map_pages) Own(p);
    if (with_pages) {
      for (uint32_t p : map.pages) Own(p);
    }
  }

  // The pages that hold a table's definition and its usage maps are in use
  // for as long as the table is.
  void ExpectInUse(const std::string& where, const char* what, uint32_t page) {
    if (IsFree(page)) {
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
  // A page the map does not reach (past the end of an inline map's window,
  // or of a reference map's bitmap pages) cannot be marked free at all: it
  // counts as in use.
  void ReadFreePages() {
    const uint32_t count = pager_.page_count();
    auto bits = [&](const uint8_t* p, size_t n, uint64_t first) {
      for (size_t i = 0; i < n; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
          const uint64_t page = first + i * 8 + uint64_t(bit);
          if ((p[i] >> bit & 1) && page < count && !(page_[page] & kFree)) {
            page_[page] |= kFree;
            ++report_->free_pages;
          }
        }
      }
    };
    PageRef holder;
    auto row = ReadRowBytes(pager_, kGlobalUsageMap, &holder);
    if (!row.ok()) {
      Problem("the global usage map: " + row.status().ToString());
      complete_ = false;
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
        Own(map_page);
        auto bitmap = pager_.ReadTyped(map_page, kPageUsageMap, "a usage bitmap page");
        if (!bitmap.ok()) {
          Problem("the global usage map: " + bitmap.status().ToString());
          complete_ = false;
          continue;
        }
        bits((*bitmap)->bytes.data() + 4, pager_.page_size() - 4, i * per_page);
      }
    } else {
      Problem("the global usage map: page 1 row 0 holds no usage map");
      complete_ = false;
    }
  }

  // One pass over every page in use: data pages by owner, their free space,
  // and the live long-value rows.
  Status ScanPages() {
    report_->pages = pager_.page_count();
    for (uint32_t n = 1; n < pager_.page_count(); ++n) {
      if (IsFree(n)) continue;
      JET_RETURN_IF_ERROR(ExamineDataPage(n, true));
    }
    return Status::Ok();
  }

  Status ExamineDataPage(uint32_t n, bool in_use) {
    const Format& f = pager_.format();
    JET_ASSIGN_OR_RETURN(PageRef page, pager_.Read(n));
    if (page->type() != kPageData) return Status::Ok();
    const uint32_t owner = Le32(page->bytes.data() + f.data_owner);
    page_[n] |= kData;
    owner_[n] = owner;
    const uint32_t count = RowSlotCount(*page, f);
    for (uint32_t r = 0; r < count && f.data_first_row_slot + 2 * r + 2 <= f.page_size; ++r) {
      if (Le16(page->bytes.data() + f.data_first_row_slot + 2 * r) & kRowDeletedFlag) continue;
      page_[n] |= kLive;
      if (owner != kLongValueOwner || !in_use) break;
      long_value_rows_.push_back(RowPointer{n, uint8_t(r)}.raw());
    }
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
        if (IsFree(to.page)) {
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
  // its room is never used again. Access 2007 and later leave such copies
  // (the .accdb corpus: HassanUrRahimKhan__...__SignupDetails.accdb page
  // 205, Sharonwg26__HR__Data.accdb page 184), so there it is a note; a
  // copy that two rows lead to is damage in any file.
  void CheckMovedRows(const TableDef& t, const std::string& where) {
    const auto& pointed = pointed_at_[t.tdef_page];
    for (uint32_t raw : moved_copies_[t.tdef_page]) {
      const RowPointer copy = RowPointer::FromRaw(raw);
      const auto it = pointed.find(raw);
      const size_t n = it == pointed.end() ? 0 : it->second;
      if (n == 1) continue;
      const std::string what =
          where + ": page " + std::to_string(copy.page) + " row " + std::to_string(copy.row) +
          " is a moved row that " +
          (n == 0 ? "no row points to (an orphaned copy)" : std::to_string(n) + " rows point to");
      if (n == 0 && pager_.format().ace) {
        Note(what + ", as Access leaves them; mdbtools reads it as a row");
      } else {
        Problem(what);
      }
    }
  }

  // A usage map that `where` keeps (its pages and, if `with_pages`, the
  // pages it lists belong to it); false if it cannot be read.
  bool ReadMap(const std::string& where, const char* what, RowPointer at, bool with_pages,
               UsageMap* map) {
    auto read = ReadUsageMap(pager_, at);
    if (!read.ok()) {
      Problem(where + ": " + what + ": " + read.status().ToString());
      complete_ = false;
      return false;
    }
    *map = std::move(*read);
    ExpectInUse(where, what, *map);
    Own(*map, with_pages);
    return true;
  }

  // Whether an index of the table keys on the column.
  static bool Indexed(const TableDef& t, const ColumnDef& c) {
    for (const PhysicalIndex& ix : t.physical_indexes) {
      for (const IndexColumn& ic : ix.columns) {
        if (ic.column_number == c.number) return true;
      }
    }
    return false;
  }

  // The long-value rows a memo or OLE field (its 12-byte header) refers to:
  // its one row, or every piece of its chain.
  void NoteLongValue(ByteView field) {
    // The row's decoding has followed the value already; damage is
    // reported there, and the rows found before it count here.
    std::vector<RowPointer> rows;
    (void)LongValueRows(pager_, field, 0, &rows);
    for (RowPointer at : rows) long_value_refs_.push_back(at.raw());
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

  // Intermediate entries that name their child by an entry above the
  // child's largest. Access leaves them when deletes take the child's last
  // entries and it does not lower the entry above: the Nwind.mdb of an
  // Access 2000 sample project names leaf 399 of MSysQueries's
  // ObjectIdAttribute index (root page 10) by ObjectId 0x3C, while the leaf
  // ends at 0x37 and the next leaf begins at 0x40. A search still goes to
  // the right leaf as long as every entry after such a separator is above
  // it; those are notes. One that is not above it is a problem.
  struct RaisedSeparators {
    struct Separator {
      std::vector<uint8_t> entry;
      uint32_t page, child;
    };
    size_t count = 0;
    std::vector<std::string> first;  // "page 10 child 399"
    std::vector<Separator> pending;  // those the next leaf entry has yet to follow

    void Tolerate(const Separator& s) {
      if (count++ < kMaxListed)
        first.push_back("page " + std::to_string(s.page) + " child " + std::to_string(s.child));
    }
  };

  Status CheckTable(const TableDef& t, bool system) {
    ++report_->tables;
    const std::string where = "table '" + t.name + "'";
    for (uint32_t p : t.tdef_pages) {
      ExpectInUse(where, "its definition", p);
      Own(p);
    }
    UsageMap map;
    if (!t.free_space_pages.null())
      ReadMap(where, "its free-space map", t.free_space_pages, true, &map);
    // Each memo and OLE column keeps the long-value pages it uses, and
    // those with room, in maps of its own.
    for (const LongValueMaps& lv : t.long_value_maps) {
      const ColumnDef* c = t.FindColumnByNumber(lv.column_number);
      const std::string column =
          where + ", column '" + (c ? c->name : "#" + std::to_string(lv.column_number)) + "'";
      if (!lv.free_pages.null())
        ReadMap(column, "its long-value page map", lv.free_pages, true, &map);
      if (lv.used_pages.null() ||
          !ReadMap(column, "its long-value page map", lv.used_pages, true, &map)) {
        continue;
      }
      for (uint32_t p : map.pages) long_value_column_[p] = long_value_columns_.size();
      long_value_columns_.push_back(LongValueColumn{column, system});
    }

    // Rows, read once: for each index, the entry each row must have. Only
    // the entries are kept, never the rows, and past the memory allowed
    // they go to the scratch file as sorted runs.
    const size_t n_indexes = t.physical_indexes.size();
    std::vector<EntryRuns> expected(n_indexes);
    std::vector<Variants> variants(n_indexes);
    std::vector<Unrebuilt> unrebuilt(n_indexes);
    size_t row_count = 0;
    TableScanner scan(db_, std::make_shared<const TableDef>(t));
    std::vector<Value> values(t.columns.size());
    const RowView* view = nullptr;
    RowId id;
    size_t unreadable = 0;  // memo and OLE values
    while (true) {
      auto more = scan.NextView(&view, &id);
      Status s = more.status();
      for (size_t i = 0; s.ok() && *more && i < view->size(); ++i) {
        s = view->Decode(i, &values[i]);
        const FieldView& f = (*view)[i];
        if (!f.null && IsLongValue(t.columns[i].type)) {
          NoteLongValue(ByteView(f.data, f.size));
          // A memo or OLE value that cannot be read is that value's damage;
          // the row and the others are still checked, unless an index keys
          // on it.
          if (s.kind() == ErrorKind::kCorrupt && !Indexed(t, t.columns[i])) {
            if (unreadable++ < kMaxProblemsPerIndex) {
              Problem(where + ", column '" + t.columns[i].name + "', " +
                      At(RowPointer{id.page, uint8_t(id.row)}) + ": " + s.ToString());
            }
            values[i] = Value();
            values[i].type = t.columns[i].type;
            s = Status::Ok();
          }
        }
      }
      if (!s.ok()) {
        Problem(where + ": " + s.ToString());
        complete_ = false;
        return Status::Ok();
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
        s = PossibleIndexKeys(t, ix, values, db_.header(), &keys);
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
      size_t memory = 0;
      for (const EntryRuns& x : expected) memory += x.memory();
      if (memory > options_.memory) {
        for (EntryRuns& x : expected) JET_RETURN_IF_ERROR(scratch_.Spill(x));
      }
    }
    report_->rows += row_count;
    if (unreadable > kMaxProblemsPerIndex) {
      Problem(where + ": " + std::to_string(unreadable - kMaxProblemsPerIndex) +
              " more memo or OLE values that cannot be read");
    }
    // Access brings a table's row count up to date when it compacts the
    // database; until then a count that is off is tolerated (as are those
    // of its own system tables, which it does not keep exact at all).
    if (row_count != t.row_count && !system) {
      Note(where + ": holds " + std::to_string(row_count) + " rows, its definition says " +
           std::to_string(t.row_count));
    }

    // The table's page map against the pages that say they are its.
    if (ReadMap(where, "its page map", t.owned_pages, true, &map)) {
      const std::vector<uint32_t>& in_map = map.pages;  // ascending
      auto listed = [&](uint32_t p) { return std::binary_search(in_map.begin(), in_map.end(), p); };
      // A page that the map lists is in use whatever it holds: marked free,
      // Access would give it to the next table or index that grows.
      for (uint32_t p : in_map) {
        if (!IsFree(p)) continue;
        Problem(where + ": its page map lists page " + std::to_string(p) +
                ", which the global usage map marks free");
        if (auto s = ExamineDataPage(p, false); !s.ok()) Problem(where + ": " + s.ToString());
      }
      // A page with live rows that the map misses would hide them from every
      // reader. Pages whose rows are all deleted may drop out of the map
      // (Access leaves such pages behind in its own databases), and Access
      // does not hold its own system tables to this either: one of its
      // Access 2000 databases keeps a page of MSysNavPaneObjectIDs rows
      // outside that table's map. Such a page is still the table's.
      for (uint32_t p = 0; p < page_.size(); ++p) {
        if ((page_[p] & (kData | kLive)) != (kData | kLive) || owner_[p] != t.tdef_page) continue;
        Own(p);
        if (!listed(p) && !system) {
          Problem(where + ": data page " + std::to_string(p) +
                  " holds rows but is missing from the table's page map");
        }
      }
      for (uint32_t p : in_map) {
        if (!Is(p, kData) || owner_[p] != t.tdef_page) {
          Problem(where + ": its page map lists page " + std::to_string(p) +
                  ", which holds no rows of the table");
        }
      }
    }
    CheckMovedRows(t, where);

    const size_t problems = report_->problems.size();
    for (size_t i = 0; i < n_indexes; ++i) {
      JET_RETURN_IF_ERROR(
          CheckIndex(t, t.physical_indexes[i], system, expected[i], variants[i], &unrebuilt[i]));
      expected[i] = EntryRuns();  // its memory goes now
    }
    if (report_->problems.size() == problems) sound_indexes_[t.tdef_page] = t.name;
    scratch_.Reuse();  // the next table's runs take the same room
    return Status::Ok();
  }

  Status CheckIndex(const TableDef& t, const PhysicalIndex& ix, bool system,
                    EntryRuns& expected, const Variants& variants, Unrebuilt* unrebuilt) {
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

    // The tree's entries, as it orders them, go straight to the comparison
    // with the rows' while they are in order. Entries whose keys could not
    // be rebuilt are counted by their row pointers instead.
    EntryComparison compare(&expected, scratch_.file(), variants);
    JET_RETURN_IF_ERROR(compare.Start());
    std::vector<uint8_t> prev;
    size_t prev_key = 0, entries = 0, distinct = 0;
    bool in_order = true;
    Status compared;
    auto take = [&](const IndexEntry& e, ByteView entry) {
      if (entries++ > 0) {
        if (in_order && !EntryLess(ByteView(prev.data(), prev.size()), entry)) {
          problem("entries out of order at position " + std::to_string(entries - 1));
          in_order = false;
        }
        if (prev_key != e.key.size() || !std::equal(e.key.begin(), e.key.end(), prev.begin())) {
          ++distinct;
        }
      } else {
        distinct = 1;
      }
      prev.assign(entry.begin(), entry.end());
      prev_key = e.key.size();
      if (!unrebuilt->entries.empty()) {
        auto it = unrebuilt->entries.find(e.row.raw());
        if (it != unrebuilt->entries.end()) {
          ++it->second;
          return;
        }
      }
      if (in_order && compared.ok()) compared = compare.Found(entry);
    };
    std::set<uint32_t> pages;
    std::vector<uint8_t> max;
    std::map<uint32_t, std::vector<uint32_t>> levels;  // depth -> pages, left to right
    RaisedSeparators raised;
    Status s = Visit(t, ix.root_page, 0, &pages, &levels, &max, &raised, problem, take);
    if (!s.ok()) {
      problem(s.ToString());
      complete_ = false;
      return Status::Ok();
    }
    for (const auto& sep : raised.pending) raised.Tolerate(sep);  // the last entries
    if (raised.count) {
      std::string list;
      for (const std::string& at : raised.first) list += (list.empty() ? "" : ", ") + at;
      if (raised.count > raised.first.size()) list += ", ...";
      Note(where + ": " + std::to_string(raised.count) + " intermediate " +
           (raised.count == 1 ? "entry is above its child's" : "entries are above their child's") +
           " largest (" + list + "), as deletes leave them; the tree is still in order");
    }
    JET_RETURN_IF_ERROR(compared);
    report_->index_entries += entries;
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
    if (in_order) {
      JET_RETURN_IF_ERROR(compare.Finish());
      ReportDifferences(compare, problem);
    } else {
      // Out of order, the entries are sorted first (a second walk of the
      // tree, whose shape has been reported on already).
      EntryRuns found;
      auto keep = [&](const IndexEntry& e, ByteView entry) {
        if (unrebuilt->entries.count(e.row.raw())) return;
        found.Add(entry);
        if (found.memory() > options_.memory && compared.ok()) compared = scratch_.Spill(found);
      };
      auto quiet = [](const std::string&) {};
      std::set<uint32_t> pages_again;
      std::map<uint32_t, std::vector<uint32_t>> levels_again;
      JET_RETURN_IF_ERROR(
          Visit(t, ix.root_page, 0, &pages_again, &levels_again, &max, nullptr, quiet, keep));
      JET_RETURN_IF_ERROR(compared);
      EntryComparison again(&expected, scratch_.file(), variants);
      JET_RETURN_IF_ERROR(again.Start());
      JET_RETURN_IF_ERROR(found.Start(scratch_.file()));
      while (true) {
        JET_ASSIGN_OR_RETURN(bool more, found.Next());
        if (!more) break;
        JET_RETURN_IF_ERROR(again.Found(found.entry()));
      }
      JET_RETURN_IF_ERROR(again.Finish());
      ReportDifferences(again, problem);
    }
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
    UsageMap map;
    if (ReadMap(where, "its page map", ix.usage_map, true, &map)) {
      for (uint32_t p : pages) {
        if (!std::binary_search(map.pages.begin(), map.pages.end(), p)) {
          problem("page " + std::to_string(p) + " is missing from its page map");
        }
      }
    }
    return Status::Ok();
  }

  template <typename ProblemFn>
  static void ReportDifferences(const EntryComparison& c, ProblemFn& problem) {
    for (const auto& m : c.missing()) problem("no entry for a row: expected " + m);
    for (const auto& e : c.extra()) problem("entry matches no row: " + e);
  }

  // Walks the tree from `number`, handing each leaf entry to `take` in
  // tree order. Separators above their child's largest go to `raised`
  // (none on a second walk).
  template <typename ProblemFn, typename TakeFn>
  Status Visit(const TableDef& t, uint32_t number, uint32_t depth, std::set<uint32_t>* pages,
               std::map<uint32_t, std::vector<uint32_t>>* levels, std::vector<uint8_t>* max,
               RaisedSeparators* raised, ProblemFn& problem, TakeFn& take) {
    if (depth > kMaxDepth) return pager_.CorruptAt(number, "index tree is impossibly deep");
    if (!pages->insert(number).second) {
      return pager_.CorruptAt(number, "index page " + std::to_string(number) + " is reached twice");
    }
    Own(number);
    (*levels)[depth].push_back(number);
    if (IsFree(number)) {
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
      std::vector<uint8_t> entry;
      // The first entry after a raised separator, in whichever leaf it is.
      if (raised && !raised->pending.empty() && !page.entries.empty()) {
        entry = EntryBytes(page.entries.front());
        for (const auto& sep : raised->pending) {
          if (EntryLess(ByteView(sep.entry.data(), sep.entry.size()),
                        ByteView(entry.data(), entry.size()))) {
            raised->Tolerate(sep);
          } else {
            problem("intermediate page " + std::to_string(sep.page) + " names child " +
                    std::to_string(sep.child) + " by an entry above the child's largest, " +
                    "but not below the entry after it (on page " + std::to_string(number) + ")");
          }
        }
        raised->pending.clear();
      }
      for (const IndexEntry& e : page.entries) {
        entry = EntryBytes(e);
        take(e, ByteView(entry.data(), entry.size()));
      }
      if (!page.entries.empty()) *max = std::move(entry);
      return Status::Ok();
    }
    std::vector<uint8_t> child_max;
    for (const IndexEntry& e : page.entries) {
      JET_RETURN_IF_ERROR(
          Visit(t, e.child, depth + 1, pages, levels, &child_max, raised, problem, take));
      std::vector<uint8_t> separator = EntryBytes(e);
      if (child_max.empty()) {
        problem("intermediate page " + std::to_string(number) + " names child " +
                std::to_string(e.child) + ", which holds no entries");
      } else if (EntryLess(ByteView(separator.data(), separator.size()),
                           ByteView(child_max.data(), child_max.size()))) {
        problem("intermediate page " + std::to_string(number) + " names child " +
                std::to_string(e.child) + " by an entry below the child's largest");
      } else if (raised && child_max != separator) {
        raised->pending.push_back({std::move(separator), number, e.child});
      }
      *max = child_max;
    }
    if (page.tail != 0) {
      JET_RETURN_IF_ERROR(
          Visit(t, page.tail, depth + 1, pages, levels, &child_max, raised, problem, take));
      *max = child_max;
    }
    return Status::Ok();
  }

  // Live long-value rows that no row refers to, neither a table's row nor
  // another long value's chain. A writer that replaces or deletes a memo
  // and forgets to free it leaves one; its room is lost for good. On pages
  // a user table's column lists, that is a problem.
  //
  // Access leaves some: testV2000, testV2003 and testRefGlobalV2000
  // (tests/data/access; one database, the same pages in each) hold 663 live
  // long-value rows, one each on pages 35-36, 38-89, 92-145 and 147-702,
  // that nothing refers to and no column's long-value map lists: 223
  // chains of two pieces whose data begins "MR2" (Access's own form and
  // report storage), and 217 rows more. Those are notes. So are the
  // orphans of system tables' columns, which no file here shows: Access
  // writes those values itself (properties, forms), and it is known to
  // leave its own long values behind.
  void CheckLongValues() {
    std::sort(long_value_refs_.begin(), long_value_refs_.end());
    struct Orphans {
      size_t count = 0;
      std::vector<RowPointer> first;
    };
    std::map<size_t, Orphans> by_column;  // kNoColumn: on a page no column lists
    for (uint32_t raw : long_value_rows_) {
      if (std::binary_search(long_value_refs_.begin(), long_value_refs_.end(), raw)) continue;
      const RowPointer row = RowPointer::FromRaw(raw);
      const auto c = long_value_column_.find(row.page);
      Orphans& o = by_column[c == long_value_column_.end() ? kNoColumn : c->second];
      if (o.count++ < kMaxListed) o.first.push_back(row);
    }
    for (const auto& [column, o] : by_column) {
      std::string rows;
      for (RowPointer p : o.first) rows += (rows.empty() ? "" : ", ") + At(p);
      if (o.count > o.first.size()) rows += ", ...";
      const std::string what = std::to_string(o.count) + " long-value " +
                               (o.count == 1 ? "row" : "rows") + " that no row refers to (" + rows +
                               ")";
      if (column == kNoColumn) {
        Note(what + ", on pages that no memo or OLE column's page map lists");
      } else if (long_value_columns_[column].system) {
        Note(long_value_columns_[column].where + ": " + what);
      } else {
        Problem(long_value_columns_[column].where + ": " + what);
      }
    }
  }

  // Every page in use belongs to something: the header, the global usage
  // map, a table's definition, data pages, usage maps and the pages they
  // list, an index's tree, a column's long values. One that belongs to
  // nothing and is not marked free is lost: nothing will use it again. A
  // page that the global map does not reach counts as in use, since
  // nothing can hand it out either.
  //
  // Access loses pages of three kinds, all in testV2000, testV2003 and
  // testRefGlobalV2000 (and in no other of its files here), and they are
  // notes: pages of long values that nothing refers to and no column lists
  // (34, which holds only deleted rows, and those above); table definition
  // pages no table uses (322 and 707, copies of 708, the continuation page
  // of the definition on page 30); and pages of nothing but zeros
  // (709-735). Access 2010 leaves a fourth kind: data pages of a table
  // whose every row is deleted and which the table's map no longer lists
  // (calcFieldTestV2010.accdb: pages 62, 95, 96, 99 and 100, each with one
  // deleted row of the table on page 48; in real files also as page type
  // 0x09), and Access 2007 and later leave more: index pages without
  // entries that no tree reaches, usage bitmap pages without a bit set, and
  // pages of type 0x08, the definitions of tables it deleted: a definition's
  // header with that first byte, mostly emptied (the .accdb corpus: 727
  // such pages, Marius2504__FitPass__Data.accdb page 83 among them). The
  // data pages such a table kept, rows and all, may be left too
  // (JDelve__birch_equipment_db__Inventory.accdb: pages 233 and 235 of the
  // table on page 244, an earlier copy of 'equipment'). So are index pages
  // with entries that none of their table's indexes reaches any more, left
  // when Access rebuilds an index (Amont168__DataModeling-DatabaseDesign-
  // Fall12__Database1_Backup.accdb: pages 266 and 327 of 'Presentation'):
  // a note as long as that table's indexes hold every entry they should.
  // Lost pages of any other kind are problems.
  void CheckOwnedPages() {
    std::vector<uint32_t> long_values, definitions, empty, deleted, vacant, dropped, lost;
    std::vector<uint32_t> of_deleted_tables;
    std::map<uint32_t, std::vector<uint32_t>> unreached_index_pages;  // owner -> pages
    const Format& f = pager_.format();
    for (uint32_t p = 0; p < page_.size(); ++p) {
      if (page_[p] & (kFree | kOwned)) continue;
      auto page = pager_.Read(p);
      if (!page.ok()) {
        lost.push_back(p);
        continue;
      }
      const std::vector<uint8_t>& bytes = (*page)->bytes;
      const uint8_t type = bytes[0];
      if ((type == kPageData || type == (kPageData | 0x08)) &&
          Le32(bytes.data() + pager_.format().data_owner) == kLongValueOwner && !ReferredTo(p)) {
        long_values.push_back(p);
      } else if (type == kPageTableDef) {
        definitions.push_back(p);
      } else if ((type == kPageData || type == (kPageData | 0x08)) && OnlyDeletedRows(bytes)) {
        deleted.push_back(p);
      } else if (((type == kPageIndexNode || type == kPageIndexLeaf) &&
                  Le16(bytes.data() + 2) == f.page_size - f.index_first_entry) ||
                 (type == kPageUsageMap &&
                  std::all_of(bytes.begin() + 4, bytes.end(), [](uint8_t b) { return b == 0; }))) {
        vacant.push_back(p);
      } else if (f.ace && (type == kPageData || type == (kPageData | 0x08)) &&
                 OwnedByDeletedTable(bytes)) {
        of_deleted_tables.push_back(p);
      } else if ((type == kPageIndexNode || type == kPageIndexLeaf) && OwnerIndexesSound(p)) {
        unreached_index_pages[Le32(bytes.data() + f.data_owner)].push_back(p);
      } else if (f.ace && type == 0x08) {
        dropped.push_back(p);
      } else if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) {
        empty.push_back(p);
      } else {
        lost.push_back(p);
      }
    }
    const std::string lost_room =
        "; not marked free, their room is lost until the database is compacted";
    if (!long_values.empty()) {
      Note(PageList(long_values) +
           ": long values that no row refers to and no column's page map lists" + lost_room);
    }
    if (!definitions.empty()) {
      Note(PageList(definitions) + ": table definitions that no table uses" + lost_room);
    }
    if (!empty.empty()) Note(PageList(empty) + ": nothing but zeros" + lost_room);
    if (!deleted.empty()) {
      Note(PageList(deleted) + ": data pages of nothing but deleted rows, which no table's "
                               "page map lists" + lost_room);
    }
    if (!vacant.empty()) {
      Note(PageList(vacant) + ": index pages without entries or usage bitmaps without pages, "
                              "which nothing reaches" + lost_room);
    }
    if (!of_deleted_tables.empty()) {
      Note(PageList(of_deleted_tables) +
           ": data pages of deleted tables, whose definitions are now pages of type 0x08; no "
           "table's page map lists them" + lost_room);
    }
    for (const auto& [owner, pages] : unreached_index_pages) {
      Note("table '" + sound_indexes_[owner] + "': " + PageList(pages) +
           ": index pages with entries that none of the table's indexes reaches, while those "
           "indexes hold every entry they should" + lost_room);
    }
    if (!dropped.empty()) {
      Note(PageList(dropped) +
           ": pages of type 0x08, the definitions of tables Access has deleted; not marked free");
    }
    if (!lost.empty()) {
      Problem(PageList(lost) +
              ": not marked free, yet part of nothing: their room can never be "
              "used again");
    }
  }

  // Whether a data page names as its owner a page of type 0x08: the
  // definition of a table Access has deleted.
  bool OwnedByDeletedTable(const std::vector<uint8_t>& bytes) {
    const uint32_t owner = Le32(bytes.data() + pager_.format().data_owner);
    if (owner >= page_.size() || Is(owner, kOwned)) return false;
    auto page = pager_.Read(owner);
    return page.ok() && (*page)->bytes[0] == 0x08;
  }

  // Whether an index page names as its owner a table whose indexes all
  // hold exactly the entries its rows call for.
  bool OwnerIndexesSound(uint32_t page) {
    auto index_page = ReadIndexPage(pager_, page);
    return index_page.ok() && sound_indexes_.count(index_page->owner);
  }

  // Whether a data page has rows and every one is deleted.
  bool OnlyDeletedRows(const std::vector<uint8_t>& bytes) const {
    const Format& f = pager_.format();
    const uint32_t rows = Le16(bytes.data() + f.data_row_count);
    if (rows == 0 || f.data_first_row_slot + 2 * rows > bytes.size()) return false;
    for (uint32_t r = 0; r < rows; ++r) {
      if (!(Le16(bytes.data() + f.data_first_row_slot + 2 * r) & kRowDeletedFlag)) return false;
    }
    return true;
  }

  // Whether a row refers to a long-value row on `page`.
  bool ReferredTo(uint32_t page) const {
    auto it = std::lower_bound(long_value_refs_.begin(), long_value_refs_.end(), page << 8);
    return it != long_value_refs_.end() && (*it >> 8) == page;
  }

  // "page 7", "pages 34-36, 38 (4 pages)".
  static std::string PageList(const std::vector<uint32_t>& pages) {
    if (pages.size() == 1) return "page " + std::to_string(pages[0]);
    return "pages " + PageRanges(pages) + " (" + std::to_string(pages.size()) + " pages)";
  }

  static constexpr size_t kNoColumn = SIZE_MAX;
  struct LongValueColumn {
    std::string where;  // "table 'T', column 'C'"
    bool system = false;
  };

  Database& db_;
  Pager& pager_;
  const CheckOptions& options_;
  CheckReport* report_;
  ScratchFile scratch_;
  bool complete_ = true;         // the free pages and every table's pages and rows were read
  std::vector<uint8_t> page_;    // by page number: kFree, kOwned, ...
  std::vector<uint32_t> owner_;  // by page number: a data page's owner
  std::map<uint32_t, std::set<uint32_t>> moved_copies_;        // owner -> raw row pointers
  std::map<uint32_t, std::string> sound_indexes_;  // tdef -> name, if every index checks
  std::map<uint32_t, std::map<uint32_t, size_t>> pointed_at_;  // owner -> target -> pointers
  // Four bytes for each long-value row, and none for a table without memo
  // or OLE values, however many rows it has.
  std::vector<uint32_t> long_value_rows_;  // live ones, raw, ascending
  std::vector<uint32_t> long_value_refs_;  // raw row pointers rows refer to
  std::vector<LongValueColumn> long_value_columns_;
  std::unordered_map<uint32_t, size_t> long_value_column_;  // LVAL page -> column
};

}  // namespace

Result<CheckReport> CheckDatabase(Database& db, const CheckOptions& options) {
  CheckReport report;
  Checker checker(db, options, &report);
  JET_RETURN_IF_ERROR(checker.Run());
  return report;
}

}  // namespace jet
