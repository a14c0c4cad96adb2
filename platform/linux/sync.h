// Critical sections: re-entrant locks for the thread that holds them.
#pragma once

#include "platform/linux/types.h"

struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

extern "C" {
WINAPI_EXPORT void InitializeCriticalSection(LPCRITICAL_SECTION section);
WINAPI_EXPORT void DeleteCriticalSection(LPCRITICAL_SECTION section);
WINAPI_EXPORT void EnterCriticalSection(LPCRITICAL_SECTION section);
WINAPI_EXPORT void LeaveCriticalSection(LPCRITICAL_SECTION section);
WINAPI_EXPORT DWORD GetCurrentThreadId();
}
