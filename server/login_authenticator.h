// The Authenticator over the logins of a logins file: checks the password hash, logs every
// success and failure (peer address and login name, never the password) and makes repeated
// failures from one address wait (LoginDelay). The wait holds the connection; so that a flood of
// failing logins from one address cannot take every connection the server allows, at most
// kMaxWaitingPerAddress logins of one address wait at once, and further ones from it are
// refused at once without their password being checked (so they tell an attacker nothing).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "server/authenticator.h"
#include "server/login_delay.h"
#include "server/logins_file.h"

namespace dunmarrow::server {

class LoginAuthenticator : public Authenticator {
 public:
  using Sleep = std::function<void(std::chrono::milliseconds)>;

  explicit LoginAuthenticator(const LoginsFile& logins, LoginDelayPolicy policy = {},
                              LoginDelay::Clock clock = std::chrono::steady_clock::now,
                              Sleep sleep = DefaultSleep);

  std::optional<LoginIdentity> Authenticate(std::string_view name, std::string_view password,
                                            std::string_view peer_address) override;

  static void DefaultSleep(std::chrono::milliseconds delay);

  static constexpr int kMaxWaitingPerAddress = 8;

 private:
  struct Login {
    LoginEntry entry;
    std::shared_ptr<const tsql::ExecutePermissions> permissions;
  };
  const Login* Find(std::string_view name) const;

  std::vector<Login> logins_;
  PasswordHash decoy_;  // checked for unknown names, so they take as long as known ones
  LoginDelay delay_;
  Sleep sleep_;
  std::mutex waiting_lock_;
  std::map<std::string, int, std::less<>> waiting_;  // failed logins waiting, by address
};

// A name or address as it may appear in a log line: printable ASCII, anything else escaped.
std::string Printable(std::string_view text);

}  // namespace dunmarrow::server
