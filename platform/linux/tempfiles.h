// Temporary directory and temporary file names (kernel32).
#pragma once

#include "platform/linux/types.h"

extern "C" {
// The temporary directory (TMPDIR, else /tmp), always ending in a separator. Returns its
// length without the terminator, or the size needed with it when the buffer is too small
// (the buffer then holds the empty string).
WINAPI_EXPORT DWORD GetTempPathA(DWORD size, LPSTR buffer);
WINAPI_EXPORT DWORD GetTempPathW(DWORD size, LPWSTR buffer);
// directory + separator + the first three characters of the prefix + the number in
// upper-case hexadecimal + ".TMP" into a buffer of MAX_PATH characters. With unique 0 the
// number is chosen from the clock and raised until a new file could be created, empty;
// otherwise the name is only built. Either way the directory must exist (ERROR_DIRECTORY).
// Returns the number, 0 on failure.
WINAPI_EXPORT UINT GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR buffer);
}
