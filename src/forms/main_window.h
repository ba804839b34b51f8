// SPDX-License-Identifier: Apache-2.0
// The program's window mode: the main window over a Qt application.

#ifndef FORMS_MAIN_WINDOW_H_
#define FORMS_MAIN_WINDOW_H_

#include <string>

namespace afc {

// Creates the application from the command line, shows the main window with
// `initial_path` (UTF-8) in its path box and runs until the window is
// closed. Returns the application's exit code.
int RunMainWindow(int& argc, char** argv, const std::string& initial_path);

}  // namespace afc

#endif  // FORMS_MAIN_WINDOW_H_
