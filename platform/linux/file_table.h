// Internal to the Linux stand-ins: file handles are descriptors, and a table of open files
// enforces the Windows share modes between the opens of one process. Byte-range locks (open
// file description locks, far beyond any file's data) carry the same share modes to other
// processes, so separate processes agree as well.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/linux/files.h"
#include "platform/linux/types.h"

namespace winplatform {

int HandleToDescriptor(HANDLE handle);
HANDLE DescriptorToHandle(int fd);

// Records an open of fd; false when it conflicts with an open of the same file, in this
// process or in another one.
bool RegisterOpenFile(int fd, DWORD access, DWORD share);
// The same, for an open whose stat result and readability are known already.
bool RegisterOpen(int fd, const struct stat& st, bool readable, DWORD access, DWORD share);
void UnregisterOpenFile(int fd);
// Closes a descriptor and forgets its open in one step, so that no other open sees the
// entry gone while the locks are still held.
int CloseRegistered(int fd);

// Characters Windows never accepts in a file name: * ? < > | " and the control characters;
// and an element "..." before a separator, which Windows reads as "..".
bool HasInvalidNameCharacters(std::string_view path);

// An empty path, or one of spaces only: Windows finds no path there.
bool IsBlankPath(std::string_view path);

// Whether a path given to an ANSI function is longer than MAX_PATH characters once converted
// to UTF-16: those functions fail with ERROR_FILENAME_EXCED_RANGE before looking.
bool AnsiPathTooLong(std::string_view path);

// The attribute word of a stat result.
DWORD AttributesOf(const struct stat& st);

// Whether a stat result carries the read-only attribute (no write permission bit at all).
bool IsReadOnly(const struct stat& st);

// FILETIME of a time stamp: 100-nanosecond intervals since 1601-01-01.
FILETIME FileTimeOf(const struct timespec& time);

// The host path of a Windows path (MapPath) when it lies under the allowed roots of a server
// host; otherwise false with ERROR_ACCESS_DENIED, before anything at the path is touched. Every
// file function maps its paths through here.
bool MapAllowedPath(std::string_view windows_path, std::string* host, bool any_case = true);

// The host path of a Windows file path, after the checks every file function makes: ""
// gives ERROR_PATH_NOT_FOUND, wildcards and other invalid characters ERROR_INVALID_NAME.
// Returns false with the last error set. With any_case false the path is translated as
// written (MapPath).
bool HostPathOf(std::string_view windows_path, std::string* host, bool any_case = true);

// Opens a host path the way CreateFileA does (access, share mode and disposition, the
// read-only attribute, share conflicts); returns the descriptor, or -1 with the last error
// set. The descriptor is registered: close it with CloseHostFile.
int OpenHostFile(const std::string& host_path, DWORD access, DWORD share, DWORD disposition);
void CloseHostFile(int fd);

}  // namespace winplatform
