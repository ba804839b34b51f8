// SPDX-License-Identifier: Apache-2.0
#include "util/wide_text.h"

#ifdef _WIN32

#include <windows.h>

namespace afc {

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring wide;
  if (text.empty()) return wide;
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  wide.resize(size_t(n > 0 ? n : 0));
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  std::string out;
  if (wide.empty()) return out;
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  out.resize(size_t(n > 0 ? n : 0));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace afc

#endif  // _WIN32
