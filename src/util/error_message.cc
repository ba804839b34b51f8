// SPDX-License-Identifier: Apache-2.0
#include "util/error_message.h"

namespace afc {

std::string ErrorMessagePrompt(const std::string& ErrorDescription, const std::string& Message) {
  const std::string text = Message.empty() ? std::string(kProcessFailed) : Message;
  return text + "\r\rThe following error has occurred:\r" + ErrorDescription;
}

void ShowErrorMessage(UserInterface& ui, const std::string& ErrorDescription,
                      const std::string& Message, const std::string& Title) {
  ui.ShowMessageBox(ErrorMessagePrompt(ErrorDescription, Message), kVbExclamation,
                    Title.empty() ? std::string(kProcessFailed) : Title);
}

}  // namespace afc
