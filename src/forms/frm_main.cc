// SPDX-License-Identifier: Apache-2.0
#include "forms/frm_main.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <limits>

#include "forms/app_icon.h"

namespace afc {

namespace {

constexpr int Px(int twips) { return TwipsToPixels(twips); }

QRect Pixels(const TwipRect& r) { return QRect(Px(r.left), Px(r.top), Px(r.width), Px(r.height)); }

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

frmMain::frmMain(const QString& initial_path, QWidget* parent)
    : QWidget(parent),
      file_dialog_(std::make_unique<QtFileDialog>()),
      message_box_(std::make_unique<QtMessageBoxPresenter>()),
      presenter_(*this) {
  setWindowTitle(kWindowTitle);
  setWindowIcon(AppIcon());
  setFixedSize(Px(layout::kClientWidth), Px(layout::kClientHeight));

  // Created in tab order, which is also the focus chain.
  cmdTremlock_ = new QPushButton(kActionCaption, this);
  cmdTremlock_->setObjectName("cmdTremlock");
  cmdTremlock_->setGeometry(Pixels(layout::kAction));

  Frame1_ = new QGroupBox(kFrameCaption, this);
  Frame1_->setObjectName("Frame1");
  Frame1_->setGeometry(Pixels(layout::kFrame));

  txtPath_ = new QLineEdit(Frame1_);
  txtPath_->setObjectName("txtPath");
  txtPath_->setGeometry(Pixels(layout::kPath));
  txtPath_->setMaxLength(std::numeric_limits<int>::max());

  cmdCD_ = new QPushButton(kBrowseCaption, Frame1_);
  cmdCD_->setObjectName("cmdCD");
  cmdCD_->setGeometry(Pixels(layout::kBrowse));

  // Neither button answers Enter or Escape on its own.
  for (QPushButton* button : {cmdTremlock_, cmdCD_}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  SBar_ = new QStatusBar(this);
  SBar_->setObjectName("SBar");
  SBar_->setGeometry(Pixels(layout::kStatusBar));
  SBar_->setSizeGripEnabled(false);
  auto* caption_panel = new QLabel(kStatusCaption);
  caption_panel->setObjectName("SBarCaption");
  caption_panel->setFixedWidth(Px(layout::kStatusCaptionWidth));
  status_panel_ = new QLabel;
  status_panel_->setObjectName("SBarStatus");
  // Long texts are cut at the window's edge rather than widening the panel.
  status_panel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status_panel_->setMinimumWidth(Px(layout::kStatusMinWidth));
  SBar_->addWidget(caption_panel);
  SBar_->addWidget(status_panel_, 1);

  FitFont(this, cmdTremlock_, SBar_);

  setTabOrder(cmdTremlock_, txtPath_);
  setTabOrder(txtPath_, cmdCD_);

  txtPath_->setText(initial_path);
  // textChanged fires on every change, typed or set by the program.
  connect(txtPath_, &QLineEdit::textChanged, this, [this] { presenter_.txtPath_Change(); });
  connect(cmdTremlock_, &QPushButton::clicked, this, [this] { presenter_.cmdTremlock_Click(); });
  connect(cmdCD_, &QPushButton::clicked, this, [this] { presenter_.cmdCD_Click(); });
  presenter_.Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::SetFileDialog(std::unique_ptr<FileDialog> dialog) {
  file_dialog_ = std::move(dialog);
}

void frmMain::SetMessageBoxPresenter(std::unique_ptr<MessageBoxPresenter> presenter) {
  message_box_ = std::move(presenter);
}

std::string frmMain::PathText() { return txtPath_->text().toStdString(); }

void frmMain::SetPathText(const std::string& text) {
  txtPath_->setText(QString::fromStdString(text));
}

void frmMain::SetActionEnabled(bool enabled) { cmdTremlock_->setEnabled(enabled); }

void frmMain::SetStatusText(const std::string& text) {
  status_panel_->setText(QString::fromStdString(text));
  status_panel_->repaint();
}

void frmMain::ShowMessageBox(BoxIcon icon, const std::string& title, const std::string& text) {
  message_box_->Show(this, QtIcon(icon), QString::fromStdString(title),
                     QString::fromStdString(text));
}

std::optional<std::string> frmMain::AskForFile(const std::string& title, const std::string& filter,
                                               const std::string&) {
  // A Qt name filter is "Description (patterns)", which the filter's
  // description already is.
  const std::optional<QString> path = file_dialog_->GetOpenFileName(
      this, QString::fromStdString(title), QString::fromStdString(filter));
  if (!path) return std::nullopt;
  return QDir::toNativeSeparators(*path).toStdString();
}

void frmMain::PushCursor(Cursor cursor) {
  QApplication::setOverrideCursor(cursor == Cursor::kWait ? Qt::WaitCursor : Qt::ArrowCursor);
}

void frmMain::PopCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace afc
