// The failure counts per address behind the growing login delay.
#include "server/login_delay.h"

#include <algorithm>

namespace dunmarrow::server {

LoginDelay::LoginDelay(LoginDelayPolicy policy, Clock clock)
    : policy_(policy), clock_(std::move(clock)) {}

std::chrono::milliseconds LoginDelay::Fail(std::string_view address) {
  auto now = clock_();
  std::lock_guard<std::mutex> hold(lock_);
  auto found = failures_.find(address);
  if (found != failures_.end() && now - found->second.last >= policy_.forget_after) {
    failures_.erase(found);
    found = failures_.end();
  }
  if (found == failures_.end()) {
    if (failures_.size() >= policy_.max_addresses) ForgetOldest();
    found = failures_.emplace(std::string(address), Failures{}).first;
  }
  Failures& f = found->second;
  f.count = std::min(f.count + 1, 1000);  // far past the ceiling; never overflows
  f.last = now;
  int doublings = f.count - policy_.free_failures - 1;
  if (doublings < 0) return std::chrono::milliseconds(0);
  auto delay = policy_.first_delay;
  for (int i = 0; i < doublings && delay < policy_.max_delay; ++i) delay *= 2;
  return std::min(delay, policy_.max_delay);
}

void LoginDelay::Succeed(std::string_view address) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = failures_.find(address);
  if (found != failures_.end()) failures_.erase(found);
}

size_t LoginDelay::RememberedAddresses() const {
  std::lock_guard<std::mutex> hold(lock_);
  return failures_.size();
}

void LoginDelay::ForgetOldest() {
  auto oldest =
      std::min_element(failures_.begin(), failures_.end(),
                       [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
  if (oldest != failures_.end()) failures_.erase(oldest);
}

}  // namespace dunmarrow::server
