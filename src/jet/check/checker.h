// SPDX-License-Identifier: Apache-2.0
// The engine's name for what include/jet/check.h declares.

#ifndef JET_CHECK_CHECKER_H_
#define JET_CHECK_CHECKER_H_

#include "jet/internal/guard.h"

#include "jet/check.h"
#include "jet/db/database.h"

#endif  // JET_CHECK_CHECKER_H_
