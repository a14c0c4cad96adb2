// TkxInternetComponent: the owner of a hidden window and of the workers it starts, which it
// keeps in its registry until each leaves; the hand-overs of the workers' results to the
// owning thread; and TkxInternetComponentThread, the base of those workers.
#include "net/internet.h"
#include "net/network_internal.h"
#include "runtime/failure.h"

namespace dunmarrow {

using net_internal::kHandOverBell;
using net_internal::kWindowClass;
using net_internal::ModuleInstance;

TkxInternetComponent::TkxInternetComponent(bool blocking) : blocking_(blocking) {
  net_internal::EnsureWindowClass(&TkxInternetComponent::WindowProcedure);
  window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            ModuleInstance(), nullptr);
  if (!window_) RaiseOsError();
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  InitializeCriticalSection(&threads_lock_);
  InitializeCriticalSection(&hand_over_lock_);
}

TkxInternetComponent::~TkxInternetComponent() {
  StopThreads();
  DeleteCriticalSection(&hand_over_lock_);
  DeleteCriticalSection(&threads_lock_);
}

void TkxInternetComponent::StartThreads(const std::vector<TkxInternetComponentThread*>& workers) {
  for (size_t i = 0; i < workers.size(); ++i) {
    try {
      thread_handles_.reserve(thread_handles_.size() + 1);
      LockThreads();
      threads_.push_back(workers[i]);
      UnlockThreads();
    } catch (...) {
      UnlockThreads();
      for (size_t j = i; j < workers.size(); ++j) workers[j]->Free();  // never started
      throw;
    }
    thread_handles_.push_back(workers[i]->TakeHandle());
    workers[i]->Start();
  }
  WaitForThreads();
}

void TkxInternetComponent::WaitForThreads() {
  if (!blocking_) return;
  // The last worker to leave posts a message, so the wait always wakes to see it gone.
  while (HasThreads()) {
    if (!ProcessOneMessage()) WaitMessage();
  }
  // What the last workers queued after the bell was taken.
  TakeHandOvers();
  JoinEndedThreads();
}

void TkxInternetComponent::QueueHandOver(const TMessage& record, bool flush) {
  EnterCriticalSection(&hand_over_lock_);
  bool ring = false;
  if (!hand_overs_closed_) {
    try {
      hand_overs_.push_back(record);
    } catch (...) {
      flush = true;  // no room: let the owner take what waits, this record is lost
    }
    ring = !bell_rung_ && (flush || hand_overs_.size() >= kHandOverBatch);
    if (ring) bell_rung_ = true;
  }
  LeaveCriticalSection(&hand_over_lock_);
  if (ring) PostMessageA(window_, kHandOverBell, 0, 0);
}

void TkxInternetComponent::TakeHandOvers() {
  std::vector<TMessage> taken;
  EnterCriticalSection(&hand_over_lock_);
  taken.swap(hand_overs_);
  bell_rung_ = false;
  LeaveCriticalSection(&hand_over_lock_);
  for (TMessage& record : taken) {
    try {
      HandleMessage(record);
    } catch (...) {
      // As for a message of the window: a failure stops here.
    }
  }
}

void TkxInternetComponent::JoinEndedThreads() {
  for (HANDLE thread : thread_handles_) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  thread_handles_.clear();
}

bool TkxInternetComponent::HasThreads() {
  LockThreads();
  bool any = !threads_.empty();
  UnlockThreads();
  return any;
}

TkxInternetComponentThread* TkxInternetComponent::FirstThread() const {
  return threads_.empty() ? nullptr : threads_.front();
}

void TkxInternetComponent::RemoveThread(TkxInternetComponentThread* worker) {
  LockThreads();
  bool removed = false;
  for (auto it = threads_.begin(); it != threads_.end(); ++it) {
    if (*it == worker) {
      threads_.erase(it);
      removed = true;
      break;
    }
  }
  // The bell also wakes an owner that waits for the list to empty.
  if (removed && threads_.empty()) PostMessageA(window_, kHandOverBell, 0, 0);
  UnlockThreads();
}

void TkxInternetComponent::StopThreads() {
  if (stopped_) return;
  stopped_ = true;
  EnterCriticalSection(&hand_over_lock_);
  hand_overs_closed_ = true;
  hand_overs_.clear();
  LeaveCriticalSection(&hand_over_lock_);
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
  // Workers that are already freeing themselves are left to finish; the others are taken back
  // while the list is locked, so none of them can free itself meanwhile.
  std::vector<TkxInternetComponentThread*> claimed;
  LockThreads();
  for (auto* worker : threads_) {
    if (worker->SetFreeOnEnd(false)) claimed.push_back(worker);
  }
  UnlockThreads();
  MSG message;
  for (auto* worker : claimed) {
    worker->RequestStop();
    // A worker blocked in a hand-over to the released window is let go when this thread
    // takes the messages sent to it.
    while (!worker->WaitUntilEnded(1)) PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    worker->Free();
  }
  while (HasThreads()) {
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    Sleep(1);
  }
  JoinEndedThreads();
}

// --- TkxInternetComponentThread -------------------------------------------------------------

TkxInternetComponentThread::TkxInternetComponentThread(TkxInternetComponent* component,
                                                       std::string host)
    : component_(component), host_(std::move(host)) {
  SetFreeOnEnd(true);
}

void TkxInternetComponentThread::BeforeDestruction() {
  try {
    DoFinish();
  } catch (...) {
  }
  component_->RemoveThread(this);
}

}  // namespace dunmarrow
