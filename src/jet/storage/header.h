// SPDX-License-Identifier: Apache-2.0
// The database header: page 0 of every Jet file.
//
// Layout (offsets in bytes; fields marked * lie in the masked region and are
// stored XORed with a fixed RC4 key stream, key C7 DA 39 6B):
//
//   off    size  meaning
//   0x00   4     00 01 00 00
//   0x04   16    engine name: "Standard Jet DB\0" (or "Standard ACE DB\0" for
//                Access 2007 and later)
//   0x14   1     version: 0 = Jet 3, 1 = Jet 4, 2-6 = ACE 12, 14, 15, 16, 17
//                (Access 2007, 2010, 2013, 2016, 2019; docs/accdb.md)
//   0x15   3     Jet: 0; Access 2010 and later: 01 00 00 in some files
//   0x18   126/128  start of the masked region (Jet 3 / Jet 4)
//   0x3A*  2     Jet 3: collating order (LCID, 0x409 = General)
//   0x3C*  2     code page of text (Jet 3 text is stored in it)
//   0x3E*  4     encoding key: non-zero when every page is RC4-encoded
//   0x42*  20/40 database password, zero-padded: Jet 3 in the code page,
//                Jet 4 in UTF-16LE and also XORed with the creation date
//                (docs/password.md)
//   0x6E*  2     Jet 4: collating order (LCID)
//   0x71*  1     Jet 4: collating order version (0 = General legacy)
//   0x72*  8     Jet 4: creation date (a Jet date/time double)
//   0x299  2+n   ACE, encrypted (encoding key set): the encryption provider's
//                length and bytes (office_crypt.h)

#ifndef JET_STORAGE_HEADER_H_
#define JET_STORAGE_HEADER_H_

#include "jet/internal/guard.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/database_info.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"

namespace jet {

struct DatabaseHeader {
  const Format* format = nullptr;
  FileVersion file_version = FileVersion::kJet4;
  // The code page Access 97 text is in. The header may say 0, "the
  // system's": then the sort order's locale decides (stored_code_page keeps
  // what the header says).
  uint16_t code_page = 0;
  uint16_t stored_code_page = 0;
  SortOrder sort_order;
  uint32_t encoding_key = 0;
  // The database password field with every mask removed: the password
  // (Jet 3: in the code page, 20 bytes; Jet 4: UTF-16LE, 40 bytes) followed
  // by zeros. All zeros when there is none.
  std::array<uint8_t, 40> password{};
  bool has_password = false;
  // An .accdb encrypted with its password (office_crypt.h): the encoding
  // key is then not Jet's RC4 key, and the password field means nothing.
  bool office_encrypted = false;
  std::vector<uint8_t> encryption_provider;
};

// Decodes page 0. `page` holds at least the first page_size bytes of the file
// (the caller first reads 4 KiB or the whole file if it is shorter).
Result<DatabaseHeader> DecodeHeader(ByteView page);

// Whether `password` (UTF-8) is the database's, compared as Jet compares
// it: exactly, case and all, after padding it with zeros to the field's
// size. A password that does not fit the field, or cannot be written in it
// (Jet 3: a character the code page lacks), matches none. The empty
// password matches a database without one.
bool PasswordMatches(const DatabaseHeader& header, const std::string& password);

// Applies (or removes: XOR is its own inverse) the header mask in place.
void ApplyHeaderMask(uint8_t* page, const Format& format);

}  // namespace jet

#endif  // JET_STORAGE_HEADER_H_
