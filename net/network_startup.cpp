// The network layer's module load and unload steps: Windows Sockets, the lock of the layer's
// state, the name cache and the components' window class.
#include "net/internet.h"
#include "net/network_internal.h"
#include "runtime/module_steps.h"

namespace dunmarrow {
namespace {

bool network_started = false;
CRITICAL_SECTION network_lock;

}  // namespace

namespace net_internal {

void InitializeNetworkLock() {
  InitializeCriticalSection(&network_lock);
}

void DeleteNetworkLock() {
  DeleteCriticalSection(&network_lock);
}

NetworkLockGuard::NetworkLockGuard() {
  EnterCriticalSection(&network_lock);
}

NetworkLockGuard::~NetworkLockGuard() {
  LeaveCriticalSection(&network_lock);
}

}  // namespace net_internal

void NetworkStartup() {
  if (network_started) return;
  network_started = true;
  WSADATA data;
  WSAStartup(MAKEWORD(1, 2), &data);  // the result does not matter: lookups then fail
  net_internal::InitializeNetworkLock();
}

void NetworkCleanup() {
  if (!network_started) return;
  network_started = false;
  net_internal::UnregisterWindowClass();
  net_internal::DeleteNetworkLock();
  net_internal::DestroyHostCache();
  WSACleanup();
}

DUNMARROW_MODULE_STEPS(kNetwork, NetworkStartup, NetworkCleanup)

}  // namespace dunmarrow
