// TThread: the thread class the network workers derive from.
#pragma once

#include <atomic>

#include "platform/windows.h"

namespace dunmarrow {

class TThread {
 public:
  // Creates the thread suspended; raises the system-error failure when it cannot be created.
  TThread();
  // Waits for the thread to end (a thread never started ends without running Run) and
  // releases it. Run on the thread itself, when the machinery frees the object at its end.
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Lets the suspended thread run.
  void Start();
  // Only sets the flag that Run polls.
  void RequestStop() { stop_requested_.store(true); }
  bool StopRequested() const { return stop_requested_.load(); }
  // Blocks until the thread has ended, without a time limit.
  void WaitUntilEnded();
  // Waits at most the time given; whether the thread has ended.
  bool WaitUntilEnded(DWORD milliseconds);
  DWORD ThreadId() const { return id_; }

  // With FreeOnEnd the machinery frees the object on its own thread as soon as Run has
  // returned. Clearing it takes the object back; the result is false when the thread has
  // already begun to free it, and the object must then not be touched any more.
  bool FreeOnEnd() const { return end_state_.load() != kKeep; }
  bool SetFreeOnEnd(bool free_on_end);

  // BeforeDestruction, then the destructor.
  void Free();

  // Hands the thread's handle to the caller, who waits for the thread and closes the handle;
  // the object no longer closes it. Before Start.
  HANDLE TakeHandle();

 protected:
  // The thread body. A failure that escapes it ends here: it goes no further.
  virtual void Run() = 0;
  // The first step of Free, while the object is still whole.
  virtual void BeforeDestruction() {}

 private:
  enum EndState : int { kKeep, kFreeOnEnd, kFreeing };
  static DWORD WINAPI ThreadMain(LPVOID self);

  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
  bool started_ = false;
  bool handle_taken_ = false;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> stop_requested_{false};
  std::atomic<int> end_state_{kKeep};
};

}  // namespace dunmarrow
