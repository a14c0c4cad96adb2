// Runs batches: parses each one whole (a syntax error stops it before anything runs), then runs
// its statements in order over the batch's variables, reporting errors as the server does.
#pragma once

#include <string_view>

#include "tsql/emitter.h"
#include "tsql/errors.h"
#include "tsql/evaluator.h"
#include "tsql/exec.h"
#include "tsql/procedures.h"
#include "tsql/session_state.h"

namespace dunmarrow::tsql {

class Interpreter {
 public:
  // Reports to the sink; the session's state (SET options) carries over between batches.
  // `nesting` counts the sp_executesql calls this one runs inside.
  Interpreter(ProcedureRegistry& registry, Sink& sink, SessionState& state, int nesting = 0);
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // Runs one batch; true when an error (severity above 10) was reported. `parameters` are
  // variables declared before it starts, with their values (sp_executesql's).
  bool RunBatch(std::string_view batch, const std::vector<Variable>& parameters = {});

  // A call by RPC: runs the procedure with the arguments and reports, after its results and
  // messages, its return status, the value of every OUTPUT argument and its end. True when an
  // error was reported.
  bool CallProcedure(std::string_view name, const std::vector<CallArgument>& args);

  // Statements run inside a procedure (sp_executesql) end with Done::Kind::kInProc.
  void RunInProcedure() { statement_kind_ = Done::Kind::kInProc; }

 private:
  // Runs one statement of the batch (an IF or BEGIN ... END with the statements of its branch)
  // and reports its end; sets `error` when one was reported. True when the batch ends there.
  bool RunInBatch(const Statement& s, bool& error);
  bool RunBranch(const Statement& s, bool& error);
  // Reports a statement's error; sets `failed` for an error above severity 10. True when the
  // error ends the batch.
  bool ReportError(const SqlError& e, int line, bool& failed);
  // Runs one simple statement; true when it reported an error without raising one.
  bool RunStatement(const Statement& s);
  void Select(const Statement& s);
  void Print(const Statement& s);
  // sp_executesql: the statement, the declarations of its parameters and their values.
  CallResult ExecuteSql(const std::vector<CallArgument>& args);

  ProcedureRegistry& registry_;
  int nesting_;

  SessionState& state_;
  Emitter out_;
  Executor executor_;
  Variables variables_;
  Done::Kind statement_kind_ = Done::Kind::kStatement;
  std::optional<int64_t> count_;  // the rows of the statement being run, when it counts them
};

}  // namespace dunmarrow::tsql
