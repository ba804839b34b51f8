// SPDX-License-Identifier: Apache-2.0
// The main window on Windows, with the Windows API and common controls: a
// thin view over MainPresenter, laid out from the same twip table as the Qt
// window. Its resources (icon, manifest) are in app/add-firstclass.

#include <windows.h>
// windows.h first: these need its types.
#include <commctrl.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "forms/main_presenter.h"
#include "forms/main_window.h"
#include "util/paths.h"
#include "util/wide_text.h"

namespace afc {

namespace {

constexpr wchar_t kClassName[] = L"AddFirstClassMainWindow";
constexpr int kIconResource = 1;

enum ControlId { kIdAction = 101, kIdFrame, kIdPath, kIdBrowse, kIdStatusBar };

// Message box texts keep Windows' line breaks.
std::wstring WideText(const std::string& text) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return WideFromUtf8(crlf);
}

class Win32MainWindow : public MainView {
 public:
  explicit Win32MainWindow(HINSTANCE instance) : instance_(instance), presenter_(*this) {}

  ~Win32MainWindow() override {
    if (font_) DeleteObject(font_);
  }

  bool Create(const std::string& initial_path) {
    HDC screen = GetDC(nullptr);
    dpi_ = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);

    // A fixed-size window: no maximise box, no sizing border.
    // No WS_CLIPCHILDREN: the group box paints only its frame, and the window
    // must paint what lies inside it.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, Px(layout::kClientWidth), Px(layout::kClientHeight)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kClassName, WideFromUtf8(kWindowTitle).c_str(), style, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance_, this);
    if (!hwnd_) return false;

    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
      font_ = CreateFontIndirectW(&metrics.lfMessageFont);
    }

    // Created in tab order.
    action_ = Control(L"BUTTON", kActionCaption, BS_PUSHBUTTON | WS_TABSTOP, 0, kIdAction,
                      layout::kAction);
    // The path box and the browse button sit in the frame's area, but as
    // siblings: a Win32 group box is only drawn, it holds nothing. It goes
    // below them in the z-order, so that it never paints over them.
    path_ = Control(L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE, kIdPath,
                    InFrame(layout::kPath));
    SendMessageW(path_, EM_SETLIMITTEXT, 0, 0);  // no limit but memory
    Control(L"BUTTON", kBrowseCaption, BS_PUSHBUTTON | WS_TABSTOP, 0, kIdBrowse,
            InFrame(layout::kBrowse));
    HWND frame_box = Control(L"BUTTON", kFrameCaption, BS_GROUPBOX, 0, kIdFrame, layout::kFrame);
    SetWindowPos(frame_box, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    status_bar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                  hwnd_, reinterpret_cast<HMENU>(INT_PTR(kIdStatusBar)), instance_,
                                  nullptr);
    if (font_) SendMessageW(status_bar_, WM_SETFONT, WPARAM(font_), TRUE);
    int parts[2] = {Px(layout::kStatusCaptionWidth), -1};
    SendMessageW(status_bar_, SB_SETPARTS, 2, LPARAM(parts));
    SendMessageW(status_bar_, SB_SETTEXTW, 0, LPARAM(WideFromUtf8(kStatusCaption).c_str()));

    SetWindowTextW(path_, WideFromUtf8(initial_path).c_str());
    loaded_ = true;  // from here on, every change of the path box is an event
    presenter_.Form_Load();
    return true;
  }

  HWND hwnd() const { return hwnd_; }

  void ShowAndFocus(int show) {
    ShowWindow(hwnd_, show);
    UpdateWindow(hwnd_);
    SetFocus(IsWindowEnabled(action_) ? action_ : path_);
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) return self->Handle(hwnd, message, w, l);
    return DefWindowProcW(hwnd, message, w, l);
  }

  // MainView
  std::string PathText() override {
    const int n = GetWindowTextLengthW(path_);
    std::wstring text(size_t(n) + 1, L'\0');
    GetWindowTextW(path_, text.data(), n + 1);
    text.resize(size_t(n));
    return Utf8FromWide(text);
  }

  void SetPathText(const std::string& text) override {
    // EN_CHANGE follows, which calls txtPath_Change.
    SetWindowTextW(path_, WideFromUtf8(text).c_str());
  }

  void SetActionEnabled(bool enabled) override { EnableWindow(action_, enabled); }

  void SetStatusText(const std::string& text) override {
    SendMessageW(status_bar_, SB_SETTEXTW, 1, LPARAM(WideFromUtf8(text).c_str()));
    // The installation runs on this thread; show its progress right away.
    UpdateWindow(status_bar_);
  }

  void ShowMessageBox(BoxIcon icon, const std::string& title, const std::string& text) override {
    UINT flags = MB_OK;
    switch (icon) {
      case BoxIcon::kCritical:
        flags |= MB_ICONHAND;
        break;
      case BoxIcon::kQuestion:
        flags |= MB_ICONQUESTION;
        break;
      case BoxIcon::kWarning:
        flags |= MB_ICONEXCLAMATION;
        break;
      case BoxIcon::kInformation:
        flags |= MB_ICONASTERISK;
        break;
      case BoxIcon::kNone:
        break;
    }
    MessageBoxW(hwnd_, WideText(text).c_str(), WideFromUtf8(title).c_str(), flags);
  }

  std::optional<std::string> AskForFile(const std::string& title, const std::string& filter,
                                        const std::string& pattern) override {
    // Pairs of description and pattern, each ended by a NUL, and one more.
    std::wstring filters = WideFromUtf8(filter);
    filters.push_back(L'\0');
    filters += WideFromUtf8(pattern);
    filters.push_back(L'\0');
    filters.push_back(L'\0');
    const std::wstring wide_title = WideFromUtf8(title);
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = DWORD(file.size());
    ofn.lpstrTitle = wide_title.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
    return Utf8FromWide(file.data());
  }

  void PushCursor(Cursor cursor) override {
    cursors_.push_back(LoadCursorW(nullptr, cursor == Cursor::kWait ? IDC_WAIT : IDC_ARROW));
    SetCursor(cursors_.back());
  }

  void PopCursor() override {
    if (!cursors_.empty()) cursors_.pop_back();
    SetCursor(cursors_.empty() ? LoadCursorW(nullptr, IDC_ARROW) : cursors_.back());
  }

 private:
  int Px(int twips) const { return TwipsToPixels(twips, dpi_); }

  static TwipRect InFrame(const TwipRect& r) {
    return {layout::kFrame.left + r.left, layout::kFrame.top + r.top, r.width, r.height};
  }

  HWND Control(const wchar_t* cls, const std::string& text, DWORD style, DWORD ex_style, int id,
               const TwipRect& r) {
    HWND h = CreateWindowExW(ex_style, cls, WideFromUtf8(text).c_str(),
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, Px(r.left), Px(r.top),
                             Px(r.width), Px(r.height), hwnd_, reinterpret_cast<HMENU>(INT_PTR(id)),
                             instance_, nullptr);
    if (h && font_) SendMessageW(h, WM_SETFONT, WPARAM(font_), TRUE);
    return h;
  }

  LRESULT Handle(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
      case WM_COMMAND: {
        const int id = LOWORD(w);
        const int code = HIWORD(w);
        if (id == kIdPath && code == EN_CHANGE && loaded_) presenter_.txtPath_Change();
        if (id == kIdAction && code == BN_CLICKED) presenter_.cmdTremlock_Click();
        if (id == kIdBrowse && code == BN_CLICKED) presenter_.cmdCD_Click();
        return 0;
      }
      case WM_SETCURSOR:
        // The pointer the presenter asked for, over the whole window.
        if (!cursors_.empty() && LOWORD(l) == HTCLIENT) {
          SetCursor(cursors_.back());
          return TRUE;
        }
        break;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        break;
    }
    return DefWindowProcW(hwnd, message, w, l);
  }

  HINSTANCE instance_;
  MainPresenter presenter_;
  HWND hwnd_ = nullptr;
  HWND action_ = nullptr;
  HWND path_ = nullptr;
  HWND status_bar_ = nullptr;
  HFONT font_ = nullptr;
  int dpi_ = 96;
  bool loaded_ = false;
  std::vector<HCURSOR> cursors_;
};

}  // namespace

int RunMainWindow(int&, char**, const std::string& initial_path) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Win32MainWindow::Proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return 1;

  Win32MainWindow window(instance);
  if (!window.Create(initial_path)) return 1;
  window.ShowAndFocus(SW_SHOWNORMAL);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Tab moves between the controls, as in a dialog.
    if (IsDialogMessageW(window.hwnd(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return int(msg.wParam);
}

}  // namespace afc
