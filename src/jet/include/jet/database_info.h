// SPDX-License-Identifier: Apache-2.0
// What a database's header says about it: which Jet version wrote it, its
// page size and count, the code page and sort order of its text, and
// whether it has a password or is encoded; with the names tools show for
// code pages and sort orders.

#ifndef JET_DATABASE_INFO_H_
#define JET_DATABASE_INFO_H_

#include <cstdint>
#include <string>

namespace jet {

// The dialect of pages and rows: Jet 3 is Access 97; Jet 4 is Access 2000,
// 2002 and 2003, and also the pages of Access 2007 and later (.accdb).
enum class JetVersion { kJet3, kJet4 };

// The release whose format the file is in: the header's version number.
enum class FileVersion {
  kJet3 = 0,   // Access 97
  kJet4 = 1,   // Access 2000, 2002, 2003
  kAce12 = 2,  // Access 2007
  kAce14 = 3,  // Access 2010
  kAce15 = 4,  // Access 2013
  kAce16 = 5,  // Access 2016
  kAce17 = 6,  // Access 2019 and later
};

// Whether the file is an .accdb (Access 2007 and later).
inline bool IsAce(FileVersion v) { return v >= FileVersion::kAce12; }
// "jet3", "jet4", "ace12", ..., as jetdb names formats.
const char* FileVersionId(FileVersion v);
// "Access 97", "Access 2000/2002/2003", "Access 2007", ...
const char* FileVersionName(FileVersion v);

// A collating order: its locale (LCID, 0x409 for General) and, for Jet 4,
// the version of its rules (-1 for Jet 3, which stores none).
struct SortOrder {
  uint16_t lcid = 0;
  int version = 0;
  bool operator==(const SortOrder&) const = default;
};

struct DatabaseInfo {
  JetVersion version = JetVersion::kJet4;
  FileVersion file_version = FileVersion::kJet4;
  uint32_t page_size = 0;
  uint32_t page_count = 0;
  uint16_t code_page = 0;         // the one Access 97 text is in
  uint16_t stored_code_page = 0;  // what the header says (0: the system's)
  SortOrder sort_order;
  bool has_password = false;
  bool encoded = false;
  // An .accdb encrypted with its password: how, e.g. "agile AES-256,
  // SHA-512" or "RC4 CryptoAPI, 40-bit key". Empty when not encrypted.
  std::string encryption;
};

// "General (legacy)", "General", ...; "locale N" for any other.
std::string SortOrderName(const SortOrder& order, JetVersion version);
// "1252 (Western European)", ...
std::string CodePageName(uint16_t code_page);
// Whether the engine reads Jet 3 text in this code page: the single-byte
// Windows code pages 874 and 1250-1258. In any other, every byte from 0x80
// up reads as U+FFFD.
bool CodePageKnown(uint16_t code_page);

}  // namespace jet

#endif  // JET_DATABASE_INFO_H_
