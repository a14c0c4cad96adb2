// A no-op SetThreadUser, for linking the tests before the platform layer defines it; to be
// deleted once it does (a definition here would hide the real one from this program).
#include "platform/linux/server_policy.h"

namespace winplatform {

__attribute__((weak)) void SetThreadUser(const std::string&) {}

}  // namespace winplatform
