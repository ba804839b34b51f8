// Exclusive access while writing: another program holding the database
// (ours, or Jet by its lock file and byte-range locks) keeps writers out;
// lock files of programs that died do not; our own lock file goes when we
// close; reading never writes anything.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "lock_file.h"
#include "safe_write_util.h"

namespace {

using testutil::Child;
using testutil::LockHolderPath;
using testutil::OpenForWriting;

constexpr off_t kJetUserSlot1 = 0x10000001;

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A foreign program (as Jet would): takes a classic fcntl lock of `type` on
// one byte of `path` and keeps it until Release.
class ForeignLock {
 public:
  ForeignLock(const std::string& path, short type, off_t byte) {
    int ready[2], done[2];
    if (pipe(ready) != 0 || pipe(done) != 0) return;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(done[1]);  // so that the parent closing its end is seen here
      int fd = ::open(path.c_str(), type == F_WRLCK ? O_RDWR : O_RDONLY);
      struct flock fl = {};
      fl.l_type = type;
      fl.l_whence = SEEK_SET;
      fl.l_start = byte;
      fl.l_len = 1;
      char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 'y' : 'n';
      (void)!::write(ready[1], &ok, 1);
      char c;
      (void)!::read(done[0], &c, 1);
      _exit(0);
    }
    close(ready[1]);
    close(done[0]);
    done_ = done[1];
    char ok = 'n';
    (void)!::read(ready[0], &ok, 1);
    close(ready[0]);
    held_ = ok == 'y';
  }
  ~ForeignLock() { Release(); }
  bool held() const { return held_; }
  void Release() {
    if (pid_ <= 0) return;
    close(done_);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int done_ = -1;
  bool held_ = false;
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
  void SetUp() override {
    path_ = dir_.File("Tallowin.mdb");
    testutil::CopyFile(testutil::Fixture("hosts/tallowin-v2000.mdb"), path_);
    original_ = testutil::ReadFile(path_);
    ldb_ = dir_.File("Tallowin.ldb");
  }

  void ExpectBusy(const jet::Status& s) {
    EXPECT_EQ(s.kind(), jet::ErrorKind::kBusy) << s.ToString();
    EXPECT_NE(s.message().find("opened by another user or program"), std::string::npos)
        << s.message();
  }

  void ExpectUntouched() {
    EXPECT_EQ(testutil::ReadFile(path_), original_);
    EXPECT_FALSE(Exists(path_ + "-journal"));
  }

  testutil::TempDir dir_;
  std::string path_, original_, ldb_;
};

TEST(LockFileNameTest, FollowsJetsNamingBesideTheDatabase) {
  EXPECT_EQ(jet::LockFilePath("/data/Tallowin.mdb"), "/data/Tallowin.ldb");
  EXPECT_EQ(jet::LockFilePath("/data/TALLOWIN.MDB"), "/data/TALLOWIN.LDB");
  EXPECT_EQ(jet::LockFilePath("shop.accdb"), "shop.laccdb");
  EXPECT_EQ(jet::LockFilePath("/data.d/settings"), "/data.d/settings.ldb");
}

TEST_F(LockTest, ProcessWritingKeepsOutEveryOtherWriterAndReader) {
  Child holder({LockHolderPath(), "hold", "write", path_});
  ASSERT_EQ(holder.ReadLine(), "ready");
  EXPECT_TRUE(Exists(ldb_));

  auto writer = OpenForWriting(path_);
  ASSERT_FALSE(writer.ok());
  ExpectBusy(writer.status());
  auto reader = jet::Database::Open(path_);
  ASSERT_FALSE(reader.ok());
  ExpectBusy(reader.status());
  Child second({LockHolderPath(), "hold", "write", path_});
  EXPECT_EQ(second.ReadLine().rfind("busy: The database is opened by another user", 0), 0u);
  EXPECT_EQ(second.Finish(), 1);
  ExpectUntouched();

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

    auto writer = OpenForWriting(path_);
    ASSERT_FALSE(writer.ok());
    ExpectBusy(writer.status());
    ExpectUntouched();
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
    ForeignLock jet_user(ldb_, F_WRLCK, kJetUserSlot1);
    ASSERT_TRUE(jet_user.held());
    auto writer = OpenForWriting(path_);
    ASSERT_FALSE(writer.ok());
    ExpectBusy(writer.status());
    EXPECT_NE(writer.status().message().find("OFFICE-PC/Admin"), std::string::npos)
        << writer.status().message();
    ExpectUntouched();
    EXPECT_EQ(testutil::ReadFile(ldb_), entries);
  }
  // A lock on the database itself, e.g. a page lock far past its end.
  {
    ForeignLock page_lock(path_, F_RDLCK, 0x10000000 + 300);
    ASSERT_TRUE(page_lock.held());
    auto writer = OpenForWriting(path_);
    ASSERT_FALSE(writer.ok());
    ExpectBusy(writer.status());
    ExpectUntouched();
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
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(entry.substr(0, 32),
              LockFileEntry(std::string(host).substr(0, 31), "").substr(0, 32));
    EXPECT_EQ(entry.substr(32), LockFileEntry("", "Admin").substr(32));
  }
  EXPECT_EQ(testutil::FolderNames(dir_.path()), std::vector<std::string>{"Tallowin.mdb"});

  const std::string upper = dir_.File("SETTINGS.MDB");
  testutil::CopyFile(path_, upper);
  {
    auto db = OpenForWriting(upper);
    ASSERT_TRUE(db.ok());
    EXPECT_TRUE(Exists(dir_.File("SETTINGS.LDB")));
  }
  EXPECT_FALSE(Exists(dir_.File("SETTINGS.LDB")));
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
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(testutil::FolderNames(folder), std::vector<std::string>{"Tallowin.mdb"});
  EXPECT_EQ(testutil::ReadFile(db_path), original_);
  ::chmod(folder.c_str(), 0755);
}

TEST_F(LockTest, TwoWritingProcessesTakeTurnsAndLoseNothing) {
  constexpr int kEach = 25;
  Child a({LockHolderPath(), "insert", path_, std::to_string(kEach), "A"});
  Child b({LockHolderPath(), "insert", path_, std::to_string(kEach), "B"});
  const std::string a_says = a.ReadLine(), b_says = b.ReadLine();
  EXPECT_EQ(a_says.rfind("done", 0), 0u) << a_says;
  EXPECT_EQ(b_says.rfind("done", 0), 0u) << b_says;
  EXPECT_EQ(a.Finish(), 0);
  EXPECT_EQ(b.Finish(), 0);

  auto db = jet::Database::Open(path_);
  ASSERT_TRUE(db.ok());
  auto report = jet::CheckDatabase(**db);
  ASSERT_TRUE(report.ok());
  for (const auto& p : report->problems) ADD_FAILURE() << p;
  jet::TableScanner scan(**db, *(*db)->GetTable("Shipments"));
  std::vector<jet::Value> row;
  std::set<std::string> ours;
  int rows = 0;
  while (*scan.Next(&row)) {
    ++rows;
    const std::string t = row[1].ToText();
    if (t.size() > 2 && (t[0] == 'A' || t[0] == 'B') && t[1] == '-') ours.insert(t);
  }
  EXPECT_EQ(rows, 2000 + 2 * kEach);
  EXPECT_EQ(ours.size(), size_t(2 * kEach));
}

}  // namespace
