// EXEC: binds the arguments to parameters as the server describes them, calls the procedure
// through the ODS library with a session that turns its events into typed results, and gives
// back the OUTPUT values and the return status.
#pragma once

#include <functional>
#include <optional>

#include "tsql/ast.h"
#include "tsql/emitter.h"
#include "tsql/evaluator.h"
#include "tsql/procedures.h"
#include "tsql/session_state.h"

namespace dunmarrow::tsql {

// One argument of a call: by name or by position, a typed value, OUTPUT or not.
struct CallArgument {
  std::string name;  // "@p", or empty when passed by position
  Value value;       // an OUTPUT value comes back in this value's type
  bool output = false;
  std::string label;  // who receives an OUTPUT value, for messages: "@v"
};

struct CallResult {
  int status = 0;
  bool error = false;  // the procedure reported an error (severity above 10)
  // Per argument: the value written to an OUTPUT argument, in the argument's type.
  std::vector<std::optional<Value>> outputs;
  // Per argument: the parameter it was bound to, where the call declares them (sp_executesql).
  std::vector<std::string> names;
};

class Executor {
 public:
  // sp_executesql runs a batch of its own: the interpreter gives the way.
  using ExecuteSql = std::function<CallResult(const std::vector<CallArgument>&)>;

  // The session's permissions decide which procedures a call may reach.
  Executor(ProcedureRegistry& registry, Emitter& out, const SessionState& state)
      : registry_(registry), out_(out), state_(state) {}
  void SetExecuteSql(ExecuteSql execute_sql) { execute_sql_ = std::move(execute_sql); }

  // Runs the EXEC statement: the OUTPUT values and the status go into the variables. Errors of
  // the call itself raise SqlError; true when the procedure sent an error message.
  bool Run(const Statement& exec, Variables& variables);

  // Calls a procedure by name (a registered one, or one of the engine's own) and reports its
  // results and messages; the caller reports the status and OUTPUT values. A procedure the
  // session's login may not execute raises Msg 229.
  CallResult Call(const std::string& procedure, const std::vector<CallArgument>& args);

 private:
  ProcedureRegistry& registry_;
  Emitter& out_;
  const SessionState& state_;
  ExecuteSql execute_sql_;
};

// The engine's own procedures: sp_addextendedproc, sp_dropextendedproc, sp_helpextendedproc
// and sp_datatype_info (also as _90 and _100).
// Returns false when the name is none of them; otherwise runs it and sets the status.
bool RunBuiltin(const std::string& name, const std::vector<CallArgument>& args,
                ProcedureRegistry& registry, Emitter& out, int& status);

// sp_datatype_info: the engine's types in the columns of ODBC's SQLGetTypeInfo, all of them or
// those of one ODBC type code; ODBC 2 codes unless odbc3.
void EmitDatatypeInfo(std::optional<int> data_type, bool odbc3, Emitter& out);

// The value of an argument as text, as the engine's own procedures read their arguments.
std::optional<std::string> ArgumentText(const Value& value);

}  // namespace dunmarrow::tsql
