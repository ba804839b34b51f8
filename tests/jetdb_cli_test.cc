// jetdb as a user runs it: exit codes, output streams, and each command.

#include <gtest/gtest.h>

#include "test_util.h"

using testutil::Fixture;
using testutil::JetdbPath;
using testutil::RunProcess;

TEST(JetdbCliTest, HelpGoesToStdoutWithExitZero) {
  auto r = RunProcess({JetdbPath(), "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Usage: jetdb"), std::string::npos);
  EXPECT_TRUE(r.err.empty());
}

TEST(JetdbCliTest, BadUsageExitsTwoWithMessageOnStderr) {
  for (const auto& argv : std::vector<std::vector<std::string>>{
           {JetdbPath()},
           {JetdbPath(), "--json"},
           {JetdbPath(), "--format", "csv"},
           {JetdbPath(), "frobnicate", "x.mdb"},
           {JetdbPath(), "info"},
           {JetdbPath(), "export", Fixture("access/testV2000.mdb")},
           {JetdbPath(), "export", Fixture("access/testV2000.mdb"), "Table1", "--format", "xml"},
           {JetdbPath(), "tables", Fixture("access/testV2000.mdb"), "--bogus"}}) {
    auto r = RunProcess(argv);
    EXPECT_EQ(r.exit_code, 2) << argv.size();
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("jetdb:"), std::string::npos);
  }
}

TEST(JetdbCliTest, ErrorsExitOneWithMessageOnStderr) {
  auto r = RunProcess({JetdbPath(), "tables", "/nonexistent/Tallowin.mdb"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("does not exist"), std::string::npos);
  EXPECT_NE(r.err.find("/nonexistent/Tallowin.mdb"), std::string::npos);

  r = RunProcess({JetdbPath(), "export", Fixture("access/testV2000.mdb"), "NoSuchTable"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("NoSuchTable"), std::string::npos);
}

TEST(JetdbCliTest, InfoDescribesJet3AndJet4) {
  auto r = RunProcess({JetdbPath(), "info", Fixture("access/testV1997.mdb")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("format: jet3"), std::string::npos);
  EXPECT_NE(r.out.find("page size: 2048"), std::string::npos);
  EXPECT_NE(r.out.find("page count: 58"), std::string::npos);
  EXPECT_NE(r.out.find("code page: 1252"), std::string::npos);
  EXPECT_NE(r.out.find("password: no"), std::string::npos);

  r = RunProcess({JetdbPath(), "info", Fixture("hosts/tallowin-v2003.mdb")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("format: jet4"), std::string::npos);
  EXPECT_NE(r.out.find("page size: 4096"), std::string::npos);
  EXPECT_NE(r.out.find("sort order: General (legacy) (1033)"), std::string::npos);
}

TEST(JetdbCliTest, TablesListsUserTablesInCatalogOrder) {
  auto r = RunProcess({JetdbPath(), "tables", Fixture("hosts/tallowin-v2000.mdb")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Master\nPanel\nShipments\n");
}
