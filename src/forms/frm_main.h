// SPDX-License-Identifier: Apache-2.0
// frmMain: the program's one window in Qt. A path box for the Tallowin
// database, a "..." button that browses for it, the action button that
// adds the service, and a status bar for the progress and the outcome.
//
// A thin view: MainPresenter (main_presenter.h) decides everything, and
// this class draws the controls from its twip layout (Qt's high-DPI scaling
// takes care of other screens) and forwards their events. The modal dialogs
// go through FileDialog and MessageBoxPresenter, which tests replace.

#ifndef FORMS_FRM_MAIN_H_
#define FORMS_FRM_MAIN_H_

#include <QString>
#include <QWidget>
#include <memory>

#include "forms/dialogs.h"
#include "forms/main_presenter.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace afc {

class frmMain : public QWidget, private MainView {
  Q_OBJECT

 public:
  // `initial_path` goes into the path box; the window clears it when it is
  // not an existing file.
  explicit frmMain(const QString& initial_path, QWidget* parent = nullptr);
  ~frmMain() override;

  void SetFileDialog(std::unique_ptr<FileDialog> dialog);
  void SetMessageBoxPresenter(std::unique_ptr<MessageBoxPresenter> presenter);

 private:
  // MainView
  std::string PathText() override;
  void SetPathText(const std::string& text) override;
  void SetActionEnabled(bool enabled) override;
  void SetStatusText(const std::string& text) override;
  void ShowMessageBox(BoxIcon icon, const std::string& title, const std::string& text) override;
  std::optional<std::string> AskForFile(const std::string& title, const std::string& filter,
                                        const std::string& pattern) override;
  void PushCursor(Cursor cursor) override;
  void PopCursor() override;

  QPushButton* cmdTremlock_ = nullptr;
  QGroupBox* Frame1_ = nullptr;
  QLineEdit* txtPath_ = nullptr;
  QPushButton* cmdCD_ = nullptr;
  QStatusBar* SBar_ = nullptr;
  QLabel* status_panel_ = nullptr;

  std::unique_ptr<FileDialog> file_dialog_;
  std::unique_ptr<MessageBoxPresenter> message_box_;
  MainPresenter presenter_;
};

}  // namespace afc

#endif  // FORMS_FRM_MAIN_H_
