// Which procedures a login may execute. Grants are kept in lower case and names compare in any
// case, as SQL Server's default collation compares object names.
#include "tsql/permissions.h"

#include <string>

namespace dunmarrow::tsql {

bool ExecutePermissions::MayExecute(std::string_view procedure) const {
  if (all) return true;
  std::string lower(procedure);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return procedures.count(lower) != 0;
}

}  // namespace dunmarrow::tsql
