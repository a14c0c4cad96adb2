// The names a loaded module exports, read from its export table, so that the engine can
// register every xp_ procedure of a module the way the server registers them.
#pragma once

#include <string>
#include <vector>

#include "platform/windows.h"

namespace dunmarrow::tsql {

// The exported function names of the module loaded from `path` as `module`; empty when the
// table cannot be read.
std::vector<std::string> ExportedNames(HMODULE module, const std::string& path);

}  // namespace dunmarrow::tsql
