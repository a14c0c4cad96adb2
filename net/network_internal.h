// What the files of the network layer share among themselves (not for its users): the lock of
// the layer's state, the name cache's clean-up, the dotted-quad reader and the window class of
// the components' hidden windows.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/windows.h"

namespace dunmarrow::net_internal {

// The lock of the network layer's state: the name cache and the window class registration.
// Created by NetworkStartup, deleted by NetworkCleanup.
void InitializeNetworkLock();
void DeleteNetworkLock();
class NetworkLockGuard {
 public:
  NetworkLockGuard();
  ~NetworkLockGuard();
  NetworkLockGuard(const NetworkLockGuard&) = delete;
  NetworkLockGuard& operator=(const NetworkLockGuard&) = delete;
};

// Frees the name cache (module unload).
void DestroyHostCache();

// The four fields of a dotted quad as IsDottedQuad reads them (spaces dropped, each decimal,
// octal or hexadecimal); false when the text is no dotted quad.
bool DottedQuadFields(std::string_view text, int64_t (&fields)[4]);

// The window class of the components' hidden windows, registered on first use.
inline constexpr char kWindowClass[] = "DunmarrowInternetComponent";
// Posted to a component's window when queued hand-overs wait for its owner.
inline constexpr UINT kHandOverBell = WM_USER + 0x100;
HINSTANCE ModuleInstance();
void EnsureWindowClass(WNDPROC procedure);
// Unregisters the class if it was registered (module unload).
void UnregisterWindowClass();

}  // namespace dunmarrow::net_internal
