// One engine session: what a connection (or the command line) talks to. It keeps the session's
// state between its requests (SET options, open transactions, its id) and runs either a batch
// of T-SQL text or one procedure by RPC, reporting to the sink given with the request. Sessions
// share the procedure registry and the loaded modules; each runs on one thread at a time, and
// any number of them run at once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tsql/procedures.h"
#include "tsql/session_state.h"
#include "tsql/sink.h"
#include "tsql/value.h"

namespace dunmarrow::tsql {

// One parameter of a call by RPC, as a client driver sends it.
struct RpcParam {
  std::string name;  // "@p", or empty when passed by position
  Value value;       // typed; a NULL carries its type, an OUTPUT value comes back in it
  bool output = false;
};

class Session {
 public:
  // A new session gets the next session id (@@SPID) unless the state names one.
  explicit Session(ProcedureRegistry& registry, SessionState state = {});

  // Runs a batch of T-SQL text; true when an error (severity above 10) was reported.
  bool RunBatch(std::string_view batch, Sink& sink);

  // Runs one procedure by name ("xp_FileExists", "dbo.xp_FileExists", "[master]..[x]") with
  // typed parameters and no T-SQL text. Reports the procedure's results and messages, then its
  // return status, an Output event for each OUTPUT parameter (the value the procedure wrote, or
  // the one passed when it wrote none) and a Done of kind kProc. sp_executesql is called the
  // same way. True when an error was reported.
  bool Call(std::string_view procedure, const std::vector<RpcParam>& params, Sink& sink);

  SessionState& State() { return state_; }

 private:
  ProcedureRegistry& registry_;
  SessionState state_;
};

// The procedure a possibly qualified name calls: its last part, without brackets or quotes.
std::string ProcedureName(std::string_view qualified);

}  // namespace dunmarrow::tsql
