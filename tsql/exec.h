// EXEC: binds the arguments to parameters as the server describes them, calls the procedure
// through the ODS library with a session that turns its events into output, and writes the
// OUTPUT values and the return status back into the variables.
#pragma once

#include "host/sqlcmd_output.h"
#include "tsql/ast.h"
#include "tsql/evaluator.h"
#include "tsql/procedures.h"

namespace dunmarrow::host {

class Executor {
 public:
  Executor(ProcedureRegistry& registry, SqlcmdOutput& out, bool trace)
      : registry_(registry), out_(out), trace_(trace) {}

  // Runs the EXEC statement. Errors of the call itself raise SqlError; true when the
  // procedure sent an error message (severity above 10).
  bool Run(const Statement& exec, Variables& variables);

 private:
  ProcedureRegistry& registry_;
  SqlcmdOutput& out_;
  bool trace_;
};

// The host's own procedures: sp_addextendedproc, sp_dropextendedproc, sp_helpextendedproc.
// Returns false when the name is none of them; otherwise runs it and sets the status.
bool RunBuiltin(const std::string& name, const std::vector<ExecArg>& args,
                const Variables& variables, ProcedureRegistry& registry, SqlcmdOutput& out,
                int& status);

}  // namespace dunmarrow::host
