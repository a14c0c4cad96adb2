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
// A UNC path ("\\server\share\f", also "\\?\" and "\\.\" forms): no such share exists
// here.
WINAPI_EXPORT bool IsUncPath(std::string_view windows_path);
// Whether the last element names a DOS device (NUL, CON, AUX, PRN, COM1-COM9, LPT1-LPT9), also
// with an extension or trailing spaces: Windows would open the device, not a file.
WINAPI_EXPORT bool IsDeviceName(std::string_view path);
// A UTF-16 path as UTF-8, unpaired surrogates becoming U+FFFD.
WINAPI_EXPORT std::string WidePathToUtf8(const WCHAR* path);

}  // namespace winplatform
