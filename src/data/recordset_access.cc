// SPDX-License-Identifier: Apache-2.0
// Recordset access: OpenRecordset, RecordsExist, CloseRecordset and the
// connection string.

#include "data/recordset_access.h"

#include <utility>

namespace afc {

Boolean OpenRecordset(const std::string& DatabasePath, const std::string& Sql,
                      std::unique_ptr<ado::Recordset>& recordset, std::string& ErrorDescription,
                      int32_t& ErrorNumber, Boolean ReadOnly) {
  DataError error;
  Boolean result = kFalse;
  // The connection is ours only for this call: dropping this reference ends
  // it, unless an updatable recordset holds on to it.
  auto connection = std::make_shared<ado::Connection>();
  error = connection->Open(BuildConnectionString(DatabasePath), "", "", ado::kAdConnectUnspecified);
  if (error.ok() && connection->State() == ado::kAdStateOpen) {
    if (!recordset) {
      error = MakeError(kErrNoObject, "No recordset was given to open the query into.");
    } else {
      recordset->SetCursorLocation(ado::kAdUseClient);
      error = recordset->Open(Sql, connection, ado::kAdOpenForwardOnly,
                              ReadOnly ? ado::kAdLockReadOnly : ado::kAdLockOptimistic,
                              ado::kAdCmdText);
      if (error.ok() && ReadOnly) recordset->SetActiveConnectionNothing();
    }
  }
  if (error.ok() && recordset) result = ToBoolean(recordset->State() == ado::kAdStateOpen);
  ErrorNumber = error.number;
  ErrorDescription = error.description;
  return result;
}

Boolean RecordsExist(const std::string& DatabasePath, const std::string& Sql, Boolean& HadError,
                     int32_t* ErrorNumber, std::string* ErrorDescription) {
  Boolean result = kFalse;
  auto recordset = std::make_unique<ado::Recordset>();
  std::string description;
  int32_t number = 0;
  if (OpenRecordset(DatabasePath, Sql, recordset, description, number, kTrue)) {
    result = ToBoolean(!recordset->Eof());
  }
  HadError = ToBoolean(number != 0);
  if (ErrorNumber != nullptr) *ErrorNumber = number;
  if (ErrorDescription != nullptr) *ErrorDescription = description;
  CloseRecordset(recordset);
  return result;
}

Boolean CloseRecordset(std::unique_ptr<ado::Recordset>& recordset) {
  if (!recordset) return kTrue;
  if (recordset->State() == ado::kAdStateOpen) {
    if (!recordset->Close().ok()) return kFalse;
  }
  recordset->SetActiveConnectionNothing();
  recordset.reset();
  return kTrue;
}

std::string BuildConnectionString(std::string DatabasePath) {
  return std::string("Provider=") + ado::kJetProvider + ";Data Source=" + DatabasePath;
}

}  // namespace afc
