// SPDX-License-Identifier: Apache-2.0
// What a command-line program does first, the same on every platform: its
// arguments as UTF-8, and standard streams that pass UTF-8 bytes through
// unchanged, so that output is byte for byte the same on Linux and Windows.
//
// On Windows the arguments come from the UTF-16 command line (argv holds
// them in the ANSI code page, which cannot spell every file name), the
// streams are switched to binary mode (no "\n" to "\r\n"), and a console
// shows UTF-8. A program linked as a GUI program has no console of its own;
// AttachParentConsole gives it the one it was started from, when its
// streams are not redirected already.

#ifndef UTIL_PROGRAM_START_H_
#define UTIL_PROGRAM_START_H_

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace afc {

// The arguments after the program name.
std::vector<std::string> StartProgram(int argc, char** argv);

// Windows: connects stdin, stdout and stderr that are not redirected to the
// console of the parent process, if it has one. Elsewhere: nothing.
void AttachParentConsole();

// Whether `stream` is an interactive terminal (or console).
bool IsTerminal(std::FILE* stream);

// A UTF-8 path as the standard library's file streams want it.
std::filesystem::path NativePath(const std::string& utf8);

}  // namespace afc

#endif  // UTIL_PROGRAM_START_H_
