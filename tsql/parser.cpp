// The recursive-descent parser of batches: statements, expressions, conditions, declarations
// and EXEC arguments, with the checks the server makes before a batch runs.
//
// Sections: reserved words and literals; the Parser class with its token helpers, statements
// (ParseStatement and the DECLARE, SET, session options, transactions, SELECT and EXEC
// forms), IF conditions, types, and expressions by precedence (ParseExpr down to
// ParseFunction); and ParseParameters for sp_executesql's parameter lists.
#include "tsql/parser.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "tsql/errors.h"
#include "tsql/lexer.h"
#include "tsql/operators.h"
#include "tsql/system_functions.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

const char* const kReserved[] = {
    "ADD",      "ALL",      "ALTER",  "AND",       "ANY",       "AS",          "ASC",      "BEGIN",
    "BETWEEN",  "BREAK",    "BY",     "CASE",      "CHECK",     "CLOSE",       "COLUMN",   "COMMIT",
    "CONTINUE", "CONVERT",  "CREATE", "CROSS",     "CURSOR",    "DECLARE",     "DEFAULT",  "DELETE",
    "DESC",     "DISTINCT", "DROP",   "ELSE",      "END",       "EXEC",        "EXECUTE",  "EXISTS",
    "FROM",     "GOTO",     "GROUP",  "HAVING",    "IF",        "IN",          "INSERT",   "INTO",
    "IS",       "JOIN",     "LIKE",   "NOT",       "NULL",      "OF",          "ON",       "OR",
    "ORDER",    "PRINT",    "PROC",   "PROCEDURE", "RAISERROR", "RETURN",      "ROLLBACK", "SELECT",
    "SET",      "TABLE",    "THEN",   "TOP",       "TRAN",      "TRANSACTION", "UNION",    "UPDATE",
    "USE",      "VALUES",   "WHEN",   "WHERE",     "WHILE",     "WITH",
};

bool IsReserved(const Token& t) {
  if (t.kind != TokenKind::kIdentifier || t.quoted) return false;
  for (const char* word : kReserved) {
    if (EqualsNoCase(t.text, word)) return true;
  }
  return false;
}

std::string Key(std::string_view variable) {
  return ToLowerAscii(variable);
}

// The value of a literal token, typed as the server types constants.
Value Literal(const Token& t) {
  switch (t.kind) {
    case TokenKind::kString: {
      if (t.national) {
        std::u16string wide = Utf8ToWide(t.text);
        uint32_t length = wide.size() > 4000
                              ? kMaxLength
                              : static_cast<uint32_t>(std::max<size_t>(wide.size(), 1));
        return Value::WideChars(std::move(wide), TypeOf(TypeId::NVarChar, length));
      }
      std::string ansi = Utf8ToAnsi(t.text);
      uint32_t length =
          ansi.size() > 8000 ? kMaxLength : static_cast<uint32_t>(std::max<size_t>(ansi.size(), 1));
      return Value::Chars(std::move(ansi), TypeOf(TypeId::VarChar, length));
    }
    case TokenKind::kInteger:
    case TokenKind::kDecimal: {
      auto number = Decimal::Parse(t.text);
      if (!number) {
        throw CompileError(
            1007, 1,
            "The number '" + t.text +
                "' is out of the range for numeric representation (maximum precision 38).",
            t.line);
      }
      if (t.kind == TokenKind::kInteger) {
        auto small = number->ToInt64();
        if (small && *small <= INT32_MAX) return Value::Integer(*small);
      }
      return Value::Exact(*number, number->Precision());
    }
    case TokenKind::kFloat: {
      double value = 0;
      auto [end, error] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), value);
      if (error != std::errc() || end != t.text.data() + t.text.size()) {
        throw CompileError(
            1007, 1,
            "The number '" + t.text +
                "' is out of the range for numeric representation (maximum precision 38).",
            t.line);
      }
      return Value::Float(value);
    }
    case TokenKind::kMoney: {
      Value text = Value::Chars(t.text, TypeOf(TypeId::VarChar, 30));
      try {
        return Convert(text, TypeOf(TypeId::Money));
      } catch (const SqlError&) {
        throw CompileError(
            1007, 1,
            "The number '$" + t.text +
                "' is out of the range for numeric representation (maximum precision 38).",
            t.line);
      }
    }
    case TokenKind::kBinary: {
      std::string hex = t.text.size() % 2 ? "0" + t.text : t.text;
      Value text = Value::Chars(hex, TypeOf(TypeId::VarChar, kMaxLength));
      Value bytes = Convert(text, TypeOf(TypeId::VarBinary, kMaxLength), Conversion::kExplicit, 2);
      uint32_t length = bytes.bytes.size() > 8000
                            ? kMaxLength
                            : static_cast<uint32_t>(std::max<size_t>(bytes.bytes.size(), 1));
      bytes.type = TypeOf(TypeId::VarBinary, length);
      return bytes;
    }
    default:
      return Value::UntypedNull();
  }
}

// Deeper expressions are refused, so that parsing, evaluating and freeing them stays within
// the stack.
constexpr int kMaxDepth = 1000;

bool IsLiteral(const Token& t) {
  switch (t.kind) {
    case TokenKind::kString:
    case TokenKind::kInteger:
    case TokenKind::kDecimal:
    case TokenKind::kFloat:
    case TokenKind::kMoney:
    case TokenKind::kBinary:
      return true;
    default:
      return t.IsWord("NULL");
  }
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, const std::vector<std::string>& declared)
      : tokens_(std::move(tokens)) {
    for (const std::string& name : declared) declared_.insert(Key(name));
  }

  // "@a int, @b nvarchar(10) OUTPUT": the parameter list of sp_executesql.
  std::vector<ParameterDeclaration> RunParameters() {
    std::vector<ParameterDeclaration> parameters;
    if (Cur().kind == TokenKind::kEnd) return parameters;
    do {
      const Token& variable = Cur();
      if (variable.kind != TokenKind::kVariable) SyntaxError();
      ++pos_;
      ParameterDeclaration p;
      p.name = variable.text;
      AcceptWord("AS");
      p.type = ParseType(false);
      p.output = AcceptWord("OUTPUT") || AcceptWord("OUT");
      if (!declared_.insert(Key(p.name)).second) {
        throw CompileError(134, 1,
                           "The variable name '" + p.name +
                               "' has already been declared. Variable names must be unique within "
                               "a query batch or stored procedure.",
                           variable.line);
      }
      parameters.push_back(std::move(p));
    } while (AcceptSymbol(","));
    if (Cur().kind != TokenKind::kEnd) SyntaxError();
    return parameters;
  }

  std::vector<Statement> Run() {
    std::vector<Statement> statements;
    while (Cur().kind != TokenKind::kEnd) {
      if (Cur().Is(";")) {
        ++pos_;
        continue;
      }
      statements.push_back(ParseStatement(statements.empty()));
      // A statement ends at ";", at the end, or where the next statement begins.
      if (Cur().kind != TokenKind::kEnd && !Cur().Is(";") && !IsReserved(Cur())) SyntaxError();
    }
    return statements;
  }

 private:
  const Token& Cur() const { return tokens_[pos_]; }
  const Token& Ahead(size_t n) const { return tokens_[std::min(pos_ + n, tokens_.size() - 1)]; }
  const Token& Take() {
    const Token& t = tokens_[pos_];
    if (t.kind != TokenKind::kEnd) ++pos_;
    return t;
  }
  bool AcceptSymbol(std::string_view s) {
    if (!Cur().Is(s)) return false;
    ++pos_;
    return true;
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) SyntaxError();
  }
  bool AcceptWord(std::string_view w) {
    if (!Cur().IsWord(w)) return false;
    ++pos_;
    return true;
  }

  [[noreturn]] void SyntaxError() {
    // At the end of the batch the server points at the last token.
    const Token& near = Cur().kind == TokenKind::kEnd && pos_ > 0 ? tokens_[pos_ - 1] : Cur();
    std::string what;
    if (IsReserved(near)) {
      what = "the keyword '" + near.raw + "'";
    } else {
      what = "'" + (near.kind == TokenKind::kString ? near.text : near.raw) + "'";
    }
    throw CompileError(
        102, 1, "Incorrect syntax near " + what + " at column " + std::to_string(near.column) + ".",
        near.line);
  }

  void RequireDeclared(const Token& variable) {
    if (!declared_.count(Key(variable.text))) {
      throw CompileError(137, 2, "Must declare the scalar variable \"" + variable.text + "\".",
                         variable.line);
    }
  }

  Statement ParseStatement(bool first) {
    const Token& t = Cur();
    Statement s;
    s.line = t.line;
    if (AcceptWord("DECLARE")) {
      s.kind = Statement::Kind::kDeclare;
      ParseDeclarations(s);
    } else if (AcceptWord("SET")) {
      ParseSet(s);
    } else if (AcceptWord("SELECT")) {
      s.kind = Statement::Kind::kSelect;
      ParseSelect(s);
    } else if (AcceptWord("PRINT")) {
      s.kind = Statement::Kind::kPrint;
      s.expr = ParseExpr();
    } else if (AcceptWord("EXEC") || AcceptWord("EXECUTE")) {
      s.kind = Statement::Kind::kExec;
      ParseExec(s);
    } else if (t.IsWord("BEGIN") && (Ahead(1).IsWord("TRAN") || Ahead(1).IsWord("TRANSACTION"))) {
      pos_ += 2;
      ParseTransaction(s, "BEGIN");
    } else if (AcceptWord("COMMIT")) {
      if (!AcceptWord("TRAN") && !AcceptWord("TRANSACTION")) AcceptWord("WORK");
      ParseTransaction(s, "COMMIT");
    } else if (AcceptWord("ROLLBACK")) {
      if (!AcceptWord("TRAN") && !AcceptWord("TRANSACTION")) AcceptWord("WORK");
      ParseTransaction(s, "ROLLBACK");
    } else if (AcceptWord("IF")) {
      s.kind = Statement::Kind::kIf;
      s.condition = ParseCondition();
      s.body.push_back(ParseStatement(false));
      if (AcceptWord("ELSE")) s.else_branch.push_back(ParseStatement(false));
    } else if (AcceptWord("BEGIN")) {
      // BEGIN ... END: the statements of an IF or ELSE branch.
      s.kind = Statement::Kind::kBlock;
      while (!Cur().IsWord("END")) {
        if (Cur().kind == TokenKind::kEnd) SyntaxError();
        if (AcceptSymbol(";")) continue;
        s.body.push_back(ParseStatement(false));
      }
      ++pos_;
    } else if (AcceptWord("USE")) {
      if (Cur().kind != TokenKind::kIdentifier || IsReserved(Cur())) SyntaxError();
      s.kind = Statement::Kind::kUse;
      s.option_value = Take().text;
    } else if (first && t.kind == TokenKind::kIdentifier && !IsReserved(t)) {
      // The first statement of a batch may name a procedure without EXEC.
      s.kind = Statement::Kind::kExec;
      ParseExec(s);
    } else {
      SyntaxError();
    }
    return s;
  }

  // condition: and-condition { OR and-condition }; and-condition: factor { AND factor };
  // factor: NOT factor | ( condition ) | expr IS [NOT] NULL | expr comparison expr.
  ConditionPtr ParseCondition() {
    ConditionPtr left = ParseAndCondition();
    while (AcceptWord("OR"))
      left = Combine(Condition::Kind::kOr, std::move(left), ParseAndCondition());
    return left;
  }

  ConditionPtr ParseAndCondition() {
    ConditionPtr left = ParseConditionFactor();
    while (AcceptWord("AND")) {
      left = Combine(Condition::Kind::kAnd, std::move(left), ParseConditionFactor());
    }
    return left;
  }

  static ConditionPtr Combine(Condition::Kind kind, ConditionPtr a, ConditionPtr b) {
    auto c = std::make_unique<Condition>();
    c->kind = kind;
    c->a = std::move(a);
    c->b = std::move(b);
    return c;
  }

  ConditionPtr ParseConditionFactor() {
    if (AcceptWord("NOT")) return Combine(Condition::Kind::kNot, ParseConditionFactor(), nullptr);
    if (Cur().Is("(")) {
      // "(" opens either a condition or an expression that a comparison follows.
      size_t start = pos_;
      try {
        ++pos_;
        ConditionPtr inner = ParseCondition();
        ExpectSymbol(")");
        if (!IsComparisonAhead() && !Cur().IsWord("IS")) return inner;
      } catch (const SqlError&) {
      }
      pos_ = start;
    }
    auto c = std::make_unique<Condition>();
    c->left = ParseExpr();
    if (AcceptWord("IS")) {
      c->kind = AcceptWord("NOT") ? Condition::Kind::kIsNotNull : Condition::Kind::kIsNull;
      if (!AcceptWord("NULL")) SyntaxError();
      return c;
    }
    c->op = ParseComparison();
    c->right = ParseExpr();
    return c;
  }

  bool IsComparisonAhead() const {
    return Cur().Is("=") || Cur().Is("<") || Cur().Is(">") || Cur().Is("!");
  }

  // = <> != < > <= >= !< !>, each written as one or two symbols.
  std::string ParseComparison() {
    if (AcceptSymbol("=")) return "=";
    if (AcceptSymbol("<")) {
      if (AcceptSymbol(">")) return "<>";
      if (AcceptSymbol("=")) return "<=";
      return "<";
    }
    if (AcceptSymbol(">")) return AcceptSymbol("=") ? ">=" : ">";
    if (AcceptSymbol("!")) {
      if (AcceptSymbol("=")) return "<>";
      if (AcceptSymbol("<")) return ">=";
      if (AcceptSymbol(">")) return "<=";
    }
    SyntaxError();
  }

  SqlType ParseType(bool in_cast) {
    const Token& name = Cur();
    if (name.kind != TokenKind::kIdentifier || IsReserved(name)) SyntaxError();
    ++pos_;
    std::vector<std::string> args;
    if (AcceptSymbol("(")) {
      do {
        const Token& arg = Cur();
        if (arg.kind != TokenKind::kInteger && !arg.IsWord("max")) SyntaxError();
        args.push_back(arg.text);
        ++pos_;
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    return ResolveType(name.text, args, in_cast, name.line);
  }

  void ParseDeclarations(Statement& s) {
    do {
      const Token& variable = Cur();
      if (variable.kind != TokenKind::kVariable) SyntaxError();
      ++pos_;
      Declaration d;
      d.name = variable.text;
      d.line = variable.line;
      AcceptWord("AS");
      if (Cur().IsWord("TABLE") || Cur().IsWord("CURSOR")) SyntaxError();
      // text, ntext and image are refused for variables by the server; the engine takes them,
      // so that procedures can be given parameters of those types.
      d.type = ParseType(false);
      if (AcceptSymbol("=")) d.init = ParseExpr();
      if (!declared_.insert(Key(d.name)).second) {
        throw CompileError(134, 1,
                           "The variable name '" + d.name +
                               "' has already been declared. Variable names must be unique within "
                               "a query batch or stored procedure.",
                           d.line);
      }
      s.declarations.push_back(std::move(d));
    } while (AcceptSymbol(","));
  }

  void ParseSet(Statement& s) {
    const Token& t = Cur();
    if (t.kind == TokenKind::kVariable) {
      ++pos_;
      RequireDeclared(t);
      s.kind = Statement::Kind::kSet;
      s.target = t.text;
      if (AcceptSymbol("+=")) {
        s.compound_add = true;
      } else {
        ExpectSymbol("=");
      }
      s.expr = ParseExpr();
      return;
    }
    if (t.IsWord("NOCOUNT")) {
      ++pos_;
      s.kind = Statement::Kind::kSetOption;
      s.option = "NOCOUNT";
      if (AcceptWord("ON")) {
        s.option_on = true;
      } else if (!AcceptWord("OFF")) {
        SyntaxError();
      }
      return;
    }
    ParseSessionOption(s);
  }

  // The session options client drivers set: ON/OFF options (several at once, separated by
  // commas), and those that take a value.
  void ParseSessionOption(Statement& s) {
    static const char* const kSwitches[] = {"ANSI_NULLS",
                                            "ANSI_WARNINGS",
                                            "ANSI_PADDING",
                                            "ANSI_NULL_DFLT_ON",
                                            "ANSI_NULL_DFLT_OFF",
                                            "CONCAT_NULL_YIELDS_NULL",
                                            "QUOTED_IDENTIFIER",
                                            "ARITHABORT",
                                            "ARITHIGNORE",
                                            "NUMERIC_ROUNDABORT",
                                            "XACT_ABORT",
                                            "IMPLICIT_TRANSACTIONS",
                                            "CURSOR_CLOSE_ON_COMMIT",
                                            "NOCOUNT"};
    auto switch_name = [&](const Token& t) -> std::string {
      if (t.kind != TokenKind::kIdentifier || t.quoted) return "";
      for (const char* name : kSwitches) {
        if (EqualsNoCase(t.text, name)) return name;
      }
      return "";
    };
    s.kind = Statement::Kind::kSetOption;
    std::string first = switch_name(Cur());
    if (!first.empty()) {
      ++pos_;
      s.option = first;
      while (AcceptSymbol(",")) {
        std::string next = switch_name(Cur());
        if (next.empty()) SyntaxError();
        ++pos_;
        s.more_options.push_back(next);
      }
      if (AcceptWord("ON")) {
        s.option_on = true;
      } else if (!AcceptWord("OFF")) {
        SyntaxError();
      }
      return;
    }
    const Token& name = Cur();
    if (name.kind != TokenKind::kIdentifier || name.quoted) SyntaxError();
    ++pos_;
    auto number = [&]() {
      bool negative = AcceptSymbol("-");
      if (Cur().kind != TokenKind::kInteger || Cur().text.size() > 10) SyntaxError();
      int64_t value = std::stoll(Take().text);
      return negative ? -value : value;
    };
    auto word = [&]() {
      const Token& w = Cur();
      if (w.kind != TokenKind::kIdentifier && w.kind != TokenKind::kString) SyntaxError();
      return Take().text;
    };
    if (name.IsWord("TEXTSIZE") || name.IsWord("DATEFIRST") || name.IsWord("LOCK_TIMEOUT")) {
      s.option_number = number();
    } else if (name.IsWord("LANGUAGE") || name.IsWord("DATEFORMAT")) {
      s.option_value = word();
    } else if (name.IsWord("DEADLOCK_PRIORITY")) {
      if (Cur().kind == TokenKind::kInteger || Cur().Is("-")) {
        s.option_number = number();
        if (s.option_number < -10 || s.option_number > 10) SyntaxError();
      } else {
        s.option_value = ToLowerAscii(word());
        if (s.option_value == "low")
          s.option_number = -5;
        else if (s.option_value == "high")
          s.option_number = 5;
        else if (s.option_value != "normal")
          SyntaxError();
      }
    } else if (name.IsWord("TRANSACTION")) {
      if (!AcceptWord("ISOLATION") || !AcceptWord("LEVEL")) SyntaxError();
      if (AcceptWord("READ")) {
        if (AcceptWord("UNCOMMITTED")) {
          s.option_value = "READ UNCOMMITTED";
        } else if (AcceptWord("COMMITTED")) {
          s.option_value = "READ COMMITTED";
        } else {
          SyntaxError();
        }
      } else if (AcceptWord("REPEATABLE")) {
        if (!AcceptWord("READ")) SyntaxError();
        s.option_value = "REPEATABLE READ";
      } else if (AcceptWord("SNAPSHOT")) {
        s.option_value = "SNAPSHOT";
      } else if (AcceptWord("SERIALIZABLE")) {
        s.option_value = "SERIALIZABLE";
      } else {
        SyntaxError();
      }
    } else {
      pos_ -= 1;
      SyntaxError();
    }
    s.option = ToUpperAscii(name.text);
  }

  // BEGIN TRAN [name], COMMIT [TRAN] [name], ROLLBACK [TRAN] [name].
  void ParseTransaction(Statement& s, const char* what) {
    s.kind = Statement::Kind::kTransaction;
    s.option_value = what;
    const Token& t = Cur();
    if ((t.kind == TokenKind::kIdentifier && !IsReserved(t)) || t.kind == TokenKind::kVariable) {
      if (t.kind == TokenKind::kVariable) RequireDeclared(t);
      ++pos_;
    }
  }

  bool IsAliasToken(const Token& t) const {
    return (t.kind == TokenKind::kIdentifier && !IsReserved(t)) || t.kind == TokenKind::kString;
  }

  void ParseSelect(Statement& s) {
    bool assigns = false, retrieves = false;
    do {
      SelectItem item;
      const Token& t = Cur();
      if (t.kind == TokenKind::kVariable && Ahead(1).Is("=")) {
        RequireDeclared(t);
        pos_ += 2;
        item.assign = t.text;
        item.expr = ParseExpr();
        assigns = true;
      } else if (t.kind == TokenKind::kIdentifier && !IsReserved(t) && Ahead(1).Is("=")) {
        pos_ += 2;
        item.alias = t.text;
        item.expr = ParseExpr();
        retrieves = true;
      } else {
        item.expr = ParseExpr();
        if (AcceptWord("AS")) {
          if (!IsAliasToken(Cur())) SyntaxError();
          item.alias = Take().text;
        } else if (IsAliasToken(Cur())) {
          item.alias = Take().text;
        }
        retrieves = true;
      }
      s.items.push_back(std::move(item));
    } while (AcceptSymbol(","));
    if (assigns && retrieves) {
      throw CompileError(141, 1,
                         "A SELECT statement that assigns a value to a variable must not be "
                         "combined with data-retrieval operations.",
                         s.line);
    }
  }

  void ParseExec(Statement& s) {
    if (Cur().kind == TokenKind::kVariable && Ahead(1).Is("=")) {
      RequireDeclared(Cur());
      s.return_variable = Cur().text;
      pos_ += 2;
    }
    // [server.][database.][schema.]name: the procedure is the last part.
    const Token& name = Cur();
    if (name.kind != TokenKind::kIdentifier || IsReserved(name)) SyntaxError();
    s.procedure = Take().text;
    while (Cur().Is(".")) {
      ++pos_;
      if (Cur().Is(".")) continue;
      if (Cur().kind != TokenKind::kIdentifier || IsReserved(Cur())) SyntaxError();
      s.procedure = Take().text;
    }
    if (Cur().kind == TokenKind::kEnd || Cur().Is(";") ||
        (IsReserved(Cur()) && !Cur().IsWord("NULL"))) {
      return;
    }
    bool named_seen = false;
    do {
      ExecArg arg;
      arg.line = Cur().line;
      if (Cur().kind == TokenKind::kVariable && Ahead(1).Is("=")) {
        arg.param = Cur().text;
        pos_ += 2;
        named_seen = true;
      } else if (named_seen) {
        throw CompileError(
            119, 1,
            "Must pass parameter number " + std::to_string(s.args.size() + 1) +
                " and subsequent parameters as '@name = value'. After the form '@name = value' has "
                "been used, all subsequent parameters must be passed in the form '@name = value'.",
            arg.line);
      }
      const Token& value = Cur();
      if (value.kind == TokenKind::kVariable) {
        RequireDeclared(value);
        arg.variable = value.text;
        ++pos_;
      } else {
        bool negative = false;
        if (Cur().Is("-") || Cur().Is("+")) {
          negative = Cur().Is("-");
          ++pos_;
          TokenKind k = Cur().kind;
          if (k != TokenKind::kInteger && k != TokenKind::kDecimal && k != TokenKind::kFloat &&
              k != TokenKind::kMoney) {
            SyntaxError();
          }
        }
        if (!IsLiteral(Cur())) SyntaxError();
        arg.constant = Literal(Take());
        if (negative) arg.constant = Negate(arg.constant);
      }
      if (AcceptWord("OUTPUT") || AcceptWord("OUT")) {
        if (arg.variable.empty()) {
          throw CompileError(
              179, 1, "Cannot use the OUTPUT option when passing a constant to a stored procedure.",
              arg.line);
        }
        arg.output = true;
      }
      s.args.push_back(std::move(arg));
    } while (AcceptSymbol(","));
  }

  ExprPtr Make(Expr::Kind kind, int line) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->line = line;
    return e;
  }

  [[noreturn]] void TooDeep(int line) {
    throw CompileError(191, 1,
                       "Some part of your SQL statement is nested too deeply. Rewrite the query or "
                       "break it up into smaller queries.",
                       line);
  }

  // Sets the node's depth from its operands.
  ExprPtr Finish(ExprPtr node) {
    for (const auto& arg : node->args) node->depth = std::max(node->depth, arg->depth + 1);
    if (node->depth > kMaxDepth) TooDeep(node->line);
    return node;
  }

  // Counts the parser's own nesting while it descends.
  struct Nesting {
    Parser& parser;
    explicit Nesting(Parser& p) : parser(p) {
      if (++parser.nesting_ > kMaxDepth) parser.TooDeep(parser.Cur().line);
    }
    ~Nesting() { --parser.nesting_; }
  };

  ExprPtr ParseExpr() {
    Nesting nesting(*this);
    ExprPtr left = ParseUnary();
    while (Cur().Is("+") || Cur().Is("-")) {
      const Token& op = Take();
      auto node = Make(op.Is("+") ? Expr::Kind::kAdd : Expr::Kind::kSubtract, op.line);
      node->args.push_back(std::move(left));
      node->args.push_back(ParseUnary());
      left = Finish(std::move(node));
    }
    if (Cur().Is("*") || Cur().Is("/") || Cur().Is("%")) SyntaxError();
    return left;
  }

  ExprPtr ParseUnary() {
    Nesting nesting(*this);
    if (Cur().Is("-")) {
      int line = Take().line;
      auto node = Make(Expr::Kind::kNegate, line);
      node->args.push_back(ParseUnary());
      return Finish(std::move(node));
    }
    if (Cur().Is("+")) {
      ++pos_;
      return ParseUnary();
    }
    return ParsePrimary();
  }

  ExprPtr ParsePrimary() {
    const Token& t = Cur();
    if (IsLiteral(t)) {
      auto node = Make(Expr::Kind::kLiteral, t.line);
      node->literal = Literal(Take());
      return node;
    }
    if (t.kind == TokenKind::kVariable && IsSystemVariable(t.text)) {
      auto node = Make(Expr::Kind::kFunction, t.line);
      node->name = ToUpperAscii(Take().text);
      return node;
    }
    if (t.kind == TokenKind::kVariable) {
      RequireDeclared(t);
      auto node = Make(Expr::Kind::kVariable, t.line);
      node->name = Take().text;
      return node;
    }
    if (AcceptSymbol("(")) {
      ExprPtr inner = ParseExpr();
      ExpectSymbol(")");
      return inner;
    }
    if (t.kind == TokenKind::kIdentifier && !t.quoted && Ahead(1).Is("(")) {
      return ParseFunction();
    }
    SyntaxError();
  }

  ExprPtr ParseFunction() {
    const Token& name = Take();
    ++pos_;  // "("
    std::string upper = name.text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CAST") {
      auto node = Make(Expr::Kind::kCast, name.line);
      node->args.push_back(ParseExpr());
      if (!AcceptWord("AS")) SyntaxError();
      node->type = ParseType(true);
      ExpectSymbol(")");
      return Finish(std::move(node));
    }
    if (upper == "CONVERT") {
      auto node = Make(Expr::Kind::kConvert, name.line);
      node->type = ParseType(true);
      ExpectSymbol(",");
      node->args.push_back(ParseExpr());
      if (AcceptSymbol(",")) node->args.push_back(ParseExpr());
      ExpectSymbol(")");
      return Finish(std::move(node));
    }
    struct Known {
      const char* name;
      size_t args;
    };
    static const Known kFunctions[] = {{"REPLICATE", 2},      {"LEN", 1},     {"DATALENGTH", 1},
                                       {"SERVERPROPERTY", 1}, {"DB_NAME", 0}, {"SCHEMA_NAME", 0},
                                       {"SUSER_SNAME", 0}};
    const Known* known = nullptr;
    for (const auto& f : kFunctions) {
      if (upper == f.name) known = &f;
    }
    if (!known) {
      throw CompileError(195, 10, "'" + name.text + "' is not a recognized built-in function name.",
                         name.line);
    }
    auto node = Make(Expr::Kind::kFunction, name.line);
    node->name = upper;
    if (!Cur().Is(")")) {
      do {
        node->args.push_back(ParseExpr());
      } while (AcceptSymbol(","));
    }
    ExpectSymbol(")");
    if (node->args.size() != known->args) {
      throw CompileError(174, 1,
                         "The " + ToLowerAscii(upper) + " function requires " +
                             std::to_string(known->args) + " argument(s).",
                         name.line);
    }
    return Finish(std::move(node));
  }

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int nesting_ = 0;
  std::set<std::string> declared_;
};

}  // namespace

std::vector<Statement> ParseBatch(std::string_view batch,
                                  const std::vector<std::string>& declared) {
  return Parser(Tokenize(batch), declared).Run();
}

std::vector<ParameterDeclaration> ParseParameters(std::string_view text) {
  return Parser(Tokenize(text), {}).RunParameters();
}

}  // namespace dunmarrow::tsql
