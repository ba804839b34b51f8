// SPDX-License-Identifier: Apache-2.0
// Status and Result, the engine's way of reporting success or failure:
// every call returns one of them and nothing throws.

#ifndef JET_STATUS_H_
#define JET_STATUS_H_

#include "base/status.h"

#endif  // JET_STATUS_H_
