// SPDX-License-Identifier: Apache-2.0
// The installation: Master row cloning, Panel slot assignment and the
// driver that runs them.
//
// Each procedure keeps Jet's error-trap shape: the steps run until one
// fails, and every path then passes through one exit that reports a trapped
// failure (a warning box, then its description in the status text) and
// closes every recordset. Nothing reaches the file but through the final
// Update of a recordset, so a half that fails before it leaves its table as
// it was.

#include "install/installer.h"

#include <memory>

#include "data/field_value.h"
#include "data/recordset_access.h"
#include "data/sql.h"
#include "install/presence.h"
#include "util/error_message.h"
#include "util/paths.h"

namespace afc {

std::string gDatabasePath;

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

std::string FailureMessage(const std::string& Carrier, const std::string& ServiceCode,
                           const char* table) {
  return "Failed to add " + Carrier + " '" + ServiceCode + "' service to " + table + " table...";
}

// A failure trapped inside an addition: a warning box, and once it is
// closed the description stays in the status text.
void ReportTrapped(UserInterface& ui, const DataError& error, const std::string& message) {
  ShowErrorMessage(ui, error.description, message, "");
  ui.SetStatusText(error.description);
}

// Returns the error of `step` from the enclosing function when it failed.
#define RETURN_IF_FAILED(step)             \
  do {                                     \
    if (DataError e_ = (step); !e_.ok()) { \
      return e_;                           \
    }                                      \
  } while (0)

// Fills the new row of `target` (AddNew) from the template row of `source`,
// column by column, with the overrides, and stores it. The first failure
// ends it.
DataError CopyTemplateRow(UserInterface& ui, ado::Recordset& source, ado::Recordset& target,
                          const std::string& ServiceDescription, const std::string& ServiceCode) {
  RETURN_IF_FAILED(target.AddNew());
  const size_t count = source.Fields().Count();
  for (size_t i = 0; i < count; ++i) {
    ui.SetStatusText("Adding service settings " + std::to_string(i) + " of " +
                     std::to_string(count));
    ado::Field from;
    ado::Field to;
    std::string name;
    RETURN_IF_FAILED(source.Fields().Item(i, &from));
    // The two recordsets ran the same statement: field i is the same column.
    RETURN_IF_FAILED(target.Fields().Item(i, &to));
    RETURN_IF_FAILED(from.Name(&name));
    name = UpperCase(name);

    if (name == "SERVICE") {
      RETURN_IF_FAILED(to.SetValue(Variant::Text(ServiceCode)));
    } else if (name == "DESCRIPTION") {
      RETURN_IF_FAILED(to.SetValue(Variant::Text(ServiceDescription)));
    } else if (name == "POSDEPT") {
      RETURN_IF_FAILED(to.SetValue(Variant::Text(kNewServiceDepartment)));
    } else if (const char* column = ReferenceColumn(name)) {
      // The reference service's value when it has one; otherwise the field
      // keeps the new row's default (the template's value is not used).
      Variant value;
      if (GetServiceSetting(kReferenceService, column, value)) {
        RETURN_IF_FAILED(to.SetValue(value));
      }
    } else {
      Variant value;
      RETURN_IF_FAILED(from.Value(&value));  // fails when there is no template row
      RETURN_IF_FAILED(to.SetValue(value));
    }
  }
  RETURN_IF_FAILED(target.Update());
  ui.SetStatusText("Finished adding service successfully!");
  return DataError::None();
}

// Writes the button into the first free slot of the recordset's first row.
// Sets `*stored` when it did; a row without a free slot is no failure.
DataError FillFirstFreeSlot(ado::Recordset& panel, const std::string& ButtonCaption,
                            const std::string& ServiceCode, bool* stored) {
  *stored = false;
  for (int16_t slot = 1; slot <= 7; ++slot) {
    const std::string n = std::to_string(slot);
    ado::Field service;
    RETURN_IF_FAILED(panel.Fields().Item("SV" + n, &service));
    if (GetFieldValue(service, Variant::Text(""), kTrue).TextForm() != "") continue;
    ado::Field caption;
    RETURN_IF_FAILED(panel.Fields().Item("BD" + n, &caption));
    RETURN_IF_FAILED(caption.SetValue(Variant::Text(ButtonCaption)));
    RETURN_IF_FAILED(service.SetValue(Variant::Text(ServiceCode)));
    RETURN_IF_FAILED(panel.Update());
    *stored = true;
    return DataError::None();
  }
  return DataError::None();
}

}  // namespace

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return text;
}

const char* ReferenceColumn(const std::string& upper_name) {
  for (const char* column : kReferenceColumns) {
    if (upper_name == column) return column;
  }
  return nullptr;
}

std::string MasterTemplateSql(const std::string& TemplateService) {
  return "Select Master.* From [Master] Where Service = '" + sql::DoubleQuotes(TemplateService) +
         "'";
}

std::string PanelTemplateSql(const std::string& TemplateService) {
  // The slot columns stand without brackets here, as Tallowin's own
  // statements write them.
  const std::string key = sql::DoubleQuotes(TemplateService);
  std::string query = "Select * From [Panel] Where SV1 = '" + key + "'";
  for (int slot = 2; slot <= 7; ++slot) {
    query += " Or SV" + std::to_string(slot) + " = '" + key + "'";
  }
  return query;
}

Boolean GetServiceSetting(const std::string& ServiceKey, const std::string& ColumnName,
                          Variant& SettingValue) {
  SettingValue = Variant::Text("");
  const std::string statement = "SELECT [" + ColumnName + "] FROM [Master] WHERE [SERVICE] = '" +
                                sql::DoubleQuotes(ServiceKey) + "'";
  std::unique_ptr<ado::Recordset> recordset = std::make_unique<ado::Recordset>();
  std::string ErrorDescription;
  int32_t ErrorNumber = 0;
  if (OpenRecordset(gDatabasePath, statement, recordset, ErrorDescription, ErrorNumber, kTrue) &&
      !recordset->Eof()) {
    ado::Field field;
    if (recordset->Fields().Item(ColumnName, &field).ok()) {
      SettingValue = GetFieldValue(field, Variant::Text(""), kTrue);
    }
  }
  CloseRecordset(recordset);
  return ToBoolean(!SettingValue.TextForm().empty());
}

Boolean CloneMasterRow(UserInterface& ui, const std::string& ServiceDescription,
                       const std::string& ServiceCode, const std::string& Carrier,
                       const std::string& TemplateService, const std::string& DatabasePath) {
  Boolean result = kFalse;
  const std::string message = FailureMessage(Carrier, ServiceCode, "Master");
  const std::string statement = MasterTemplateSql(TemplateService);
  std::unique_ptr<ado::Recordset> source = std::make_unique<ado::Recordset>();
  std::unique_ptr<ado::Recordset> target = std::make_unique<ado::Recordset>();
  std::string ErrorDescription;
  int32_t ErrorNumber = 0;
  if (OpenRecordset(DatabasePath, statement, source, ErrorDescription, ErrorNumber, kTrue) &&
      OpenRecordset(DatabasePath, statement, target, ErrorDescription, ErrorNumber, kFalse)) {
    DataError trapped = CopyTemplateRow(ui, *source, *target, ServiceDescription, ServiceCode);
    if (trapped.ok()) {
      result = kTrue;
    } else {
      ReportTrapped(ui, trapped, message);
    }
  } else if (ErrorNumber != 0) {
    // A failed open: its own description, and the status text is left alone.
    ShowErrorMessage(ui, ErrorDescription, message, "");
  }
  // A pending new row that was not stored is dropped with its recordset.
  CloseRecordset(source);
  CloseRecordset(target);
  return result;
}

Boolean AssignPanelSlot(UserInterface& ui, const std::string& ButtonCaption,
                        const std::string& ServiceCode, const std::string& Carrier,
                        const std::string& TemplateService, const std::string& DatabasePath) {
  Boolean result = kFalse;
  const std::string message = FailureMessage(Carrier, ServiceCode, "Panel");
  const std::string query = PanelTemplateSql(TemplateService);
  std::unique_ptr<ado::Recordset> recordset = std::make_unique<ado::Recordset>();
  std::string ErrorDescription;
  int32_t ErrorNumber = 0;
  if (!OpenRecordset(DatabasePath, query, recordset, ErrorDescription, ErrorNumber, kFalse)) {
    ShowErrorMessage(ui, ErrorDescription, message, "");
  } else if (!recordset->Eof()) {
    // Only the first row that shows the template is looked at; no such row,
    // or no free slot in it, writes nothing and reports nothing.
    bool stored = false;
    DataError trapped = FillFirstFreeSlot(*recordset, ButtonCaption, ServiceCode, &stored);
    if (!trapped.ok()) {
      ReportTrapped(ui, trapped, message);
    } else if (stored) {
      result = kTrue;
    }
  }
  CloseRecordset(recordset);
  return result;
}

Boolean InstallService(UserInterface& ui, const std::string& ServiceDescription,
                       const std::string& ButtonCaption, const std::string& ServiceCode,
                       const std::string& Carrier, const std::string& TemplateService,
                       const std::string& DatabasePath, const std::string& /*ZonesDatabasePath*/,
                       const std::string& /*ServicesDatabasePath*/) {
  // A presence check that cannot run its query answers "present", so that
  // nothing is added to a database that cannot be read. That must not end
  // in success: the first such failure is shown in one box and the run
  // fails, without going on to the other table (it would fail the same way).
  PresenceError error;
  Boolean master = ServiceExistsInMaster(ServiceCode, DatabasePath, &error);
  if (error.failed()) {
    ShowErrorMessage(ui, error.ErrorDescription, FailureMessage(Carrier, ServiceCode, "Master"),
                     "");
    return kFalse;
  }
  if (!master) {
    master =
        CloneMasterRow(ui, ServiceDescription, ServiceCode, Carrier, TemplateService, DatabasePath);
  }
  // A failed Master addition does not stop the Panel half.
  Boolean panel = ServiceExistsInPanel(ServiceCode, DatabasePath, &error);
  if (error.failed()) {
    ShowErrorMessage(ui, error.ErrorDescription, FailureMessage(Carrier, ServiceCode, "Panel"), "");
    return kFalse;
  }
  if (!panel) {
    panel = AssignPanelSlot(ui, ButtonCaption, ServiceCode, Carrier, TemplateService, DatabasePath);
  }
  return Boolean(master & panel);
}

Boolean InstallFirstClass(UserInterface& ui, const std::string& path) {
  gDatabasePath = path;
  const std::string folder = GetFolderPath(gDatabasePath);
  const std::string zones = folder + kPathSeparator + "USMail_Zones.mdb";
  const std::string services = folder + kPathSeparator + "USMail_Services.mdb";
  return InstallService(ui, kServiceDescription, kButtonCaption, kServiceCode, kCarrier,
                        kTemplateService, gDatabasePath, zones, services);
}

}  // namespace afc
