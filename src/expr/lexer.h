// SPDX-License-Identifier: Apache-2.0
// Lexer: splits expression text into tokens.
//
// Words (names and keywords alike) come out as kWord; the parser decides
// which are keywords. [Bracketed names] are kName. Number, string and
// #date# literals come out with their Value.

#ifndef EXPR_LEXER_H_
#define EXPR_LEXER_H_

#include <string>
#include <string_view>
#include <vector>

#include "expr/value.h"

namespace expr {

enum class Tok {
  kEnd,
  kLiteral,
  kWord,
  kName,
  kLParen,
  kRParen,
  kComma,
  kPlus,
  kMinus,
  kStar,
  kSlash,
  kBackslash,
  kCaret,
  kAmp,
  kEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kBang,
  kDot,
};

struct Token {
  Tok kind = Tok::kEnd;
  size_t offset = 0;
  std::string text;  // the word or name, as written
  Value value;       // kLiteral
};

Result<std::vector<Token>> Tokenize(std::string_view text);

}  // namespace expr

#endif  // EXPR_LEXER_H_
