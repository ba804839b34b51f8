// SPDX-License-Identifier: Apache-2.0
// IoCounts: how many database pages the engine has read from disk and
// written to it in this program, over every database it has opened, to
// measure what an operation costs.
//
//   const jet::IoCounts before = jet::GetIoCounts();
//   ... insert a row ...
//   const uint64_t written = jet::GetIoCounts().pages_written - before.pages_written;
//
// A page served from the cache is not read again; a page read ahead counts
// when it is read. Journal traffic is not counted. The counts only grow,
// and may be read from any thread.

#ifndef JET_IO_COUNTS_H_
#define JET_IO_COUNTS_H_

#include <cstdint>

namespace jet {

struct IoCounts {
  uint64_t pages_read = 0;
  uint64_t pages_written = 0;
};

IoCounts GetIoCounts();

}  // namespace jet

#endif  // JET_IO_COUNTS_H_
