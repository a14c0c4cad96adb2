// The policy a server host sets for the module's calls: the allowed roots every file function
// checks, the user of each thread, and the per-user cap on compression buffers.
#include "platform/linux/server_policy.h"

#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "platform/linux/drives.h"
#include "platform/linux/errors.h"
#include "platform/linux/policy.h"
#include "platform/linux/text.h"
#include "platform/linux/users.h"

namespace winplatform {
namespace {

constexpr const char kDiagnosticLog[] = "c:\\Wexcombe.log";

std::shared_mutex roots_lock;
// Resolved, without a trailing separator; null: no restriction.
std::shared_ptr<const std::vector<std::string>> roots;
thread_local std::string thread_user;
std::atomic<uint64_t> buffer_limit{0};

// The path with `.` and `..` taken lexically, as an absolute path.
std::string Lexical(const std::string& path) {
  std::filesystem::path p(path);
  std::error_code error;
  if (p.is_relative()) p = std::filesystem::absolute(p, error);
  std::string normal = p.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

// The real path, or empty with the reason in `error`.
std::string RealPath(const std::string& path, int& error) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) {
    error = errno;
    return std::string();
  }
  std::string out = real;
  free(real);
  return out;
}

// Where a path leads: the real path of its longest existing part, the rest appended. Empty
// when a part that exists cannot be resolved (a dangling or looping link, no permission to
// look): such a path is refused.
std::string Resolve(const std::string& path) {
  std::string whole = Lexical(path);
  std::string existing = whole, rest;
  while (true) {
    int error = 0;
    std::string real = RealPath(existing, error);
    if (!real.empty()) return rest.empty() ? real : Lexical(real + "/" + rest);
    // Only a part that is not there is taken as written; one that is there but leads nowhere
    // (a dangling link) is refused.
    struct stat st;
    if ((error != ENOENT && error != ENOTDIR) || lstat(existing.c_str(), &st) == 0 ||
        existing == "/")
      return "";
    size_t slash = existing.rfind('/');
    std::string last = existing.substr(slash + 1);
    rest = rest.empty() ? last : last + "/" + rest;
    existing = slash == 0 ? "/" : existing.substr(0, slash);
  }
}

bool IsUnder(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/');
}

}  // namespace

void SetAllowedRoots(const std::vector<std::string>& directories) {
  std::shared_ptr<std::vector<std::string>> next;
  if (!directories.empty()) {
    next = std::make_shared<std::vector<std::string>>();
    for (const std::string& directory : directories) {
      // A root that leads nowhere allows nothing.
      std::string resolved = Resolve(directory);
      if (!resolved.empty()) next->push_back(resolved);
    }
  }
  std::unique_lock hold(roots_lock);
  roots = std::move(next);
}

bool IsAllowedHostPath(const std::string& host_path) {
  std::shared_ptr<const std::vector<std::string>> current;
  {
    std::shared_lock hold(roots_lock);
    current = roots;
  }
  if (!current) return true;
  std::string resolved = Resolve(host_path);
  if (resolved.empty()) return false;
  for (const std::string& root : *current) {
    if (IsUnder(resolved, root)) return true;
  }
  // The module's diagnostic log, in the drive root, is written whatever the roots.
  return resolved == Resolve(MapPath(kDiagnosticLog, false));
}

void SetThreadUser(const std::string& login) {
  thread_user = login;
}

std::string ThreadUser() {
  if (!thread_user.empty()) return thread_user;
  struct passwd entry, *found = nullptr;
  char text[1024];
  if (getpwuid_r(geteuid(), &entry, text, sizeof text, &found) == 0 && found) return found->pw_name;
  return std::to_string(geteuid());
}

void SetUserBufferLimit(uint64_t bytes) {
  buffer_limit = bytes;
}

uint64_t UserBufferLimit() {
  return buffer_limit;
}

}  // namespace winplatform

extern "C" {

BOOL GetUserNameW(LPWSTR buffer, LPDWORD size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string name = winplatform::Utf8ToUtf16(winplatform::ThreadUser());
  DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = u'\0';
  *size = needed;
  return TRUE;
}

BOOL QueryInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS info_class, LPVOID info, DWORD length,
                               LPDWORD return_length) {
  if (job || info_class != JobObjectExtendedLimitInformation || !info ||
      length < sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION answer{};
  uint64_t limit = winplatform::UserBufferLimit();
  if (limit) {
    answer.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_JOB_MEMORY;
    answer.JobMemoryLimit = static_cast<SIZE_T>(limit);
  }
  std::memcpy(info, &answer, sizeof answer);
  if (return_length) *return_length = sizeof answer;
  return TRUE;
}

}  // extern "C"
