// SPDX-License-Identifier: Apache-2.0
// Fuzz target: write to a damaged database. Opens a writable copy; in the
// first user table, rewrites its first row as it is and deletes its second,
// then inserts a row, updates it to a longer row (which may move it) and
// deletes it (see fuzz_ops.h). Each step may fail with a
// Status; none may crash, write outside the file's pages, or loop.

#include <cstdint>

#include "fuzz_ops.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InsertUpdateDelete(fuzz::WriteScratch(data, size));
  return 0;
}
