// Text as Jet stores it, turned into UTF-8.
//
// Jet 4 stores text as UTF-16LE ("UCS-2" in Access's words), optionally in a
// compressed form that starts with FF FE: from there, bytes are single
// Latin-1 characters until a 00 byte switches to two-byte units, and the next
// 00 switches back. Jet 3 stores text in the database's code page.

#ifndef JET_TEXT_H_
#define JET_TEXT_H_

#include <cstdint>
#include <string>


#include "bytes.h"

namespace jet {

void AppendUtf8(std::string& out, uint32_t code_point);

// UTF-16LE bytes (an odd trailing byte is ignored) to UTF-8. Unpaired
// surrogates become U+FFFD.
std::string Utf16LeToUtf8(ByteView bytes);
void AppendUtf16Le(std::string& out, ByteView bytes);

// A Jet 4 text value: compressed or plain UTF-16LE.
std::string DecodeJet4Text(ByteView bytes);
void AppendJet4Text(std::string& out, ByteView bytes);

// Jet 3 text in the given Windows code page. Code pages the engine does not
// know are read as 1252.
std::string DecodeCodePageText(ByteView bytes, uint16_t code_page);
void AppendCodePageText(std::string& out, ByteView bytes, uint16_t code_page);

// One Unicode character as its Windows-1252 byte; false if it has none.
bool EncodeCp1252(uint32_t code_point, uint8_t* out);

// UTF-8 to UTF-16 code units; false if `utf8` is not valid UTF-8.
bool Utf8ToUtf16(const std::string& utf8, std::u16string* out);

}  // namespace jet

#endif  // JET_TEXT_H_
