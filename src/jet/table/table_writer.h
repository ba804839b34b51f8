// SPDX-License-Identifier: Apache-2.0
// The engine's name for what include/jet/table_writer.h declares, with the
// parts of the engine a writer is made of.

#ifndef JET_TABLE_TABLE_WRITER_H_
#define JET_TABLE_TABLE_WRITER_H_

#include "jet/internal/guard.h"

#include "jet/db/database.h"
#include "jet/db/properties.h"
#include "jet/format/row_encoder.h"
#include "jet/index/index_writer.h"
#include "jet/table/expressions.h"
#include "jet/table_writer.h"

#endif  // JET_TABLE_TABLE_WRITER_H_
