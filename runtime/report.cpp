// Failure reports: the text with the failure address relative to the module, appended to the
// diagnostic log under its lock and sent to the client as a message.
#include "runtime/report.h"

#include <atomic>
#include <cstdio>

#include "platform/windows.h"
#include "runtime/locale_settings.h"

namespace dunmarrow {

namespace {

std::atomic<CRITICAL_SECTION*> log_lock{nullptr};

// Creates the lock on first use; two threads racing here end up sharing one lock.
CRITICAL_SECTION* LogLock() {
  CRITICAL_SECTION* lock = log_lock.load(std::memory_order_acquire);
  if (lock) return lock;
  auto* created = new CRITICAL_SECTION;
  InitializeCriticalSection(created);
  if (log_lock.compare_exchange_strong(lock, created, std::memory_order_acq_rel)) return created;
  DeleteCriticalSection(created);
  delete created;
  return lock;
}

class LockGuard {
 public:
  explicit LockGuard(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
  ~LockGuard() { LeaveCriticalSection(lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  CRITICAL_SECTION* lock_;
};

}  // namespace

std::string RuntimeAddressSuffix(const void* failure_address) {
  uintptr_t offset = reinterpret_cast<uintptr_t>(failure_address);
  HMODULE module = nullptr;
  if (failure_address &&
      GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(failure_address), &module) &&
      module) {
    offset -= reinterpret_cast<uintptr_t>(module);
  }
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, " (Runtime Addr: $%08X)",
                static_cast<unsigned>(offset & 0xFFFFFFFFu));
  return suffix;
}

int ReportProcError(SRV_PROC* srvproc, const std::string& text, const void* failure_address) {
  std::string report = text + RuntimeAddressSuffix(failure_address);
  AppendLogLine(kDiagnosticLog, report, true);
  srv_sendmsg(srvproc, SRV_MSG_INFO, 0, 0, 0, nullptr, 0, 0, const_cast<char*>(report.c_str()),
              static_cast<int>(report.size()));
  return -1;
}

void AppendLogLine(const std::string& file_name, const std::string& text, bool append) {
  if (text.empty()) return;
  LockGuard guard(LogLock());
  HANDLE file;
  if (append && GetFileAttributesA(file_name.c_str()) != INVALID_FILE_ATTRIBUTES) {
    file = CreateFileA(file_name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else {
    file = CreateFileA(file_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return;  // no log is better than a failed report
  SetFilePointer(file, 0, nullptr, FILE_END);
  std::string line = "[" + FormatLogTimestamp() + "] " + text + "\r\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

void DestroyLogLock() {
  CRITICAL_SECTION* lock = log_lock.exchange(nullptr);
  if (!lock) return;
  DeleteCriticalSection(lock);
  delete lock;
}

}  // namespace dunmarrow
