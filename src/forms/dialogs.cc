#include "dialogs.h"

#include <QFileDialog>

#include "user_interface.h"

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

QMessageBox::Icon IconForStyle(int style) {
  // The icon bits of the Windows message box flags.
  switch (style & 0x70) {
    case 16:
      return QMessageBox::Critical;
    case 32:
      return QMessageBox::Question;
    case kVbExclamation:
      return QMessageBox::Warning;
    case kVbInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QString PromptText(const std::string& prompt) {
  return QString::fromStdString(PromptWithNewlines(prompt));
}

}  // namespace afc
