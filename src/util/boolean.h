// SPDX-License-Identifier: Apache-2.0
// The 16-bit booleans of the installer's procedures: true is -1 and false is
// 0, and results combine with a bitwise And.

#ifndef UTIL_BOOLEAN_H_
#define UTIL_BOOLEAN_H_

#include <cstdint>

namespace afc {

using Boolean = int16_t;
constexpr Boolean kTrue = -1;
constexpr Boolean kFalse = 0;
inline Boolean ToBoolean(bool b) { return b ? kTrue : kFalse; }

}  // namespace afc

#endif  // UTIL_BOOLEAN_H_
