#include "net/internet.h"

#include <atomic>
#include <cstring>

#include "runtime/failure.h"
#include "runtime/module_steps.h"

namespace dunmarrow {
namespace {

// --- Windows Sockets and the name cache -----------------------------------------------------

struct HostCacheEntry {
  std::string name;  // lower case
  uint32_t address;  // network byte order
};

bool network_started = false;
CRITICAL_SECTION host_cache_lock;
std::vector<HostCacheEntry>* host_cache = nullptr;

class HostCacheGuard {
 public:
  HostCacheGuard() { EnterCriticalSection(&host_cache_lock); }
  ~HostCacheGuard() { LeaveCriticalSection(&host_cache_lock); }
  HostCacheGuard(const HostCacheGuard&) = delete;
  HostCacheGuard& operator=(const HostCacheGuard&) = delete;
};

std::vector<HostCacheEntry>& HostCache() {
  if (!host_cache) host_cache = new std::vector<HostCacheEntry>;
  return *host_cache;
}

// Flushed whole when full, rather than aged.
void AddToHostCache(std::string name, uint32_t address) {
  auto& cache = HostCache();
  if (cache.size() >= kHostCacheCapacity) cache.clear();
  cache.push_back(HostCacheEntry{std::move(name), address});
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// One field of a dotted quad as an integer: an optional sign, then decimal digits, or
// hexadecimal digits after $, x, X, 0x or 0X. False when it does not convert.
bool ConvertField(std::string_view field, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  unsigned base = 10;
  if (i < field.size() && (field[i] == '$' || field[i] == 'x' || field[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < field.size() && field[i] == '0' &&
             (field[i + 1] == 'x' || field[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == field.size()) return false;
  uint64_t magnitude = 0;
  for (; i < field.size(); ++i) {
    char c = field[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    magnitude = magnitude * base + digit;
    if (magnitude > 0xFFFFFFFFu) return false;
  }
  value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// --- The component's window -----------------------------------------------------------------

constexpr char kWindowClass[] = "DunmarrowInternetComponent";
// Posted to a component's window when queued hand-overs wait for its owner.
constexpr UINT kHandOverBell = WM_USER + 0x100;
std::atomic<bool> window_class_registered{false};

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
  HostCacheGuard guard;
  if (window_class_registered.load()) return;
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = ModuleInstance();
  window_class.lpszClassName = kWindowClass;
  if (RegisterClassA(&window_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
    window_class_registered.store(true);
  }
}

}  // namespace

void NetworkStartup() {
  if (network_started) return;
  network_started = true;
  WSADATA data;
  WSAStartup(MAKEWORD(1, 2), &data);  // the result does not matter: lookups then fail
  InitializeCriticalSection(&host_cache_lock);
}

void NetworkCleanup() {
  if (!network_started) return;
  network_started = false;
  if (window_class_registered.exchange(false)) UnregisterClassA(kWindowClass, ModuleInstance());
  DeleteCriticalSection(&host_cache_lock);
  delete host_cache;
  host_cache = nullptr;
  WSACleanup();
}

namespace {

// The four fields of a dotted quad as IsDottedQuad reads them (spaces dropped, each decimal,
// octal or hexadecimal); false when the text is no dotted quad.
bool DottedQuadFields(std::string_view text, int64_t (&fields)[4]) {
  std::string rest;
  rest.reserve(text.size() + 1);
  for (char c : text) {
    if (c != ' ') rest += c;
  }
  rest += '.';
  for (int field = 0; field < 4; ++field) {
    size_t dot = rest.find('.');
    int64_t value = 256;
    if (dot == std::string::npos || !ConvertField(std::string_view(rest).substr(0, dot), value)) {
      value = 256;
    }
    if (value < 0 || value >= 256) return false;
    fields[field] = value;
    rest.erase(0, dot + 1);
  }
  return rest.empty();
}

}  // namespace

bool IsDottedQuad(std::string_view text) {
  int64_t fields[4];
  return DottedQuadFields(text, fields);
}

uint32_t ResolveHostAddress(std::string_view host_name) {
  HostCacheGuard guard;
  try {
    // A name with a NUL in it could only be cut short; no host has such a name.
    if (host_name.empty() || host_name.find('\0') != std::string_view::npos) return 0;
    int64_t fields[4];
    if (DottedQuadFields(host_name, fields)) {
      // inet_addr answers INADDR_NONE also for a quad it cannot read ("127.0.0.08",
      // "127. 0. 0. 1", "+127.0.0.1"): such a text is no address, not 255.255.255.255.
      ULONG address = inet_addr(std::string(host_name).c_str());
      bool all_ones = fields[0] == 255 && fields[1] == 255 && fields[2] == 255 && fields[3] == 255;
      return address == INADDR_NONE && !all_ones ? 0 : address;
    }
    std::string name = LowerAscii(host_name);
    for (const auto& entry : HostCache()) {
      if (entry.name == name) return entry.address;
    }
    hostent* host = gethostbyname(name.c_str());
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
        !host->h_addr_list[0]) {
      return 0;
    }
    uint32_t address;
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    AddToHostCache(std::move(name), address);
    return address;
  } catch (...) {
    return 0;
  }
}

std::string ResolveHostName(uint32_t address) {
  HostCacheGuard guard;
  try {
    for (const auto& entry : HostCache()) {
      if (entry.address == address) return entry.name;
    }
    hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    if (!host || !host->h_name) return std::string();
    std::string name = host->h_name;
    AddToHostCache(LowerAscii(name), address);
    return name;
  } catch (...) {
    return std::string();
  }
}

size_t HostCacheCount() {
  HostCacheGuard guard;
  return host_cache ? host_cache->size() : 0;
}

bool ProcessOneMessage() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message != WM_QUIT) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

// --- TkxInternetComponent -------------------------------------------------------------------

TkxInternetComponent::TkxInternetComponent(bool blocking) : blocking_(blocking) {
  EnsureWindowClass(&TkxInternetComponent::WindowProcedure);
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

LRESULT CALLBACK TkxInternetComponent::WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                                       LPARAM lparam) {
  auto* component =
      reinterpret_cast<TkxInternetComponent*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!component) return DefWindowProcA(window, message, wparam, lparam);
  if (message == kHandOverBell) {
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

DUNMARROW_MODULE_STEPS(kNetwork, NetworkStartup, NetworkCleanup)

}  // namespace dunmarrow
