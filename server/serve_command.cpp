// `dunmarrow serve`: placeholder until the listener lands.
#include <iostream>

#include "server/commands.h"

namespace dunmarrow::server {

int ServeCommand(const std::vector<std::string>&, const std::string&) {
  std::cerr << "dunmarrow: serve is not built yet\n";
  return 1;
}

}  // namespace dunmarrow::server
