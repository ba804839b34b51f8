// SPDX-License-Identifier: Apache-2.0
// The engine's name for what include/jet/value_format.h declares.

#ifndef JET_FORMAT_VALUE_FORMAT_H_
#define JET_FORMAT_VALUE_FORMAT_H_

#include "jet/internal/guard.h"

#include "jet/value_format.h"

#endif  // JET_FORMAT_VALUE_FORMAT_H_
