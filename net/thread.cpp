// TThread: the thread class the network workers derive from (created suspended, started,
// asked to stop, freeing itself at its end when so set).
#include "net/thread.h"

#include "runtime/failure.h"

namespace dunmarrow {

TThread::TThread() {
  handle_ = CreateThread(nullptr, 0, &TThread::ThreadMain, this, CREATE_SUSPENDED, &id_);
  if (!handle_) RaiseOsError();
}

TThread::~TThread() {
  if (GetCurrentThreadId() != id_) {
    if (!started_) {
      cancelled_.store(true);
      ResumeThread(handle_);
    }
    WaitForSingleObject(handle_, INFINITE);
  }
  if (!handle_taken_) CloseHandle(handle_);
}

HANDLE TThread::TakeHandle() {
  handle_taken_ = true;
  return handle_;
}

void TThread::Start() {
  if (started_) return;
  started_ = true;
  ResumeThread(handle_);
}

void TThread::WaitUntilEnded() {
  if (GetCurrentThreadId() != id_) WaitForSingleObject(handle_, INFINITE);
}

bool TThread::WaitUntilEnded(DWORD milliseconds) {
  if (GetCurrentThreadId() == id_) return false;
  return WaitForSingleObject(handle_, milliseconds) == WAIT_OBJECT_0;
}

bool TThread::SetFreeOnEnd(bool free_on_end) {
  int expected = free_on_end ? kKeep : kFreeOnEnd;
  if (end_state_.compare_exchange_strong(expected, free_on_end ? kFreeOnEnd : kKeep)) return true;
  return expected != kFreeing;
}

void TThread::Free() {
  // The object goes even when BeforeDestruction fails.
  struct Deleter {
    TThread* thread;
    ~Deleter() { delete thread; }
  } deleter{this};
  BeforeDestruction();
}

DWORD WINAPI TThread::ThreadMain(LPVOID parameter) {
  auto* self = static_cast<TThread*>(parameter);
  if (self->cancelled_.load()) return 0;
  try {
    self->Run();
  } catch (...) {
    // Contained: a worker's failure reaches neither its component nor the procedure.
  }
  int expected = kFreeOnEnd;
  if (self->end_state_.compare_exchange_strong(expected, kFreeing)) {
    try {
      self->Free();
    } catch (...) {
    }
  }
  return 0;
}

}  // namespace dunmarrow
