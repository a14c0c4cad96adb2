// `dunmarrow login`: placeholder until the logins file lands.
#include <iostream>

#include "server/commands.h"

namespace dunmarrow::server {

int LoginCommand(const std::vector<std::string>&) {
  std::cerr << "dunmarrow: login is not built yet\n";
  return 1;
}

}  // namespace dunmarrow::server
