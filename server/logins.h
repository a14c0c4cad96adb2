// What `dunmarrow serve` needs of the logins: where the file is by default, and an
// Authenticator over it.
#pragma once

#include <memory>
#include <string>

#include "server/authenticator.h"

namespace dunmarrow::server {

// "logins" in the parent directory of the drive root (the default drive root when empty).
std::string DefaultLoginsPath(const std::string& drive_root);

// The logins of the file, read once. Null, with a message in `error`, when the file is
// missing, unreadable or not a valid logins file.
std::unique_ptr<Authenticator> OpenLogins(const std::string& path, std::string& error);

}  // namespace dunmarrow::server
