// SPDX-License-Identifier: Apache-2.0
#include "util/user_interface.h"

namespace afc {

std::string PromptWithNewlines(const std::string& prompt) {
  std::string out;
  out.reserve(prompt.size());
  for (size_t i = 0; i < prompt.size(); ++i) {
    if (prompt[i] != '\r') {
      out += prompt[i];
    } else if (i + 1 == prompt.size() || prompt[i + 1] != '\n') {
      out += '\n';  // a CR before an LF is dropped: the LF breaks the line
    }
  }
  return out;
}

}  // namespace afc
