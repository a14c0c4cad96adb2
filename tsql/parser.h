// Parses a batch into statements and checks what the server checks before running a batch:
// syntax, variables declared before use and only once, OUTPUT only on variables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tsql/ast.h"

namespace dunmarrow::tsql {

// Raises SqlError (scope: the batch) for the first error found. `declared` names variables
// that exist before the batch starts (the parameters of sp_executesql).
std::vector<Statement> ParseBatch(std::string_view batch,
                                  const std::vector<std::string>& declared = {});

struct ParameterDeclaration {
  std::string name;  // with "@"
  SqlType type;
  bool output = false;
};

// The parameter declarations of sp_executesql: "@a int, @b nvarchar(10) OUTPUT". Raises
// SqlError for bad syntax and names declared twice.
std::vector<ParameterDeclaration> ParseParameters(std::string_view text);

}  // namespace dunmarrow::tsql
