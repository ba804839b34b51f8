// SPDX-License-Identifier: Apache-2.0
// A dry run of the installation: what InstallFirstClass would do to a
// database, found with read-only queries alone. Nothing is written and no
// lock is held after it returns.

#ifndef INSTALL_DRY_RUN_H_
#define INSTALL_DRY_RUN_H_

#include <string>
#include <vector>

#include "data/data_error.h"

namespace afc {

struct InstallPlan {
  // The first query that could not be run; when set, nothing below is known.
  DataError failure;

  bool in_master = false;  // the service already has its Master row
  bool in_panel = false;   // the service already has its Panel button

  // Master: whether the template row exists, and what each reference
  // column would receive ("column: value", or that it keeps its default).
  bool template_found = false;
  std::vector<std::string> reference_values;

  // Panel: the first row that shows the template, named by its first
  // column ("PANELID = 1"), and the slot that would receive the button
  // (0 when that row has none free).
  bool panel_row_found = false;
  std::string panel_row;
  int slot = 0;

  // Whether an installation would succeed.
  bool WouldSucceed() const;
};

// Looks at the database at `path`. Sets gDatabasePath, as a run would.
InstallPlan PlanInstallation(const std::string& path);

// The plan as lines a person reads.
std::vector<std::string> DescribePlan(const InstallPlan& plan);

}  // namespace afc

#endif  // INSTALL_DRY_RUN_H_
