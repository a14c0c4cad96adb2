// The server's log lines: a timestamp, the text, one write per line under one lock, so lines
// from different connections never interleave.
#include "server/server_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace dunmarrow::server {
namespace {

std::mutex log_lock;
std::FILE* log_file = nullptr;  // null: standard error

}  // namespace

bool OpenServerLog(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) return false;
  std::lock_guard<std::mutex> hold(log_lock);
  if (log_file) std::fclose(log_file);
  log_file = file;
  return true;
}

void LogLine(std::string_view text) {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  std::lock_guard<std::mutex> hold(log_lock);
  std::FILE* out = log_file ? log_file : stderr;
  std::fprintf(out, "%s.%03dZ %.*s\n", stamp, static_cast<int>(millis.count()),
               static_cast<int>(text.size()), text.data());
  std::fflush(out);
}

}  // namespace dunmarrow::server
