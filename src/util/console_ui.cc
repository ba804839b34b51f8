#include "console_ui.h"

namespace afc {

namespace {

bool IsProgress(const std::string& text) { return text.rfind("Adding service settings ", 0) == 0; }

std::string WithNewlines(std::string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    if (i + 1 < text.size() && text[i + 1] == '\n') {
      text.erase(i, 1);  // CR LF: one line break
    } else {
      text[i] = '\n';
    }
  }
  return text;
}

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
               WithNewlines(prompt).c_str());
  std::fflush(to);
}

}  // namespace afc
