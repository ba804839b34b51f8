// SPDX-License-Identifier: Apache-2.0
// Recordset access: the installer's only way to its database, which it
// names by file path alone.
//
// Every OpenRecordset opens a connection of its own. A read-only recordset
// comes back detached, its rows in memory and the file already let go; an
// updatable one stays attached to its connection, and so keeps the file
// open (for reading, and for writing from its first Update on) until
// CloseRecordset. None of these procedures lets a
// failure escape: each ends with its result and out-arguments set.

#ifndef DATA_RECORDSET_ACCESS_H_
#define DATA_RECORDSET_ACCESS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "data/ado.h"
#include "data/variant.h"

namespace afc {

// Runs `Sql` on the database at `DatabasePath` into `recordset` (a created,
// unopened recordset). True exactly when the recordset is open afterwards.
// Writes the error pair on every call: (0, "") on success.
Boolean OpenRecordset(const std::string& DatabasePath, const std::string& Sql,
                      std::unique_ptr<ado::Recordset>& recordset, std::string& ErrorDescription,
                      int32_t& ErrorNumber, Boolean ReadOnly);

// True when `Sql` returns at least one row. `HadError` tells whether opening
// the query failed; the optional pair receives that failure's number and
// description, for callers that must report it.
Boolean RecordsExist(const std::string& DatabasePath, const std::string& Sql, Boolean& HadError,
                     int32_t* ErrorNumber = nullptr, std::string* ErrorDescription = nullptr);

// Closes (if open), detaches and releases the recordset, leaving the
// variable empty. A variable that is already empty is left alone. False,
// with the variable unchanged, when closing failed.
Boolean CloseRecordset(std::unique_ptr<ado::Recordset>& recordset);

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" followed by the path as
// given.
std::string BuildConnectionString(std::string DatabasePath);

}  // namespace afc

#endif  // DATA_RECORDSET_ACCESS_H_
