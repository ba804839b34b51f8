// SPDX-License-Identifier: Apache-2.0
// ConsoleUi: the installation's status text and message boxes on a
// terminal or in a log.
//
// Status texts go to standard output, one line each; on a terminal the
// progress texts ("Adding service settings i of N") rewrite one line in
// place instead. Warning boxes go to standard error, information boxes to
// standard output, each as its title and then its text, the box's line
// breaks (a lone CR) turned into newlines.

#ifndef UTIL_CONSOLE_UI_H_
#define UTIL_CONSOLE_UI_H_

#include <cstdio>
#include <string>

#include "util/user_interface.h"

namespace afc {

class ConsoleUi : public UserInterface {
 public:
  // `terminal`: whether `out` is a terminal, where a line can be rewritten.
  ConsoleUi(std::FILE* out, std::FILE* err, bool terminal)
      : out_(out), err_(err), terminal_(terminal) {}
  ~ConsoleUi() override { EndLine(); }

  void SetStatusText(const std::string& text) override;
  void ShowMessageBox(const std::string& prompt, int style, const std::string& title) override;

  // Ends a line left open by a progress text.
  void EndLine();

 private:
  std::FILE* out_;
  std::FILE* err_;
  bool terminal_;
  bool line_open_ = false;
};

}  // namespace afc

#endif  // UTIL_CONSOLE_UI_H_
