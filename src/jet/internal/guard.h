// SPDX-License-Identifier: Apache-2.0
// Every header under src/jet/<layer>/ starts by including this one: they
// are the engine's own, and only code built as part of the engine (the
// `jet` target) or its tests (the `jet_internal` target) defines
// JET_ENGINE_INTERNAL. Everyone else uses the public headers in
// include/jet/, which name what the engine promises to keep.

#ifndef JET_INTERNAL_GUARD_H_
#define JET_INTERNAL_GUARD_H_

#ifndef JET_ENGINE_INTERNAL
#error "This header (named on the 'In file included from' line above) is internal to the Jet engine; use the public headers in jet/ (jet/jet.h has them all), or link jet_internal from a test."
#endif

#endif  // JET_INTERNAL_GUARD_H_
