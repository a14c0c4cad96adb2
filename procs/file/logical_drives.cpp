// xp_GetLogicalDrives: the mask of the drive letters the system has (bit 0 for A:, bit 2 for
// C:, ...), as the procedure's return status.
#include "platform/windows.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/frame.h"

using namespace dunmarrow;

// Any parameters are accepted and ignored; 0 when the system has no answer.
XP_PROCEDURE(xp_GetLogicalDrives) {
  return RunContextFrame(srvproc, "xp_GetLogicalDrives: ", [](TXProc&) {
    return static_cast<int>(GetLogicalDrives());
  });
}
