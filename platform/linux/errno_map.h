// Internal to the Linux stand-ins: Windows error codes for errno values.
#pragma once

#include <string>

#include "platform/linux/types.h"

namespace winplatform {

// The Windows code for errno. For ENOENT the host path decides between a missing file (2) and
// a missing directory on the way (3).
DWORD ErrorFromErrno(int error, const std::string& host_path = std::string());

// Sets the last error from errno and returns it.
DWORD SetLastErrorFromErrno(int error, const std::string& host_path = std::string());

// True when the directory that would hold host_path exists.
bool ParentDirectoryExists(const std::string& host_path);

}  // namespace winplatform
