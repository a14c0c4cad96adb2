// A `dunmarrow serve` of the test's own: started on a free loopback port with a temporary
// logins file and drive root, watched through /proc, stopped with SIGTERM (SIGKILL after a
// while) whatever happens to the test.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace dunmarrow::load {

struct ProcessCounts {
  long rss_kib = 0;  // VmRSS
  size_t threads = 0;
  size_t fds = 0;
};

class ServerProcess {
 public:
  // Makes `work` afresh: drive root, a logins file with `user`/`password` (work factor
  // `iterations`) granted every procedure, then starts the server. Throws when it cannot.
  ServerProcess(const std::string& dunmarrow, const std::string& module,
                const std::filesystem::path& work, const std::string& user,
                const std::string& password, const std::vector<std::string>& extra_args);
  // Stops the server if Stop() was not called.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::filesystem::path& drive_root() const { return drive_root_; }
  ProcessCounts Counts() const;
  // The server's log so far, line by line.
  std::vector<std::string> LogLines() const;
  // SIGTERM, then SIGKILL after `grace_seconds`; the exit status (128 + signal when killed).
  int Stop(int grace_seconds);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::filesystem::path drive_root_;
  std::filesystem::path log_;
};

}  // namespace dunmarrow::load
