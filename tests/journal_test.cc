// SPDX-License-Identifier: Apache-2.0
// The rollback journal: the order in which a change reaches the disk, and
// what opening a database does with a journal left by a writer that stopped.

#include "jet/storage/journal.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>

#include "safe_write_util.h"

namespace {

using testutil::Exists;
using testutil::OpenForWriting;

// One Shipments row inserted.
jet::Status InsertOne(jet::Database& db) { return testutil::InsertShipment(db, "LOGGED"); }

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { original_ = testutil::ReadFile(path_); }

  // Inserts a row in a child that stops at its `stop`-th change to the disk.
  void InsertAndStopAt(int stop, bool torn) {
    ASSERT_EQ(testutil::RunStopped(path_, stop, torn, InsertOne), testutil::kStoppedExit);
    // The lock file it leaves behind is the lock tests' business.
    std::remove(dir_.File("Tallowin.ldb").c_str());
  }

  // The number of the change that first writes the database.
  int FirstDatabaseWrite() {
    testutil::TempDir scratch;
    const std::string copy = testutil::CopyOf(scratch, path_);
    std::vector<testutil::Change> log = testutil::LogChanges(copy, InsertOne);
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].op == jet::IoOp::kWrite && log[i].path == copy) return int(i + 1);
    }
    return 0;
  }

  // Leaves the database with a hot journal: the writer stopped after one
  // page of the database went down, not the rest.
  void LeaveHotJournal() {
    InsertAndStopAt(FirstDatabaseWrite() + 1, /*torn=*/false);
    ASSERT_TRUE(Exists(journal_));
    ASSERT_TRUE(testutil::ReadFile(path_) != original_);
  }

  testutil::TempDir dir_;
  const std::string path_ = testutil::CopyOf(dir_, "hosts/tallowin-v2000.mdb");
  const std::string journal_ = jet::JournalPath(path_);
  std::string original_;
};

TEST_F(JournalTest, JournalIsAsPrivateAsTheDatabaseAndItsRemovalIsDurable) {
#ifndef _WIN32
  // A private database gets a private journal: it holds the same bytes.
  // (A Windows file takes its folder's permissions, as the database did.)
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  mode_t journal_mode = 0;
  jet::SetIoHook([&](const jet::IoEvent& e) {
    struct stat st;
    if (e.op == jet::IoOp::kSync && e.path == journal_ && ::stat(journal_.c_str(), &st) == 0) {
      journal_mode = st.st_mode & 0777;
    }
    return 0;
  });
  ASSERT_TRUE(testutil::InsertShipment(path_, "PRIVATE").ok());
  jet::SetIoHook(nullptr);
  EXPECT_EQ(journal_mode, mode_t(0600));
#endif

  // The journal's removal is made durable last: a change reported done
  // stays done. (That nothing reaches the database before the journal,
  // and the journal goes only after the database, the power cuts of
  // crash_test.cc show: any other order loses a change or half makes one.)
  std::vector<testutil::Change> log = testutil::LogChanges(path_, InsertOne);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].op, jet::IoOp::kRemove);
  EXPECT_EQ(log.back().op, jet::IoOp::kSyncFolder);
  EXPECT_FALSE(Exists(journal_));
}

TEST_F(JournalTest, HotJournalIsRolledBackWhenTheDatabaseIsOpenedAndSaysSo) {
  for (bool writable : {true, false}) {
    SCOPED_TRACE(writable ? "writable open" : "read-only open");
    LeaveHotJournal();
    auto state = jet::InspectJournal(path_);
    ASSERT_TRUE(state.ok());
    EXPECT_EQ(*state, jet::JournalState::kHot);

    {
      auto db = jet::Database::Open(path_, {.writable = writable});
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      EXPECT_EQ((*db)->recovery_message().rfind("Rolled back an unfinished change", 0), 0u)
          << (*db)->recovery_message();
      EXPECT_TRUE(jet::CheckDatabase(**db).value().ok());
    }
    EXPECT_EQ(testutil::ReadFile(path_), original_);
    EXPECT_EQ(testutil::FolderNames(dir_.path()), std::vector<std::string>{"Tallowin.mdb"});
  }

  // jetdb tells the user on stderr and goes on.
  LeaveHotJournal();
  auto r = testutil::RunProcess({testutil::JetdbPath(), "tables", path_});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Master\nPanel\nShipments\n");
  EXPECT_NE(r.err.find("Rolled back an unfinished change"), std::string::npos) << r.err;
  EXPECT_EQ(testutil::ReadFile(path_), original_);
}

// In an encoded database the journal keeps the pages as stored, encoded: a
// rollback, which knows no key, gives back the very bytes.
TEST_F(JournalTest, EncodedDatabaseIsRolledBackToItsStoredBytes) {
  testutil::EncodeDatabase(path_, 0x0BADC0DE);
  original_ = testutil::ReadFile(path_);
  LeaveHotJournal();
  auto db = jet::Database::Open(path_);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_FALSE((*db)->recovery_message().empty());
  EXPECT_EQ(testutil::ReadFile(path_), original_);
}

TEST_F(JournalTest, IncompleteJournalMeansTheDatabaseWasNeverTouched) {
  // A writer stopped before its journal's header was down.
  InsertAndStopAt(2, /*torn=*/false);  // 1: create the journal, 2: write it
  ASSERT_TRUE(Exists(journal_));
  ASSERT_EQ(testutil::ReadFile(path_), original_);
  EXPECT_EQ(*jet::InspectJournal(path_), jet::JournalState::kIncomplete);

  // A writer removes it, and so it does with a file that is no journal.
  for (const char* what : {"empty", "garbage"}) {
    SCOPED_TRACE(what);
    if (std::string(what) == "garbage") testutil::WriteFile(journal_, "JETJRNL1 but not really");
    {
      auto db = OpenForWriting(path_);
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      EXPECT_EQ((*db)->recovery_message().rfind("Removed an incomplete journal", 0), 0u)
          << (*db)->recovery_message();
    }
    EXPECT_FALSE(Exists(journal_));
    EXPECT_EQ(testutil::ReadFile(path_), original_);
  }
}

// Needs a user without write access: Unix permissions and a child that
// gives up root. Not built for Windows.
#ifndef _WIN32
TEST_F(JournalTest, ReaderWithoutWriteAccessRefusesAHotJournalAndWritesNothing) {
  LeaveHotJournal();
  const std::string half_written = testutil::ReadFile(path_);
  const std::string journal = testutil::ReadFile(journal_);
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  int status = testutil::RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
    auto db = jet::Database::Open(path_);
    if (db.ok()) return 11;
    const std::string& m = db.status().message();
    if (m.find("unfinished change") == std::string::npos) return 12;
    if (m.find("write access") == std::string::npos) return 13;
    return 0;
  });
  ::chmod(dir_.path().c_str(), 0755);
  ::chmod(path_.c_str(), 0644);
  EXPECT_TRUE(testutil::ChildExitCode(status) == 0) << status;
  EXPECT_EQ(testutil::ReadFile(path_), half_written);
  EXPECT_EQ(testutil::ReadFile(journal_), journal);
  EXPECT_EQ(testutil::FolderNames(dir_.path()),
            (std::vector<std::string>{"Tallowin.mdb", "Tallowin.mdb-journal"}));

  // Someone who may write rolls it back.
  auto db = jet::Database::Open(path_);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  EXPECT_EQ(testutil::ReadFile(path_), original_);
}
#endif

// A change too large for memory spills into the file through the journal.
class SpillTest : public ::testing::Test {
 protected:
  static constexpr int kRows = 40;

  static jet::Status InsertShipmentsSpillingAt(const std::string& path, size_t threshold,
                                               int* spills) {
    auto db = OpenForWriting(path);
    if (!db.ok()) return db.status();
    return testutil::InsertShipmentsSpilling(**db, "SPILL-", kRows, threshold, spills);
  }

  // A copy of the fixture, encoded or not.
  std::string Copy(const std::string& name, bool encoded) {
    const std::string path = testutil::CopyOf(dir_, "hosts/tallowin-v2000.mdb", name);
    if (encoded) testutil::EncodeDatabase(path, 0x5EED);
    return path;
  }

  // The rows of Shipments, by tracking number.
  static std::vector<std::string> Trackings(jet::Database& db) {
    std::vector<jet::RowId> ids;
    std::vector<std::vector<jet::Value>> rows;
    testutil::ScanTable(db, "Shipments", &ids, &rows);
    std::vector<std::string> out;
    for (const auto& row : rows) out.push_back(row[1].ToText());
    return out;
  }

  testutil::TempDir dir_;
};

// A change that spills leaves the file a change without spills writes,
// encoded or not. (That each page is journaled once, durably, before its
// first write, the power cuts of crash_test.cc show.)
TEST_F(SpillTest, SpillingChangeCommitsTheSameFile) {
  for (bool encoded : {false, true}) {
    SCOPED_TRACE(encoded ? "encoded" : "plain");
    const std::string whole = Copy("whole.mdb", encoded), spilled = Copy("spilled.mdb", encoded);
    ASSERT_TRUE(InsertShipmentsSpillingAt(whole, 0, nullptr).ok());
    int spills = 0;
    jet::Status s = InsertShipmentsSpillingAt(spilled, 2, &spills);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_GE(spills, 10);
    EXPECT_FALSE(Exists(jet::JournalPath(spilled)));
    EXPECT_TRUE(testutil::ReadFile(spilled) == testutil::ReadFile(whole));
    testutil::ExpectConsistent(spilled);
  }
}

TEST_F(SpillTest, SpillingChangeRolledBackLeavesTheOriginalFileAndAWorkingDatabase) {
  for (bool encoded : {false, true}) {
    SCOPED_TRACE(encoded ? "encoded" : "plain");
    const std::string path = Copy("rollback.mdb", encoded);
    const std::string original = testutil::ReadFile(path);
    auto db = OpenForWriting(path);
    ASSERT_TRUE(db.ok());
    const std::vector<std::string> before = Trackings(**db);
    int spills = 0;
    ASSERT_TRUE(testutil::InsertShipmentsSpilling(**db, "GONE-", kRows, 2, &spills,
                                                  /*commit=*/false)
                    .ok());
    EXPECT_GE(spills, 10);
    EXPECT_FALSE((*db)->pager().HasChanges());
    EXPECT_EQ((*db)->pager().page_count(), original.size() / 4096);
    EXPECT_TRUE(testutil::ReadFile(path) == original);
    EXPECT_FALSE(Exists(jet::JournalPath(path)));
    // The same open database reads the old rows and takes new ones.
    EXPECT_EQ(Trackings(**db), before);
    ASSERT_TRUE(testutil::InsertShipment(**db, "AFTER-ROLLBACK").ok());
    EXPECT_EQ(Trackings(**db).size(), before.size() + 1);
    db = jet::Status::NotFound("closed");
    testutil::ExpectConsistent(path);
  }
}

// A journal an older build wrote in one go (version 1) still rolls back:
// the one in the test data holds the originals of pages 1 and 2 of the
// host fixture, whose file is then found half changed and grown.
TEST_F(SpillTest, VersionOneJournalIsRolledBack) {
  const std::string path = Copy("old.mdb", false);
  const std::string original = testutil::ReadFile(path);
  std::string journal =
      testutil::ReadFile(testutil::Fixture("journal/tallowin-v2000.mdb-journal-v1"));
  testutil::WriteFile(jet::JournalPath(path), journal);
  std::string changed = original + std::string(4096, '\x01');
  std::fill(changed.begin() + 4096, changed.begin() + 3 * 4096, '\x02');
  testutil::WriteFile(path, changed);
  EXPECT_EQ(*jet::InspectJournal(path), jet::JournalState::kHot);
  {
    auto db = OpenForWriting(path);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_NE((*db)->recovery_message().find("2 pages restored"), std::string::npos)
        << (*db)->recovery_message();
  }
  EXPECT_TRUE(testutil::ReadFile(path) == original);
  EXPECT_FALSE(Exists(jet::JournalPath(path)));

  // Cut short by one byte, it is incomplete: a version 1 journal counts whole.
  journal.pop_back();
  testutil::WriteFile(jet::JournalPath(path), journal);
  EXPECT_EQ(*jet::InspectJournal(path), jet::JournalState::kIncomplete);
}

}  // namespace
