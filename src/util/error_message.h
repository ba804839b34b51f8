// SPDX-License-Identifier: Apache-2.0
// ShowErrorMessage: the one way failures are told to the user, a warning box
// with what the program was doing above the error's own description.

#ifndef UTIL_ERROR_MESSAGE_H_
#define UTIL_ERROR_MESSAGE_H_

#include <string>

#include "util/user_interface.h"

namespace afc {

// Used for an empty message and an empty title.
inline constexpr char kProcessFailed[] = "Process has failed !";

// The box's text: `Message` (or kProcessFailed), an empty line, "The following
// error has occurred:" and `ErrorDescription`, with a lone CR between lines.
std::string ErrorMessagePrompt(const std::string& ErrorDescription, const std::string& Message);

// Shows that text in a warning box (style 48) titled `Title`, or
// kProcessFailed when `Title` is empty; returns when the box was closed.
void ShowErrorMessage(UserInterface& ui, const std::string& ErrorDescription,
                      const std::string& Message, const std::string& Title);

}  // namespace afc

#endif  // UTIL_ERROR_MESSAGE_H_
