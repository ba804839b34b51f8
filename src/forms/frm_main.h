// frmMain: the program's one window. A path box for the Tallowin database,
// a "..." button that browses for it, the action button that adds the
// service, and a status bar for the progress and the outcome.
//
// Positions and sizes keep the classic layout in twips (15 to a pixel at
// 96 dpi); Qt's high-DPI scaling takes care of other screens. The handlers
// only connect the controls to the installation; the modal dialogs go
// through FileDialog and MessageBoxPresenter, which tests replace.

#ifndef FORMS_FRM_MAIN_H_
#define FORMS_FRM_MAIN_H_

#include <QString>
#include <QWidget>
#include <memory>

#include "dialogs.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace afc {

// What the "..." button asks for.
inline constexpr char kLocateTitle[] = "Locate Tallowin.mdb";
inline constexpr char kLocateFilter[] = "Tallowin Database (Tallowin.mdb)";

class frmMain : public QWidget {
  Q_OBJECT

 public:
  // `initial_path` goes into the path box; the window clears it when it is
  // not an existing file.
  explicit frmMain(const QString& initial_path, QWidget* parent = nullptr);
  ~frmMain() override;

  void SetFileDialog(std::unique_ptr<FileDialog> dialog);
  void SetMessageBoxPresenter(std::unique_ptr<MessageBoxPresenter> presenter);

 private:
  class WindowUserInterface;

  void Form_Load();
  // Enables the action button exactly while the path names an existing file.
  void txtPath_Change();
  void cmdTremlock_Click();
  void cmdCD_Click();

  QPushButton* cmdTremlock_ = nullptr;
  QGroupBox* Frame1_ = nullptr;
  QLineEdit* txtPath_ = nullptr;
  QPushButton* cmdCD_ = nullptr;
  QStatusBar* SBar_ = nullptr;
  QLabel* status_panel_ = nullptr;

  std::unique_ptr<FileDialog> file_dialog_;
  std::unique_ptr<MessageBoxPresenter> message_box_;
  std::unique_ptr<WindowUserInterface> ui_;
};

}  // namespace afc

#endif  // FORMS_FRM_MAIN_H_
