// Who may log in, and what a login may do once in.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tsql/permissions.h"

namespace dunmarrow::server {

struct LoginIdentity {
  std::string name;
  // What the login may EXECUTE, and whether it may add and drop extended procedures.
  std::shared_ptr<const tsql::ExecutePermissions> permissions;
};

class Authenticator {
 public:
  virtual ~Authenticator() = default;
  // The login for a name and password sent from `peer_address` (an IP address), or nothing
  // when they do not match a login. Logs the success or the failure; after repeated failures
  // from one address it returns a failure only after a growing delay, on the caller's thread,
  // so that other clients are not slowed down.
  virtual std::optional<LoginIdentity> Authenticate(std::string_view name,
                                                    std::string_view password,
                                                    std::string_view peer_address) = 0;
};

}  // namespace dunmarrow::server
