// SPDX-License-Identifier: Apache-2.0
// The splitting behind GetFileName and GetFolderPath, with the separator set
// as a parameter so that both platforms' rules can be exercised anywhere.

#ifndef UTIL_PATHS_INTERNAL_H_
#define UTIL_PATHS_INTERNAL_H_

#include <string>
#include <string_view>

namespace afc {
namespace internal {

// Windows accepts either separator; elsewhere a backslash is an ordinary
// character of a name.
inline constexpr std::string_view kWindowsSeparators = "\\/";
inline constexpr std::string_view kPosixSeparators = "/";

// The text after the last character of `separators` in `path`; empty when
// there is none or when `path` ends with one.
std::string FileNameOf(const std::string& path, std::string_view separators);

// `path` cut at its last separator (the separator goes too); unchanged when
// there is none.
std::string FolderOf(const std::string& path, std::string_view separators);

}  // namespace internal
}  // namespace afc

#endif  // UTIL_PATHS_INTERNAL_H_
