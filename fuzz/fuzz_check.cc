// Fuzz target: run the consistency checker over a database. Damage must end
// up in the report (or a Status), never in a crash or a hang.

#include <cstdint>

#include "fuzz_util.h"
#include "jet/jet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = fuzz::WriteScratch(data, size);
  auto db = jet::Database::Open(path);
  if (!db.ok()) return 0;
  (void)jet::CheckDatabase(**db);
  return 0;
}
