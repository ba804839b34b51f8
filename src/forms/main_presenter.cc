// SPDX-License-Identifier: Apache-2.0
#include "forms/main_presenter.h"

#include <exception>

#include "install/installer.h"
#include "util/error_message.h"
#include "util/paths.h"

namespace afc {

namespace {

// A pointer shape for the life of the object.
class CursorScope {
 public:
  CursorScope(MainView& view, Cursor cursor) : view_(view) { view_.PushCursor(cursor); }
  ~CursorScope() { view_.PopCursor(); }
  CursorScope(const CursorScope&) = delete;
  CursorScope& operator=(const CursorScope&) = delete;

 private:
  MainView& view_;
};

}  // namespace

BoxIcon BoxIconForStyle(int style) {
  // The icon bits of the Windows message box flags.
  switch (style & 0x70) {
    case 16:
      return BoxIcon::kCritical;
    case 32:
      return BoxIcon::kQuestion;
    case kVbExclamation:
      return BoxIcon::kWarning;
    case kVbInformation:
      return BoxIcon::kInformation;
    default:
      return BoxIcon::kNone;
  }
}

MainPresenter::MainPresenter(MainView& view, InstallFunction install)
    : view_(view), install_(install ? std::move(install) : InstallFunction(InstallFirstClass)) {}

void MainPresenter::Form_Load() {
  txtPath_Change();
  if (!action_enabled_) view_.SetPathText(std::string());
}

void MainPresenter::txtPath_Change() {
  action_enabled_ = FileExists(view_.PathText(), kFalse) != kFalse;
  view_.SetActionEnabled(action_enabled_);
}

void MainPresenter::cmdTremlock_Click() {
  // The hourglass stays up on every path out of the handler.
  CursorScope hourglass(view_, Cursor::kWait);
  try {
    if (install_(*this, view_.PathText()) != kFalse) {
      ShowMessageBox(kSuccessBoxText, kVbInformation, kSuccessBoxTitle);
      SetStatusText(kFinishedStatus);
    } else {
      SetStatusText(kFailedStatus);
    }
  } catch (const std::exception& e) {
    ShowErrorMessage(*this, e.what(), kFailedToAddService, "");
  }
}

void MainPresenter::cmdCD_Click() {
  const std::optional<std::string> path = view_.AskForFile(kLocateTitle, kLocateFilter, kLocatePattern);
  // A cancel leaves the path box as it was.
  if (path) view_.SetPathText(*path);
}

void MainPresenter::SetStatusText(const std::string& text) { view_.SetStatusText(text); }

void MainPresenter::ShowMessageBox(const std::string& prompt, int style, const std::string& title) {
  // The ordinary arrow over a modal box, even while the hourglass is up.
  CursorScope arrow(view_, Cursor::kArrow);
  view_.ShowMessageBox(BoxIconForStyle(style), title, PromptWithNewlines(prompt));
}

}  // namespace afc
