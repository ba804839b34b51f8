// SPDX-License-Identifier: Apache-2.0
// UserInterface: the two things the installation asks of whoever shows it to
// a person, the status text and a modal message box.
//
// The window, the command line and the tests each supply their own. Every
// call returns only when the person has seen it: ShowMessageBox returns
// after the box was closed.

#ifndef UTIL_USER_INTERFACE_H_
#define UTIL_USER_INTERFACE_H_

#include <string>

namespace afc {

// Message box styles, with the values of the Windows message box flags: an OK
// button and the exclamation (warning) or information icon.
constexpr int kVbExclamation = 48;
constexpr int kVbInformation = 64;

// `prompt` with its line breaks as newlines: a lone CR, or CR LF, becomes
// one "\n".
std::string PromptWithNewlines(const std::string& prompt);

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Replaces the status text.
  virtual void SetStatusText(const std::string& text) = 0;

  // Shows `prompt` in a modal box of `style` titled `title`, and returns when
  // it has been closed. A lone CR ("\r") in `prompt` is a line break.
  virtual void ShowMessageBox(const std::string& prompt, int style, const std::string& title) = 0;
};

}  // namespace afc

#endif  // UTIL_USER_INTERFACE_H_
