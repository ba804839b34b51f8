// SPDX-License-Identifier: Apache-2.0
// Path and file helpers: whether a path names an existing file, and the
// last component and the folder of a path.
//
// Paths use the platform's separators: backslash and slash on Windows, slash
// elsewhere.

#ifndef UTIL_PATHS_H_
#define UTIL_PATHS_H_

#include <string>

#include "util/boolean.h"
#include "util/user_interface.h"

namespace afc {

// The title of the box FileExists shows.
inline constexpr char kApplicationTitle[] = "add-firstclass";

// True when `Path` names an existing ordinary file, taken literally (no
// wildcards); never for a folder, and false on any failure. When the answer
// is false and `ShowMessage` is true, tells the user through `ui` (which may
// then not be null).
Boolean FileExists(const std::string& Path, Boolean ShowMessage, UserInterface* ui = nullptr);

// The text after the last separator; empty when there is none.
std::string GetFileName(const std::string& Path);

// `Path` without its last component and the separator before it; unchanged
// when it has no separator.
std::string GetFolderPath(const std::string& Path);

// Where Tallowin keeps its database: C:\Tallowin\Tallowin.mdb on Windows,
// elsewhere the same file inside the Wine prefix ($WINEPREFIX, by default
// ~/.wine): PREFIX/drive_c/Tallowin/Tallowin.mdb.
std::string DefaultDatabasePath();

}  // namespace afc

#endif  // UTIL_PATHS_H_
