// Internal to the Linux stand-ins: what the file, user and memory functions read of the
// policy a server host sets (server_policy.h).
#pragma once

#include <cstdint>
#include <string>

namespace winplatform {

// Whether a host path lies under one of the allowed roots once `..` and the symbolic links of
// its existing part are resolved; always true when no roots are set. The path's last element
// being a dangling symbolic link counts as leaving: what it would create is not known.
bool IsAllowedHostPath(const std::string& host_path);
// The user the calling thread runs as (SetThreadUser), or the process's own.
std::string ThreadUser();
// The per-user cap on compression buffers; 0: none.
uint64_t UserBufferLimit();

}  // namespace winplatform
