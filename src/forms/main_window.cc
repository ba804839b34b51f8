// SPDX-License-Identifier: Apache-2.0
#include "forms/main_window.h"

#include <QApplication>
#include <QString>

#include "forms/app_icon.h"
#include "forms/frm_main.h"
#include "util/paths.h"

namespace afc {

int RunMainWindow(int& argc, char** argv, const std::string& initial_path) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(kApplicationTitle);
  QApplication::setWindowIcon(AppIcon());
  frmMain form(QString::fromStdString(initial_path));
  form.show();
  return QApplication::exec();
}

}  // namespace afc
