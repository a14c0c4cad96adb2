// Linux only: where drive letters live. A path that starts with a drive letter ("c:\dir\f")
// is mapped, as Wine maps it, to "<drive root>/c/dir/f". The host chooses the drive root;
// the module never calls these.
#pragma once

#include <string>
#include <string_view>

#include "platform/linux/types.h"

namespace winplatform {

WINAPI_EXPORT void SetDriveRoot(const std::string& directory);
WINAPI_EXPORT std::string GetDriveRoot();
// The default: $XDG_DATA_HOME/dunmarrow/drives, or ~/.local/share/dunmarrow/drives.
WINAPI_EXPORT std::string DefaultDriveRoot();
// The host path for a Windows path (8-bit, UTF-8). Names match in any case, as on Windows;
// with any_case false the path is only translated, as written, without touching the file
// system (for callers that try it first and look further only when it is not there).
WINAPI_EXPORT std::string MapPath(std::string_view windows_path, bool any_case = true);
// A UTF-16 path as UTF-8, unpaired surrogates becoming U+FFFD.
WINAPI_EXPORT std::string WidePathToUtf8(const WCHAR* path);

}  // namespace winplatform
