// SPDX-License-Identifier: Apache-2.0
// add-firstclass: adds the shipping service "USPS First-Class Mail" to a
// Tallowin database, in a window or from the command line.
//
//   add-firstclass [PATH]                    the window; PATH presets its path box
//   add-firstclass --install [--dry-run] PATH
//   add-firstclass --help | --version
//
// Exit codes of --install: 0 success, 1 failure, 2 bad usage.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "forms/main_window.h"
#include "install/dry_run.h"
#include "install/installer.h"
#include "usage_text.h"
#include "util/console_ui.h"
#include "util/paths.h"
#include "util/program_start.h"

#ifndef AFC_VERSION
#define AFC_VERSION "0"
#endif

namespace {

int Usage(const char* problem) {
  std::fprintf(stderr, "add-firstclass: %s\n", problem);
  std::fprintf(stderr, "Try 'add-firstclass --help' for more information.\n");
  return 2;
}

int Install(const std::string& path) {
  afc::ConsoleUi ui(stdout, stderr, afc::IsTerminal(stdout));
  if (afc::InstallFirstClass(ui, path)) {
    ui.ShowMessageBox(afc::kSuccessBoxText, afc::kVbInformation, afc::kSuccessBoxTitle);
    ui.SetStatusText(afc::kFinishedStatus);
    return 0;
  }
  ui.SetStatusText(afc::kFailedStatus);
  return 1;
}

int DryRun(const std::string& path) {
  afc::InstallPlan plan = afc::PlanInstallation(path);
  std::FILE* to = plan.failure.ok() ? stdout : stderr;
  for (const std::string& line : afc::DescribePlan(plan)) std::fprintf(to, "%s\n", line.c_str());
  return plan.WouldSucceed() ? 0 : 1;
}

// Whether a window can be shown: a display server to talk to, or a Qt
// platform chosen by hand (offscreen, for instance). Windows always has one.
bool HaveDisplay() {
#ifdef _WIN32
  return true;
#else
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = afc::StartProgram(argc, argv);
  bool install = false;
  bool dry_run = false;
  bool options_done = false;
  std::vector<std::string> paths;
  // On Windows this is a GUI program: anything but the window writes to
  // the console it was started from.
  for (const std::string& arg : args) {
    if (arg == "--install" || arg == "--help" || arg == "-h" || arg == "--version" ||
        (!arg.empty() && arg[0] == '-' && arg != "-")) {
      afc::AttachParentConsole();
      break;
    }
  }
  for (const std::string& arg : args) {
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      paths.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--help" || arg == "-h") {
      std::printf(kUsage, afc::DefaultDatabasePath().c_str());  // usage.txt, with a %s
      return 0;
    } else if (arg == "--version") {
      std::printf("add-firstclass %s\n", AFC_VERSION);
      return 0;
    } else if (arg == "--install") {
      install = true;
    } else if (arg == "--dry-run") {
      dry_run = true;
    } else {
      return Usage(("unknown option '" + arg + "'").c_str());
    }
  }
  if (paths.size() > 1) return Usage("give one database path");
  if (dry_run && !install) return Usage("--dry-run goes with --install");
  if (install) {
    if (paths.empty()) return Usage("--install needs the path of the database");
    return dry_run ? DryRun(paths[0]) : Install(paths[0]);
  }
  if (!HaveDisplay()) {
    std::fprintf(stderr,
                 "add-firstclass: no display to show the window on; to install without one, "
                 "run: add-firstclass --install PATH\n");
    return 2;
  }
  return afc::RunMainWindow(argc, argv, paths.empty() ? afc::DefaultDatabasePath() : paths[0]);
}
