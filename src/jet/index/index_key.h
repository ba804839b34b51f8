// SPDX-License-Identifier: Apache-2.0
// Index keys: the bytes an index entry stores for the values of one row.
//
// A key is the concatenation, over the index's columns in index order, of
//
//   size   meaning
//   1      flag: 0x7F a value, 0x00 null (ascending columns); a descending
//          column stores 0x80 and 0xFF
//   ...    the value's encoding (absent for null), all bytes inverted when
//          the column is descending
//
// Value encodings (ascending form; docs/index-keys.md has the details):
//
//   type                    bytes  encoding
//   Byte                    1      the byte
//   Integer, Long, Currency 2/4/8  big-endian two's complement, top bit flipped
//   Single, Double, Date    4/8    big-endian IEEE; non-negative: top bit
//                                  set, negative: every bit inverted
//   Boolean                 1      0x00 true, 0xFF false; never null
//   Decimal                 17     0xFF + 16-byte big-endian magnitude, or for
//                                  a negative number 0x00 + inverted magnitude
//                                  (descending differs, see index_key.cc)
//   GUID, Binary            9*n    8-byte segments, each followed by 0x09 when
//                                  more follow, the last zero-padded and
//                                  followed by its number of data bytes
//   Text, Memo              ...    collation codes of up to 255 characters,
//                                  trailing spaces dropped
//
// Text keys depend on the column's sort order. Three are known: Access 97
// "General" (LCID 1033, Jet 3), "General (legacy)" (1033 version 0, Access
// 2000-2003) and "General" (1033 version 1). Any other sort order, any
// character a table has no code for, and any text whose key depends on what
// Access versions do differently (see Expansions), is refused with
// kUnsupported: a key that is merely close would make the index disagree
// with Access.

#ifndef JET_INDEX_INDEX_KEY_H_
#define JET_INDEX_INDEX_KEY_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/table_def.h"
#include "jet/storage/header.h"
#include "jet/value.h"

namespace jet {

// How a text key counts a character that expands into several (ß into
// "ss", æ into "ae", the ligature ﬁ into "fi"): as one position, or as the
// positions of the characters it stands for. The count shows only when
// something later in the value depends on positions (an accented letter,
// a hyphen). Access 97 counts ß as two. In General (legacy), Access 2000
// counts ß as two, and Access 2007 and later count ß, Æ, æ, Þ and þ as one.
// Nothing else is known (docs/index-keys.md).
enum class Expansions {
  kKnown,       // as known; for General (legacy), as Access 2007 and later
                // count. A key that depends on a count not known is refused
                // (kUnsupported).
  kCertain,     // also refuses a key that Access versions build differently
  kAccess2000,  // as Access 2000-2003 (the Jet 4.0 engine) count: ß as two in
                // General (legacy); a key that depends on any other count
                // not settled is refused. What the engine writes.
  kCharacters,  // where not certain: one position
  kLetters,     // where not certain: one per character stood for
};

// The whole key of `index` for one row. `row` holds one value per column of
// `table`, in the table's column order (as RowDecoder produces them). By
// default keys are built as the Jet 4.0 engine builds them, the engine that
// Access 2000-2003 and Windows' own database drivers use, and a key that
// depends on a count it is not known to use is refused.
Status EncodeIndexKey(const TableDef& table, const PhysicalIndex& index,
                      const std::vector<Value>& row, const DatabaseHeader& header,
                      std::vector<uint8_t>* key, Expansions expansions = Expansions::kAccess2000);

// The keys Access may have stored for one row: the key, or where Access
// versions may build it differently (see Expansions), the key as each count
// would make it.
Status PossibleIndexKeys(const TableDef& table, const PhysicalIndex& index,
                         const std::vector<Value>& row, const DatabaseHeader& header,
                         std::vector<std::vector<uint8_t>>* keys);

// Appends one column's part of a key: its flag byte and encoded value.
Status AppendIndexKeyColumn(const ColumnDef& column, bool ascending, const Value& value,
                            const DatabaseHeader& header, std::vector<uint8_t>* key,
                            Expansions expansions = Expansions::kAccess2000);

// The text collations whose keys this engine can build.
enum class TextCollation { kGeneral97, kGeneralLegacy, kGeneral };

// The collation of a text column's sort order; kUnsupported for any other.
Result<TextCollation> TextCollationOf(const SortOrder& order, JetVersion version);
const char* TextCollationName(TextCollation collation);

// How one UTF-16 code unit contributes to a text key (see docs/index-keys.md).
enum class TextCodeKind : uint8_t {
  kNone,              // no code: keys with this character are refused
  kIgnored,           // contributes nothing
  kSimple,            // main bytes only
  kInternational,     // main bytes, and extra bytes for this position
  kUnprintable,       // no main bytes; an entry in the unprintable section
  kModifier,          // no main bytes; adds to the previous extra byte
  kInternationalExt,  // main bytes, optional extra bytes, and a 2-bit mark
  kSignificant,       // Access 97: main bytes; counts as an extra position
};

struct TextCode {
  TextCodeKind kind = TextCodeKind::kNone;
  std::vector<uint8_t> main;   // bytes in the main section
  std::vector<uint8_t> extra;  // extra-section bytes (international kinds);
                               // unprintable code (kUnprintable); the amount
                               // added (kModifier, one byte)
  uint8_t mark = 0;            // kInternationalExt: 2 or 3
  int letters = 1;             // more than 1: the character expands into
                               // that many, whose main bytes `main` holds
};

// The code table entry for one code unit (Access 97: after mapping the
// characters that Windows-1252 places at 0x80-0x9F).
TextCode LookupTextCode(TextCollation collation, char16_t unit);

}  // namespace jet

#endif  // JET_INDEX_INDEX_KEY_H_
