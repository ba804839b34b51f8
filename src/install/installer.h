// SPDX-License-Identifier: Apache-2.0
// The installation of a shipping service into the Tallowin database: a new
// row in Master cloned from a template service, and a button beside the
// template's in Panel. Each half is skipped when its table already has the
// service, so a second run writes nothing and still succeeds.
//
// Every procedure here traps its own failures: it reports them through the
// UserInterface it is given (a warning box, then the description in the
// status text) and returns false. Nothing is written unless the final
// Update of a half succeeds.

#ifndef INSTALL_INSTALLER_H_
#define INSTALL_INSTALLER_H_

#include <string>

#include "data/variant.h"
#include "util/boolean.h"
#include "util/user_interface.h"

namespace afc {

// The service this program installs, and where it comes from.
inline constexpr char kServiceDescription[] = "USPS First-Class Mail";
inline constexpr char kButtonCaption[] = "First-Class Mail";
inline constexpr char kServiceCode[] = "FirstClass";
inline constexpr char kCarrier[] = "USPS";
inline constexpr char kTemplateService[] = "USPS-PRI";
// The service whose four delivery-confirmation settings the new row takes.
inline constexpr char kReferenceService[] = "USPS-4TH-NOSC";
// The department the new service is booked to.
inline constexpr char kNewServiceDepartment[] = "METER";

// The Tallowin database of the current run; GetServiceSetting reads it.
extern std::string gDatabasePath;

// Adds the service to Master and Panel where it is missing. True when both
// tables have it afterwards. The last two paths are accepted and never read.
Boolean InstallService(UserInterface& ui, const std::string& ServiceDescription,
                       const std::string& ButtonCaption, const std::string& ServiceCode,
                       const std::string& Carrier, const std::string& TemplateService,
                       const std::string& DatabasePath, const std::string& ZonesDatabasePath,
                       const std::string& ServicesDatabasePath);

// Adds to Master a copy of TemplateService's row with the new key, the
// description, POSDEPT "METER" and the reference service's ACTDELC, ACK,
// ACTDELSIG and ACK-S. Shows its progress in the status text.
Boolean CloneMasterRow(UserInterface& ui, const std::string& ServiceDescription,
                       const std::string& ServiceCode, const std::string& Carrier,
                       const std::string& TemplateService, const std::string& DatabasePath);

// Reads column `ColumnName` of ServiceKey's Master row in gDatabasePath, as
// GetFieldValue gives it (trimmed, nulls replaced). True when the value's
// text form is not empty. Reports nothing.
Boolean GetServiceSetting(const std::string& ServiceKey, const std::string& ColumnName,
                          Variant& SettingValue);

// Puts ServiceCode and ButtonCaption into the first free slot (SVn empty)
// of the first Panel row that shows TemplateService. False, and nothing
// written, when there is no such row or it has no free slot.
Boolean AssignPanelSlot(UserInterface& ui, const std::string& ButtonCaption,
                        const std::string& ServiceCode, const std::string& Carrier,
                        const std::string& TemplateService, const std::string& DatabasePath);

// The statements the additions run for a template key (quotes doubled).
std::string MasterTemplateSql(const std::string& TemplateService);
std::string PanelTemplateSql(const std::string& TemplateService);

// The four Master columns that the new row takes from kReferenceService.
inline constexpr const char* kReferenceColumns[] = {"ACTDELC", "ACK", "ACTDELSIG", "ACK-S"};

// The reference column that the upper-cased column name `upper_name` is,
// or null.
const char* ReferenceColumn(const std::string& upper_name);

// Column names are compared after upper-casing. Only ASCII letters change:
// every name they are compared with is ASCII, so that is exact.
std::string UpperCase(std::string text);

// What the action button does between the hourglass and the outcome: sets
// gDatabasePath to `path`, derives the sibling databases' paths from its
// folder and installs this program's service. True on success.
Boolean InstallFirstClass(UserInterface& ui, const std::string& path);

// The outcome texts of a run.
inline constexpr char kSuccessBoxText[] = "USPS First-Class Mail service was added successfully !";
inline constexpr char kSuccessBoxTitle[] = "Add Service";
inline constexpr char kFinishedStatus[] = "Finished successfully !";
inline constexpr char kFailedStatus[] = "Failed to add USPS First-Class Mail service...";
inline constexpr char kFailedToAddService[] = "Failed to add the service...";

}  // namespace afc

#endif  // INSTALL_INSTALLER_H_
