// SPDX-License-Identifier: Apache-2.0
#include "expr/lexer.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "expr/calendar.h"

namespace expr {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) { return IsWordStart(c) || IsDigit(c); }

Status Error(const std::string& what, size_t offset) {
  return Status::InvalidArgument(what + " at offset " + std::to_string(offset));
}

// An integer literal: Integer when it fits, then Long, then Double.
Value IntegerLiteral(double v) {
  if (v <= 32767) return Value::Integer(int16_t(v));
  if (v <= 2147483647.0) return Value::Long(int32_t(v));
  return Value::Double(v);
}

}  // namespace

Result<std::vector<Token>> Tokenize(std::string_view text) {
  std::vector<Token> out;
  size_t i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    Token t;
    t.offset = i;
    if (i >= n) {
      out.push_back(t);
      return out;
    }
    char c = text[i];
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text[i + 1]))) {
      size_t j = i;
      bool real = false;
      while (j < n && IsDigit(text[j])) ++j;
      if (j < n && text[j] == '.') {
        real = true;
        ++j;
        while (j < n && IsDigit(text[j])) ++j;
      }
      if (j < n && (text[j] == 'E' || text[j] == 'e')) {
        size_t k = j + 1;
        if (k < n && (text[k] == '+' || text[k] == '-')) ++k;
        if (k < n && IsDigit(text[k])) {
          real = true;
          j = k;
          while (j < n && IsDigit(text[j])) ++j;
        }
      }
      if (j < n && IsWordChar(text[j])) return Error("malformed number", i);
      std::string digits(text.substr(i, j - i));
      double v = std::strtod(digits.c_str(), nullptr);
      if (!std::isfinite(v)) return Error("number out of range", i);
      t.kind = Tok::kLiteral;
      t.value = real ? Value::Double(v) : IntegerLiteral(v);
      i = j;
    } else if (c == '&' && i + 1 < n &&
               (text[i + 1] == 'H' || text[i + 1] == 'h' || text[i + 1] == 'O' ||
                text[i + 1] == 'o')) {
      const int base = (text[i + 1] == 'H' || text[i + 1] == 'h') ? 16 : 8;
      size_t j = i + 2;
      uint64_t v = 0;
      while (j < n) {
        char d = text[j];
        int digit = IsDigit(d) ? d - '0'
                    : std::isxdigit(static_cast<unsigned char>(d))
                        ? std::toupper(static_cast<unsigned char>(d)) - 'A' + 10
                        : 99;
        if (digit >= base) break;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return Error("number out of range", i);
        ++j;
      }
      if (j == i + 2 || (j < n && IsWordChar(text[j]))) return Error("malformed number", i);
      t.kind = Tok::kLiteral;
      t.value =
          v <= 0xFFFF ? Value::Integer(int16_t(uint16_t(v))) : Value::Long(int32_t(uint32_t(v)));
      i = j;
    } else if (c == '"' || c == '\'') {
      std::string s;
      size_t j = i + 1;
      while (true) {
        if (j >= n) return Error("unterminated string", i);
        if (text[j] == c) {
          if (j + 1 < n && text[j + 1] == c) {
            s += c;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        s += text[j++];
      }
      t.kind = Tok::kLiteral;
      t.value = Value::String(std::move(s));
      i = j;
    } else if (c == '#') {
      size_t j = text.find('#', i + 1);
      if (j == std::string_view::npos) return Error("unterminated date", i);
      auto d = ParseDateText(std::string(text.substr(i + 1, j - i - 1)));
      if (!d)
        return Error("malformed date #" + std::string(text.substr(i + 1, j - i - 1)) + "#", i);
      t.kind = Tok::kLiteral;
      t.value = Value::Date(*d);
      i = j + 1;
    } else if (c == '[') {
      size_t j = text.find(']', i + 1);
      if (j == std::string_view::npos) return Error("missing ']'", i);
      t.kind = Tok::kName;
      t.text = std::string(text.substr(i + 1, j - i - 1));
      if (t.text.empty()) return Error("empty name []", i);
      i = j + 1;
    } else if (IsWordStart(c)) {
      size_t j = i;
      while (j < n && IsWordChar(text[j])) ++j;
      // Left$, Format$...: the String-returning forms of functions.
      if (j < n && text[j] == '$') ++j;
      t.kind = Tok::kWord;
      t.text = std::string(text.substr(i, j - i));
      i = j;
    } else {
      ++i;
      switch (c) {
        case '(':
          t.kind = Tok::kLParen;
          break;
        case ')':
          t.kind = Tok::kRParen;
          break;
        case ',':
          t.kind = Tok::kComma;
          break;
        case '+':
          t.kind = Tok::kPlus;
          break;
        case '-':
          t.kind = Tok::kMinus;
          break;
        case '*':
          t.kind = Tok::kStar;
          break;
        case '/':
          t.kind = Tok::kSlash;
          break;
        case '\\':
          t.kind = Tok::kBackslash;
          break;
        case '^':
          t.kind = Tok::kCaret;
          break;
        case '&':
          t.kind = Tok::kAmp;
          break;
        case '!':
          t.kind = Tok::kBang;
          break;
        case '.':
          t.kind = Tok::kDot;
          break;
        case '=':
          t.kind = Tok::kEq;
          break;
        case '<':
          if (i < n && text[i] == '>')
            t.kind = Tok::kNe, ++i;
          else if (i < n && text[i] == '=')
            t.kind = Tok::kLe, ++i;
          else
            t.kind = Tok::kLt;
          break;
        case '>':
          if (i < n && text[i] == '=')
            t.kind = Tok::kGe, ++i;
          else
            t.kind = Tok::kGt;
          break;
        default:
          return Error(std::string("unexpected character '") + c + "'", t.offset);
      }
    }
    out.push_back(std::move(t));
  }
}

}  // namespace expr
