// The network component layer: components that run their network work on worker threads and
// take the workers' results back on their own thread, and the cached lookups of IPv4
// addresses and host names that every network procedure shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/thread.h"
#include "platform/windows.h"

namespace dunmarrow {

// Module load and unload: Windows Sockets and the lock of the name cache. Start-up may run
// more than once (later runs do nothing); clean-up also destroys the cache.
void NetworkStartup();
void NetworkCleanup();

// Whether the text is an IPv4 address in dotted-decimal form (spaces anywhere are ignored;
// each field decimal, or hexadecimal after $, x or 0x, from 0 to 255).
bool IsDottedQuad(std::string_view text);
// The IPv4 address (network byte order) of a host name or dotted quad, 0 when it cannot be
// resolved. Names go through the cache; dotted quads are converted without it. Never raises.
uint32_t ResolveHostAddress(std::string_view host_name);
// A host name of an IPv4 address (network byte order): from the cache (lower case) or from the
// resolver (as it spells it); empty when there is none. Never raises.
std::string ResolveHostName(uint32_t address);
// The number of entries in the name cache.
size_t HostCacheCount();
inline constexpr size_t kHostCacheCapacity = 2000;

// Takes and dispatches at most one message of the calling thread (a WM_QUIT is taken and
// dropped); messages that other threads send to its windows are handled on the way. Returns
// whether a message was taken.
bool ProcessOneMessage();

// The message record a component's window passes on.
struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

class TkxInternetComponentThread;

class TkxInternetComponent {
 public:
  // Creates the hidden window on the calling thread, which owns the component from now on.
  explicit TkxInternetComponent(bool blocking);
  virtual ~TkxInternetComponent();
  TkxInternetComponent(const TkxInternetComponent&) = delete;
  TkxInternetComponent& operator=(const TkxInternetComponent&) = delete;

  // Every message of the hidden window, on the owning thread. It must not raise: a failure
  // is dropped here.
  virtual void HandleMessage(TMessage& message) = 0;

  // Registers and starts workers created suspended, in order; then WaitForThreads.
  void StartThreads(const std::vector<TkxInternetComponentThread*>& workers);
  // Blocking: takes the workers' hand-overs on this thread until no worker is registered, and
  // then those still queued; the wait sleeps while there is nothing to do. Not blocking:
  // returns at once.
  void WaitForThreads();
  bool HasThreads();

  HWND WindowHandle() const { return window_; }
  bool Blocking() const { return blocking_; }
  // The time limit of each single network request, milliseconds.
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t timeout) { timeout_ = timeout; }

 protected:
  // The list of workers and its lock (re-entrant).
  void LockThreads() { EnterCriticalSection(&threads_lock_); }
  void UnlockThreads() { LeaveCriticalSection(&threads_lock_); }
  // The first registered worker, or null; under the lock.
  TkxInternetComponentThread* FirstThread() const;

  // For a worker: queues a result for the owner and goes on without waiting for it. The
  // owner's HandleMessage receives the queued records on the owning thread, one at a time, in
  // the order they were queued. The owner is woken once for a batch: when kHandOverBatch
  // records wait, when `flush` is given, and when the last worker leaves. Records queued
  // after the component has stopped are dropped.
  void QueueHandOver(const TMessage& record, bool flush);
  static constexpr size_t kHandOverBatch = 32;
  // Releases the window (a worker blocked in a hand-over is released, unhandled) and stops
  // the workers still registered. Subclasses call it first in their destructors, so that no
  // worker outlives their fields; later calls do nothing.
  void StopThreads();

 private:
  friend class TkxInternetComponentThread;
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void RemoveThread(TkxInternetComponentThread* worker);
  // On the owning thread: every queued hand-over to HandleMessage.
  void TakeHandOvers();

  bool blocking_;
  int32_t timeout_ = 3000;
  HWND window_ = nullptr;
  bool stopped_ = false;
  CRITICAL_SECTION threads_lock_;
  std::vector<TkxInternetComponentThread*> threads_;
  // The queued hand-overs; the bell is the message that wakes the owner to take them.
  CRITICAL_SECTION hand_over_lock_;
  std::vector<TMessage> hand_overs_;
  bool bell_rung_ = false;
  bool hand_overs_closed_ = false;
  // The handles of the threads started, owned here: once a worker has left the list, the
  // owner still waits for its thread to end, so that no code of the module runs on it after
  // the call that started it has returned.
  std::vector<HANDLE> thread_handles_;
  void JoinEndedThreads();
};

class TkxInternetComponentThread : public TThread {
 public:
  // Created suspended, freed by itself when Run has returned.
  TkxInternetComponentThread(TkxInternetComponent* component, std::string host);

  TkxInternetComponent* Component() const { return component_; }
  const std::string& Host() const { return host_; }

 protected:
  // The work to do once when the worker ends, before it leaves its component's list.
  virtual void DoFinish() {}
  // DoFinish, then the removal from the component's list: the worker's last access to it.
  void BeforeDestruction() override;

 private:
  TkxInternetComponent* component_;
  std::string host_;
};

}  // namespace dunmarrow
