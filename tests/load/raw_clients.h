// Clients on raw sockets, with TDS messages built by hand: the hostile connections (killed in
// the middle of a message, of the TLS handshake or of a result, a trickle of bytes, one that
// never reads, lying lengths, garbage after the login) and failed logins from another
// loopback address.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace dunmarrow::load {

// The loopback address the hostile connections come from: their log lines are told apart
// from the FreeTDS clients', whose ports the system gives out again and again.
inline constexpr char kHostileSource[] = "127.0.0.3";

struct RawTarget {
  int port = 0;
  std::string user;
  std::string password;
};

// What one hostile connection was: its name and the local port the server saw it from.
struct HostileRun {
  std::string name;
  int local_port = 0;
  std::string failure;  // empty when the client side went as planned
};

// The hostile kinds, each run once in order; `slow` includes the trickle and the client that
// never reads (seconds each).
std::vector<HostileRun> RunHostileRound(const RawTarget& target, bool slow);

// A login with a wrong password from `source` (a loopback address): whether the server
// answered 18456, and how long the answer took.
bool FailedLogin(const RawTarget& target, const std::string& source,
                 std::chrono::milliseconds& took);

}  // namespace dunmarrow::load
