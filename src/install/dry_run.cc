// SPDX-License-Identifier: Apache-2.0
// The dry run: the installation's own queries, read-only, and what their
// answers mean.

#include "install/dry_run.h"

#include <memory>

#include "data/field_value.h"
#include "data/recordset_access.h"
#include "install/installer.h"
#include "install/presence.h"

namespace afc {

namespace {

// Opens `sql` read-only; on failure records it in the plan.
std::unique_ptr<ado::Recordset> OpenOrFail(const std::string& path, const std::string& sql,
                                           InstallPlan* plan) {
  auto recordset = std::make_unique<ado::Recordset>();
  int32_t number = 0;
  std::string description;
  if (!OpenRecordset(path, sql, recordset, description, number, kTrue)) {
    plan->failure = MakeError(number == 0 ? kErrNotOpen : number, description);
    CloseRecordset(recordset);
  }
  return recordset;
}

// Which reference columns Master has, in the template's column order.
std::vector<std::string> ReferenceColumnsOf(ado::Recordset& master) {
  std::vector<std::string> found;
  for (size_t i = 0; i < master.Fields().Count(); ++i) {
    ado::Field field;
    std::string name;
    if (!master.Fields().Item(i, &field).ok() || !field.Name(&name).ok()) continue;
    if (const char* column = ReferenceColumn(UpperCase(name))) found.push_back(column);
  }
  return found;
}

void PlanMaster(const std::string& path, InstallPlan* plan) {
  auto master = OpenOrFail(path, MasterTemplateSql(kTemplateService), plan);
  if (!master) return;
  plan->template_found = !master->Eof();
  for (const std::string& column : ReferenceColumnsOf(*master)) {
    Variant value;
    if (GetServiceSetting(kReferenceService, column, value)) {
      plan->reference_values.push_back(column + ": " + value.TextForm());
    } else {
      plan->reference_values.push_back(column + ": keeps the new row's default (" +
                                       kReferenceService + " has no value)");
    }
  }
  CloseRecordset(master);
}

void PlanPanel(const std::string& path, InstallPlan* plan) {
  auto panel = OpenOrFail(path, PanelTemplateSql(kTemplateService), plan);
  if (!panel) return;
  if (!panel->Eof()) {
    plan->panel_row_found = true;
    ado::Field first;
    std::string name;
    Variant value;
    if (panel->Fields().Item(0, &first).ok() && first.Name(&name).ok() &&
        first.Value(&value).ok()) {
      plan->panel_row = name + " = " + value.TextForm();
    }
    for (int slot = 1; slot <= 7 && plan->slot == 0; ++slot) {
      ado::Field service;
      if (!panel->Fields().Item("SV" + std::to_string(slot), &service).ok()) break;
      if (GetFieldValue(service, Variant::Text(""), kTrue).TextForm().empty()) plan->slot = slot;
    }
  }
  CloseRecordset(panel);
}

}  // namespace

bool InstallPlan::WouldSucceed() const {
  if (!failure.ok()) return false;
  const bool master_ok = in_master || template_found;
  const bool panel_ok = in_panel || (panel_row_found && slot != 0);
  return master_ok && panel_ok;
}

InstallPlan PlanInstallation(const std::string& path) {
  InstallPlan plan;
  gDatabasePath = path;
  PresenceError error;
  plan.in_master = ServiceExistsInMaster(kServiceCode, path, &error) != kFalse;
  if (!error.failed()) plan.in_panel = ServiceExistsInPanel(kServiceCode, path, &error) != kFalse;
  if (error.failed()) {
    plan.failure = MakeError(error.ErrorNumber, error.ErrorDescription);
    return plan;
  }
  if (!plan.in_master) PlanMaster(path, &plan);
  if (plan.failure.ok() && !plan.in_panel) PlanPanel(path, &plan);
  return plan;
}

std::vector<std::string> DescribePlan(const InstallPlan& plan) {
  std::vector<std::string> lines;
  if (!plan.failure.ok()) {
    lines.push_back("The database cannot be read (error " + std::to_string(plan.failure.number) +
                    "): " + plan.failure.description);
    return lines;
  }
  const std::string service = std::string("'") + kServiceCode + "'";
  const std::string tmpl = std::string("'") + kTemplateService + "'";
  if (plan.in_master) {
    lines.push_back("Master: " + service + " is already present; nothing to add.");
  } else if (!plan.template_found) {
    lines.push_back("Master: " + service + " is missing, and there is no template row " + tmpl +
                    " to copy: the installation would fail.");
  } else {
    lines.push_back("Master: " + service + " is missing; a copy of " + tmpl +
                    " would be added, with DESCRIPTION '" + kServiceDescription +
                    "' and POSDEPT '" + kNewServiceDepartment + "'.");
    for (const std::string& value : plan.reference_values) {
      lines.push_back("  from " + std::string(kReferenceService) + ", " + value);
    }
  }
  if (plan.in_panel) {
    lines.push_back("Panel: " + service + " already has a button; nothing to add.");
  } else if (!plan.panel_row_found) {
    lines.push_back("Panel: no row shows " + tmpl + ": the installation would fail.");
  } else if (plan.slot == 0) {
    lines.push_back("Panel: the first row that shows " + tmpl + " (" + plan.panel_row +
                    ") has no free slot: the installation would fail.");
  } else {
    const std::string n = std::to_string(plan.slot);
    lines.push_back("Panel: the button '" + std::string(kButtonCaption) + "' would go into slot " +
                    n + " (SV" + n + ", BD" + n + ") of the first row that shows " + tmpl + " (" +
                    plan.panel_row + ").");
  }
  lines.push_back(plan.WouldSucceed() ? "The installation would succeed. Nothing was written."
                                      : "The installation would fail. Nothing was written.");
  return lines;
}

}  // namespace afc
