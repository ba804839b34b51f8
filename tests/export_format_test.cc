// SPDX-License-Identifier: Apache-2.0
// The allocation-free formatting that export is built on, checked against
// plain reference forms: shortest doubles against std::to_chars, Jet 4 text
// against a unit-by-unit reading, and CSV/JSONL fields of every length
// against straightforward quoting and escaping.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "interchange/export.h"
#include "jet/format/value_format.h"
#include "jet/storage/text.h"
#include "values.h"

namespace {

std::string Shortest(double d) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
}

std::string Ours(double d) {
  char buf[jet::kMaxFormattedNumber];
  return std::string(buf, jet::FormatFiniteDoubleTo(buf, d));
}

// Decimals with few digits take a shortcut; every other double goes to
// to_chars. Both must write what to_chars writes.
TEST(ExportFormatTest, DoublesAreWrittenAsToCharsWritesThem) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200000; ++i) {
    const int k = int(rng() % 17);
    const int64_t m = int64_t(rng() % (uint64_t(1) << (rng() % 54)));
    double d = double(m) / std::pow(10.0, k);
    if (rng() % 2) d = -d;
    ASSERT_EQ(Ours(d), Shortest(d)) << m << "e-" << k;
    // The neighbours of a short decimal have long shortest forms.
    const double up = std::nextafter(d, 1e300);
    ASSERT_EQ(Ours(up), Shortest(up));
    uint64_t bits = rng();
    double any;
    std::memcpy(&any, &bits, 8);
    if (std::isfinite(any)) {
      ASSERT_EQ(Ours(any), Shortest(any));
    }
  }
  for (double d : {0.0, -0.0, 0.01, 0.0099999, 0.1, 0.3, 1.5, 99999999999999.9, 1e14 - 0.5,
                   562949953421311.5, 123456789.123456789, 5e-324, 1.7976931348623157e308}) {
    EXPECT_EQ(Ours(d), Shortest(d)) << d;
  }
}

// Runs of values on one day reuse the date text; every value still reads
// as its own parts.
TEST(ExportFormatTest, DatesWrittenInRunsMatchTheirParts) {
  std::mt19937_64 rng(11);
  jet::DateTextCache cache;
  double day = 43000;
  for (int i = 0; i < 100000; ++i) {
    if (rng() % 8 == 0) day = double(int64_t(rng() % 6000000) - 3000000);
    double v = day + double(rng() % 86400000) / 86400000.0;
    if (rng() % 50 == 0) v = std::nextafter(day + 1, 0.0);  // rounds up into the next day
    if (rng() % 500 == 0) v = rng() % 2 ? NAN : 4e6;
    char buf[jet::kMaxFormattedNumber];
    const std::string got(buf, jet::FormatDateTimeTo(buf, v, &cache));
    const jet::DateTimeParts p = jet::DateTimeFromJet(v);
    char want[64];
    std::snprintf(want, sizeof want, "%04u-%02d-%02dT%02d:%02d:%02d", unsigned(p.year) % 10000,
                  p.month, p.day, p.hour, p.minute, p.second);
    std::string w = want;
    if (p.millisecond) {
      std::snprintf(want, sizeof want, ".%03d", p.millisecond);
      w += want;
    }
    ASSERT_EQ(got, w) << v;
  }
}

// Jet 4 text read one unit at a time, as the format describes it.
std::string ReferenceJet4(const std::vector<uint8_t>& b) {
  std::vector<uint16_t> units;
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    bool wide = false;
    for (size_t i = 2; i < b.size();) {
      if (b[i] == 0) {
        wide = !wide;
        ++i;
      } else if (!wide) {
        units.push_back(b[i++]);
      } else if (i + 1 < b.size()) {
        units.push_back(uint16_t(b[i] | b[i + 1] << 8));
        i += 2;
      } else {
        break;
      }
    }
  } else {
    for (size_t i = 0; i + 1 < b.size(); i += 2) units.push_back(uint16_t(b[i] | b[i + 1] << 8));
  }
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    jet::AppendUtf8(out, c);
  }
  return out;
}

TEST(ExportFormatTest, Jet4TextReadsAsUnitByUnit) {
  std::mt19937 rng(3);
  // Units as {first, how many}: Latin-1, other BMP, high and low
  // surrogates, zero; and mostly ASCII, so that runs of it cross the word
  // boundaries the fast paths work in.
  static const uint32_t kUnits[][2] = {{0x80, 0x80},    {0x100, 0xD700}, {0xD800, 0x400},
                                       {0xDC00, 0x400}, {0, 1},          {0x20, 0x5F}};
  auto unit = [&] {
    const auto& [first, count] = kUnits[std::min<uint32_t>(rng() % 12, 5)];
    return uint16_t(first + rng() % count);
  };
  for (int iter = 0; iter < 20000; ++iter) {
    std::vector<uint8_t> b;
    const size_t n = rng() % 40;
    if (rng() % 2) {
      b = {0xFF, 0xFE};
      for (size_t i = 0; i < n; ++i) {
        const uint32_t r = rng() % 10;  // a zero, Latin-1 or ASCII byte
        const auto& [first, count] = kUnits[r == 0 ? 4 : r == 1 ? 0 : 5];
        b.push_back(uint8_t(first + rng() % count));
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        const uint16_t u = unit();
        b.push_back(uint8_t(u));
        b.push_back(uint8_t(u >> 8));
      }
      if (rng() % 4 == 0) b.push_back(uint8_t(rng()));  // an odd trailing byte
    }
    const std::string want = ReferenceJet4(b);
    std::vector<char> raw(2 * b.size() + 1, '\x7F');
    char* end = jet::DecodeJet4TextTo(raw.data(), jet::ByteView(b.data(), b.size()));
    ASSERT_LE(size_t(end - raw.data()), 2 * b.size());
    EXPECT_EQ(std::string(raw.data(), end), want) << testutil::Hex(std::string(b.begin(), b.end()));
  }
}

std::string CsvReference(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string JsonReference(const std::string& s) {
  static const std::map<char, std::string> kEscapes = {{'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"},
                                                       {'\r', "\\r"}, {'\t', "\\t"},  {'\b', "\\b"},
                                                       {'\f', "\\f"}};
  std::string out = "\"";
  for (unsigned char c : s) {
    char u[8];
    std::snprintf(u, sizeof u, "\\u%04x", c);
    out += kEscapes.count(char(c)) ? kEscapes.at(char(c)) : c < 0x20 ? u : std::string(1, char(c));
  }
  return out + "\"";
}

// A special character at every place in fields of every length up to past
// two scan words, in Text and Memo columns, and next to non-ASCII text.
TEST(ExportFormatTest, FieldsAreQuotedAndEscapedExactlyWhereNeeded) {
  testutil::TempDir dir;
  const std::string path = dir.File("db.mdb");
  std::vector<std::string> texts;
  for (const char* special : {",", "\"", "\r", "\n", "\t", "\\", "\x01", "é", "€"}) {
    for (size_t len = 1; len <= 40; ++len) {
      for (size_t at = 0; at < len; at += 3) {
        std::string s(len, 'a');
        s.replace(at, 1, special);
        texts.push_back(s);
      }
    }
  }
  for (size_t len = 0; len <= 40; ++len) texts.push_back(std::string(len, 'b'));
  {
    testutil::OpenTable w = testutil::NewTable(
        path, {"T", {{"S", jet::ColumnType::kText, 510}, {"M", jet::ColumnType::kMemo, 0}}, {}});
    ASSERT_TRUE(w.w);
    for (const std::string& s : texts) {
      jet::Value memo = testutil::TextValue(s + s);
      memo.type = jet::ColumnType::kMemo;
      auto st = w->Insert({testutil::TextValue(s), memo});
      ASSERT_TRUE(st.ok()) << st.status().ToString() << " " << testutil::Hex(s);
    }
  }
  std::string csv = "S,M\r\n", jsonl;
  for (const std::string& s : texts) {
    csv += CsvReference(s) + "," + CsvReference(s + s) + "\r\n";
    jsonl += "{\"S\":" + JsonReference(s) + ",\"M\":" + JsonReference(s + s) + "}\n";
  }
  auto db = jet::Database::Open(path).value();
  EXPECT_EQ(testutil::ExportToString(*db, "T", jet::ExportFormat::kCsv), csv);
  EXPECT_EQ(testutil::ExportToString(*db, "T", jet::ExportFormat::kJsonl), jsonl);
}

}  // namespace
