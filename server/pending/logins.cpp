// Stand-in for the logins file until its branch is merged: no file opens, so nothing is served.
#include "server/logins.h"

namespace dunmarrow::server {

std::unique_ptr<Authenticator> OpenLogins(const std::string& path, std::string& error) {
  error = "cannot open the logins file " + path + ": this build cannot read logins files";
  return nullptr;
}

}  // namespace dunmarrow::server
