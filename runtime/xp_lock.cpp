// XpLock: the process-wide re-entrant lock of the compression buffers and the CryptoAPI work.
#include "runtime/xp_lock.h"

#include "platform/windows.h"

namespace dunmarrow {

namespace {
CRITICAL_SECTION xp_lock;
}

void CreateXpLock() {
  InitializeCriticalSection(&xp_lock);
}
void DeleteXpLock() {
  DeleteCriticalSection(&xp_lock);
}
void EnterXpLock() {
  EnterCriticalSection(&xp_lock);
}
void LeaveXpLock() {
  LeaveCriticalSection(&xp_lock);
}

}  // namespace dunmarrow
