// SPDX-License-Identifier: Apache-2.0
// Fuzz target: run the consistency checker over a database. Damage must end
// up in the report (or a Status), never in a crash or a hang.

#include <cstdint>

#include "fuzz_ops.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Check(fuzz::WriteScratch(data, size));
  return 0;
}
