// The server's log: one line per event (connections, logins, refusals, faults), each with a
// UTC timestamp, to standard error or to a file. Safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace dunmarrow::server {

// Appends to `path` from now on; false when it cannot be opened. Without a call: standard
// error.
bool OpenServerLog(const std::string& path);
void LogLine(std::string_view text);

}  // namespace dunmarrow::server
