// Replays every input that once made a fuzz target fail (fuzz/regressions/)
// through all three targets' operations, so that the ordinary build and its
// sanitizer run keep them fixed without clang or libFuzzer.

#include <gtest/gtest.h>

#include <filesystem>

#include "../fuzz/fuzz_ops.h"
#include "test_util.h"

namespace {

TEST(FuzzRegressionsTest, InputsThatOnceFailedAreReadCheckedAndWrittenSafely) {
  namespace fs = std::filesystem;
  int inputs = 0;
  for (const auto& dir : fs::directory_iterator(AFC_FUZZ_REGRESSIONS_DIR)) {
    if (!dir.is_directory()) continue;
    for (const auto& input : fs::directory_iterator(dir.path())) {
      if (input.path().extension() == ".md") continue;
      SCOPED_TRACE(input.path().string());
      testutil::TempDir scratch;
      const std::string path = scratch.File("input.mdb");
      const std::string bytes = testutil::ReadFile(input.path().string());
      testutil::WriteFile(path, bytes);
      fuzz::ReadEverything(path);
      fuzz::Check(path);
      fuzz::InsertUpdateDelete(path);
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
