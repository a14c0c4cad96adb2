// Linux stand-ins: threads (CreateThread, also suspended, ResumeThread, WaitForSingleObject,
// GetExitCodeThread, Sleep) over the C++ thread library.
#include "platform/linux/threads.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/linux/errors.h"
#include "platform/linux/sync.h"

namespace winplatform {
namespace {

struct ThreadObject {
  std::mutex mutex;
  std::condition_variable changed;
  bool resumed = false;
  bool ended = false;
  bool id_known = false;
  DWORD id = 0;
  DWORD exit_code = STILL_ACTIVE;
};

// Handles of kernel objects lie above the range of descriptors, so they never meet a file
// handle.
// Never destroyed: threads that end while the process exits may still use them.
std::mutex& objects_mutex = *new std::mutex;
std::map<HANDLE, std::shared_ptr<ThreadObject>>& objects =
    *new std::map<HANDLE, std::shared_ptr<ThreadObject>>;
uintptr_t next_handle = 0x80000000u;

std::shared_ptr<ThreadObject> FindThread(HANDLE handle) {
  std::lock_guard<std::mutex> lock(objects_mutex);
  auto found = objects.find(handle);
  return found == objects.end() ? nullptr : found->second;
}

}  // namespace

bool CloseKernelObject(HANDLE object) {
  std::lock_guard<std::mutex> lock(objects_mutex);
  return objects.erase(object) != 0;
}

}  // namespace winplatform

using namespace winplatform;

extern "C" {

HANDLE CreateThread(void* security, SIZE_T stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD thread_id) {
  (void)security;
  (void)stack_size;
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<ThreadObject>();
  object->resumed = !(flags & CREATE_SUSPENDED);
  try {
    std::thread([object, start, parameter] {
      std::unique_lock<std::mutex> lock(object->mutex);
      object->id = GetCurrentThreadId();
      object->id_known = true;
      object->changed.notify_all();
      object->changed.wait(lock, [&] { return object->resumed; });
      lock.unlock();
      DWORD code = start(parameter);
      lock.lock();
      object->exit_code = code;
      object->ended = true;
      object->changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD id;
  {
    std::unique_lock<std::mutex> lock(object->mutex);
    object->changed.wait(lock, [&] { return object->id_known; });
    id = object->id;
  }
  if (thread_id) *thread_id = id;
  std::lock_guard<std::mutex> lock(objects_mutex);
  HANDLE handle = reinterpret_cast<HANDLE>(next_handle);
  next_handle += 4;
  objects.emplace(handle, std::move(object));
  return handle;
}

DWORD ResumeThread(HANDLE thread) {
  auto object = FindThread(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> lock(object->mutex);
  DWORD previous = object->resumed ? 0 : 1;
  object->resumed = true;
  object->changed.notify_all();
  return previous;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto object = FindThread(handle);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(object->mutex);
  if (milliseconds == INFINITE) {
    object->changed.wait(lock, [&] { return object->ended; });
    return WAIT_OBJECT_0;
  }
  bool ended = object->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                        [&] { return object->ended; });
  return ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  auto object = FindThread(thread);
  if (!object || !exit_code) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(object->mutex);
  *exit_code = object->exit_code;
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // extern "C"
