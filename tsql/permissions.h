// What a session's login may execute: every procedure, or the ones granted to it by name; and
// whether it may add and drop extended procedures. A session without permissions (the
// command-line program) may do everything.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace dunmarrow::tsql {

struct ExecutePermissions {
  bool all = false;                  // EXECUTE on every procedure
  std::set<std::string> procedures;  // granted names, lower case (when not all)
  bool admin = false;                // sp_addextendedproc and sp_dropextendedproc

  bool MayExecute(std::string_view procedure) const;
};

}  // namespace dunmarrow::tsql
