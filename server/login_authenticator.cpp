// Logins checked against the logins file's hashes, with logging and the growing delay.
#include "server/login_authenticator.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "platform/linux/drives.h"
#include "server/logins.h"
#include "server/server_log.h"

namespace dunmarrow::server {

std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 256)) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\' && c != '\'') {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  if (text.size() > 256) out += "...";
  return out;
}

LoginAuthenticator::LoginAuthenticator(const LoginsFile& logins, LoginDelayPolicy policy,
                                       LoginDelay::Clock clock, Sleep sleep)
    : delay_(policy, std::move(clock)), sleep_(std::move(sleep)) {
  uint32_t most_iterations = 0;
  for (const LoginEntry& entry : logins.Entries()) {
    auto permissions = std::make_shared<tsql::ExecutePermissions>();
    permissions->all = entry.all;
    permissions->procedures = entry.procedures;
    permissions->admin = entry.admin;
    logins_.push_back({entry, std::move(permissions)});
    most_iterations = std::max(most_iterations, entry.password.iterations);
  }
  decoy_.iterations = most_iterations ? most_iterations : kDefaultIterations;
}

void LoginAuthenticator::DefaultSleep(std::chrono::milliseconds delay) {
  std::this_thread::sleep_for(delay);
}

const LoginAuthenticator::Login* LoginAuthenticator::Find(std::string_view name) const {
  for (const Login& login : logins_) {
    if (LowerCase(login.entry.name) == LowerCase(name)) return &login;
  }
  return nullptr;
}

std::optional<LoginIdentity> LoginAuthenticator::Authenticate(std::string_view name,
                                                              std::string_view password,
                                                              std::string_view peer_address) {
  std::string who = "'" + Printable(name) + "' from " + Printable(peer_address);
  {
    std::lock_guard<std::mutex> hold(waiting_lock_);
    auto found = waiting_.find(peer_address);
    if (found != waiting_.end() && found->second >= kMaxWaitingPerAddress) {
      LogLine("login refused: " + who + ": " + std::to_string(kMaxWaitingPerAddress) +
              " failed logins of this address are waiting out their delay");
      return std::nullopt;
    }
  }
  const Login* login = Find(name);
  bool matches = VerifyPassword(login ? login->entry.password : decoy_, password) && login;
  if (matches) {
    delay_.Succeed(peer_address);
    LogLine("login succeeded: " + who);
    return LoginIdentity{login->entry.name, login->permissions};
  }
  std::chrono::milliseconds wait = delay_.Fail(peer_address);
  LogLine("login failed: " + who + (login ? ": wrong password" : ": no such login") +
          (wait.count() ? ", answered after " + std::to_string(wait.count()) + " ms" : ""));
  if (wait.count()) {
    std::string address(peer_address);
    {
      std::lock_guard<std::mutex> hold(waiting_lock_);
      ++waiting_[address];
    }
    sleep_(wait);
    std::lock_guard<std::mutex> hold(waiting_lock_);
    if (--waiting_[address] == 0) waiting_.erase(address);
  }
  return std::nullopt;
}

std::string DefaultLoginsPath(const std::string& drive_root) {
  std::filesystem::path root = drive_root.empty() ? winplatform::DefaultDriveRoot() : drive_root;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(root, error);
  if (!error) root = absolute;
  root = root.lexically_normal();
  if (!root.has_filename()) root = root.parent_path();  // "/a/b/" ends in an empty element
  return (root.parent_path() / "logins").string();
}

std::unique_ptr<Authenticator> OpenLogins(const std::string& path, std::string& error) {
  LoginsFile file;
  if (!file.Read(path, error)) return nullptr;
  return std::make_unique<LoginAuthenticator>(file);
}

}  // namespace dunmarrow::server
