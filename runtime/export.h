// How an extended procedure is exported: C linkage and the server's calling convention (cdecl).
// The list of exported names is runtime/Dunmarrow.def.
#pragma once

#include "ods/srv.h"

#ifdef _WIN32
#define XP_EXPORT
#define XP_CALL __cdecl
#else
#define XP_EXPORT __attribute__((visibility("default")))
#define XP_CALL
#endif

#define XP_PROCEDURE(name) extern "C" XP_EXPORT int XP_CALL name(SRV_PROC* srvproc)
