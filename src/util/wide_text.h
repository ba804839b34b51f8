// SPDX-License-Identifier: Apache-2.0
// Windows only: UTF-8, the programs' own text, to and from the UTF-16 that
// Windows' wide calls take and give. Texts, not file paths: the engine
// makes its own paths wide, with the long-path prefix where one is needed.

#ifndef UTIL_WIDE_TEXT_H_
#define UTIL_WIDE_TEXT_H_

#ifdef _WIN32

#include <string>
#include <string_view>

namespace afc {

std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace afc

#endif  // _WIN32

#endif  // UTIL_WIDE_TEXT_H_
