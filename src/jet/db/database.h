// SPDX-License-Identifier: Apache-2.0
// The engine's name for what include/jet/database.h and table_scanner.h
// declare, with the parts of the engine an open database is made of: its
// header, pager and lock, and the row decoder scans use.

#ifndef JET_DB_DATABASE_H_
#define JET_DB_DATABASE_H_

#include "jet/internal/guard.h"

#include "base/status.h"
#include "jet/database.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/os/lock_file.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"
#include "jet/table_scanner.h"
#include "jet/value.h"

#endif  // JET_DB_DATABASE_H_
