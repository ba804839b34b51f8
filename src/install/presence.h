// SPDX-License-Identifier: Apache-2.0
// Presence checks: is a service key already in the Tallowin database, as a
// row of Master or as a button of Panel? The installer asks before each
// addition and skips the addition when the answer is true, so a second run
// writes nothing.
//
// A check that cannot run its query (no file, not a database, a table or
// column missing) answers true, as if the key were present, so that no
// addition is attempted on such a database; and it reports the failure in
// the error pair, so that the caller can tell the user instead of reporting
// success. The pair is (0, "") when the query ran.

#ifndef INSTALL_PRESENCE_H_
#define INSTALL_PRESENCE_H_

#include <cstdint>
#include <string>

#include "data/variant.h"

namespace afc {

struct PresenceError {
  int32_t ErrorNumber = 0;
  std::string ErrorDescription;
  bool failed() const { return ErrorNumber != 0; }
};

// True when Master holds a row whose SERVICE equals `ServiceCode` (Jet's
// text equality: case and trailing spaces do not count).
Boolean ServiceExistsInMaster(const std::string& ServiceCode, const std::string& DatabasePath,
                              PresenceError* error = nullptr);

// True when some Panel row holds `ServiceCode` in any of SV1 to SV7.
Boolean ServiceExistsInPanel(const std::string& ServiceCode, const std::string& DatabasePath,
                             PresenceError* error = nullptr);

// The statements the checks run, for the key as given (quotes doubled).
std::string MasterPresenceSql(const std::string& ServiceCode);
std::string PanelPresenceSql(const std::string& ServiceCode);

}  // namespace afc

#endif  // INSTALL_PRESENCE_H_
