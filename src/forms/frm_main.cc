#include "frm_main.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <exception>
#include <limits>

#include "app_icon.h"
#include "error_message.h"
#include "installer.h"
#include "paths.h"
#include "user_interface.h"

namespace afc {

namespace {

constexpr char kWindowTitle[] = "Add USPS First-Class Mail";
constexpr char kActionCaption[] = "Add USPS First-Class Mail to Tallowin";
constexpr char kFrameCaption[] = "Tallowin database location:";
constexpr char kStatusCaption[] = "Status:";

// Twips to device-independent pixels.
constexpr int Px(int twips) { return (twips + 7) / 15; }

QRect Twips(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

// An application-wide cursor for the life of the object.
class OverrideCursor {
 public:
  explicit OverrideCursor(Qt::CursorShape shape) { QApplication::setOverrideCursor(shape); }
  ~OverrideCursor() { QApplication::restoreOverrideCursor(); }
  OverrideCursor(const OverrideCursor&) = delete;
  OverrideCursor& operator=(const OverrideCursor&) = delete;
};

// The layout keeps its twips, which were laid out for an 8-point dialog
// font; the usual 9-point default would clip the action button's caption
// and the status line. Takes the window's font down in half points until
// both fit.
void FitFont(QWidget* window, const QPushButton* action, const QStatusBar* status_bar) {
  // The status bar keeps 3 pixels above its panels.
  constexpr int kStatusBarSpacing = 3;
  QFont font = window->font();
  if (font.pointSizeF() <= 0) return;  // a pixel-sized font is left as set
  while (font.pointSizeF() > 6) {
    const bool fits = action->sizeHint().width() <= action->width() &&
                      QFontMetrics(font).height() + kStatusBarSpacing <= status_bar->height();
    if (fits) return;
    font.setPointSizeF(font.pointSizeF() - 0.5);
    window->setFont(font);
  }
}

}  // namespace

// The status text goes to the status panel and the boxes to the window's
// presenter, with the ordinary arrow over them even while the installation
// shows the hourglass.
class frmMain::WindowUserInterface : public UserInterface {
 public:
  explicit WindowUserInterface(frmMain* form) : form_(form) {}

  void SetStatusText(const std::string& text) override {
    form_->status_panel_->setText(QString::fromStdString(text));
    // The installation runs on this thread; show its progress right away.
    form_->status_panel_->repaint();
  }

  void ShowMessageBox(const std::string& prompt, int style, const std::string& title) override {
    OverrideCursor arrow(Qt::ArrowCursor);
    form_->message_box_->Show(form_, IconForStyle(style), QString::fromStdString(title),
                              PromptText(prompt));
  }

 private:
  frmMain* form_;
};

frmMain::frmMain(const QString& initial_path, QWidget* parent)
    : QWidget(parent),
      file_dialog_(std::make_unique<QtFileDialog>()),
      message_box_(std::make_unique<QtMessageBoxPresenter>()),
      ui_(std::make_unique<WindowUserInterface>(this)) {
  setWindowTitle(kWindowTitle);
  setWindowIcon(AppIcon());
  setFixedSize(Px(5895), Px(1830));

  // Created in tab order, which is also the focus chain.
  cmdTremlock_ = new QPushButton(kActionCaption, this);
  cmdTremlock_->setObjectName("cmdTremlock");
  cmdTremlock_->setGeometry(Twips(1320, 960, 3135, 495));

  Frame1_ = new QGroupBox(kFrameCaption, this);
  Frame1_->setObjectName("Frame1");
  Frame1_->setGeometry(Twips(120, 120, 5655, 735));

  txtPath_ = new QLineEdit(Frame1_);
  txtPath_->setObjectName("txtPath");
  txtPath_->setGeometry(Twips(120, 240, 5055, 315));
  txtPath_->setMaxLength(std::numeric_limits<int>::max());

  cmdCD_ = new QPushButton("...", Frame1_);
  cmdCD_->setObjectName("cmdCD");
  cmdCD_->setGeometry(Twips(5160, 240, 375, 315));

  // Neither button answers Enter or Escape on its own.
  for (QPushButton* button : {cmdTremlock_, cmdCD_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  SBar_ = new QStatusBar(this);
  SBar_->setObjectName("SBar");
  SBar_->setGeometry(Twips(0, 1575, 5895, 255));
  SBar_->setSizeGripEnabled(false);
  auto* caption_panel = new QLabel(kStatusCaption);
  caption_panel->setObjectName("SBarCaption");
  caption_panel->setFixedWidth(Px(800));
  status_panel_ = new QLabel;
  status_panel_->setObjectName("SBarStatus");
  // Long texts are cut at the window's edge rather than widening the panel.
  status_panel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status_panel_->setMinimumWidth(Px(1440));
  SBar_->addWidget(caption_panel);
  SBar_->addWidget(status_panel_, 1);

  FitFont(this, cmdTremlock_, SBar_);

  setTabOrder(cmdTremlock_, txtPath_);
  setTabOrder(txtPath_, cmdCD_);

  txtPath_->setText(initial_path);
  connect(txtPath_, &QLineEdit::textChanged, this, &frmMain::txtPath_Change);
  connect(cmdTremlock_, &QPushButton::clicked, this, &frmMain::cmdTremlock_Click);
  connect(cmdCD_, &QPushButton::clicked, this, &frmMain::cmdCD_Click);
  Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::SetFileDialog(std::unique_ptr<FileDialog> dialog) {
  file_dialog_ = std::move(dialog);
}

void frmMain::SetMessageBoxPresenter(std::unique_ptr<MessageBoxPresenter> presenter) {
  message_box_ = std::move(presenter);
}

void frmMain::Form_Load() {
  txtPath_Change();
  if (!cmdTremlock_->isEnabled()) txtPath_->setText(QString());
}

void frmMain::txtPath_Change() {
  cmdTremlock_->setEnabled(FileExists(txtPath_->text().toStdString(), kFalse) != kFalse);
}

void frmMain::cmdTremlock_Click() {
  OverrideCursor hourglass(Qt::WaitCursor);
  try {
    if (InstallFirstClass(*ui_, txtPath_->text().toStdString()) != kFalse) {
      ui_->ShowMessageBox(kSuccessBoxText, kVbInformation, kSuccessBoxTitle);
      ui_->SetStatusText(kFinishedStatus);
    } else {
      ui_->SetStatusText(kFailedStatus);
    }
  } catch (const std::exception& e) {
    ShowErrorMessage(*ui_, e.what(), kFailedToAddService, "");
  }
}

void frmMain::cmdCD_Click() {
  const std::optional<QString> path =
      file_dialog_->GetOpenFileName(this, kLocateTitle, kLocateFilter);
  if (path) txtPath_->setText(QDir::toNativeSeparators(*path));
}

}  // namespace afc
