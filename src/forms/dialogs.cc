// SPDX-License-Identifier: Apache-2.0
#include "forms/dialogs.h"

#include <QFileDialog>

#include "util/user_interface.h"

namespace afc {

std::optional<QString> QtFileDialog::GetOpenFileName(QWidget* parent, const QString& title,
                                                     const QString& filter) {
  const QString path = QFileDialog::getOpenFileName(parent, title, QString(), filter);
  if (path.isEmpty()) return std::nullopt;
  return path;
}

void QtMessageBoxPresenter::Show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                 const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  // A path or a database's error text must not be read as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QMessageBox::Icon QtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kCritical:
      return QMessageBox::Critical;
    case BoxIcon::kQuestion:
      return QMessageBox::Question;
    case BoxIcon::kWarning:
      return QMessageBox::Warning;
    case BoxIcon::kInformation:
      return QMessageBox::Information;
    case BoxIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::Icon IconForStyle(int style) { return QtIcon(BoxIconForStyle(style)); }

QString PromptText(const std::string& prompt) {
  return QString::fromStdString(PromptWithNewlines(prompt));
}

}  // namespace afc
