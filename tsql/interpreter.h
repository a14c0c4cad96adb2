// Runs batches: parses each one whole (a syntax error stops it before anything runs), then runs
// its statements in order over the batch's variables, reporting errors as the server does.
#pragma once

#include <string_view>

#include "host/sqlcmd_output.h"
#include "tsql/evaluator.h"
#include "tsql/exec.h"
#include "tsql/procedures.h"

namespace dunmarrow::host {

class Interpreter {
 public:
  Interpreter(ProcedureRegistry& registry, SqlcmdOutput& out, bool trace)
      : out_(out), executor_(registry, out, trace) {}

  // Runs one batch; true when an error (severity above 10) was reported.
  bool RunBatch(std::string_view batch);

 private:
  // Runs one statement; true when it reported an error without raising one.
  bool RunStatement(const Statement& s);
  void Select(const Statement& s);
  void Print(const Statement& s);

  SqlcmdOutput& out_;
  Executor executor_;
  Variables variables_;
};

}  // namespace dunmarrow::host
