// Windows and their messages (user32), the part a component needs to let worker threads hand
// results to the thread that owns it: a window belongs to the thread that created it; a
// message sent to it from another thread waits until that thread takes its messages, and the
// sender is blocked until the window procedure has returned.
#pragma once

#include <cstdint>

#include "platform/linux/types.h"

#ifndef WINAPI
#define WINAPI
#endif
#ifndef CALLBACK
#define CALLBACK
#endif

typedef struct HWND__* HWND;
typedef HMODULE HINSTANCE;
typedef void* HICON;
typedef void* HCURSOR;
typedef void* HBRUSH;
typedef void* HMENU;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef intptr_t LONG_PTR;
typedef WORD ATOM;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

// What the window procedure receives with WM_NCCREATE and WM_CREATE.
struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};

struct POINT {
  LONG x;
  LONG y;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<intptr_t>(-3)))
#define GWLP_WNDPROC (-4)
#define GWLP_USERDATA (-21)

#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_QUIT 0x0012u
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_USER 0x0400u

#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_CANNOT_FIND_WND_CLASS 1407u
#define ERROR_WINDOW_OF_OTHER_THREAD 1408u
#define ERROR_CLASS_ALREADY_EXISTS 1410u
#define ERROR_CLASS_DOES_NOT_EXIST 1411u
#define ERROR_INVALID_INDEX 1413u

extern "C" {
// Classes are told apart by name (without case) and module instance.
WINAPI_EXPORT ATOM RegisterClassA(const WNDCLASSA* window_class);
WINAPI_EXPORT BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE instance);
// Windows without a screen: the position, size, styles and parent are not used. The window
// procedure receives WM_NCCREATE and WM_CREATE before the call returns.
WINAPI_EXPORT HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name,
                                   DWORD style, int x, int y, int width, int height, HWND parent,
                                   HMENU menu, HINSTANCE instance, LPVOID create_parameter);
// Only the owning thread may destroy a window. Messages sent to it that wait are released
// with the result 0 without being handled; its posted messages are removed.
WINAPI_EXPORT BOOL DestroyWindow(HWND window);
WINAPI_EXPORT LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
WINAPI_EXPORT LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
WINAPI_EXPORT LONG_PTR GetWindowLongPtrA(HWND window, int index);
// To a window of the calling thread: the window procedure is called at once. To a window of
// another thread: waits until that thread has handled it inside PeekMessageA. 0 at once for a
// window that does not exist.
WINAPI_EXPORT LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
WINAPI_EXPORT BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// First handles every message sent to the calling thread's windows, in the order they were
// sent; then takes the first posted message in the filter, if any.
WINAPI_EXPORT BOOL PeekMessageA(LPMSG message, HWND window, UINT filter_min, UINT filter_max,
                                UINT remove);
WINAPI_EXPORT BOOL TranslateMessage(const MSG* message);
WINAPI_EXPORT LRESULT DispatchMessageA(const MSG* message);
// Blocks until a message is sent to the calling thread or a message is posted to it after its
// last PeekMessageA.
WINAPI_EXPORT BOOL WaitMessage();
}
