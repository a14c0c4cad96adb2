// The growing delay after failed logins, per client address: the first few failures cost
// nothing, then each one waits twice as long as the one before, up to a ceiling. An address
// that stays quiet for a while is forgotten, and only so many addresses are remembered, the
// longest quiet going first, so the memory stays bounded whatever clients do.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace dunmarrow::server {

struct LoginDelayPolicy {
  int free_failures = 3;
  std::chrono::milliseconds first_delay{250};
  std::chrono::milliseconds max_delay{5000};
  std::chrono::seconds forget_after{600};
  size_t max_addresses = 4096;
};

class LoginDelay {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit LoginDelay(LoginDelayPolicy policy = {}, Clock clock = std::chrono::steady_clock::now);

  // Counts a failure from the address; the time to wait before answering it.
  std::chrono::milliseconds Fail(std::string_view address);
  // A success from the address: its failures are forgotten.
  void Succeed(std::string_view address);
  size_t RememberedAddresses() const;

 private:
  struct Failures {
    int count = 0;
    std::chrono::steady_clock::time_point last;
  };
  void ForgetOldest();

  LoginDelayPolicy policy_;
  Clock clock_;
  mutable std::mutex lock_;
  std::map<std::string, Failures, std::less<>> failures_;
};

}  // namespace dunmarrow::server
