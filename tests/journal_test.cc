// The rollback journal: the order in which a change reaches the disk, and
// what opening a database does with a journal left by a writer that stopped.

#include "journal.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>

#include "safe_write_util.h"

namespace {

using testutil::Exists;
using testutil::OpenForWriting;

struct Logged {
  jet::IoOp op;
  std::string path;
};

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override { original_ = testutil::ReadFile(path_); }

  // The changes to the disk one insert makes, in order.
  std::vector<Logged> LogInsert(const std::string& path) {
    std::vector<Logged> log;
    auto db = OpenForWriting(path);
    EXPECT_TRUE(db.ok());
    auto writer = jet::TableWriter::Open(**db, "Shipments");
    jet::SetIoHook([&](const jet::IoEvent& e) {
      if (testutil::Mutates(e.op)) log.push_back({e.op, e.path});
      return 0;
    });
    EXPECT_TRUE((*writer)->Insert(testutil::ShipmentRow("LOGGED")).ok());
    jet::SetIoHook(nullptr);
    return log;
  }

  // Inserts a row in a child that stops at its `stop`-th change to the disk.
  void InsertAndStopAt(int stop, bool torn) {
    int status = testutil::RunInChild([&] {
      auto db = OpenForWriting(path_);
      if (!db.ok()) return 1;
      auto writer = jet::TableWriter::Open(**db, "Shipments");
      jet::SetIoHook(testutil::StopAt(stop, torn));
      (void)(*writer)->Insert(testutil::ShipmentRow("STOPPED"));
      return 0;
    });
    ASSERT_TRUE(testutil::ChildExitCode(status) == testutil::kStoppedExit) << status;
    // The lock file it leaves behind is the lock tests' business.
    std::remove(dir_.File("Tallowin.ldb").c_str());
  }

  // The number of the change that first writes the database.
  int FirstDatabaseWrite() {
    testutil::TempDir scratch;
    const std::string copy = testutil::CopyOf(scratch, path_);
    std::vector<Logged> log = LogInsert(copy);
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

TEST_F(JournalTest, ChangeReachesTheJournalFirstAndTheJournalGoesLast) {
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

  std::vector<Logged> log = LogInsert(path_);
  ASSERT_FALSE(log.empty());
  // Where the first (or last) such change is; -1 for none.
  auto at = [&](jet::IoOp op, const std::string& path, bool last = false) {
    int found = -1;
    for (size_t i = 0; i < log.size() && (found < 0 || last); ++i) {
      if (log[i].op == op && log[i].path == path) found = int(i);
    }
    return found;
  };
  const int journal_synced = at(jet::IoOp::kSync, journal_);
  const int first_db_write = at(jet::IoOp::kWrite, path_);
  const int db_synced = at(jet::IoOp::kSync, path_);
  const int removed = at(jet::IoOp::kRemove, journal_);
  ASSERT_GE(journal_synced, 0);
  ASSERT_GE(first_db_write, 0);
  // The journal and its folder entry are durable before the database changes.
  EXPECT_LT(at(jet::IoOp::kWrite, journal_), journal_synced);
  EXPECT_LT(journal_synced, at(jet::IoOp::kSyncFolder, dir_.path()));
  EXPECT_LT(at(jet::IoOp::kSyncFolder, dir_.path()), first_db_write);
  // Every page is written and synced before the journal goes.
  EXPECT_LT(at(jet::IoOp::kWrite, path_, true), db_synced);
  EXPECT_LT(db_synced, removed);
  EXPECT_EQ(at(jet::IoOp::kSyncFolder, dir_.path(), true), int(log.size()) - 1);
  EXPECT_FALSE(Exists(journal_));
}

TEST_F(JournalTest, HotJournalIsRolledBackWhenTheDatabaseIsOpenedAndSaysSo) {
  for (bool writable : {true, false}) {
    SCOPED_TRACE(writable ? "writable open" : "read-only open");
    LeaveHotJournal();
    auto state = jet::InspectJournal(path_);
    ASSERT_TRUE(state.ok());
    EXPECT_EQ(*state, jet::JournalState::kHot);

    jet::Database::Options options;
    options.writable = writable;
    {
      auto db = jet::Database::Open(path_, options);
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      EXPECT_EQ((*db)->recovery_message().rfind("Rolled back an unfinished change", 0), 0u)
          << (*db)->recovery_message();
      auto report = jet::CheckDatabase(**db);
      ASSERT_TRUE(report.ok());
      EXPECT_TRUE(report->ok());
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

  // Readers read the database as it is and leave the journal alone.
  {
    auto db = jet::Database::Open(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_EQ((*db)->recovery_message(), "");
  }
  EXPECT_TRUE(Exists(journal_));

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

}  // namespace
