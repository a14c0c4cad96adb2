// Failures: one exception class carries the message of every failure a procedure reports,
// together with the code address where it was raised.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>

namespace dunmarrow {

class Exception {
 public:
  // The address is that of the code which constructed the failure.
  explicit Exception(std::string message);
  Exception(std::string message, const void* address)
      : message_(std::move(message)), address_(address) {}
  virtual ~Exception() = default;

  const std::string& Message() const { return message_; }
  const void* Address() const { return address_; }

 private:
  std::string message_;
  const void* address_;
};

inline constexpr const char kInvalidParamsMessage[] = "Invalid list of parameters.";
inline constexpr const char kRangeErrorMessage[] = "Range check error";
inline constexpr const char kOverflowMessage[] = "Integer overflow";
inline constexpr const char kOutOfMemoryMessage[] = "Out of memory";
inline constexpr const char kOsCallFailedMessage[] = "A call to an OS function failed";

// Each raises at the address of its caller.
[[noreturn]] void RaiseInvalidParams();
[[noreturn]] void RaiseRangeError();
[[noreturn]] void RaiseOverflow();
// The system-error failure for the thread's last-error code.
[[noreturn]] void RaiseOsError();
// Returns result unless it is 0, in which case it raises the system-error failure.
int32_t CheckOsResult(int32_t result);

// The text of the system-error failure for a code: "System Error.  Code: %d.\r\n%s", or
// "A call to an OS function failed" for code 0.
std::string OsErrorMessage(uint32_t code);

// value converted to To, raising the range failure when it does not fit.
template <typename To, typename From>
To CheckedNarrow(From value) {
  static_assert(std::is_integral_v<To> && std::is_integral_v<From>);
  if (!std::in_range<To>(value)) RaiseRangeError();
  return static_cast<To>(value);
}

}  // namespace dunmarrow
