// XpLock: the process-wide re-entrant lock of the compression buffers and the CryptoAPI work.
#pragma once

namespace dunmarrow {

void CreateXpLock();
void DeleteXpLock();
void EnterXpLock();
void LeaveXpLock();

class XpLockGuard {
 public:
  XpLockGuard() { EnterXpLock(); }
  ~XpLockGuard() { LeaveXpLock(); }
  XpLockGuard(const XpLockGuard&) = delete;
  XpLockGuard& operator=(const XpLockGuard&) = delete;
};

}  // namespace dunmarrow
