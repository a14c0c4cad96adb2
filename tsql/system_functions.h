// What a session tells about itself and its server: @@VERSION, @@SPID, @@SERVERNAME,
// @@TRANCOUNT, @@LANGUAGE, SERVERPROPERTY(...), DB_NAME(), SCHEMA_NAME(), SUSER_SNAME(), the
// probes client drivers send after they connect.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tsql/session_state.h"
#include "tsql/value.h"

namespace dunmarrow::tsql {

// "@@VERSION", "@@spid": the names the engine knows (any case).
bool IsSystemVariable(std::string_view name);

// The value of a system variable or function (upper-case name) with its arguments.
Value SystemFunction(const std::string& name, const std::vector<Value>& args,
                     const SessionState& session);

}  // namespace dunmarrow::tsql
