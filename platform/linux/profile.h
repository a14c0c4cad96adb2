// Profile (INI) files: GetPrivateProfileStringA and WritePrivateProfileStringA.
//
// The file is edited in place: a write changes only the line of the key (or inserts one line,
// or appends a section) and leaves every other byte as it was. A file that starts with the
// UTF-16LE byte-order mark is read and written as UTF-16LE, every other file as 8-bit text
// passed through unchanged. A file name without a directory part lies in the Windows
// directory, c:\windows. Profile calls are serialised within the process and, by a lock on
// the file, with other processes.
#pragma once

#include "platform/linux/types.h"

extern "C" {
// The value of the key, or the default (without its trailing spaces) when the file, the
// section or the key is missing, cut to size - 1 characters; returns the number copied.
// The listing forms (a null section or key) are not used by the module and are not
// provided: they fail with ERROR_INVALID_PARAMETER and return 0.
WINAPI_EXPORT DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value,
                                             LPSTR buffer, DWORD size, LPCSTR file_name);
// Sets key=value in the section, creating the file, the section and the key as needed. The
// deleting forms (a null key or value) are not used by the module and are not provided: they
// fail with ERROR_INVALID_PARAMETER.
WINAPI_EXPORT BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                              LPCSTR file_name);
}
