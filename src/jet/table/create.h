// SPDX-License-Identifier: Apache-2.0
// The engine's name for what include/jet/create.h declares.

#ifndef JET_TABLE_CREATE_H_
#define JET_TABLE_CREATE_H_

#include "jet/internal/guard.h"

#include "jet/create.h"
#include "jet/db/database.h"

#endif  // JET_TABLE_CREATE_H_
