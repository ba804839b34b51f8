// SPDX-License-Identifier: Apache-2.0
// MainPresenter: everything the main window decides, with no toolkit.
//
// The window is a path box for the Tallowin database, a "..." button that
// browses for it, the action button that adds the service, and a two-panel
// status bar for the progress and the outcome. What the handlers do (when
// the action button is enabled, which texts and boxes appear in which
// order, when the hourglass shows, what the file dialog asks for) lives
// here, once. The Qt window (frm_main.h) and the Win32 window
// (win32_main_window.h) only draw the controls, implement MainView, and
// forward their events to the handlers below.
//
// The layout is kept in twips (1/1440 inch, 15 to a pixel at 96 dpi), as
// the classic window was laid out; each view turns them into pixels for
// its screen.

#ifndef FORMS_MAIN_PRESENTER_H_
#define FORMS_MAIN_PRESENTER_H_

#include <functional>
#include <optional>
#include <string>

#include "util/boolean.h"
#include "util/user_interface.h"

namespace afc {

// The window's texts.
inline constexpr char kWindowTitle[] = "Add USPS First-Class Mail";
inline constexpr char kActionCaption[] = "Add USPS First-Class Mail to Tallowin";
inline constexpr char kFrameCaption[] = "Tallowin database location:";
inline constexpr char kBrowseCaption[] = "...";
inline constexpr char kStatusCaption[] = "Status:";

// What the "..." button asks for: the dialog's title, and its one filter,
// whose description names the only file it matches.
inline constexpr char kLocateTitle[] = "Locate Tallowin.mdb";
inline constexpr char kLocateFilter[] = "Tallowin Database (Tallowin.mdb)";
inline constexpr char kLocatePattern[] = "Tallowin.mdb";

struct TwipRect {
  int left, top, width, height;
};

// Positions are in the window's client area, except the path box and the
// browse button, which sit inside the frame.
namespace layout {
inline constexpr int kClientWidth = 5895;
inline constexpr int kClientHeight = 1830;
inline constexpr TwipRect kAction{1320, 960, 3135, 495};
inline constexpr TwipRect kFrame{120, 120, 5655, 735};
inline constexpr TwipRect kPath{120, 240, 5055, 315};
inline constexpr TwipRect kBrowse{5160, 240, 375, 315};
inline constexpr TwipRect kStatusBar{0, 1575, 5895, 255};
// The status bar's first panel ("Status:") is fixed; the second takes the
// rest, and never less than this.
inline constexpr int kStatusCaptionWidth = 800;
inline constexpr int kStatusMinWidth = 1440;
}  // namespace layout

// Twips to pixels at `dpi` (96: device-independent pixels), rounded as
// the classic runtime rounded them.
constexpr int TwipsToPixels(int twips, int dpi = 96) { return (twips * dpi / 96 + 7) / 15; }

enum class BoxIcon { kNone, kCritical, kQuestion, kWarning, kInformation };

// The icon of a message box style (kVbExclamation, kVbInformation, ...).
BoxIcon BoxIconForStyle(int style);

enum class Cursor { kWait, kArrow };

// What a view offers the presenter.
class MainView {
 public:
  virtual ~MainView() = default;

  virtual std::string PathText() = 0;
  // Sets the path box; the view's change notification then calls
  // txtPath_Change, as it does for typing.
  virtual void SetPathText(const std::string& text) = 0;
  virtual void SetActionEnabled(bool enabled) = 0;
  // The status bar's second panel, repainted at once: the installation
  // runs on the window's thread.
  virtual void SetStatusText(const std::string& text) = 0;
  // A modal box with an OK button; returns when it was closed. `text` has
  // "\n" line breaks and is shown as plain text.
  virtual void ShowMessageBox(BoxIcon icon, const std::string& title, const std::string& text) = 0;
  // The file-open dialog: the chosen file's full path with the platform's
  // separators, or nothing when cancelled.
  virtual std::optional<std::string> AskForFile(const std::string& title,
                                                const std::string& filter,
                                                const std::string& pattern) = 0;
  // The application-wide mouse pointer: a stack, so that a box can show
  // the arrow over the hourglass and give it back.
  virtual void PushCursor(Cursor cursor) = 0;
  virtual void PopCursor() = 0;
};

// What the action button runs: InstallFirstClass, or a stand-in in tests.
using InstallFunction = std::function<Boolean(UserInterface&, const std::string&)>;

class MainPresenter : private UserInterface {
 public:
  explicit MainPresenter(MainView& view, InstallFunction install = {});

  // The window's events.
  void Form_Load();
  void txtPath_Change();
  void cmdTremlock_Click();
  void cmdCD_Click();

  bool action_enabled() const { return action_enabled_; }

 private:
  // The installation's view of the window.
  void SetStatusText(const std::string& text) override;
  void ShowMessageBox(const std::string& prompt, int style, const std::string& title) override;

  MainView& view_;
  InstallFunction install_;
  bool action_enabled_ = false;
};

}  // namespace afc

#endif  // FORMS_MAIN_PRESENTER_H_
