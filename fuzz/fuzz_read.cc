// SPDX-License-Identifier: Apache-2.0
// Fuzz target: open a database and read all of it (see fuzz_ops.h).

#include <cstdint>

#include "fuzz_ops.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ReadEverything(fuzz::WriteScratch(data, size));
  return 0;
}
