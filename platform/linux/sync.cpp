// Linux stand-ins: critical sections, re-entrant locks for the thread that holds them.
#include "platform/linux/sync.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <new>

namespace {

std::recursive_mutex* MutexOf(LPCRITICAL_SECTION section) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(section->opaque));
}

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

}  // namespace

extern "C" {

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  new (section->opaque) std::recursive_mutex();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section)->~recursive_mutex();
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section)->unlock();
}

DWORD GetCurrentThreadId() {
  return static_cast<DWORD>(syscall(SYS_gettid));
}

}  // extern "C"
