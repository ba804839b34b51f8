// SPDX-License-Identifier: Apache-2.0
#include "util/program_start.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h first.
#include <shellapi.h>

#include "util/wide_text.h"
#else
#include <unistd.h>
#endif

namespace afc {

#ifdef _WIN32

namespace {

bool Usable(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

std::vector<std::string> StartProgram(int, char**) {
  std::vector<std::string> args;
  int n = 0;
  if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = 1; i < n; ++i) args.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
  }
  for (std::FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  return args;
}

void AttachParentConsole() {
  const bool out = Usable(STD_OUTPUT_HANDLE), err = Usable(STD_ERROR_HANDLE);
  if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!out && std::freopen("CONOUT$", "w", stdout)) _setmode(_fileno(stdout), _O_BINARY);
  if (!err && std::freopen("CONOUT$", "w", stderr)) _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  // The shell printed its prompt when it started us; start below it.
  std::fputs("\n", out ? stderr : stdout);
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::filesystem::path NativePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

#else

std::vector<std::string> StartProgram(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void AttachParentConsole() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::filesystem::path NativePath(const std::string& utf8) { return std::filesystem::path(utf8); }

#endif

}  // namespace afc
