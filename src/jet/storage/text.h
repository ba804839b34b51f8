// SPDX-License-Identifier: Apache-2.0
// Text as Jet stores it, turned into UTF-8.
//
// Jet 4 stores text as UTF-16LE ("UCS-2" in Access's words), optionally in a
// compressed form that starts with FF FE: from there, bytes are single
// Latin-1 characters until a 00 byte switches to two-byte units, and the next
// 00 switches back. Jet 3 stores text in the database's code page.

#ifndef JET_STORAGE_TEXT_H_
#define JET_STORAGE_TEXT_H_

#include "jet/internal/guard.h"

#include <cstdint>
#include <string>

#include "jet/database_info.h"
#include "jet/storage/bytes.h"

namespace jet {

void AppendUtf8(std::string& out, uint32_t code_point);

// UTF-16LE bytes (an odd trailing byte is ignored) to UTF-8. Unpaired
// surrogates become U+FFFD.
std::string Utf16LeToUtf8(ByteView bytes);
void AppendUtf16Le(std::string& out, ByteView bytes);

// A Jet 4 text value: compressed or plain UTF-16LE.
std::string DecodeJet4Text(ByteView bytes);
void AppendJet4Text(std::string& out, ByteView bytes);
// The same, written at `out`, which must have room for 2 * bytes.size()
// bytes (the most UTF-8 that many bytes of either form can become); returns
// the end of what was written.
char* DecodeJet4TextTo(char* out, ByteView bytes);

// Jet 3 text in the given Windows code page. The engine knows the
// single-byte ones (874 and 1250-1258). A byte that a known code page leaves
// unassigned reads as the C1 control of the same value below 0xA0 (as
// Windows reads it) and as U+FFFD above; in a code page the engine does not
// know (the double-byte ones, 932, 936, 949, 950), every byte from 0x80 up
// reads as U+FFFD, so that nothing reads as a character it is not.
// (CodePageKnown, in jet/database_info.h, says which are known.)
std::string DecodeCodePageText(ByteView bytes, uint16_t code_page);
void AppendCodePageText(std::string& out, ByteView bytes, uint16_t code_page);
// The same, written at `out`, which must have room for 3 * bytes.size()
// bytes; returns the end of what was written.
char* DecodeCodePageTextTo(char* out, ByteView bytes, uint16_t code_page);

// The byte for `c` in the code page; false if it has none (and for U+FFFD,
// which stands for what could not be read).
bool EncodeCodePageChar(uint32_t c, uint16_t code_page, uint8_t* out);

// The code page Access 97 text is in: the header's, or when the header says
// 0, the ANSI code page of the sort order's locale (1252 when unknown).
uint16_t Jet3TextCodePage(uint16_t header_code_page, uint16_t sort_lcid);

// UTF-8 to UTF-16 code units; false if `utf8` is not valid UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

}  // namespace jet

#endif  // JET_STORAGE_TEXT_H_
