// SPDX-License-Identifier: Apache-2.0
// Exclusive access while writing: another program holding the database
// (ours, or Jet by its lock file and byte-range locks) keeps writers out;
// lock files of programs that died do not; our own lock file goes when we
// close; reading never writes anything.

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <thread>

#include "safe_write_util.h"

namespace {

using testutil::Child;
using testutil::Exists;
using testutil::LockHolderPath;
using testutil::OpenForWriting;

constexpr off_t kJetUserSlot1 = 0x10000001;

// A foreign program (as Jet would) holding a plain fcntl lock of one byte of
// `path` until it is finished.
struct ForeignLock : Child {
  ForeignLock(const std::string& path, const char* mode, off_t byte)
      : Child({LockHolderPath(), "lock", mode, path, std::to_string(byte)}) {}
  bool held() { return ReadLine() == "ready"; }
};

// A lock file as Jet writes it: one 64-byte entry per user.
std::string LockFileEntry(const std::string& machine, const std::string& account) {
  std::string entry(64, '\0');
  entry.replace(0, machine.size(), machine);
  entry.replace(32, account.size(), account);
  return entry;
}

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override { original_ = testutil::ReadFile(path_); }

  // Opening the database (for writing, or for reading) is refused as busy,
  // and nothing was written; returns the refusal's message.
  std::string ExpectBusy(bool writable = true) {
    auto db = jet::Database::Open(path_, {.writable = writable});
    const jet::Status s = db.ok() ? jet::Status::Ok() : db.status();
    EXPECT_EQ(s.kind(), jet::ErrorKind::kBusy) << s.ToString();
    EXPECT_TRUE(testutil::Has(s.message(), "opened by another user or program"));
    EXPECT_TRUE(testutil::ReadFile(path_) == original_) << "the database was written";
    EXPECT_FALSE(Exists(path_ + "-journal"));
    return s.message();
  }

  testutil::TempDir dir_;
  const std::string path_ = testutil::CopyOf(dir_, "hosts/tallowin-v2000.mdb");
  const std::string ldb_ = dir_.File("Tallowin.ldb");
  std::string original_;
};

TEST_F(LockTest, ProcessWritingKeepsOutEveryOtherWriterAndReader) {
  Child holder({LockHolderPath(), "hold", "write", path_});
  ASSERT_EQ(holder.ReadLine(), "ready");
  EXPECT_TRUE(Exists(ldb_));

  ExpectBusy();
  ExpectBusy(/*writable=*/false);
  Child second({LockHolderPath(), "hold", "write", path_});
  EXPECT_TRUE(
      testutil::StartsWith(second.ReadLine(), "busy: The database is opened by another user"));
  EXPECT_EQ(second.Finish(), 1);
  // The installation is refused with the reason, not half done.
  const testutil::ProcessResult install = testutil::RunProcess({AFC_APP_PATH, "--install", path_});
  EXPECT_EQ(install.exit_code, 1);
  EXPECT_TRUE(testutil::Has(install.err, "opened by another user or program"));
  ExpectBusy();  // and the file is as it was

  // Once it has gone, so have its lock and its lock file.
  EXPECT_EQ(holder.Finish(), 0);
  EXPECT_FALSE(Exists(ldb_));
  EXPECT_TRUE(OpenForWriting(path_).ok());
}

TEST_F(LockTest, ReadersShareTheDatabaseButKeepWritersOut) {
  Child reader({LockHolderPath(), "hold", "read", path_});
  ASSERT_EQ(reader.ReadLine(), "ready");
  {
    auto db = jet::Database::Open(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_TRUE((*db)->ListTables().ok());

    ExpectBusy();
    EXPECT_FALSE(Exists(ldb_));  // readers make no lock file
  }
  EXPECT_EQ(reader.Finish(), 0);
  EXPECT_TRUE(OpenForWriting(path_).ok());
}

TEST_F(LockTest, JetUserHoldingTheLockFileOrALockOnTheDatabaseKeepsWritersOut) {
  // Jet's way: an entry in the lock file, and its user slot locked.
  const std::string entries = LockFileEntry("OFFICE-PC", "Admin");
  testutil::WriteFile(ldb_, entries);
  {
    ForeignLock jet_user(ldb_, "write", kJetUserSlot1);
    ASSERT_TRUE(jet_user.held());
    const std::string refused = ExpectBusy();
    EXPECT_TRUE(testutil::Has(refused, "OFFICE-PC/Admin"));
    EXPECT_EQ(testutil::ReadFile(ldb_), entries);
  }
  // A lock on the database itself, e.g. a page lock far past its end.
  {
    ForeignLock page_lock(path_, "read", 0x10000000 + 300);
    ASSERT_TRUE(page_lock.held());
    ExpectBusy();
  }
  EXPECT_TRUE(OpenForWriting(path_).ok());
}

TEST_F(LockTest, LockFileLeftByAProgramThatDiedDoesNotBlock) {
  // One left by Access on a machine that lost power: names, no locks.
  testutil::WriteFile(ldb_, LockFileEntry("OFFICE-PC", "Admin") + LockFileEntry("LAPTOP", "Admin"));
  ASSERT_TRUE(testutil::InsertShipment(path_, "STALE-1").ok());
  // Not ours, so it stays; our entry went into slot 1.
  ASSERT_TRUE(Exists(ldb_));
  const std::string after = testutil::ReadFile(ldb_);
  EXPECT_EQ(after.substr(32, 6), std::string("Admin\0", 6));
  EXPECT_EQ(after.substr(64, 6), "LAPTOP");

  // One left by a writer of ours that was killed.
  std::remove(ldb_.c_str());
  Child killed({LockHolderPath(), "hold", "write", path_});
  ASSERT_EQ(killed.ReadLine(), "ready");
  killed.Kill();
  ASSERT_TRUE(Exists(ldb_));
  auto db = OpenForWriting(path_);
  ASSERT_TRUE(db.ok()) << db.status().ToString();
}

TEST_F(LockTest, OurLockFileNamesThisMachineWhileOpenAndGoesOnClose) {
  {
    auto db = OpenForWriting(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    ASSERT_TRUE(Exists(ldb_));
    const std::string entry = testutil::ReadFile(ldb_);
    ASSERT_EQ(entry.size(), 64u);
    char host[256] = {};
#ifdef _WIN32
    DWORD size = sizeof host - 1;
    GetComputerNameA(host, &size);
#else
    gethostname(host, sizeof host - 1);
#endif
    EXPECT_EQ(entry.substr(0, 32),
              LockFileEntry(std::string(host).substr(0, 31), "").substr(0, 32));
    EXPECT_EQ(entry.substr(32), LockFileEntry("", "Admin").substr(32));
  }
  EXPECT_EQ(testutil::FolderNames(dir_.path()), std::vector<std::string>{"Tallowin.mdb"});
}

TEST_F(LockTest, ReadingWritesNothingEvenInAFolderThatCannotBeWritten) {
  // Every change to the disk passes the hook: reading everything makes none.
  int changes = 0;
  jet::SetIoHook([&](const jet::IoEvent& e) {
    if (testutil::Mutates(e.op)) ++changes;
    return 0;
  });
  {
    auto db = jet::Database::Open(path_);
    ASSERT_TRUE(db.ok());
    auto report = jet::CheckDatabase(**db);
    ASSERT_TRUE(report.ok());
    EXPECT_TRUE(report->ok());
  }
  jet::SetIoHook(nullptr);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(testutil::FolderNames(dir_.path()), std::vector<std::string>{"Tallowin.mdb"});

#ifndef _WIN32
  // Unix permissions and a child that gives up root; not built for Windows.
  // A folder this user may not write: reading works, writing is refused
  // with a reason. Root may write anywhere, so the child gives up root.
  const std::string folder = dir_.File("readonly");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string db_path = folder + "/Tallowin.mdb";
  testutil::CopyFile(path_, db_path);
  ASSERT_EQ(::chmod(db_path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  int status = testutil::RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 10;
    auto db = jet::Database::Open(db_path);
    if (!db.ok()) return 11;
    auto report = jet::CheckDatabase(**db);
    if (!report.ok() || !report->ok()) return 12;
    auto writer = OpenForWriting(db_path);
    if (writer.ok() || writer.status().message().empty()) return 13;
    return 0;
  });
  EXPECT_TRUE(testutil::ChildExitCode(status) == 0) << status;
  EXPECT_EQ(testutil::FolderNames(folder), std::vector<std::string>{"Tallowin.mdb"});
  EXPECT_EQ(testutil::ReadFile(db_path), original_);
  ::chmod(folder.c_str(), 0755);
#endif
}

// Two writers, each importing its rows with jetdb one process at a time:
// a jetdb that finds the database busy is started again.
TEST_F(LockTest, TwoWritingProcessesTakeTurnsAndLoseNothing) {
  constexpr int kEach = 25;
  std::string failures[2];
  auto writer = [&](int w) {
    for (int i = 0; i < kEach; ++i) {
      const std::string row = R"({"TRACKING":")" + std::string(1, char('A' + w)) + "-" +
                              std::to_string(i) + R"(","SERVICE":"UPS-GND"})" + "\n";
      testutil::ProcessResult r;
      do {
        r = testutil::RunProcess({testutil::JetdbPath(), "import", path_, "Shipments", "-"}, row);
      } while (r.exit_code == 1 && r.err.find("opened by another user") != std::string::npos);
      if (r.exit_code != 0) failures[w] += r.err;
    }
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  EXPECT_EQ(failures[0] + failures[1], "");

  testutil::ExpectConsistent(path_);
  const auto rows = testutil::ReadRows(path_, "Shipments");
  std::set<std::string> ours;
  for (const auto& row : rows) {
    const std::string t = row.at("TRACKING").ToText();
    if (t.size() > 2 && (t[0] == 'A' || t[0] == 'B') && t[1] == '-') ours.insert(t);
  }
  EXPECT_EQ(rows.size(), size_t(2000 + 2 * kEach));
  EXPECT_EQ(ours.size(), size_t(2 * kEach));
}

}  // namespace
