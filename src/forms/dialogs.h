// SPDX-License-Identifier: Apache-2.0
// The modal dialogs the main window opens: the file-open dialog of the "..."
// button and the message boxes of the installation. Each is reached through
// an interface so that the tests can answer the dialogs themselves; the
// default implementations show the real Qt dialogs.

#ifndef FORMS_DIALOGS_H_
#define FORMS_DIALOGS_H_

#include <QMessageBox>
#include <QString>
#include <optional>
#include <string>

#include "forms/main_presenter.h"

class QWidget;

namespace afc {

class FileDialog {
 public:
  virtual ~FileDialog() = default;

  // Asks for an existing file; the full path, or nothing when the user
  // cancels. `filter` is a Qt name filter, "Description (patterns)".
  virtual std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title,
                                                 const QString& filter) = 0;
};

// QFileDialog::getOpenFileName.
class QtFileDialog : public FileDialog {
 public:
  std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title,
                                         const QString& filter) override;
};

class MessageBoxPresenter {
 public:
  virtual ~MessageBoxPresenter() = default;

  // Shows a modal box with an OK button and returns when it was closed.
  virtual void Show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text) = 0;
};

// A QMessageBox, its text always taken as plain text.
class QtMessageBoxPresenter : public MessageBoxPresenter {
 public:
  void Show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
            const QString& text) override;
};

QMessageBox::Icon QtIcon(BoxIcon icon);

// The icon of a message box style (kVbExclamation, kVbInformation, ...).
QMessageBox::Icon IconForStyle(int style);

// A prompt as a box shows it: UTF-8 decoded, and every line break, a lone
// CR as well as CR LF, turned into LF.
QString PromptText(const std::string& prompt);

}  // namespace afc

#endif  // FORMS_DIALOGS_H_
