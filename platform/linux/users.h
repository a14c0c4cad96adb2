// Who a call runs as and how much memory it may hold: advapi32's GetUserNameW and kernel32's
// QueryInformationJobObject, as far as the module asks. Here they answer what a server host
// set (server_policy.h): the login of the calling thread, and the per-user cap on compression
// buffers as the memory limit of the caller's job.
#pragma once

#include <cstddef>

#include "platform/linux/types.h"

typedef size_t SIZE_T;
typedef uint64_t ULONGLONG;

struct LARGE_INTEGER {
  LONGLONG QuadPart;
};

struct IO_COUNTERS {
  ULONGLONG ReadOperationCount;
  ULONGLONG WriteOperationCount;
  ULONGLONG OtherOperationCount;
  ULONGLONG ReadTransferCount;
  ULONGLONG WriteTransferCount;
  ULONGLONG OtherTransferCount;
};

struct JOBOBJECT_BASIC_LIMIT_INFORMATION {
  LARGE_INTEGER PerProcessUserTimeLimit;
  LARGE_INTEGER PerJobUserTimeLimit;
  DWORD LimitFlags;
  SIZE_T MinimumWorkingSetSize;
  SIZE_T MaximumWorkingSetSize;
  DWORD ActiveProcessLimit;
  ULONG_PTR Affinity;
  DWORD PriorityClass;
  DWORD SchedulingClass;
};

struct JOBOBJECT_EXTENDED_LIMIT_INFORMATION {
  JOBOBJECT_BASIC_LIMIT_INFORMATION BasicLimitInformation;
  IO_COUNTERS IoInfo;
  SIZE_T ProcessMemoryLimit;
  SIZE_T JobMemoryLimit;
  SIZE_T PeakProcessMemoryUsed;
  SIZE_T PeakJobMemoryUsed;
};

enum JOBOBJECTINFOCLASS { JobObjectExtendedLimitInformation = 9 };

#define JOB_OBJECT_LIMIT_JOB_MEMORY 0x00000200u

extern "C" {
// The calling thread's user (the login a server host runs it as, else the process's user),
// with its terminator; *size is in characters, terminator included. A buffer too small fails
// with ERROR_INSUFFICIENT_BUFFER and *size set to what is needed.
WINAPI_EXPORT BOOL GetUserNameW(LPWSTR buffer, LPDWORD size);
// Only JobObjectExtendedLimitInformation of the caller's own job (a null handle): the limit
// flags carry JOB_OBJECT_LIMIT_JOB_MEMORY, and JobMemoryLimit the per-user buffer cap, when a
// server host set one. Other classes and handles fail with ERROR_INVALID_PARAMETER.
WINAPI_EXPORT BOOL QueryInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS info_class, LPVOID info,
                                             DWORD length, LPDWORD return_length);
}
