// SPDX-License-Identifier: Apache-2.0
// JSON string literals: text in double quotes with the escapes JSON
// requires (\" \\ \n \r \t \b \f, other control characters as \u00XX).
// Bytes from 0x80 up pass through as they are, so UTF-8 stays UTF-8.

#ifndef INTERCHANGE_JSON_QUOTE_H_
#define INTERCHANGE_JSON_QUOTE_H_

#include <cstddef>
#include <string>

namespace jet {

std::string JsonQuote(const std::string& s);
void AppendJsonQuoted(std::string& out, const std::string& s);

// The same into a caller's buffer, for export; `p` must have room for
// 6 * n + 2 bytes. Returns the end of what was written.
char* JsonQuoteTo(char* p, const char* s, size_t n);

}  // namespace jet

#endif  // INTERCHANGE_JSON_QUOTE_H_
