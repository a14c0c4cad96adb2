// The engine's side of a Sink: reports results, messages and statement ends, keeps track of
// an open result set so that a failing statement can end it first, and leaves the counts out
// while NOCOUNT is on.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tsql/errors.h"
#include "tsql/session_state.h"
#include "tsql/sink.h"

namespace dunmarrow::tsql {

class Emitter {
 public:
  Emitter(Sink& sink, const SessionState& state) : sink_(sink), state_(state) {}

  // A result set; 8-bit text columns get the code page of their bytes.
  void BeginResult(std::vector<Column> columns);
  void Row(const std::vector<Value>& values) { sink_.Row(values); }
  // Ends the open result set (or reports a count alone) inside a procedure.
  void EndResult(std::optional<int64_t> count) { End(Done::Kind::kInProc, count, false); }
  bool InResult() const { return in_result_; }
  void End(Done::Kind kind, std::optional<int64_t> count, bool error);

  void Message(int number, int level, int state, const std::string& procedure, int line,
               const std::string& text);
  // The error, at its own line or else at the statement's.
  void Error(const SqlError& error, int line);
  void Print(const std::string& utf8, int line) { Message(0, 0, 1, "", line, utf8); }
  void ReturnStatus(int32_t status) { sink_.ReturnStatus(status); }
  void Output(OutputParam param);
  void DatabaseChanged(const std::string& name) { sink_.DatabaseChanged(name); }

  Sink& Target() { return sink_; }
  bool Tracing() const { return state_.trace; }
  void Line(const std::string& text) { sink_.Trace(text); }  // trace lines

 private:
  Sink& sink_;
  const SessionState& state_;
  bool in_result_ = false;
};

}  // namespace dunmarrow::tsql
