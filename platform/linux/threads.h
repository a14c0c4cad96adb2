// Threads: creation (also suspended), resumption, waiting for the end, and Sleep.
#pragma once

#include <cstddef>

#include "platform/linux/types.h"

#ifndef WINAPI
#define WINAPI
#endif

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID parameter);
typedef size_t SIZE_T;

#define CREATE_SUSPENDED 0x00000004u
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 0x00000103u

extern "C" {
// The handle is closed with CloseHandle; the thread runs on when its handle is closed.
WINAPI_EXPORT HANDLE CreateThread(void* security, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                                  LPVOID parameter, DWORD flags, LPDWORD thread_id);
// Returns the previous suspend count (1 for a thread created suspended, 0 for a running one).
WINAPI_EXPORT DWORD ResumeThread(HANDLE thread);
// Thread handles only: WAIT_OBJECT_0 when the thread has ended.
WINAPI_EXPORT DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
WINAPI_EXPORT BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
WINAPI_EXPORT void Sleep(DWORD milliseconds);
}

namespace winplatform {
// Closes a handle of a thread; false when the handle is no such object (CloseHandle then
// tries the other kinds of handles).
bool CloseKernelObject(HANDLE object);
}  // namespace winplatform
