// SPDX-License-Identifier: Apache-2.0
// A deterministic damage sweep: every page of a few fixtures is damaged in
// several ways, one page at a time, and the whole database is read after
// each change. Any outcome is allowed except a crash, a sanitizer report, a
// read that goes round a loop, or one that never ends. The sweep is
// meant to run under ASan and UBSan as well as in the normal build.
//
// Also replays every input that once made a fuzz target fail
// (fuzz/regressions/) through all three targets' operations, so that the
// ordinary build and its sanitizer run keep them fixed without clang or
// libFuzzer.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "../fuzz/fuzz_ops.h"
#include "full_read.h"
#include "jet/jet.h"
#include "test_util.h"

namespace {

// Damaged versions read per fixture page, and the seed: enough to keep the
// sweep to a few seconds. Longer hunts are the fuzz targets' job.
constexpr int kRoundsPerPage = 5;
constexpr uint32_t kSeed = 20240611;

// Writes the file and reads it end to end: no loop, and every failure
// still says which file it is about. (A read that hangs is the test's
// timeout's to catch: no test here measures time.)
void WriteAndRead(const std::string& path, const std::string& bytes, const std::string& what) {
  testutil::WriteFile(path, bytes);
  testutil::FullRead r = testutil::ReadWholeDatabase(path, /*include_system=*/true);
  EXPECT_FALSE(r.runaway) << what;
  EXPECT_EQ(r.status.ok() ? path : r.status.file(), path) << what << ": " << r.status.ToString();
}

// Damages page `number` of the file's bytes. Most changes aim at the fields
// readers trust: page headers, row-offset tables and the pointers stored in rows.
void DamagePage(std::string& bytes, uint32_t number, size_t size, std::mt19937& rng) {
  const uint32_t page_count = uint32_t(bytes.size() / size);
  auto at = [&](size_t limit) { return size_t(rng() % std::min(limit, size)); };
  const int changes = 1 + int(rng() % 3);
  for (int c = 0; c < changes; ++c) {
    uint8_t* p = reinterpret_cast<uint8_t*>(bytes.data()) + size_t(number) * size;
    switch (rng() % 6) {
      case 0:  // any byte
        p[at(size)] = uint8_t(rng());
        break;
      case 1:  // a header byte
        p[at(64)] = uint8_t(rng());
        break;
      case 2: {  // a 16-bit count or offset near the front, set to an edge value
        static const uint16_t kEdges[] = {0, 1, 0x00FF, 0x0FFF, 0x1FFF, 0x4000, 0x8000, 0xFFFF};
        const size_t off = at(600) & ~size_t(1);
        const uint16_t v = rng() % 2 ? kEdges[rng() % 8] : uint16_t(rng());
        if (off + 2 <= size) jet::PutLe16(p + off, v);
        break;
      }
      case 3: {  // a 32-bit row pointer: to this page, a real page, or past the end
        const size_t off = at(size - 4);
        const uint32_t target = rng() % 3 == 0   ? number
                                : rng() % 2 == 0 ? uint32_t(rng() % page_count)
                                                 : 0xFFFFFF;
        jet::PutLe32(p + off, (target << 8) | (rng() % 4));
        break;
      }
      case 4: {  // a run of random bytes
        const size_t off = at(size - 8);
        for (int i = 0; i < 8; ++i) p[off + i] = uint8_t(rng());
        break;
      }
      case 5:  // a flipped bit
        p[at(size)] ^= uint8_t(1u << (rng() % 8));
        break;
    }
  }
}

void Sweep(const std::string& fixture) {
  testutil::TempDir dir;
  const std::string original = testutil::ReadFile(testutil::Fixture(fixture));
  const std::string path = dir.File("sweep.mdb");
  testutil::WriteFile(path, original);

  // The pristine file must read cleanly, or the sweep proves nothing.
  testutil::FullRead clean = testutil::ReadWholeDatabase(path);
  ASSERT_TRUE(clean.status.ok()) << clean.status.ToString();
  ASSERT_GT(clean.rows, 0u);

  const size_t ps = jet::Database::ReadInfo(path).value().page_size;
  const uint32_t pages = uint32_t(original.size() / ps);
  std::mt19937 rng(kSeed);

  for (uint32_t n = 0; n < pages; ++n) {
    for (int round = 0; round < kRoundsPerPage; ++round) {
      std::string bytes = original;
      DamagePage(bytes, n, ps, rng);
      WriteAndRead(path, bytes,
                   fixture + " page " + std::to_string(n) + " round " + std::to_string(round));
    }
  }

  // Several pages at once: damage that one check would catch alone may get
  // past it when the structures it is checked against are damaged too.
  for (int round = 0; round < int(pages); ++round) {
    std::string bytes = original;
    for (int k = 0; k < 4; ++k) DamagePage(bytes, 1 + rng() % (pages - 1), ps, rng);
    WriteAndRead(path, bytes, fixture + " multi-page round " + std::to_string(round));
  }
}

TEST(DamageSweepTest, Jet3DatabaseSurvivesDamageToEveryPage) { Sweep("access/testV1997.mdb"); }

TEST(DamageSweepTest, Jet4DatabaseSurvivesDamageToEveryPage) { Sweep("access/indexTestV2000.mdb"); }

TEST(DamageSweepTest, HostsDatabaseSurvivesDamageToEveryPage) { Sweep("hosts/tallowin-v2000.mdb"); }

TEST(FuzzRegressionsTest, InputsThatOnceFailedAreReadCheckedAndWrittenSafely) {
  int inputs = 0;
  for (const auto& dir : std::filesystem::directory_iterator(AFC_FUZZ_REGRESSIONS_DIR)) {
    if (!dir.is_directory()) continue;
    for (const auto& input : std::filesystem::directory_iterator(dir.path())) {
      if (input.path().extension() == ".md") continue;
      SCOPED_TRACE(input.path().string());
      testutil::TempDir scratch;
      const std::string path = scratch.File("input.mdb");
      testutil::WriteFile(path, testutil::ReadFile(input.path().string()));
      fuzz::ReadEverything(path);
      fuzz::Check(path);
      fuzz::InsertUpdateDelete(path);
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
