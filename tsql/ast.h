// The statements and expressions of the engine's T-SQL subset, as the parser builds them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tsql/value.h"

namespace dunmarrow::tsql {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
  enum class Kind { kLiteral, kVariable, kCast, kConvert, kFunction, kAdd, kSubtract, kNegate };
  Kind kind = Kind::kLiteral;
  int line = 1;
  int depth = 1;              // levels of the tree below and including this node
  Value literal;              // kLiteral
  std::string name;           // kVariable: the name with "@"; kFunction: upper-case name
  SqlType type;               // kCast, kConvert: the target
  std::vector<ExprPtr> args;  // operands; kConvert: value, then the style when given
};

// A search condition of IF: comparisons, IS [NOT] NULL, NOT, AND and OR.
struct Condition;
using ConditionPtr = std::unique_ptr<Condition>;

struct Condition {
  enum class Kind { kCompare, kIsNull, kIsNotNull, kNot, kAnd, kOr };
  Kind kind = Kind::kCompare;
  std::string op;     // kCompare: "=", "<>", "<", ">", "<=", ">="
  ExprPtr left;       // kCompare, kIsNull, kIsNotNull
  ExprPtr right;      // kCompare
  ConditionPtr a, b;  // kNot: a; kAnd, kOr: a and b
};

struct Declaration {
  std::string name;
  SqlType type;
  ExprPtr init;  // may be null
  int line = 1;
};

struct SelectItem {
  ExprPtr expr;
  std::string alias;   // column name; empty when none
  std::string assign;  // SELECT @v = expr: the variable
};

// One argument of EXEC: [@param =] value [OUTPUT].
struct ExecArg {
  std::string param;     // with "@", or empty when positional
  std::string variable;  // @v passed, or empty for a constant
  Value constant;
  bool output = false;
  int line = 1;
};

struct Statement {
  enum class Kind {
    kDeclare,
    kSet,
    kSelect,
    kPrint,
    kExec,
    kSetOption,
    kTransaction,
    kUse,
    kIf,
    kBlock
  };
  Kind kind = Kind::kSelect;
  int line = 1;
  std::vector<Declaration> declarations;  // kDeclare
  std::string target;                     // kSet: the variable
  bool compound_add = false;              // kSet with +=
  ExprPtr expr;                           // kSet, kPrint
  std::vector<SelectItem> items;          // kSelect
  std::string return_variable;            // kExec: EXEC @rc = ...
  std::string procedure;                  // kExec
  std::vector<ExecArg> args;              // kExec
  std::string option;                     // kSetOption: upper-case name ("NOCOUNT")
  bool option_on = false;
  std::vector<std::string> more_options;  // kSetOption: "SET ANSI_NULLS, ANSI_PADDING ON"
  std::string option_value;     // kSetOption: LANGUAGE, DATEFORMAT, ISOLATION LEVEL, ...; kUse:
                                // the database; kTransaction: BEGIN, COMMIT or ROLLBACK
  int64_t option_number = 0;    // kSetOption: TEXTSIZE, DATEFIRST, LOCK_TIMEOUT, ...
  ConditionPtr condition;       // kIf
  std::vector<Statement> body;  // kIf: what runs when the condition holds; kBlock
  std::vector<Statement> else_branch;  // kIf: what runs otherwise (may be empty)
};

}  // namespace dunmarrow::tsql
