// SPDX-License-Identifier: Apache-2.0
// Crashes, full disks and failing devices during a write. For each kind of
// operation the test stops the writer (a child process) at every single
// change it makes to the disk, in turn, with torn writes too; then reopens.
// A power cut is worse: it may also lose, tear or reorder what no sync has
// covered yet (power_loss.h). Either way the database must be byte for byte
// the old file or the new one, and the checker must find nothing wrong.
// Injected errors must fail the operation with a clear message and leave
// the old file.

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstdio>
#include <set>

#include "jet/storage/journal.h"
#include "power_loss.h"

namespace {

using testutil::Exists;
using testutil::InsertShipment;
using testutil::OpenForWriting;

using testutil::Operation;

struct Scenario {
  std::string name;
  Operation op;
  std::string before;                      // the file the operation starts from
  std::string after = {};                  // the file a complete operation leaves
  std::vector<testutil::Change> log = {};  // its changes to the disk, in order
};

class CrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("Tallowin.mdb");
    base_ = testutil::ReadFile(testutil::Fixture("hosts/tallowin-v2000.mdb"));
  }

  void Reset(const std::string& bytes) {
    std::remove(jet::JournalPath(path_).c_str());
    std::remove(dir_.File("Tallowin.ldb").c_str());
    testutil::WriteFile(path_, bytes);
  }

  // Runs the operation once, recording its changes to the disk, and fills
  // in what it leaves.
  void Prepare(Scenario* s) {
    Reset(s->before);
    s->log = testutil::LogChanges(path_, s->op);
    s->after = testutil::ReadFile(path_);
    ASSERT_NE(s->after, s->before);
  }

  // An insert of one Shipments row into the fixture.
  Scenario Insert(const std::string& tracking) {
    return {"insert", [tracking](jet::Database& db) { return InsertShipment(db, tracking); },
            base_};
  }

  // Six Shipments rows as one change whose batch spills every two pages.
  // Their tracking numbers lie far apart in the index, so that most spills
  // journal pages of their own: the journal grows in groups. `*spills`
  // counts the spills of the last run in this process.
  Scenario Spilling(std::shared_ptr<int> spills = std::make_shared<int>()) {
    auto op = [spills](jet::Database& db) {
      *spills = 0;
      std::vector<std::string> trackings;
      for (char c : std::string("06CIOV")) trackings.push_back(std::string("1Z") + c + "SPILL");
      return testutil::InsertShipmentsSpilling(db, trackings, 2, spills.get());
    };
    return {"change spilling", op, base_};
  }

  // The first 200 Shipments rows deleted in one step: the pages they leave
  // empty go back to the global map.
  Scenario FreePages() {
    auto op = [](jet::Database& db) -> jet::Status {
      auto writer = jet::TableWriter::Open(db, "Shipments");
      std::vector<jet::RowId> ids;
      testutil::ScanTable(db, "Shipments", &ids, nullptr, 200);
      return writer.ok() ? (*writer)->DeleteMany(ids) : writer.status();
    };
    return {"pages freed", op, base_};
  }

  // The template service's memo replaced by 9,000 characters of `fill`: a
  // chain of pages, taken from the free ones, and its old value freed.
  Scenario LongNotes(const std::string& name, char fill, const std::string& before) {
    auto op = [fill](jet::Database& db) -> jet::Status {
      auto writer = jet::TableWriter::Open(db, "Master");
      std::vector<jet::RowId> ids;
      std::vector<std::vector<jet::Value>> rows;
      testutil::ScanTable(db, "Master", &ids, &rows);
      for (size_t r = 0; writer.ok() && r < rows.size(); ++r) {
        if (rows[r][0].bytes != "USPS-PRI") continue;
        const jet::ColumnDef* notes = (*writer)->table().FindColumn("NOTES");
        rows[r][size_t(notes - (*writer)->table().columns.data())].bytes.assign(9000, fill);
        return (*writer)->Update(ids[r], rows[r]);
      }
      return jet::Status::NotFound("no USPS-PRI");
    };
    return {name, op, before};
  }

  // Reopens the database, rolling back what is to be rolled back.
  void Reopen() {
    auto db = OpenForWriting(path_);
    EXPECT_TRUE(db.ok()) << db.status().ToString();
  }

  // Stops the operation at every change to the disk (and halfway through
  // every write), reopens, and checks what is left.
  void CrashEverywhere(Scenario s) {
    Prepare(&s);
    if (HasFatalFailure()) return;
    int old_file = 0, new_file = 0;
    for (size_t k = 1; k <= s.log.size(); ++k) {
      for (bool tear : {false, true}) {
        if (tear && s.log[k - 1].op != jet::IoOp::kWrite) continue;
        SCOPED_TRACE(s.name + ": stopped at change " + std::to_string(k) + (tear ? " (torn)" : ""));
        Reset(s.before);
        EXPECT_EQ(testutil::RunStopped(path_, int(k), tear, s.op), testutil::kStoppedExit)
            << "the child did not stop where it was told";
        Reopen();
        const std::string now = testutil::ReadFile(path_);
        EXPECT_TRUE(now == s.before || now == s.after) << "the file is neither the old nor the new";
        ++(now == s.before ? old_file : new_file);
        EXPECT_FALSE(Exists(jet::JournalPath(path_)));
        testutil::ExpectConsistent(path_);
      }
    }
    EXPECT_GT(old_file, 0);
    EXPECT_GT(new_file, 0);
  }

  // Puts `disk` in place and reopens, which rolls back what is to be rolled
  // back; says what is wrong then, if anything.
  std::string Recover(const Scenario& s, const testutil::Disk& disk) {
    Reset(*disk.at(path_));  // and no journal
    for (const auto& [path, bytes] : disk) {
      if (bytes && path != path_) testutil::WriteFile(path, *bytes);
    }
    auto db = OpenForWriting(path_);
    if (!db.ok()) return "reopening fails: " + db.status().ToString();
    db = jet::Status::NotFound("closed");
    const std::string now = testutil::ReadFile(path_);
    if (now != s.before && now != s.after) return "the file is neither the old nor the new";
    return Exists(jet::JournalPath(path_)) ? "the journal stays" : "";
  }

  // Cuts the power after each change of the operation in turn, with several
  // choices of what is lost (power_loss.h); returns the number of bad
  // outcomes, each a failure unless `quiet`, which stops at the first. A
  // good one is the old file or the new: the checker looks at just those.
  int PowerCuts(const Scenario& s, const testutil::SyncCounts& counts, bool quiet = false) {
    using Bytes = std::optional<std::string>;
    const testutil::Disk before = {{path_, s.before}, {jet::JournalPath(path_), std::nullopt}};
    int bad = 0;
    std::set<std::vector<size_t>> seen;  // outcomes tried, by hash
    for (size_t k = 1; k <= s.log.size(); ++k) {
      for (int way = 0; way < 6; ++way) {
        const unsigned seed = unsigned(k * 16 + way);
        std::mt19937 rng(seed);
        std::string how;
        const testutil::Disk disk =
            testutil::AfterPowerCut(before, s.log, k, counts, way, rng, &how);
        std::vector<size_t> hashes;
        for (const auto& [path, bytes] : disk) hashes.push_back(std::hash<Bytes>()(bytes));
        if (!seen.insert(hashes).second) continue;
        SCOPED_TRACE(s.name + ": power cut after change " + std::to_string(k) + ", seed " +
                     std::to_string(seed) + ": " + how);
        const std::string wrong = Recover(s, disk);
        if (!wrong.empty() && quiet) return 1;
        EXPECT_EQ(wrong, "");
        bad += !wrong.empty();
      }
    }
    if (!quiet) {
      testutil::WriteFile(path_, s.after);
      testutil::ExpectConsistent(path_);
    }
    return bad;
  }

  testutil::TempDir dir_;
  std::string path_, base_;
};

// A power cut may also lose, tear or reorder whatever no sync has covered.
// (A cut after change k that keeps everything is what a crash there leaves.)
TEST_F(CrashTest, EveryChangeSurvivesAPowerCutAtAnyPoint) {
  // (Updates and deletes: FreedAndReusedPages... below.)
  for (Scenario s : {Insert("POWER-1"), Spilling()}) {
    ASSERT_NO_FATAL_FAILURE(Prepare(&s));
    PowerCuts(s, [](const testutil::Change&) { return true; });
    const auto journal_groups = std::count_if(s.log.begin(), s.log.end(), [&](const auto& c) {
      return c.op == jet::IoOp::kSync && c.path == jet::JournalPath(path_);
    });
    EXPECT_GE(journal_groups, s.name == "change spilling" ? 3 : 1) << s.name;
  }
}

// Pages freed by a change, taken again by a later change, and freed and
// taken again within one change: a crash or a power cut at any point
// leaves the old file or the new one, the reused pages' old bytes
// included, and no change grows the file.
TEST_F(CrashTest, FreedAndReusedPagesSurviveACrashOrPowerCutAnywhere) {
  Scenario freed = FreePages();
  ASSERT_NO_FATAL_FAILURE(Prepare(&freed));
  Scenario reused = LongNotes("a page freed before reused", 'x', freed.after);
  ASSERT_NO_FATAL_FAILURE(Prepare(&reused));
  Scenario again = LongNotes("pages freed and reused in one change", 'y', reused.after);
  ASSERT_NO_FATAL_FAILURE(Prepare(&again));
  EXPECT_EQ(reused.after.size(), freed.after.size());
  EXPECT_EQ(again.after.size(), freed.after.size());
  for (const Scenario& s : {freed, reused, again}) {
    CrashEverywhere(s);
    PowerCuts(s, [](const testutil::Change&) { return true; });
  }
}

// The same on an Access 2010 file (.accdb, its lock file .laccdb): two rows
// changed in one step, accented and non-Latin text under both text indexes.
TEST_F(CrashTest, AnAccdbChangeSurvivesACrashOrPowerCutAnywhere) {
  path_ = dir_.File("Access2010.accdb");
  auto op = [](jet::Database& db) -> jet::Status {
    auto writer = jet::TableWriter::Open(db, "Table1");
    if (!writer.ok()) return writer.status();
    std::vector<jet::RowId> ids;
    std::vector<std::vector<jet::Value>> rows;
    testutil::ScanTable(db, "Table1", &ids, &rows);
    rows[0][0].bytes = "Élodie Ørsted 東京";
    rows[0][1].bytes = "Żółć café";
    rows[1][1].bytes = "São Paulo";
    return (*writer)->UpdateMany(ids, rows);
  };
  Scenario s{"accdb", op, testutil::ReadFile(testutil::Fixture("access/testV2010.accdb"))};
  ASSERT_NO_FATAL_FAILURE(Prepare(&s));
  CrashEverywhere(s);
  PowerCuts(s, [](const testutil::Change&) { return true; });
}

// Each sync the journal relies on matters: a disk that ignored it could
// leave a file that is neither the old nor the new.
TEST_F(CrashTest, PowerCutsBreakTheFileWithoutAnyOneOfTheJournalsSyncs) {
  Scenario s = Insert("POWER-2");
  ASSERT_NO_FATAL_FAILURE(Prepare(&s));
  const std::string journal = jet::JournalPath(path_);
  const std::pair<const char*, testutil::SyncCounts> ignored[] = {
      {"the journal's sync", [&](const auto& c) { return c.path != journal; }},
      {"its folder's syncs", [&](const auto& c) { return c.op != jet::IoOp::kSyncFolder; }},
      {"the database's sync", [&](const auto& c) { return c.path != path_; }}};
  for (const auto& [what, counts] : ignored) {
    SCOPED_TRACE(std::string("ignoring ") + what);
    EXPECT_GT(PowerCuts(s, counts, /*quiet=*/true), 0);
  }
}

TEST_F(CrashTest, CrashWhileRollingBackIsFollowedByAnotherRollback) {
  Scenario s = Insert("CRASH-2");
  Prepare(&s);
  // Leave a hot journal with the database half written: stop after the
  // second page of the database went down.
  int writes = 0;
  size_t stop = 0;
  for (size_t k = 0; k < s.log.size() && !stop; ++k) {
    if (s.log[k].op == jet::IoOp::kWrite && ++writes == 3) stop = k + 1;  // journal, page, page
  }
  ASSERT_GT(stop, 0u);
  int points = 0;
  for (int j = 1;; ++j) {
    SCOPED_TRACE("rollback stopped at change " + std::to_string(j));
    Reset(s.before);
    ASSERT_EQ(testutil::RunStopped(path_, int(stop), false, s.op), testutil::kStoppedExit);
    ASSERT_NE(testutil::ReadFile(path_), s.before);
    // The opening that rolls back stops at its j-th change.
    const int status = testutil::ChildExitCode(testutil::RunInChild([&] {
      jet::SetIoHook(testutil::StopAt(j, /*torn=*/true));
      auto db = OpenForWriting(path_);
      return 0;
    }));
    ASSERT_GE(status, 0);
    if (status == 0) break;  // the rollback has fewer changes than j
    ++points;
    Reopen();
    ASSERT_EQ(testutil::ReadFile(path_), s.before);
    testutil::ExpectConsistent(path_);
  }
  EXPECT_GT(points, 3);
}

// Shipments rows as JSON Lines, each with its own tracking number.
std::string ShipmentLines(int rows) {
  std::string lines;
  for (int i = 0; i < rows; ++i) {
    lines += R"({"TRACKING":"K)" + std::to_string(i * 7919 % 100003) +
             R"(","SERVICE":"USPS-FCM","WEIGHT":1.5,"SHIPDATE":"2024-03-01T10:00:00"})"
             "\n";
  }
  return lines;
}

// The last of 100,000 rows repeats the first one's tracking number: the
// import, whose pages have gone to the file by then, leaves nothing.
TEST_F(CrashTest, ImportWhoseLastRowRepeatsAKeyLeavesTheFileByteForByte) {
  const std::string input = dir_.File("rows.jsonl");
  std::string lines = ShipmentLines(100000);
  lines += lines.substr(0, lines.find('\n') + 1);
  testutil::WriteFile(input, lines);
  Reset(base_);
  auto r = testutil::RunProcess({testutil::JetdbPath(), "import", path_, "Shipments", input});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Line 100001: The change would create a duplicate value in the unique "
                       "index 'TRACKING'"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("nothing was imported"), std::string::npos) << r.err;
  EXPECT_EQ(testutil::ReadFile(path_), base_);
  EXPECT_FALSE(Exists(jet::JournalPath(path_)));
}

// Disk and device failures, injected at each change to the disk in turn.
class IoFailureTest : public CrashTest {
 protected:
  // Runs the insert with `hook` installed; checks that it either worked or
  // failed cleanly, and that the database still works afterwards.
  // Returns whether it failed.
  bool InsertWithHook(const Scenario& s, jet::IoHook hook, const char* expected_error) {
    Reset(s.before);
    auto db = OpenForWriting(path_);
    EXPECT_TRUE(db.ok());
    jet::SetIoHook(std::move(hook));
    jet::Status status = s.op(**db);
    jet::SetIoHook(nullptr);
    const std::string now = testutil::ReadFile(path_);
    if (status.ok()) {
      EXPECT_EQ(now, s.after);
    } else {
      EXPECT_EQ(status.kind(), jet::ErrorKind::kIoError) << status.ToString();
      EXPECT_NE(status.message().find(expected_error), std::string::npos) << status.ToString();
      EXPECT_NE(status.message().find("the change was not made"), std::string::npos)
          << status.ToString();
      EXPECT_EQ(now, s.before) << status.ToString();
      EXPECT_FALSE(Exists(jet::JournalPath(path_)));
      // The same open database goes on working.
      EXPECT_TRUE(InsertShipment(**db, "AFTER-FAILURE").ok());
    }
    db = jet::Status::NotFound("closed");
    testutil::ExpectConsistent(path_);
    return !status.ok();
  }
};

// Change k fails once (EIO); or, from change k on, nothing that needs new
// space can be written (a full disk).
TEST_F(IoFailureTest, FailedChangeOrFullDiskAtAnyPointIsUndoneWithAClearError) {
  for (Scenario s : {Insert("EIO-1"), Spilling()}) {
    SCOPED_TRACE(s.name);
    Prepare(&s);
    int failed = 0, full = 0;
    for (size_t k = 1; k <= s.log.size(); ++k) {
      SCOPED_TRACE("change " + std::to_string(k));
      auto count = std::make_shared<size_t>(0);
      failed += InsertWithHook(
          s,
          [count, k](const jet::IoEvent& e) -> int {
            return testutil::Mutates(e.op) && ++*count == k ? EIO : 0;
          },
          "Input/output error");
      *count = 0;
      full += InsertWithHook(
          s,
          [count, k](const jet::IoEvent& e) -> int {
            if (!testutil::Mutates(e.op) || ++*count < k || e.op != jet::IoOp::kWrite) return 0;
            struct stat st;
            const bool grows =
                ::stat(e.path.c_str(), &st) != 0 || e.offset + e.data.size() > uint64_t(st.st_size);
            return grows || *count == k ? ENOSPC : 0;
          },
          "No space left on device");
    }
    EXPECT_EQ(failed, int(s.log.size()));
    EXPECT_GT(full, 0);
  }
}

TEST_F(IoFailureTest, UndoThatFailsTooLeavesTheJournalAndTheNextOpenRollsBack) {
  // Each way a change ends in an undo: a failed Commit, a failed spill, and
  // a Rollback after spills. The device dies once `db_writes` pages of the
  // database went down, and with it the undo.
  struct Case {
    const char* name;
    int db_writes;
    Operation op;
  };
  const Case cases[] = {
      {"commit", 1, [](jet::Database& db) { return InsertShipment(db, "EIO-2"); }},
      {"spill", 6,
       [](jet::Database& db) { return testutil::InsertShipmentsSpilling(db, "EIO-", 8, 2); }},
      {"rollback after spills", 6, [](jet::Database& db) {
         jet::Status s = testutil::InsertShipmentsSpilling(db, "EIO-", 8, 2, nullptr, false);
         return s.ok() ? jet::Status::IoError("rolled back, or not") : s;
       }}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset(base_);
    {
      auto db = OpenForWriting(path_);
      ASSERT_TRUE(db.ok());
      int writes = 0;
      jet::SetIoHook([&](const jet::IoEvent& e) {
        return e.op == jet::IoOp::kWrite && e.path == path_ && ++writes > c.db_writes ? EIO : 0;
      });
      jet::Status status = c.op(**db);
      EXPECT_FALSE(status.ok());
      EXPECT_NE(status.message().find("rolled back"), std::string::npos) << status.ToString();
      EXPECT_TRUE((*db)->pager().broken());
      jet::Status again = InsertShipment(**db, "EIO-3");
      EXPECT_NE(again.message().find("close and reopen"), std::string::npos) << again.ToString();
      jet::SetIoHook(nullptr);
      EXPECT_TRUE(Exists(jet::JournalPath(path_)));
      EXPECT_NE(testutil::ReadFile(path_), base_);
    }
    {
      auto db = OpenForWriting(path_);
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      EXPECT_EQ((*db)->recovery_message().rfind("Rolled back", 0), 0u);
    }
    EXPECT_EQ(testutil::ReadFile(path_), base_);
    testutil::ExpectConsistent(path_);
  }
}

}  // namespace
