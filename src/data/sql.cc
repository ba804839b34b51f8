// SPDX-License-Identifier: Apache-2.0
// The installer's SQL: tokens, the SELECT parser, and WHERE evaluation.

#include "data/sql.h"

#include <cctype>
#include <cstdlib>
#include <utility>

#include "jet/value_text.h"

namespace afc::sql {

namespace {

enum class TokenKind { kEnd, kWord, kName, kText, kNumber, kSymbol };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;  // word or name as written; text literal undoubled; symbol
  size_t offset = 0;
};

bool IsWordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsWordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

bool Upper(const std::string& word, const char* keyword) { return jet::NamesEqual(word, keyword); }

// Words that start a construct this program does not handle.
const char* const kUnsupportedWords[] = {
    "ORDER",   "GROUP",    "HAVING", "JOIN",        "INNER",      "LEFT",      "RIGHT",
    "UNION",   "DISTINCT", "TOP",    "LIKE",        "NOT",        "IS",        "IN",
    "BETWEEN", "AS",       "INTO",   "DISTINCTROW", "PARAMETERS", "TRANSFORM", "PIVOT",
    "EXISTS",  "NULL",     "TRUE",   "FALSE",       "XOR",        "MOD"};

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  DataError Run(Select* out) {
    if (DataError e = Tokenize(); !e.ok()) return e;
    if (!IsWord("SELECT")) {
      if (Current().kind == TokenKind::kWord &&
          (IsWord("INSERT") || IsWord("UPDATE") || IsWord("DELETE"))) {
        return Unsupported(Current().text + " statements");
      }
      return MakeError(kErrNotSelect, "The query must be a SELECT statement; it starts with " +
                                          Shown(Current()) + ".");
    }
    Advance();
    if (DataError e = SelectList(out); !e.ok()) return e;
    if (!IsWord("FROM")) {
      return MakeError(kErrSelectSyntax,
                       "Syntax error in the column list: expected a comma or "
                       "FROM, found " +
                           Shown(Current()) + ".");
    }
    Advance();
    if (Current().kind != TokenKind::kWord && Current().kind != TokenKind::kName) {
      return MakeError(kErrFromSyntax,
                       "Syntax error in the FROM clause: expected a table name, found " +
                           Shown(Current()) + ".");
    }
    if (Current().kind == TokenKind::kWord && IsUnsupportedWord(Current().text)) {
      return Unsupported("'" + Current().text + "'");
    }
    out->table = Current().text;
    Advance();
    if (Current().kind == TokenKind::kSymbol && Current().text == ",") {
      return Unsupported("queries on more than one table");
    }
    if (IsWord("WHERE")) {
      Advance();
      if (DataError e = OrExpression(&out->where); !e.ok()) return e;
    }
    if (Current().kind == TokenKind::kSymbol && Current().text == ";") Advance();
    if (Current().kind != TokenKind::kEnd) {
      if (Current().kind == TokenKind::kWord && IsUnsupportedWord(Current().text)) {
        return Unsupported("'" + Current().text + "'");
      }
      return MakeError(out->where ? kErrWhereSyntax : kErrFromSyntax,
                       std::string("Syntax error in the ") + (out->where ? "WHERE" : "FROM") +
                           " clause: unexpected " + Shown(Current()) + ".");
    }
    return DataError::None();
  }

 private:
  DataError Tokenize() {
    size_t i = 0;
    while (true) {
      while (i < text_.size() && std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
      Token t;
      t.offset = i;
      if (i >= text_.size()) {
        tokens_.push_back(t);
        return DataError::None();
      }
      unsigned char c = static_cast<unsigned char>(text_[i]);
      if (c == '[') {
        size_t end = text_.find(']', i + 1);
        if (end == std::string::npos) {
          return MakeError(kErrSelectSyntax, "Syntax error: the name starting '" +
                                                 text_.substr(i, 20) + "' has no closing ']'.");
        }
        t.kind = TokenKind::kName;
        t.text = text_.substr(i + 1, end - i - 1);
        if (t.text.empty()) return MakeError(kErrSelectSyntax, "Syntax error: an empty name [].");
        i = end + 1;
      } else if (c == '\'') {
        t.kind = TokenKind::kText;
        size_t j = i + 1;
        bool closed = false;
        while (j < text_.size()) {
          if (text_[j] == '\'') {
            if (j + 1 < text_.size() && text_[j + 1] == '\'') {
              t.text.push_back('\'');
              j += 2;
              continue;
            }
            closed = true;
            ++j;
            break;
          }
          t.text.push_back(text_[j++]);
        }
        if (!closed) {
          return MakeError(kErrWhereSyntax, "Syntax error: the text starting " +
                                                text_.substr(i, 20) + " has no closing quote.");
        }
        i = j;
      } else if (c == '"') {
        return MakeError(kErrUnsupportedQuery,
                         "This query uses double quotes; write text between single quotes.");
      } else if (std::isdigit(c) || (c == '.' && i + 1 < text_.size() &&
                                     std::isdigit(static_cast<unsigned char>(text_[i + 1])))) {
        size_t j = i;
        while (j < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[j])) || text_[j] == '.')) {
          ++j;
        }
        t.kind = TokenKind::kNumber;
        t.text = text_.substr(i, j - i);
        if (t.text.find('.') != t.text.rfind('.')) {
          return MakeError(kErrWhereSyntax, "Syntax error: '" + t.text + "' is not a number.");
        }
        i = j;
      } else if (IsWordStart(c)) {
        size_t j = i;
        while (j < text_.size() && IsWordChar(static_cast<unsigned char>(text_[j]))) ++j;
        t.kind = TokenKind::kWord;
        t.text = text_.substr(i, j - i);
        i = j;
      } else {
        t.kind = TokenKind::kSymbol;
        static const char* const kTwo[] = {"<>", "<=", ">="};
        t.text = std::string(1, static_cast<char>(c));
        for (const char* two : kTwo) {
          if (text_.compare(i, 2, two) == 0) t.text = two;
        }
        i += t.text.size();
        static const std::string kKnown = "*,.=();";
        if (t.text.size() != 1 || kKnown.find(t.text[0]) == std::string::npos) {
          return Unsupported("the operator '" + t.text + "'");
        }
      }
      tokens_.push_back(std::move(t));
    }
  }

  const Token& Current() const { return tokens_[pos_]; }
  void Advance() {
    if (pos_ + 1 < tokens_.size()) ++pos_;
  }
  bool IsWord(const char* keyword) const {
    return Current().kind == TokenKind::kWord && Upper(Current().text, keyword);
  }
  bool IsSymbol(const char* symbol) const {
    return Current().kind == TokenKind::kSymbol && Current().text == symbol;
  }
  static bool IsUnsupportedWord(const std::string& word) {
    for (const char* w : kUnsupportedWords) {
      if (Upper(word, w)) return true;
    }
    return false;
  }
  static bool IsReserved(const std::string& word) {
    return Upper(word, "SELECT") || Upper(word, "FROM") || Upper(word, "WHERE") ||
           Upper(word, "AND") || Upper(word, "OR");
  }
  static std::string Shown(const Token& t) {
    switch (t.kind) {
      case TokenKind::kEnd:
        return "the end of the query";
      case TokenKind::kText:
        return "the text '" + t.text + "'";
      case TokenKind::kName:
        return "[" + t.text + "]";
      default:
        return "'" + t.text + "'";
    }
  }
  static DataError Unsupported(const std::string& what) {
    return MakeError(kErrUnsupportedQuery, "This query uses " + what +
                                               ", which this program's query reader does "
                                               "not support.");
  }

  // A name, optionally qualified: Name, [Name], T.Name, [T].[Name]. With
  // `allow_star`, T.* is accepted and sets *star.
  DataError ColumnName(int error_number, const char* where, ColumnRef* out, bool allow_star,
                       bool* star) {
    auto name_here = [&]() {
      return Current().kind == TokenKind::kName ||
             (Current().kind == TokenKind::kWord && !IsReserved(Current().text));
    };
    if (Current().kind == TokenKind::kWord && IsUnsupportedWord(Current().text)) {
      return Unsupported("'" + Current().text + "'");
    }
    if (!name_here()) {
      return MakeError(error_number, std::string("Syntax error in the ") + where +
                                         ": expected a column name, found " + Shown(Current()) +
                                         ".");
    }
    out->name = Current().text;
    Advance();
    if (IsSymbol(".")) {
      Advance();
      out->qualifier = out->name;
      if (allow_star && IsSymbol("*")) {
        Advance();
        *star = true;
        out->name.clear();
        return DataError::None();
      }
      if (!name_here()) {
        return MakeError(error_number, std::string("Syntax error in the ") + where +
                                           ": expected a column name after '" + out->qualifier +
                                           ".', found " + Shown(Current()) + ".");
      }
      out->name = Current().text;
      Advance();
    }
    return DataError::None();
  }

  DataError SelectList(Select* out) {
    while (true) {
      SelectItem item;
      if (IsSymbol("*")) {
        Advance();
        item.all = true;
      } else if (DataError e =
                     ColumnName(kErrSelectSyntax, "column list", &item.column, true, &item.all);
                 !e.ok()) {
        return e;
      }
      if (Current().kind == TokenKind::kWord && IsUnsupportedWord(Current().text)) {
        return Unsupported("'" + Current().text + "'");
      }
      if (IsSymbol("(")) return Unsupported("functions");
      out->items.push_back(std::move(item));
      if (!IsSymbol(",")) return DataError::None();
      Advance();
    }
  }

  DataError OrExpression(std::unique_ptr<Condition>* out) {
    if (DataError e = AndExpression(out); !e.ok()) return e;
    while (IsWord("OR")) {
      Advance();
      auto node = std::make_unique<Condition>();
      node->kind = Condition::Kind::kOr;
      node->left = std::move(*out);
      if (DataError e = AndExpression(&node->right); !e.ok()) return e;
      *out = std::move(node);
    }
    return DataError::None();
  }

  DataError AndExpression(std::unique_ptr<Condition>* out) {
    if (DataError e = Primary(out); !e.ok()) return e;
    while (IsWord("AND")) {
      Advance();
      auto node = std::make_unique<Condition>();
      node->kind = Condition::Kind::kAnd;
      node->left = std::move(*out);
      if (DataError e = Primary(&node->right); !e.ok()) return e;
      *out = std::move(node);
    }
    return DataError::None();
  }

  DataError Primary(std::unique_ptr<Condition>* out) {
    if (IsSymbol("(")) {
      Advance();
      if (DataError e = OrExpression(out); !e.ok()) return e;
      if (!IsSymbol(")")) {
        return MakeError(kErrWhereSyntax,
                         "Syntax error in the WHERE clause: expected ')', "
                         "found " +
                             Shown(Current()) + ".");
      }
      Advance();
      return DataError::None();
    }
    auto node = std::make_unique<Condition>();
    bool star = false;
    if (DataError e = ColumnName(kErrWhereSyntax, "WHERE clause", &node->column, false, &star);
        !e.ok()) {
      return e;
    }
    if (Current().kind == TokenKind::kWord && IsUnsupportedWord(Current().text)) {
      return Unsupported("'" + Current().text + "'");
    }
    if (!IsSymbol("=")) {
      return MakeError(kErrWhereSyntax, "Syntax error in the WHERE clause: expected '=' after " +
                                            node->column.name + ", found " + Shown(Current()) +
                                            ".");
    }
    Advance();
    if (Current().kind == TokenKind::kText) {
      node->literal.is_text = true;
      node->literal.text = Current().text;
    } else if (Current().kind == TokenKind::kNumber) {
      node->literal.is_text = false;
      node->literal.text = Current().text;
      node->literal.number = std::strtod(Current().text.c_str(), nullptr);
    } else if (Current().kind == TokenKind::kWord || Current().kind == TokenKind::kName) {
      if (IsUnsupportedWord(Current().text)) return Unsupported("'" + Current().text + "'");
      return Unsupported("a comparison of two columns");
    } else {
      return MakeError(kErrWhereSyntax,
                       "Syntax error in the WHERE clause: expected a value "
                       "after '=', found " +
                           Shown(Current()) + ".");
    }
    Advance();
    *out = std::move(node);
    return DataError::None();
  }

  const std::string& text_;
  std::vector<Token> tokens_;
  size_t pos_ = 0;
};

// UTF-16 length of a UTF-8 text.
size_t Utf16Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

std::string WithoutTrailingSpaces(const std::string& s) {
  size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// Types a number literal can be compared with.
bool IsNumericType(jet::ColumnType t) {
  return jet::IsNumeric(t) || t == jet::ColumnType::kBoolean || t == jet::ColumnType::kDateTime;
}

double NumberOf(const jet::Value& v) {
  switch (v.type) {
    case jet::ColumnType::kBoolean:
      return v.boolean ? -1 : 0;
    case jet::ColumnType::kCurrency:
      return static_cast<double>(v.integer) / 10000.0;
    case jet::ColumnType::kSingle:
      return v.single;
    case jet::ColumnType::kDouble:
    case jet::ColumnType::kDateTime:
      return v.real;
    case jet::ColumnType::kNumeric:
      return std::strtod(v.decimal.ToString().c_str(), nullptr);
    default:
      return static_cast<double>(v.integer);
  }
}

}  // namespace

DataError Parse(const std::string& text, Select* out) {
  *out = Select();
  Parser parser(text);
  return parser.Run(out);
}

bool TextEquals(const jet::ColumnDef& column, const jet::Database& db, const std::string& a,
                const std::string& b) {
  if (Utf16Length(a) <= 255 && Utf16Length(b) <= 255) {
    auto equal = jet::TextKeysEqual(db, column, a, b);
    if (equal.ok()) return *equal;
  }
  jet::Value va;
  va.type = jet::ColumnType::kText;
  va.null = false;
  va.bytes = WithoutTrailingSpaces(a);
  jet::Value vb = va;
  vb.bytes = WithoutTrailingSpaces(b);
  return jet::ValueMatches(va, vb);
}

std::string DoubleQuotes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

namespace {

DataError CheckQualifier(const std::string& qualifier, const jet::TableDef& table) {
  if (qualifier.empty() || jet::NamesEqual(qualifier, table.name)) return DataError::None();
  return MakeError(kErrUnknownTable, "The query names the table '" + qualifier +
                                         "', which is not the table it reads ('" + table.name +
                                         "').");
}

DataError FindColumn(const ColumnRef& ref, const jet::TableDef& table, size_t* index) {
  if (DataError e = CheckQualifier(ref.qualifier, table); !e.ok()) return e;
  const jet::ColumnDef* c = table.FindColumn(ref.name);
  if (c == nullptr) {
    return MakeError(kErrUnknownColumn,
                     "The table '" + table.name + "' has no column named '" + ref.name + "'.");
  }
  *index = static_cast<size_t>(c - table.columns.data());
  return DataError::None();
}

}  // namespace

DataError BoundQuery::Bind(const Select& select, const jet::TableDef& table,
                           const jet::Database& db, BoundQuery* out) {
  out->table_ = &table;
  out->db_ = &db;
  out->columns_.clear();
  out->where_.reset();
  for (const SelectItem& item : select.items) {
    if (item.all) {
      if (DataError e = CheckQualifier(item.column.qualifier, table); !e.ok()) return e;
      for (size_t i = 0; i < table.columns.size(); ++i) out->columns_.push_back(i);
      continue;
    }
    size_t index = 0;
    if (DataError e = FindColumn(item.column, table, &index); !e.ok()) return e;
    out->columns_.push_back(index);
  }
  if (select.where) return BindCondition(*select.where, table, &out->where_);
  return DataError::None();
}

DataError BoundQuery::BindCondition(const Condition& c, const jet::TableDef& table,
                                    std::unique_ptr<Test>* out) {
  auto test = std::make_unique<Test>();
  test->kind = c.kind;
  if (c.kind == Condition::Kind::kEquals) {
    if (DataError e = FindColumn(c.column, table, &test->column); !e.ok()) return e;
    const jet::ColumnDef& column = table.columns[test->column];
    bool fits = c.literal.is_text ? jet::IsTextual(column.type) : IsNumericType(column.type);
    if (!fits) {
      return MakeError(kErrTypeMismatch,
                       "Data type mismatch: the column '" + column.name + "' (" +
                           jet::ColumnTypeName(column.type) + ") cannot be compared with " +
                           (c.literal.is_text ? "the text '" + c.literal.text + "'"
                                              : "the number " + c.literal.text) +
                           ".");
    }
    test->literal = c.literal;
  } else {
    if (DataError e = BindCondition(*c.left, table, &test->left); !e.ok()) return e;
    if (DataError e = BindCondition(*c.right, table, &test->right); !e.ok()) return e;
  }
  *out = std::move(test);
  return DataError::None();
}

bool BoundQuery::Matches(const std::vector<jet::Value>& row) const {
  return where_ == nullptr || Evaluate(*where_, row);
}

bool BoundQuery::Evaluate(const Test& test, const std::vector<jet::Value>& row) const {
  switch (test.kind) {
    case Condition::Kind::kAnd:
      return Evaluate(*test.left, row) && Evaluate(*test.right, row);
    case Condition::Kind::kOr:
      return Evaluate(*test.left, row) || Evaluate(*test.right, row);
    case Condition::Kind::kEquals:
      break;
  }
  if (test.column >= row.size()) return false;
  const jet::Value& v = row[test.column];
  if (v.null) return false;  // null equals nothing, not even null
  if (test.literal.is_text) {
    return TextEquals(table_->columns[test.column], *db_, v.bytes, test.literal.text);
  }
  return NumberOf(v) == test.literal.number;
}

}  // namespace afc::sql
