// SPDX-License-Identifier: Apache-2.0
// A UserInterface that remembers what it was shown, in order: status texts
// as they are, message boxes as "BOX style|title|prompt".

#ifndef TESTS_RECORDING_UI_H_
#define TESTS_RECORDING_UI_H_

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "util/user_interface.h"

namespace testutil {

struct RecordingUi : afc::UserInterface {
  void SetStatusText(const std::string& text) override { shown.push_back(text); }
  void ShowMessageBox(const std::string& prompt, int style, const std::string& title) override {
    shown.push_back("BOX " + std::to_string(style) + "|" + title + "|" + prompt);
  }
  std::vector<std::string> Only(bool boxes) const {
    std::vector<std::string> out;
    std::copy_if(shown.begin(), shown.end(), std::back_inserter(out),
                 [&](const std::string& s) { return (s.rfind("BOX ", 0) == 0) == boxes; });
    return out;
  }
  std::vector<std::string> Boxes() const { return Only(true); }
  std::vector<std::string> Statuses() const { return Only(false); }
  std::vector<std::string> shown;
};

}  // namespace testutil

#endif  // TESTS_RECORDING_UI_H_
