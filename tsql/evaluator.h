// The variables of a batch and the evaluation of expressions over them.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "tsql/ast.h"
#include "tsql/session_state.h"

namespace dunmarrow::tsql {

struct Variable {
  std::string name;  // as declared, with "@"
  SqlType type;
  Value value;
};

class Variables {
 public:
  void Declare(const std::string& name, const SqlType& type);
  const Variable& Get(const std::string& name) const;
  // Stores the value converted to the variable's type, as SET does.
  void Assign(const std::string& name, const Value& value);
  void Clear() { variables_.clear(); }

  // The session the batch runs in, for the system functions and the options of expressions.
  void SetSession(const SessionState* session) { session_ = session; }
  const SessionState* Session() const { return session_; }

 private:
  const SessionState* session_ = nullptr;
  std::map<std::string, Variable> variables_;  // by lower-case name
};

Value Evaluate(const Expr& expr, const Variables& variables);

// Whether an IF condition holds: true, false, or nothing when it is unknown (a comparison
// with NULL).
std::optional<bool> Test(const Condition& condition, const Variables& variables);

// Whether the expression can give NULL: sqlcmd then leaves room for "NULL" in the column.
bool MayBeNull(const Expr& expr);

}  // namespace dunmarrow::tsql
