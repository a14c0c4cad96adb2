// Errors of a batch, as the server reports them: message number, severity level, state and
// text. Severity 10 and below is informational; above 10 is an error.
#pragma once

#include <stdexcept>
#include <string>

namespace dunmarrow::tsql {

// How far an error reaches: the statement, or the rest of the batch.
enum class ErrorScope { kStatement, kBatch };

struct SqlError : std::runtime_error {
  SqlError(int number, int level, int state, std::string message,
           ErrorScope scope = ErrorScope::kStatement)
      : std::runtime_error(message),
        number(number),
        level(level),
        state(state),
        text(std::move(message)),
        scope(scope) {}
  int number;
  int level;
  int state;
  std::string text;
  ErrorScope scope;
  int line = 0;           // 0: the line of the statement being run
  std::string procedure;  // shown as "Procedure name" in the header when set
};

// An error found before the batch runs (syntax, undeclared variable): nothing of the batch runs.
inline SqlError CompileError(int number, int state, std::string text, int line) {
  SqlError e(number, 15, state, std::move(text), ErrorScope::kBatch);
  e.line = line;
  return e;
}

}  // namespace dunmarrow::tsql
