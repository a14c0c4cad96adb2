// The statements that change the session rather than compute anything: SET of the session
// options, USE, and BEGIN TRAN, COMMIT and ROLLBACK.
#pragma once

#include "tsql/ast.h"
#include "tsql/emitter.h"
#include "tsql/session_state.h"

namespace dunmarrow::tsql {

// SET: the option takes effect for the rest of the session. Raises SqlError for values the
// engine does not take.
void ApplySetOption(const Statement& s, SessionState& state, Emitter& out);

// USE: master is the only database.
void UseDatabase(const Statement& s, SessionState& state, Emitter& out);

// BEGIN TRAN, COMMIT and ROLLBACK count in @@TRANCOUNT; there is nothing to commit or roll
// back.
void RunTransaction(const Statement& s, SessionState& state);

}  // namespace dunmarrow::tsql
