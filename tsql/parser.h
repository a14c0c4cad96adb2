// Parses a batch into statements and checks what the server checks before running a batch:
// syntax, variables declared before use and only once, OUTPUT only on variables.
#pragma once

#include <string_view>
#include <vector>

#include "tsql/ast.h"

namespace dunmarrow::tsql {

// Raises SqlError (scope: the batch) for the first error found.
std::vector<Statement> ParseBatch(std::string_view batch);

}  // namespace dunmarrow::tsql
