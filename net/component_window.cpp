// The components' hidden windows: the window class (registered on first use), the window
// procedure that hands a window's messages to its component, and the message pump.
#include <atomic>

#include "net/internet.h"
#include "net/network_internal.h"

namespace dunmarrow {
namespace {

std::atomic<bool> window_class_registered{false};

}  // namespace

namespace net_internal {

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
  return static_cast<HINSTANCE>(module);
}

// Registered on first use, not at load: window functions have no place in the loader's
// notification. The lock of the network layer's state guards the registration.
void EnsureWindowClass(WNDPROC procedure) {
  if (window_class_registered.load()) return;
  NetworkLockGuard guard;
  if (window_class_registered.load()) return;
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = ModuleInstance();
  window_class.lpszClassName = kWindowClass;
  if (RegisterClassA(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    window_class_registered.store(true);
  }
}

void UnregisterWindowClass() {
  if (window_class_registered.exchange(false)) UnregisterClassA(kWindowClass, ModuleInstance());
}

}  // namespace net_internal

bool ProcessOneMessage() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message != WM_QUIT) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

LRESULT CALLBACK TkxInternetComponent::WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                                       LPARAM lparam) {
  auto* component =
      reinterpret_cast<TkxInternetComponent*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!component) return DefWindowProcA(window, message, wparam, lparam);
  if (message == net_internal::kHandOverBell) {
    component->TakeHandOvers();
    return 0;
  }
  TMessage record{message, wparam, lparam, 0};
  try {
    component->HandleMessage(record);
  } catch (...) {
    // A failure must not unwind through the system's message dispatch.
  }
  return record.Result;
}

}  // namespace dunmarrow
