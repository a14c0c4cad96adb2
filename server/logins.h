// The logins file as the server opens it: the Authenticator its connections log in with.
#pragma once

#include <memory>
#include <string>

#include "server/authenticator.h"

namespace dunmarrow::server {

// The logins of the file at `path`; null and `error` when it cannot be read or is not a
// logins file.
std::unique_ptr<Authenticator> OpenLogins(const std::string& path, std::string& error);

}  // namespace dunmarrow::server
