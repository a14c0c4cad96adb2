// The server's subcommands of the `dunmarrow` program: `serve` and `login`.
#pragma once

#include <string>
#include <vector>

namespace dunmarrow::server {

// `dunmarrow serve [options]`: the arguments after "serve"; the exit status.
int ServeCommand(const std::vector<std::string>& args, const std::string& default_module);
// `dunmarrow login add|passwd|remove|list ...`: the arguments after "login".
int LoginCommand(const std::vector<std::string>& args);

}  // namespace dunmarrow::server
