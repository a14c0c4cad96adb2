// A `dunmarrow serve` started by the benchmarks themselves: a temporary drive root and logins
// file with one login granted everything, the server on a free loopback port, stopped by Stop()
// or, should the benchmark program die first, by the kernel (the child asks for SIGKILL when
// its parent goes).
#pragma once

#include <sys/types.h>

#include <string>

namespace tds_bench {

constexpr const char* kLogin = "bench";
constexpr const char* kPassword = "Bench-Password-18";

class ServedDrive {
 public:
  // Makes the drive root and the login, then starts the server with --encrypt `encrypt`
  // ("off" or "on"). On failure error() says why and port() is 0.
  explicit ServedDrive(const std::string& encrypt);
  ServedDrive(const ServedDrive&) = delete;
  ServedDrive& operator=(const ServedDrive&) = delete;
  // Only a guard: a server still running is killed (a signal, no I/O). Stop() is the way out.
  ~ServedDrive();

  // SIGTERM, waits for the exit, removes the temporary folder.
  void Stop();

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& error() const { return error_; }
  // The drive root's folder on this machine (c: is its "c" subfolder).
  const std::string& root() const { return root_; }

 private:
  std::string dir_, root_, error_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace tds_bench

namespace tds_bench {

// The servers the benchmarks share, started on first use (from the main thread, which outlives
// them): one without TLS and one offering it. A server that could not start has port 0.
ServedDrive& SharedServer(bool tls);
// Stops those that were started.
void StopSharedServers();

}  // namespace tds_bench
