// SPDX-License-Identifier: Apache-2.0
// Index key encoding; see index_key.h and docs/index-keys.md.

#include "jet/index/index_key.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "jet/storage/bytes.h"
#include "jet/storage/text.h"

namespace jet {
namespace {

#include "jet/index/index_codes_data.inc"

constexpr uint8_t kFlagValue = 0x7F;
constexpr uint8_t kFlagNull = 0x00;

// Text: the most characters of a value that take part in its key.
constexpr size_t kMaxKeyChars = 255;

// Text key section bytes (Jet 4 collations).
constexpr uint8_t kEndOfMain = 0x01;         // ends the main bytes; also separates sections
constexpr uint8_t kEndOfText = 0x00;         // ends the whole text value
constexpr uint8_t kExtraPlaceholder = 0x02;  // extra byte of a position without one
constexpr uint8_t kMarkFiller = 0x03;        // the mark of most international-ext chars
constexpr uint8_t kMarkByteBase = 0x80;      // marks are packed three to a byte
constexpr uint8_t kMarkTrailer[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr uint8_t kMarkBeforeUnprintable = 0xFF;
constexpr uint8_t kUnprintableMid = 0x06;

// ---------------------------------------------------------------------------
// Code tables

// One code-table entry, without allocations.
struct Code {
  TextCodeKind kind = TextCodeKind::kNone;
  uint8_t main_len = 0;
  uint8_t extra_len = 0;
  uint8_t mark = 0;
  uint8_t letters = 1;  // more than one: expands into that many characters
  uint8_t main[8] = {};
  uint8_t extra[4] = {};
};

// A run of consecutive code points (see tools/gen_index_codes.py): all share
// `code`, or with `rising` each next one's main bytes are one greater.
struct Run {
  uint32_t first = 0;
  uint32_t count = 0;
  bool rising = false;
  Code code;
};

class CodeTable {
 public:
  explicit CodeTable(std::string_view tokens) {
    uint32_t cp = 0;
    size_t pos = 0;
    while (pos < tokens.size()) {
      size_t end = tokens.find(' ', pos);
      if (end == std::string_view::npos) end = tokens.size();
      if (end > pos) {
        Run run = ParseToken(tokens.substr(pos, end - pos));
        run.first = cp;
        cp += run.count;
        runs_.push_back(run);
      }
      pos = end + 1;
    }
    size_ = cp;
  }

  uint32_t size() const { return size_; }

  Code Lookup(uint32_t cp) const {
    if (cp >= size_) return Code{};
    auto it = std::upper_bound(runs_.begin(), runs_.end(), cp,
                               [](uint32_t c, const Run& r) { return c < r.first; });
    const Run& run = *(it - 1);
    Code code = run.code;
    if (run.rising) {
      // Add the distance to the big-endian number in the first hex field:
      // the main bytes, or for kinds without them the code in `extra`.
      uint8_t* bytes = code.main_len > 0 ? code.main : code.extra;
      int len = code.main_len > 0 ? code.main_len : code.extra_len;
      uint32_t carry = cp - run.first;
      for (int i = len - 1; i >= 0 && carry != 0; --i) {
        uint32_t sum = bytes[i] + carry;
        bytes[i] = uint8_t(sum);
        carry = sum >> 8;
      }
    }
    return code;
  }

 private:
  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return c - 'A' + 10;
  }
  static uint8_t ParseHex(std::string_view hex, uint8_t* out, size_t capacity) {
    size_t n = std::min(hex.size() / 2, capacity);
    for (size_t i = 0; i < n; ++i) {
      out[i] = uint8_t(HexDigit(hex[2 * i]) * 16 + HexDigit(hex[2 * i + 1]));
    }
    return uint8_t(n);
  }

  static uint32_t Decimal(std::string_view digits) {
    uint32_t n = 0;
    for (char c : digits) n = n * 10 + uint32_t(c - '0');
    return n;
  }

  // kind fields ['/' letters] [('+' | '*') count]; fields separated by ':'.
  static Run ParseToken(std::string_view token) {
    Run run;
    run.count = 1;
    size_t mark = token.find_first_of("+*");
    if (mark != std::string_view::npos) {
      run.rising = token[mark] == '+';
      run.count = Decimal(token.substr(mark + 1));
      token = token.substr(0, mark);
    }
    size_t slash = token.find('/');
    if (slash != std::string_view::npos) {
      run.code.letters = uint8_t(Decimal(token.substr(slash + 1)));
      token = token.substr(0, slash);
    }
    std::string_view fields[3];
    size_t nfields = 0;
    std::string_view rest = token.substr(1);
    while (nfields < 3) {
      size_t colon = rest.find(':');
      fields[nfields++] = rest.substr(0, colon);
      if (colon == std::string_view::npos) break;
      rest = rest.substr(colon + 1);
    }
    Code& c = run.code;
    switch (token[0]) {
      case 'X':
        c.kind = TextCodeKind::kIgnored;
        break;
      case 'S':
        c.kind = TextCodeKind::kSimple;
        break;
      case 'G':
        c.kind = TextCodeKind::kSignificant;
        break;
      case 'I':
        c.kind = TextCodeKind::kInternational;
        break;
      case 'U':
        c.kind = TextCodeKind::kUnprintable;
        break;
      case 'P':
        c.kind = TextCodeKind::kModifier;
        break;
      case 'Z':
        c.kind = TextCodeKind::kInternationalExt;
        break;
      default:
        c.kind = TextCodeKind::kNone;
        break;
    }
    switch (c.kind) {
      case TextCodeKind::kSimple:
      case TextCodeKind::kSignificant:
        c.main_len = ParseHex(fields[0], c.main, sizeof(c.main));
        break;
      case TextCodeKind::kInternational:
        c.main_len = ParseHex(fields[0], c.main, sizeof(c.main));
        c.extra_len = ParseHex(fields[1], c.extra, sizeof(c.extra));
        break;
      case TextCodeKind::kUnprintable:
      case TextCodeKind::kModifier:
        c.extra_len = ParseHex(fields[0], c.extra, sizeof(c.extra));
        break;
      case TextCodeKind::kInternationalExt:
        c.main_len = ParseHex(fields[0], c.main, sizeof(c.main));
        c.extra_len = ParseHex(fields[1], c.extra, sizeof(c.extra));
        c.mark = fields[2] == "1" ? 2 : kMarkFiller;
        break;
      default:
        break;
    }
    return run;
  }

  std::vector<Run> runs_;
  uint32_t size_ = 0;
};

const CodeTable& TableFor(TextCollation collation) {
  static const CodeTable general97(kGeneral97Codes);
  static const CodeTable legacy(kGeneralLegacyCodes);
  static const CodeTable general(kGeneralCodes);
  switch (collation) {
    case TextCollation::kGeneral97:
      return general97;
    case TextCollation::kGeneralLegacy:
      return legacy;
    default:
      return general;
  }
}

Code LookupCode(TextCollation collation, char16_t unit) {
  if (collation == TextCollation::kGeneral97 && unit > 0xFF) {
    // Above Latin-1, only the characters that Windows-1252 keeps at 0x80-0x9F
    // have codes: theirs. Every other character is ignored.
    for (const auto& m : kGeneral97Mappings) {
      if (m[0] == unit) return TableFor(collation).Lookup(m[1]);
    }
    Code ignored;
    ignored.kind = TextCodeKind::kIgnored;
    return ignored;
  }
  return TableFor(collation).Lookup(unit);
}

std::string CodePointName(char16_t unit) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "U+%04X", unsigned(unit));
  return buf;
}

void Invert(std::vector<uint8_t>* key, size_t from) {
  for (size_t i = from; i < key->size(); ++i) (*key)[i] = uint8_t(~(*key)[i]);
}

// ---------------------------------------------------------------------------
// Text

// The characters of a text value that take part in its key: at most 255,
// without trailing spaces.
Status KeyCharacters(const ColumnDef& column, const Value& value, std::u16string* units) {
  if (!Utf8ToUtf16(value.bytes, units)) {
    return Status::InvalidArgument("Column '" + column.name + "': text is not valid UTF-8");
  }
  if (units->size() > kMaxKeyChars) units->resize(kMaxKeyChars);
  while (!units->empty() && units->back() == u' ') units->pop_back();
  return Status::Ok();
}

// How one text key counts the characters that expand into several.
struct Counting {
  // Only counts every Access version agrees on are settled (else also those
  // of Access 2007 and later for General (legacy)).
  bool certain = false;
  // Settles ß in General (legacy) as Access 2000-2003 count it: two.
  bool access2000 = false;
  // Counts not settled: as letters (else as one character).
  bool letters = false;
  // Set when a count not settled was used, and the first such character.
  bool unsettled = false;
  char16_t first = 0;
};

// Whether an expanding character counts as the characters it expands into.
// Access 97 counts ß as two (Northwind, Suppliers). Access 2000 counts ß in
// General (legacy) as two (its Northwind), Access 2007 and later count it
// and Æ æ Þ þ as one (testUnicodeCompV2003.mdb). Nothing else is known.
bool CountsLetters(TextCollation collation, char16_t unit, Counting* counting) {
  if (collation == TextCollation::kGeneral97 && unit == u'\u00DF') return true;
  if (counting->access2000 && collation == TextCollation::kGeneralLegacy && unit == u'\u00DF') {
    return true;
  }
  if (!counting->certain && collation == TextCollation::kGeneralLegacy) {
    switch (unit) {
      case u'\u00C6':
      case u'\u00DE':
      case u'\u00DF':
      case u'\u00E6':
      case u'\u00FE':
        return false;
      default:
        break;
    }
  }
  if (!counting->unsettled) counting->first = unit;
  counting->unsettled = true;
  return counting->letters;
}

Status NoCode(const ColumnDef& column, TextCollation collation, char16_t unit) {
  return Status::Unsupported("Column '" + column.name + "': character " + CodePointName(unit) +
                             " has no index code in sort order " + TextCollationName(collation));
}

// Jet 4 collations. The value's bytes, in order:
//   main         the main bytes of every character that has them, then 0x01
//   extra        only if some character has extra bytes: one group per
//                main-byte position up to the last that has any (0x02 for a
//                position without), trailing 0x00-0x02 bytes dropped. A
//                character that stands for several may take their positions
//                (see Counting).
//   marks        only if marks or unprintables exist: 01 01, then the packed
//                marks and FF 02 80 FF 80 (if any character has a mark)
//   unprintable  FF (if marks were written) 01, then per unprintable
//                character: big-endian 0x8000 | (7 + 4 * position), 0x06,
//                its code
//   end          0x00
// Descending: the bytes up to and including the end byte are inverted, and
// another 0x00 follows.
Status AppendJet4Text(const ColumnDef& column, TextCollation collation, const std::u16string& units,
                      bool ascending, Counting* counting, std::vector<uint8_t>* key) {
  const size_t start = key->size();
  std::vector<uint8_t> extra;
  size_t extra_positions = 0;  // main-byte positions the extra bytes cover
  size_t extra_lead = 0;       // modifier bytes written before any position
  bool have_extra = false;
  std::vector<uint8_t> unprintable;
  std::vector<uint8_t> marks;
  size_t position = 0;  // characters with main bytes so far

  for (char16_t unit : units) {
    const Code code = LookupCode(collation, unit);
    if (code.kind == TextCodeKind::kNone || code.kind == TextCodeKind::kSignificant) {
      return NoCode(column, collation, unit);
    }
    if (code.kind == TextCodeKind::kIgnored) continue;
    const size_t here = position;
    // A character that expands into several takes their positions, each
    // with one extra byte if it has any.
    size_t width = 1;
    if (code.letters > 1 && CountsLetters(collation, unit, counting)) {
      if (code.extra_len != 0 && code.extra_len != code.letters) {
        return Status::Unsupported("Column '" + column.name + "': character " +
                                   CodePointName(unit) + " cannot be keyed in sort order " +
                                   TextCollationName(collation));
      }
      width = code.letters;
    }
    key->insert(key->end(), code.main, code.main + code.main_len);
    if (code.main_len > 0) position += width;
    if (code.kind == TextCodeKind::kSimple) continue;

    const bool has_extra = (code.kind == TextCodeKind::kInternational ||
                            code.kind == TextCodeKind::kInternationalExt) &&
                           code.extra_len > 0;
    if (has_extra || code.kind == TextCodeKind::kModifier) {
      have_extra = true;
      if (extra_positions < here) {
        extra.insert(extra.end(), here - extra_positions, kExtraPlaceholder);
        extra_positions = here;
      }
      if (has_extra) {
        extra.insert(extra.end(), code.extra, code.extra + code.extra_len);
        extra_positions += width;
      } else if (!extra.empty()) {
        extra.back() = uint8_t(extra.back() + code.extra[0]);
      } else {
        extra.push_back(code.extra[0]);
        extra_lead = 1;
      }
    }
    if (code.kind == TextCodeKind::kUnprintable) {
      // The position counts extra bytes, as if every position up to here
      // had its extra bytes written.
      size_t at = have_extra ? extra.size() + (here - extra_positions) - extra_lead : here;
      uint16_t offset = uint16_t(0x8000 | (7 + 4 * at));
      unprintable.push_back(uint8_t(offset >> 8));
      unprintable.push_back(uint8_t(offset));
      unprintable.push_back(kUnprintableMid);
      unprintable.insert(unprintable.end(), code.extra, code.extra + code.extra_len);
    }
    if (code.kind == TextCodeKind::kInternationalExt) marks.push_back(code.mark);
  }
  key->push_back(kEndOfMain);

  while (!extra.empty() && extra.back() <= kExtraPlaceholder) extra.pop_back();
  key->insert(key->end(), extra.begin(), extra.end());

  if (!marks.empty() || !unprintable.empty()) {
    key->push_back(kEndOfMain);
    key->push_back(kEndOfMain);
    if (!marks.empty()) {
      while (!marks.empty() && marks.back() == kMarkFiller) marks.pop_back();
      for (size_t i = 0; i < marks.size(); i += 3) {
        uint8_t b = kMarkByteBase;
        for (size_t k = 0; k < 3 && i + k < marks.size(); ++k) {
          b = uint8_t(b | (marks[i + k] << (2 * (2 - k))));
        }
        key->push_back(b);
      }
      key->insert(key->end(), std::begin(kMarkTrailer), std::end(kMarkTrailer));
      if (!unprintable.empty()) key->push_back(kMarkBeforeUnprintable);
    }
    if (!unprintable.empty()) {
      key->push_back(kEndOfMain);
      key->insert(key->end(), unprintable.begin(), unprintable.end());
    }
  }
  key->push_back(kEndOfText);
  if (!ascending) {
    Invert(key, start);
    key->push_back(kEndOfText);
  }
  return Status::Ok();
}

// Access 97 "General". The value's bytes, in order:
//   main    the main bytes of every character that has them
//   extra   if some character is international: a string of 4-bit nibbles,
//           0, then per international character a 2 for each significant
//           character since the previous international one and its own
//           extra nibble, then 0; padded with a 0 nibble to whole bytes.
//           Otherwise the single byte 0x00. (ß, standing for "ss", is two
//           significant characters.)
// Descending inverts all of it.
Status AppendJet3Text(const ColumnDef& column, const std::u16string& units, bool ascending,
                      Counting* counting, std::vector<uint8_t>* key) {
  const size_t start = key->size();
  std::vector<uint8_t> nibbles;
  size_t significant = 0;
  for (char16_t unit : units) {
    const Code code = LookupCode(TextCollation::kGeneral97, unit);
    switch (code.kind) {
      case TextCodeKind::kIgnored:
        continue;
      case TextCodeKind::kSimple:
        // The letters an expanding character stands for are all significant.
        if (code.letters > 1 && CountsLetters(TextCollation::kGeneral97, unit, counting)) {
          significant += code.letters;
        }
        break;
      case TextCodeKind::kSignificant:
        ++significant;
        break;
      case TextCodeKind::kInternational:
        if (nibbles.empty()) nibbles.push_back(0);
        nibbles.insert(nibbles.end(), significant, kExtraPlaceholder);
        significant = 0;
        nibbles.push_back(code.extra[0] & 0x0F);
        break;
      default:
        return NoCode(column, TextCollation::kGeneral97, unit);
    }
    key->insert(key->end(), code.main, code.main + code.main_len);
  }
  if (nibbles.empty()) {
    key->push_back(kEndOfText);
  } else {
    nibbles.push_back(0);
    for (size_t i = 0; i < nibbles.size(); i += 2) {
      uint8_t lo = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
      key->push_back(uint8_t(nibbles[i] << 4 | lo));
    }
  }
  if (!ascending) Invert(key, start);
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// Numbers and binary

void AppendBigEndian(uint64_t bits, int bytes, std::vector<uint8_t>* key) {
  for (int i = bytes - 1; i >= 0; --i) key->push_back(uint8_t(bits >> (8 * i)));
}

// Integers: big-endian with the sign bit flipped, so that unsigned byte
// order is numeric order.
void AppendInteger(int64_t v, int bytes, std::vector<uint8_t>* key) {
  const size_t start = key->size();
  AppendBigEndian(uint64_t(v), bytes, key);
  (*key)[start] ^= 0x80;
}

// IEEE numbers: non-negative ones get their sign bit set, negative ones are
// inverted entirely, which reverses their magnitude order.
void AppendFloating(uint64_t bits, int bytes, std::vector<uint8_t>* key) {
  const size_t start = key->size();
  AppendBigEndian(bits, bytes, key);
  if ((*key)[start] & 0x80) {
    Invert(key, start);
  } else {
    (*key)[start] ^= 0x80;
  }
}

// GUID and binary: 8-byte segments. Each full segment that has more data
// after it is followed by 0x09; the last one is zero-padded to 8 bytes and
// followed by the number of its bytes that are data. Descending inverts the
// data, and the last segment's length, but not the 0x09 markers.
void AppendSegmented(const uint8_t* data, size_t size, bool ascending, std::vector<uint8_t>* key) {
  size_t pos = 0;
  while (size - pos > 8) {
    for (size_t i = 0; i < 8; ++i) key->push_back(ascending ? data[pos + i] : ~data[pos + i]);
    key->push_back(0x09);
    pos += 8;
  }
  if (size == pos) return;
  const size_t start = key->size();
  const size_t n = size - pos;
  key->insert(key->end(), data + pos, data + size);
  key->insert(key->end(), 8 - n, 0);
  key->push_back(uint8_t(n));
  if (!ascending) Invert(key, start);
}

}  // namespace

const char* TextCollationName(TextCollation collation) {
  switch (collation) {
    case TextCollation::kGeneral97:
      return "General (Access 97)";
    case TextCollation::kGeneralLegacy:
      return "General (legacy)";
    case TextCollation::kGeneral:
      return "General";
  }
  return "?";
}

Result<TextCollation> TextCollationOf(const SortOrder& order, JetVersion version) {
  constexpr uint16_t kGeneralLcid = 1033;
  if (order.lcid == kGeneralLcid) {
    if (version == JetVersion::kJet3) return TextCollation::kGeneral97;
    if (order.version == 0) return TextCollation::kGeneralLegacy;
    if (order.version == 1) return TextCollation::kGeneral;
  }
  char buf[96];
  if (version == JetVersion::kJet3) {
    std::snprintf(buf, sizeof(buf), "LCID %u (0x%04X)", unsigned(order.lcid), unsigned(order.lcid));
  } else {
    std::snprintf(buf, sizeof(buf), "LCID %u (0x%04X) version %d", unsigned(order.lcid),
                  unsigned(order.lcid), order.version);
  }
  return Status::Unsupported(std::string("Text index keys in sort order ") + buf +
                             " are not supported (only General: LCID 1033)");
}

TextCode LookupTextCode(TextCollation collation, char16_t unit) {
  const Code c = LookupCode(collation, unit);
  TextCode out;
  out.kind = c.kind;
  out.main.assign(c.main, c.main + c.main_len);
  out.extra.assign(c.extra, c.extra + c.extra_len);
  out.mark = c.mark;
  out.letters = c.letters;
  return out;
}

Status AppendIndexKeyColumn(const ColumnDef& column, bool ascending, const Value& value,
                            const DatabaseHeader& header, std::vector<uint8_t>* key,
                            Expansions expansions) {
  const JetVersion version = header.format->version;
  if (column.type == ColumnType::kBoolean) {
    // Never null; the flag is always that of a value.
    key->push_back(ascending ? kFlagValue : uint8_t(~kFlagValue));
    uint8_t b = value.boolean ? 0x00 : 0xFF;
    key->push_back(ascending ? b : uint8_t(~b));
    return Status::Ok();
  }
  if (value.null) {
    key->push_back(ascending ? kFlagNull : uint8_t(~kFlagNull));
    return Status::Ok();
  }
  key->push_back(ascending ? kFlagValue : uint8_t(~kFlagValue));
  const size_t start = key->size();
  switch (column.type) {
    case ColumnType::kByte:
      key->push_back(uint8_t(value.integer));
      break;
    case ColumnType::kInteger:
      AppendInteger(value.integer, 2, key);
      break;
    case ColumnType::kLong:
    case ColumnType::kComplex:
      AppendInteger(value.integer, 4, key);
      break;
    case ColumnType::kCurrency:
    case ColumnType::kBigInt:
      AppendInteger(value.integer, 8, key);
      break;
    case ColumnType::kExtDateTime: {
      // The 42 stored bytes in five runs of 8, each followed by a tab, then
      // the last 2 and a fixed tail. Descending inverts all but the tabs.
      if (value.bytes.size() != kExtDateTimeSize) {
        return Status::InvalidArgument("Column '" + column.name + "': not an extended date");
      }
      const uint8_t flip = ascending ? 0x00 : 0xFF;
      for (size_t i = 0; i < kExtDateTimeSize; ++i) {
        key->push_back(uint8_t(value.bytes[i]) ^ flip);
        if (i % 8 == 7) key->push_back(0x09);
      }
      for (uint8_t b : {0, 0, 0, 0, 0, 0, 2}) key->push_back(b ^ flip);
      return Status::Ok();
    }
    case ColumnType::kSingle: {
      uint32_t bits;
      std::memcpy(&bits, &value.single, 4);
      AppendFloating(bits, 4, key);
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      uint64_t bits;
      std::memcpy(&bits, &value.real, 8);
      AppendFloating(bits, 8, key);
      break;
    }
    case ColumnType::kNumeric: {
      if (value.decimal.scale != column.scale) {
        return Status::InvalidArgument("Column '" + column.name + "': decimal has scale " +
                                       std::to_string(value.decimal.scale) + ", column has " +
                                       std::to_string(column.scale));
      }
      const Decimal& d = value.decimal;
      const bool negative = d.negative && (d.words[0] | d.words[1] | d.words[2] | d.words[3]) != 0;
      key->push_back(negative ? 0x80 : 0x00);
      for (uint32_t w : d.words) AppendBigEndian(w, 4, key);
      // Jet 3 and 4 ("legacy" numeric order): the magnitude is inverted when
      // the sign agrees with the direction, then the first byte is replaced
      // by 0x00 for a negative number and 0xFF otherwise. Descending thus
      // keeps negative numbers below positive ones. ACE sets the first byte
      // to 0xFF before the inversion, which orders descending keys right.
      if (header.format->legacy_numeric_index_keys) {
        if (negative == ascending) Invert(key, start);
        (*key)[start] = negative ? 0x00 : 0xFF;
      } else {
        (*key)[start] = 0xFF;
        if (negative == ascending) Invert(key, start);
      }
      return Status::Ok();  // not inverted again below
    }
    case ColumnType::kGuid: {
      if (value.bytes.size() != 16) {
        return Status::InvalidArgument("Column '" + column.name + "': a GUID has 16 bytes");
      }
      // The first three fields are little-endian on disk, big-endian in keys.
      uint8_t g[16];
      std::memcpy(g, value.bytes.data(), 16);
      std::reverse(g, g + 4);
      std::reverse(g + 4, g + 6);
      std::reverse(g + 6, g + 8);
      AppendSegmented(g, 16, ascending, key);
      return Status::Ok();
    }
    case ColumnType::kBinary:
      AppendSegmented(reinterpret_cast<const uint8_t*>(value.bytes.data()), value.bytes.size(),
                      ascending, key);
      return Status::Ok();
    case ColumnType::kText:
    case ColumnType::kMemo: {
      Result<TextCollation> collation = TextCollationOf(column.sort_order, version);
      if (!collation.ok()) {
        return Status::Unsupported("Column '" + column.name + "': " + collation.status().message());
      }
      if (*collation == TextCollation::kGeneral97 && header.code_page != 1252) {
        return Status::Unsupported("Column '" + column.name +
                                   "': Access 97 text index keys are known for code page "
                                   "1252 only, not " +
                                   std::to_string(header.code_page));
      }
      std::u16string units;
      JET_RETURN_IF_ERROR(KeyCharacters(column, value, &units));
      auto append = [&](Counting* counting, std::vector<uint8_t>* out) {
        if (*collation == TextCollation::kGeneral97) {
          return AppendJet3Text(column, units, ascending, counting, out);
        }
        return AppendJet4Text(column, *collation, units, ascending, counting, out);
      };
      Counting counting;
      counting.certain = expansions != Expansions::kKnown;
      counting.access2000 = expansions == Expansions::kAccess2000;
      counting.letters = expansions == Expansions::kLetters;
      JET_RETURN_IF_ERROR(append(&counting, key));
      const bool both = expansions == Expansions::kKnown || expansions == Expansions::kCertain ||
                        expansions == Expansions::kAccess2000;
      if (!both || !counting.unsettled) return Status::Ok();
      // Both counts must give the same bytes.
      std::vector<uint8_t> other(key->begin(), key->begin() + ptrdiff_t(start));
      counting.letters = true;
      JET_RETURN_IF_ERROR(append(&counting, &other));
      if (other != *key) {
        return Status::Unsupported(
            "Column '" + column.name + "': character " + CodePointName(counting.first) +
            " stands for several, and how many positions it takes before what follows it " +
            (expansions == Expansions::kCertain ? "differs between Access versions"
                                                : "is not known") +
            " in sort order " + TextCollationName(*collation));
      }
      return Status::Ok();
    }
    default:
      return Status::Unsupported("Column '" + column.name + "': a " + ColumnTypeName(column.type) +
                                 " column cannot be indexed");
  }
  if (!ascending) Invert(key, start);
  return Status::Ok();
}

Status EncodeIndexKey(const TableDef& table, const PhysicalIndex& index,
                      const std::vector<Value>& row, const DatabaseHeader& header,
                      std::vector<uint8_t>* key, Expansions expansions) {
  key->clear();
  if (row.size() != table.columns.size()) {
    return Status::InvalidArgument("Table '" + table.name + "': a row of " +
                                   std::to_string(row.size()) + " values for " +
                                   std::to_string(table.columns.size()) + " columns");
  }
  for (const IndexColumn& ic : index.columns) {
    const ColumnDef* col = table.FindColumnByNumber(ic.column_number);
    if (col == nullptr) {
      return Status::Corrupt("Table '" + table.name + "': index " + std::to_string(index.number) +
                             " names column number " + std::to_string(ic.column_number) +
                             ", which does not exist");
    }
    const Value& v = row[size_t(col - table.columns.data())];
    JET_RETURN_IF_ERROR(AppendIndexKeyColumn(*col, ic.ascending, v, header, key, expansions));
  }
  return Status::Ok();
}

Status PossibleIndexKeys(const TableDef& table, const PhysicalIndex& index,
                         const std::vector<Value>& row, const DatabaseHeader& header,
                         std::vector<std::vector<uint8_t>>* keys) {
  keys->assign(1, {});
  Status known = EncodeIndexKey(table, index, row, header, &keys->front(), Expansions::kCertain);
  if (known.kind() != ErrorKind::kUnsupported) return known;
  // Refused: perhaps only because Access versions differ.
  keys->assign(2, {});
  JET_RETURN_IF_ERROR(
      EncodeIndexKey(table, index, row, header, &(*keys)[0], Expansions::kCharacters));
  JET_RETURN_IF_ERROR(EncodeIndexKey(table, index, row, header, &(*keys)[1], Expansions::kLetters));
  if ((*keys)[0] == (*keys)[1]) return known;
  return Status::Ok();
}

}  // namespace jet
