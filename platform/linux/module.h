// Modules: loading a library, finding its exports, and the module that holds an address.
#pragma once

#include "platform/linux/types.h"

#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

typedef int (*FARPROC)();

extern "C" {
WINAPI_EXPORT HMODULE LoadLibraryA(LPCSTR path);
WINAPI_EXPORT BOOL FreeLibrary(HMODULE module);
WINAPI_EXPORT FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// With FROM_ADDRESS the handle is the load address of the module that holds the address.
WINAPI_EXPORT BOOL GetModuleHandleExA(DWORD flags, LPCSTR name_or_address, HMODULE* module);
}
