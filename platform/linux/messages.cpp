// Linux stand-ins: windows and their messages (user32), the part the network components need:
// hidden windows owned by a thread, posted and sent messages, and their queue per thread.
#include "platform/linux/messages.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/linux/errors.h"
#include "platform/linux/sync.h"

namespace winplatform {
namespace {

struct SentMessage {
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  LRESULT result = 0;
  bool done = false;
};

// The messages of one thread: those sent to it wait for it in order; those posted to it are
// taken with PeekMessageA.
struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable changed;  // new messages for the owner, replies for the senders
  std::deque<SentMessage*> sent;
  std::deque<MSG> posted;
  bool new_input = false;  // posted since the last PeekMessageA
  bool alive = true;
};

struct Window {
  std::shared_ptr<ThreadQueue> queue;
  WNDPROC procedure;
  LONG_PTR user_data = 0;
  bool destroyed = false;  // guarded by the queue's mutex
};

// Never destroyed: threads that end while the process exits may still use them.
std::mutex& registry_mutex = *new std::mutex;
std::map<HWND, std::shared_ptr<Window>>& windows = *new std::map<HWND, std::shared_ptr<Window>>;
std::map<std::pair<std::string, HINSTANCE>, WNDPROC>& classes =
    *new std::map<std::pair<std::string, HINSTANCE>, WNDPROC>;
uintptr_t next_window = 0x10010;
ATOM next_atom = 0xC000;

// Releases every sender that waits for a queue's owner, with the result 0.
void ReleaseSenders(ThreadQueue& queue, HWND window) {
  for (auto it = queue.sent.begin(); it != queue.sent.end();) {
    if (window && (*it)->window != window) {
      ++it;
      continue;
    }
    (*it)->result = 0;
    (*it)->done = true;
    it = queue.sent.erase(it);
  }
  queue.changed.notify_all();
}

// When a thread ends, its windows go with it and whoever sends to them is released.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    {
      std::lock_guard<std::mutex> lock(registry_mutex);
      for (auto it = windows.begin(); it != windows.end();) {
        it = it->second->queue == queue ? windows.erase(it) : std::next(it);
      }
    }
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->alive = false;
    queue->posted.clear();
    ReleaseSenders(*queue, nullptr);
  }
};

thread_local QueueHolder current_queue;

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  if (!current_queue.queue) current_queue.queue = std::make_shared<ThreadQueue>();
  return current_queue.queue;
}

std::shared_ptr<Window> LookUpWindow(HWND handle) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto found = windows.find(handle);
  return found == windows.end() ? nullptr : found->second;
}

std::string Lower(LPCSTR text) {
  std::string result = text ? text : "";
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool InFilter(const MSG& message, HWND window, UINT filter_min, UINT filter_max) {
  if (window == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
    if (message.hwnd) return false;
  } else if (window && message.hwnd != window) {
    return false;
  }
  if (filter_min == 0 && filter_max == 0) return true;
  return message.message >= filter_min && message.message <= filter_max;
}

DWORD MessageTime() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace
}  // namespace winplatform

using namespace winplatform;

extern "C" {

ATOM RegisterClassA(const WNDCLASSA* window_class) {
  if (!window_class || !window_class->lpfnWndProc || !window_class->lpszClassName ||
      !*window_class->lpszClassName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> lock(registry_mutex);
  auto key = std::make_pair(Lower(window_class->lpszClassName), window_class->hInstance);
  if (!classes.emplace(key, window_class->lpfnWndProc).second) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  return next_atom++;
}

BOOL UnregisterClassA(LPCSTR class_name, HINSTANCE instance) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  if (!classes.erase(std::make_pair(Lower(class_name), instance))) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  return TRUE;
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID create_parameter) {
  auto window = std::make_shared<Window>();
  HWND handle;
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    auto found = classes.find(std::make_pair(Lower(class_name), instance));
    if (found == classes.end()) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    window->procedure = found->second;
    window->queue = CurrentQueue();
    handle = reinterpret_cast<HWND>(next_window);
    next_window += 2;
    windows.emplace(handle, window);
  }
  CREATESTRUCTA create{
      create_parameter,         instance,    menu,       parent,  height, width, y, x,
      static_cast<LONG>(style), window_name, class_name, ex_style};
  LPARAM lparam = reinterpret_cast<LPARAM>(&create);
  if (!window->procedure(handle, WM_NCCREATE, 0, lparam) ||
      window->procedure(handle, WM_CREATE, 0, lparam) == -1) {
    DestroyWindow(handle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return handle;
}

BOOL DestroyWindow(HWND handle) {
  auto window = LookUpWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (window->queue != current_queue.queue) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  window->procedure(handle, WM_DESTROY, 0, 0);
  window->procedure(handle, WM_NCDESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    windows.erase(handle);
  }
  ThreadQueue& queue = *window->queue;
  std::lock_guard<std::mutex> lock(queue.mutex);
  window->destroyed = true;
  for (auto it = queue.posted.begin(); it != queue.posted.end();) {
    it = it->hwnd == handle ? queue.posted.erase(it) : std::next(it);
  }
  ReleaseSenders(queue, handle);
  return TRUE;
}

LRESULT DefWindowProcA(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_NCCREATE ? TRUE : 0;
}

LONG_PTR SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
  auto window = LookUpWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(registry_mutex);
  LONG_PTR previous;
  if (index == GWLP_USERDATA) {
    previous = window->user_data;
    window->user_data = value;
  } else if (index == GWLP_WNDPROC && value) {
    previous = reinterpret_cast<LONG_PTR>(window->procedure);
    window->procedure = reinterpret_cast<WNDPROC>(value);
  } else {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return previous;
}

LONG_PTR GetWindowLongPtrA(HWND handle, int index) {
  auto window = LookUpWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(registry_mutex);
  if (index == GWLP_USERDATA) return window->user_data;
  if (index == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(window->procedure);
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  auto window = LookUpWindow(handle);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->queue == current_queue.queue) {
    WNDPROC procedure;
    {
      std::lock_guard<std::mutex> lock(registry_mutex);
      procedure = window->procedure;
    }
    return procedure(handle, message, wparam, lparam);
  }
  ThreadQueue& queue = *window->queue;
  SentMessage sent{handle, message, wparam, lparam};
  std::unique_lock<std::mutex> lock(queue.mutex);
  if (!queue.alive || window->destroyed) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  queue.sent.push_back(&sent);
  queue.changed.notify_all();
  queue.changed.wait(lock, [&] { return sent.done; });
  return sent.result;
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
  std::shared_ptr<ThreadQueue> queue;
  std::shared_ptr<Window> window;
  if (handle) {
    window = LookUpWindow(handle);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    queue = window->queue;
  } else {
    queue = CurrentQueue();
  }
  std::lock_guard<std::mutex> lock(queue->mutex);
  if (!queue->alive || (window && window->destroyed)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  queue->posted.push_back(MSG{handle, message, wparam, lparam, MessageTime(), {0, 0}});
  queue->new_input = true;
  queue->changed.notify_all();
  return TRUE;
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
  ThreadQueue& queue = *CurrentQueue();
  std::unique_lock<std::mutex> lock(queue.mutex);
  while (!queue.sent.empty()) {
    SentMessage* sent = queue.sent.front();
    queue.sent.pop_front();
    lock.unlock();
    LRESULT result = 0;
    std::exception_ptr failure;
    if (auto target = LookUpWindow(sent->window)) {
      WNDPROC procedure;
      {
        std::lock_guard<std::mutex> registry(registry_mutex);
        procedure = target->procedure;
      }
      try {
        result = procedure(sent->window, sent->message, sent->wparam, sent->lparam);
      } catch (...) {
        failure = std::current_exception();
      }
    }
    lock.lock();
    sent->result = result;
    sent->done = true;
    queue.changed.notify_all();
    if (failure) std::rethrow_exception(failure);
  }
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (!InFilter(*it, window, filter_min, filter_max)) continue;
    if (message) *message = *it;
    if (remove & PM_REMOVE) queue.posted.erase(it);
    queue.new_input = false;
    return TRUE;
  }
  queue.new_input = false;
  return FALSE;
}

BOOL TranslateMessage(const MSG*) {
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
  if (!message || !message->hwnd) return 0;
  auto window = LookUpWindow(message->hwnd);
  if (!window) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (window->queue != current_queue.queue) {
    SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
    return 0;
  }
  WNDPROC procedure;
  {
    std::lock_guard<std::mutex> lock(registry_mutex);
    procedure = window->procedure;
  }
  return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL WaitMessage() {
  ThreadQueue& queue = *CurrentQueue();
  std::unique_lock<std::mutex> lock(queue.mutex);
  queue.changed.wait(lock, [&] { return !queue.sent.empty() || queue.new_input; });
  return TRUE;
}

}  // extern "C"
