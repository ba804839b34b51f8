// SPDX-License-Identifier: Apache-2.0
// The engine's name for what include/jet/value_text.h declares.

#ifndef JET_FORMAT_VALUE_TEXT_H_
#define JET_FORMAT_VALUE_TEXT_H_

#include "jet/internal/guard.h"

#include "jet/format/table_def.h"
#include "jet/value_text.h"

#endif  // JET_FORMAT_VALUE_TEXT_H_
