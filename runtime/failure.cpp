// Failures: the one exception class of the module, raised with the code address of the caller
// so that a report can name where it happened.
#include "runtime/failure.h"

#include <cstdio>

#include "platform/windows.h"

namespace dunmarrow {

// Not inlined, so that the return address lies in the code that raised the failure.
__attribute__((noinline)) Exception::Exception(std::string message)
    : message_(std::move(message)), address_(__builtin_return_address(0)) {}

__attribute__((noinline)) void RaiseInvalidParams() {
  throw Exception(kInvalidParamsMessage, __builtin_return_address(0));
}

__attribute__((noinline)) void RaiseRangeError() {
  throw Exception(kRangeErrorMessage, __builtin_return_address(0));
}

__attribute__((noinline)) void RaiseOverflow() {
  throw Exception(kOverflowMessage, __builtin_return_address(0));
}

std::string OsErrorMessage(uint32_t code) {
  if (code == 0) return kOsCallFailedMessage;
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  // Drop trailing blanks, control characters and full stops ("...specified.\r\n").
  while (length > 0 &&
         (static_cast<unsigned char>(text[length - 1]) <= ' ' || text[length - 1] == '.')) {
    --length;
  }
  char head[64];
  std::snprintf(head, sizeof head, "System Error.  Code: %d.\r\n", static_cast<int32_t>(code));
  return std::string(head) + std::string(text, length);
}

__attribute__((noinline)) void RaiseOsError() {
  const void* address = __builtin_return_address(0);
  throw Exception(OsErrorMessage(GetLastError()), address);
}

__attribute__((noinline)) int32_t CheckOsResult(int32_t result) {
  if (result == 0) throw Exception(OsErrorMessage(GetLastError()), __builtin_return_address(0));
  return result;
}

}  // namespace dunmarrow
