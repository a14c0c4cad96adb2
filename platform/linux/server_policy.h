// Linux only: what a server host sets for the module's calls. The allowed roots confine the
// file functions; the thread's user is what GetUserNameW answers on that thread (the login a
// connection runs as), and the buffer limit caps each user's compression buffers. The module
// never calls these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/types.h"

namespace winplatform {

// Host directories the file functions may reach; any other path fails with
// ERROR_ACCESS_DENIED before it is touched. Empty (the default): no restriction.
WINAPI_EXPORT void SetAllowedRoots(const std::vector<std::string>& directories);
// The user of the calling thread (UTF-8); empty: the process's own.
WINAPI_EXPORT void SetThreadUser(const std::string& login);
// The most bytes of compression buffers one user may hold; 0 (the default): no limit.
WINAPI_EXPORT void SetUserBufferLimit(uint64_t bytes);

}  // namespace winplatform
