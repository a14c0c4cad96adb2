// Stand-in for the server's platform settings until their branch is merged. Never reached:
// the logins stand-in stops the server first.
#include "platform/linux/server_policy.h"

#include <cstdlib>

namespace winplatform {

void SetAllowedRoots(const std::vector<std::string>&) {
  std::abort();
}
void SetThreadUser(const std::string&) {
  std::abort();
}
void SetUserBufferLimit(uint64_t) {
  std::abort();
}

}  // namespace winplatform
