// SPDX-License-Identifier: Apache-2.0
// Presence checks for Master and Panel.

#include "install/presence.h"

#include "data/recordset_access.h"
#include "data/sql.h"

namespace afc {

namespace {

Boolean Check(const std::string& sql, const std::string& DatabasePath, PresenceError* error) {
  Boolean HadError = kFalse;
  PresenceError local;
  Boolean found =
      RecordsExist(DatabasePath, sql, HadError, &local.ErrorNumber, &local.ErrorDescription);
  if (!HadError) local = PresenceError();
  if (error != nullptr) *error = local;
  // A query that fails counts as present, so that no addition is tried on a
  // database that cannot be read; the failure itself goes to the caller.
  return (found != kFalse || HadError != kFalse) ? kTrue : kFalse;
}

}  // namespace

std::string MasterPresenceSql(const std::string& ServiceCode) {
  return "Select [Service] From [Master] Where [Service] = '" + sql::DoubleQuotes(ServiceCode) +
         "'";
}

std::string PanelPresenceSql(const std::string& ServiceCode) {
  const std::string key = sql::DoubleQuotes(ServiceCode);
  std::string sql = "Select * From [Panel] Where [SV1] = '" + key + "'";
  for (int slot = 2; slot <= 7; ++slot) {
    sql += " Or [SV" + std::to_string(slot) + "] = '" + key + "'";
  }
  return sql;
}

Boolean ServiceExistsInMaster(const std::string& ServiceCode, const std::string& DatabasePath,
                              PresenceError* error) {
  return Check(MasterPresenceSql(ServiceCode), DatabasePath, error);
}

Boolean ServiceExistsInPanel(const std::string& ServiceCode, const std::string& DatabasePath,
                             PresenceError* error) {
  return Check(PanelPresenceSql(ServiceCode), DatabasePath, error);
}

}  // namespace afc
