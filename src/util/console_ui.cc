// SPDX-License-Identifier: Apache-2.0
#include "util/console_ui.h"

namespace afc {

namespace {

bool IsProgress(const std::string& text) { return text.rfind("Adding service settings ", 0) == 0; }

}  // namespace

void ConsoleUi::EndLine() {
  if (!line_open_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  line_open_ = false;
}

void ConsoleUi::SetStatusText(const std::string& text) {
  if (terminal_ && IsProgress(text)) {
    // Back to the start of the line, and clear what was there.
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    std::fflush(out_);
    line_open_ = true;
    return;
  }
  if (terminal_ && line_open_) {
    std::fprintf(out_, "\r\033[K");
    line_open_ = false;
  }
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void ConsoleUi::ShowMessageBox(const std::string& prompt, int style, const std::string& title) {
  EndLine();
  std::FILE* to = style == kVbInformation ? out_ : err_;
  std::fprintf(to, "%s%s\n%s\n", style == kVbExclamation ? "Warning: " : "", title.c_str(),
               PromptWithNewlines(prompt).c_str());
  std::fflush(to);
}

}  // namespace afc
