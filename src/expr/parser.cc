// SPDX-License-Identifier: Apache-2.0
// Parser: recursive descent over the tokens, one function per level of
// VBA's operator precedence, tightest last:
//   Imp, Eqv, Xor, Or, And, Not, comparisons (= <> < <= > >= Like Between
//   In Is), &, + -, Mod, \, * /, unary -, ^.

#include <algorithm>
#include <cctype>

#include "expr/expression.h"
#include "expr/functions.h"
#include "expr/lexer.h"
#include "expr/node.h"

namespace expr {

namespace {

bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

const char* const kReserved[] = {"And",  "Or",    "Not",     "Xor", "Eqv", "Imp",
                                 "Mod",  "Like",  "Between", "In",  "Is",  "Null",
                                 "True", "False", "Yes",     "No",  "On",  "Off"};

using NodePtr = std::unique_ptr<Node>;

NodePtr MakeNode(Op op, NodePtr a = nullptr, NodePtr b = nullptr) {
  auto n = std::make_unique<Node>();
  n->op = op;
  if (a) n->kids.push_back(std::move(a));
  if (b) n->kids.push_back(std::move(b));
  return n;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, Kind kind) : t_(std::move(tokens)), kind_(kind) {}

  Result<NodePtr> Run() {
    if (kind_ == Kind::kDefaultValue && Peek().kind == Tok::kEq) ++pos_;
    JET_ASSIGN_OR_RETURN(NodePtr root, ParseImp());
    if (Peek().kind != Tok::kEnd) return Error("unexpected " + Describe(Peek()));
    return root;
  }

  std::vector<std::string> columns;

 private:
  const Token& Peek(size_t ahead = 0) const { return t_[std::min(pos_ + ahead, t_.size() - 1)]; }
  bool IsWord(const char* w, size_t ahead = 0) const {
    return Peek(ahead).kind == Tok::kWord && SameWord(Peek(ahead).text, w);
  }
  bool Accept(const char* w) {
    if (!IsWord(w)) return false;
    ++pos_;
    return true;
  }
  Status Error(const std::string& what) const {
    return Status::InvalidArgument(what + " at offset " + std::to_string(Peek().offset));
  }
  static std::string Describe(const Token& t) {
    switch (t.kind) {
      case Tok::kEnd:
        return "end of text";
      case Tok::kWord:
        return "'" + t.text + "'";
      case Tok::kName:
        return "[" + t.text + "]";
      case Tok::kLiteral:
        return "literal";
      default:
        return "operator";
    }
  }

  using Level = Result<NodePtr> (Parser::*)();

  Result<NodePtr> Binary(Level next, std::initializer_list<std::pair<const char*, Op>> words) {
    JET_ASSIGN_OR_RETURN(NodePtr left, (this->*next)());
    while (true) {
      bool matched = false;
      for (const auto& [w, op] : words) {
        if (Accept(w)) {
          JET_ASSIGN_OR_RETURN(NodePtr right, (this->*next)());
          left = MakeNode(op, std::move(left), std::move(right));
          matched = true;
          break;
        }
      }
      if (!matched) return left;
    }
  }

  // Nesting (parentheses, arguments, Not and minus signs) is bounded so
  // that neither parsing nor evaluating can run out of stack.
  static constexpr int kMaxDepth = 100;
  struct Deeper {
    explicit Deeper(int* d) : depth(d) { ++*depth; }
    ~Deeper() { --*depth; }
    int* depth;
  };

  Result<NodePtr> ParseImp() {
    Deeper deeper(&depth_);
    if (depth_ > kMaxDepth) return Error("expression nested too deeply");
    return Binary(&Parser::ParseEqv, {{"Imp", Op::kImp}});
  }
  Result<NodePtr> ParseEqv() { return Binary(&Parser::ParseXor, {{"Eqv", Op::kEqv}}); }
  Result<NodePtr> ParseXor() { return Binary(&Parser::ParseOr, {{"Xor", Op::kXor}}); }
  Result<NodePtr> ParseOr() { return Binary(&Parser::ParseAnd, {{"Or", Op::kOr}}); }
  Result<NodePtr> ParseAnd() { return Binary(&Parser::ParseNot, {{"And", Op::kAnd}}); }

  Result<NodePtr> ParseNot() {
    // "Not Like", "Not Between" and "Not In" in a column rule are negated
    // tests of the column; "Not > 5" and "Not Is Null" are Not over one.
    if (IsWord("Not") && !IsWord("Like", 1) && !IsWord("Between", 1) && !IsWord("In", 1)) {
      Deeper deeper(&depth_);
      if (depth_ > kMaxDepth) return Error("expression nested too deeply");
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr operand, ParseNot());
      return MakeNode(Op::kNot, std::move(operand));
    }
    return ParseComparison();
  }

  // Whether the token `ahead` starts a comparison's operator part.
  bool StartsComparison(size_t ahead) const {
    switch (Peek(ahead).kind) {
      case Tok::kEq:
      case Tok::kNe:
      case Tok::kLt:
      case Tok::kLe:
      case Tok::kGt:
      case Tok::kGe:
        return true;
      default:
        break;
    }
    if (IsWord("Like", ahead) || IsWord("Between", ahead) || IsWord("In", ahead) ||
        IsWord("Is", ahead))
      return true;
    return IsWord("Not", ahead) &&
           (IsWord("Like", ahead + 1) || IsWord("Between", ahead + 1) || IsWord("In", ahead + 1));
  }

  Result<NodePtr> ParseComparison() {
    NodePtr left;
    if (StartsComparison(0)) {
      if (kind_ != Kind::kColumnRule) return Error("expected an operand");
      left = MakeNode(Op::kImplicit);
    } else {
      JET_ASSIGN_OR_RETURN(left, ParseConcat());
    }
    while (StartsComparison(0)) {
      Op op;
      switch (Peek().kind) {
        case Tok::kEq:
          op = Op::kEqual;
          break;
        case Tok::kNe:
          op = Op::kNotEqual;
          break;
        case Tok::kLt:
          op = Op::kLess;
          break;
        case Tok::kLe:
          op = Op::kLessEqual;
          break;
        case Tok::kGt:
          op = Op::kGreater;
          break;
        case Tok::kGe:
          op = Op::kGreaterEqual;
          break;
        default:
          op = Op::kLiteral;
          break;
      }
      if (op != Op::kLiteral) {
        ++pos_;
        JET_ASSIGN_OR_RETURN(NodePtr right, ParseConcat());
        left = MakeNode(op, std::move(left), std::move(right));
        continue;
      }
      if (Accept("Is")) {
        bool negated = Accept("Not");
        if (!Accept("Null")) return Error("expected Null after Is");
        left = MakeNode(Op::kIsNull, std::move(left));
        left->negated = negated;
        continue;
      }
      bool negated = Accept("Not");
      if (Accept("Like")) {
        JET_ASSIGN_OR_RETURN(NodePtr pattern, ParseConcat());
        left = MakeNode(Op::kLike, std::move(left), std::move(pattern));
      } else if (Accept("Between")) {
        JET_ASSIGN_OR_RETURN(NodePtr low, ParseConcat());
        if (!Accept("And")) return Error("expected And in Between");
        JET_ASSIGN_OR_RETURN(NodePtr high, ParseConcat());
        left = MakeNode(Op::kBetween, std::move(left), std::move(low));
        left->kids.push_back(std::move(high));
      } else if (Accept("In")) {
        if (Peek().kind != Tok::kLParen) return Error("expected '(' after In");
        ++pos_;
        left = MakeNode(Op::kIn, std::move(left));
        while (true) {
          JET_ASSIGN_OR_RETURN(NodePtr item, ParseImp());
          left->kids.push_back(std::move(item));
          if (Peek().kind == Tok::kComma) {
            ++pos_;
            continue;
          }
          if (Peek().kind != Tok::kRParen) return Error("missing ')'");
          ++pos_;
          break;
        }
      } else {
        return Error("expected Like, Between or In after Not");
      }
      left->negated = negated;
    }
    return left;
  }

  Result<NodePtr> ParseConcat() {
    JET_ASSIGN_OR_RETURN(NodePtr left, ParseAdd());
    while (Peek().kind == Tok::kAmp) {
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, ParseAdd());
      left = MakeNode(Op::kConcat, std::move(left), std::move(right));
    }
    return left;
  }

  Result<NodePtr> ParseAdd() {
    JET_ASSIGN_OR_RETURN(NodePtr left, ParseMod());
    while (Peek().kind == Tok::kPlus || Peek().kind == Tok::kMinus) {
      Op op = Peek().kind == Tok::kPlus ? Op::kAdd : Op::kSubtract;
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, ParseMod());
      left = MakeNode(op, std::move(left), std::move(right));
    }
    return left;
  }

  Result<NodePtr> ParseMod() {
    JET_ASSIGN_OR_RETURN(NodePtr left, ParseIntDiv());
    while (Accept("Mod")) {
      JET_ASSIGN_OR_RETURN(NodePtr right, ParseIntDiv());
      left = MakeNode(Op::kMod, std::move(left), std::move(right));
    }
    return left;
  }

  Result<NodePtr> ParseIntDiv() {
    JET_ASSIGN_OR_RETURN(NodePtr left, ParseMul());
    while (Peek().kind == Tok::kBackslash) {
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, ParseMul());
      left = MakeNode(Op::kIntDivide, std::move(left), std::move(right));
    }
    return left;
  }

  Result<NodePtr> ParseMul() {
    JET_ASSIGN_OR_RETURN(NodePtr left, ParseUnary());
    while (Peek().kind == Tok::kStar || Peek().kind == Tok::kSlash) {
      Op op = Peek().kind == Tok::kStar ? Op::kMultiply : Op::kDivide;
      ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, ParseUnary());
      left = MakeNode(op, std::move(left), std::move(right));
    }
    return left;
  }

  Result<NodePtr> ParseUnary() {
    const Tok sign = Peek().kind;
    if (sign != Tok::kMinus && sign != Tok::kPlus) return ParsePower();
    Deeper deeper(&depth_);
    if (depth_ > kMaxDepth) return Error("expression nested too deeply");
    ++pos_;
    JET_ASSIGN_OR_RETURN(NodePtr operand, ParseUnary());
    if (sign == Tok::kPlus) return operand;
    return MakeNode(Op::kNegate, std::move(operand));
  }

  // ^ binds tighter than unary minus on its left (-2^2 is -4) but takes
  // a signed operand on its right (2^-1 is 0.5).
  Result<NodePtr> ParsePower() {
    JET_ASSIGN_OR_RETURN(NodePtr left, ParsePrimary());
    while (Peek().kind == Tok::kCaret) {
      ++pos_;
      int negations = 0;
      while (Peek().kind == Tok::kMinus || Peek().kind == Tok::kPlus)
        negations += Peek().kind == Tok::kMinus, ++pos_;
      JET_ASSIGN_OR_RETURN(NodePtr right, ParsePrimary());
      while (negations--) right = MakeNode(Op::kNegate, std::move(right));
      left = MakeNode(Op::kPower, std::move(left), std::move(right));
    }
    return left;
  }

  Result<NodePtr> Literal(Value v) {
    auto n = MakeNode(Op::kLiteral);
    n->literal = std::move(v);
    ++pos_;
    return n;
  }

  Result<NodePtr> ParsePrimary() {
    const Token& t = Peek();
    switch (t.kind) {
      case Tok::kLiteral:
        return Literal(t.value);
      case Tok::kLParen: {
        ++pos_;
        JET_ASSIGN_OR_RETURN(NodePtr inner, ParseImp());
        if (Peek().kind != Tok::kRParen) return Error("missing ')'");
        ++pos_;
        return inner;
      }
      case Tok::kName:
      case Tok::kWord:
        return ParseNameOrCall();
      case Tok::kEnd:
        return Error("expression ends where an operand is expected");
      default:
        return Error("expected an operand");
    }
  }

  Result<NodePtr> ParseNameOrCall() {
    const Token t = Peek();
    if (t.kind == Tok::kWord) {
      if (SameWord(t.text, "Null")) return Literal(Value::Null());
      if (SameWord(t.text, "True") || SameWord(t.text, "Yes") || SameWord(t.text, "On"))
        return Literal(Value::Boolean(true));
      if (SameWord(t.text, "False") || SameWord(t.text, "No") || SameWord(t.text, "Off"))
        return Literal(Value::Boolean(false));
      for (const char* r : kReserved)
        if (SameWord(t.text, r)) return Error("unexpected '" + t.text + "'");
    }
    // Qualified references: Forms!F!C, [Table].[Column], Me.X ...
    if (Peek(1).kind == Tok::kBang || Peek(1).kind == Tok::kDot) {
      std::string ref;
      size_t i = 0;
      while (true) {
        const Token& p = Peek(i);
        if (p.kind == Tok::kWord || p.kind == Tok::kName) {
          ref += p.kind == Tok::kName ? "[" + p.text + "]" : p.text;
        } else {
          break;
        }
        if (Peek(i + 1).kind == Tok::kBang)
          ref += "!";
        else if (Peek(i + 1).kind == Tok::kDot)
          ref += ".";
        else
          break;
        i += 2;
      }
      bool form = SameWord(t.text, "Forms") || SameWord(t.text, "Reports") ||
                  SameWord(t.text, "Screen") || SameWord(t.text, "Me");
      return Status::Unsupported(std::string(form ? "form reference " : "qualified reference ") +
                                 ref + " is not supported");
    }
    if (t.kind == Tok::kWord && Peek(1).kind == Tok::kLParen) return ParseCall(t);
    if (t.kind == Tok::kWord) {
      // Date, Now and Time (and Date$, Time$) need no parentheses.
      if (SameWord(t.text, "Date") || SameWord(t.text, "Now") || SameWord(t.text, "Time") ||
          SameWord(t.text, "Date$") || SameWord(t.text, "Time$")) {
        auto n = MakeNode(Op::kCall);
        n->function = FindFunction(t.text);
        n->name = n->function->name;
        ++pos_;
        return n;
      }
    }
    if (kind_ == Kind::kDefaultValue)
      return Status::Unsupported("a default value cannot refer to column " + t.text);
    auto n = MakeNode(Op::kColumn);
    n->name = t.text;
    bool seen = false;
    for (const auto& c : columns) seen = seen || SameWord(c, t.text);
    if (!seen) columns.push_back(t.text);
    ++pos_;
    return n;
  }

  Result<NodePtr> ParseCall(const Token& t) {
    const Function* f = FindFunction(t.text);
    // Domain aggregates (DLookup...) and user functions are refused alike.
    if (!f) return Status::Unsupported("function " + t.text + " is not supported");
    pos_ += 2;
    auto n = MakeNode(Op::kCall);
    n->function = f;
    n->name = f->name;
    if (Peek().kind != Tok::kRParen) {
      while (true) {
        JET_ASSIGN_OR_RETURN(NodePtr arg, ParseImp());
        n->kids.push_back(std::move(arg));
        if (Peek().kind == Tok::kComma) {
          ++pos_;
          continue;
        }
        break;
      }
    }
    if (Peek().kind != Tok::kRParen) return Error("missing ')'");
    ++pos_;
    int count = int(n->kids.size());
    if (count < f->min_args || count > f->max_args) {
      std::string want = f->min_args == f->max_args
                             ? std::to_string(f->min_args)
                             : std::to_string(f->min_args) + " to " + std::to_string(f->max_args);
      return Status::InvalidArgument(std::string(f->name) + " takes " + want + " argument" +
                                     (f->max_args == 1 ? "" : "s") + ", not " +
                                     std::to_string(count));
    }
    // A literal format is checked now, so an unsupported one is refused
    // before anything is evaluated.
    if (SameWord(f->name, "Format") && count >= 2 && n->kids[1]->op == Op::kLiteral &&
        n->kids[1]->literal.type() == Type::kString) {
      JET_RETURN_IF_ERROR(CheckFormat(n->kids[1]->literal.text()));
    }
    return n;
  }

  std::vector<Token> t_;
  size_t pos_ = 0;
  int depth_ = 0;
  Kind kind_;
};

}  // namespace

// Access keeps at most 2,048 characters in a ValidationRule and 255 in a
// DefaultValue; the limit leaves room and keeps the tree shallow enough to
// walk recursively.
constexpr size_t kMaxLength = 4096;
// The evaluator recurses once per level of the tree.
constexpr int kMaxHeight = 256;

// In a column rule, an operand of the logical operators (or the whole
// rule) that is not itself a test is compared with the column for
// equality: "0 Or >100", "Not 42", "\"M\" Or \"F\"" and "15" test the
// column's value, as Access's own examples of validation rules have it.
NodePtr CompareWithColumn(NodePtr n) {
  switch (n->op) {
    case Op::kAnd:
    case Op::kOr:
    case Op::kXor:
    case Op::kEqv:
    case Op::kImp:
    case Op::kNot:
      for (auto& k : n->kids) k = CompareWithColumn(std::move(k));
      return n;
    case Op::kEqual:
    case Op::kNotEqual:
    case Op::kLess:
    case Op::kLessEqual:
    case Op::kGreater:
    case Op::kGreaterEqual:
    case Op::kLike:
    case Op::kBetween:
    case Op::kIn:
    case Op::kIsNull:
      return n;
    default:
      return MakeNode(Op::kEqual, MakeNode(Op::kImplicit), std::move(n));
  }
}

int Height(const Node& n) {
  int h = 0;
  for (const auto& k : n.kids) h = std::max(h, Height(*k));
  return h + 1;
}

Result<Expression> Parse(std::string_view text, Kind kind) {
  if (text.size() > kMaxLength)
    return Status::InvalidArgument("expression longer than " + std::to_string(kMaxLength) +
                                   " bytes");
  JET_ASSIGN_OR_RETURN(std::vector<Token> tokens, Tokenize(text));
  if (tokens.size() == 1) return Status::InvalidArgument("empty expression");
  Parser parser(std::move(tokens), kind);
  JET_ASSIGN_OR_RETURN(NodePtr root, parser.Run());
  if (Height(*root) > kMaxHeight) return Status::InvalidArgument("expression nested too deeply");
  if (kind == Kind::kColumnRule) root = CompareWithColumn(std::move(root));
  Expression e;
  e.kind_ = kind;
  e.text_ = std::string(text);
  e.columns_ = std::move(parser.columns);
  e.root_ = std::shared_ptr<const Node>(std::move(root));
  return e;
}

}  // namespace expr
