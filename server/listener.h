// The listening sockets and the connections they accept: one thread per connection, each
// running the server's handler over the connection's socket, until the server stops.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/byte_stream.h"
#include "server/listen_address.h"

namespace dunmarrow::server {

// A bound, listening TCP socket.
class Listener {
 public:
  // Binds and listens (an IPv6 address takes IPv6 alone); null and `error` when it cannot.
  static std::unique_ptr<Listener> Open(const ListenAddress& address, std::string& error);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int fd() const { return fd_; }
  // The address as bound: with the port the system chose for port 0.
  const ListenAddress& address() const { return address_; }

 private:
  Listener(int fd, ListenAddress address) : fd_(fd), address_(std::move(address)) {}
  int fd_;
  ListenAddress address_;
};

// What the handler learns of a connection it serves.
struct Accepted {
  std::string peer;          // "192.0.2.1:50000", "[2001:db8::1]:50000"
  std::string peer_address;  // the address alone
  size_t listener = 0;       // index of the listener that accepted it
  int spid = 0;              // 51 upwards, unique among the live connections
  bool over_limit = false;   // the server already serves its most: refuse the login
};

class ConnectionServer {
 public:
  // Serves one connection on its own thread; returns when it is over.
  using Handler = std::function<void(ByteStream& stream, const Accepted& connection)>;

  ConnectionServer(std::vector<std::unique_ptr<Listener>> listeners, size_t max_connections,
                   Handler handler);
  ~ConnectionServer();
  ConnectionServer(const ConnectionServer&) = delete;
  ConnectionServer& operator=(const ConnectionServer&) = delete;

  // Accepts connections until Stop(). Then closes the listeners, ends the reading side of
  // every live connection (each ends after the request it is serving) and joins every
  // connection's thread.
  void Run();
  // Makes Run return; safe from a signal handler.
  void Stop();

  // Connections served or being refused right now.
  size_t Live() const;

 private:
  struct Slot {
    std::thread thread;
    int fd = -1;  // -1 once the connection's socket is closed (or about to be)
    Accepted info;
    bool finished = false;
  };

  void Accept(size_t index);
  void Serve(Slot* slot);
  void Reap();  // joins the threads that finished
  void Wake();

  std::vector<std::unique_ptr<Listener>> listeners_;
  size_t max_connections_;
  Handler handler_;
  int wake_[2] = {-1, -1};  // a byte on the pipe: Stop() was called or a connection ended
  std::atomic<bool> stopping_{false};

  mutable std::mutex lock_;  // guards the slots' fd and finished, the spids and the counts
  std::list<Slot> slots_;    // added and removed by Run's thread alone
  std::set<int> spids_;
  size_t served_ = 0;    // live connections within the limit
  size_t refusing_ = 0;  // live connections being refused
};

}  // namespace dunmarrow::server
