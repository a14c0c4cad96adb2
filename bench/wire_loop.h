// The limit of the wire for the TDS benchmarks: a plain TCP request/response exchange on
// loopback with given message sizes, against a server thread that answers each request of
// `request` bytes with `reply` bytes. No protocol, no work: only the sockets.
#pragma once

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace tds_bench {

class WireServer {
 public:
  WireServer(size_t request, size_t reply);
  WireServer(const WireServer&) = delete;
  WireServer& operator=(const WireServer&) = delete;
  ~WireServer();  // ends the thread: closes the listener it waits on

  int port() const { return port_; }

 private:
  void Serve();

  size_t request_, reply_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// One client connection of the plain exchange.
class WireClient {
 public:
  WireClient(size_t request, size_t reply) : out_(request, 'q'), in_(reply) {}
  WireClient(const WireClient&) = delete;
  WireClient& operator=(const WireClient&) = delete;
  ~WireClient();  // closes the socket

  bool Connect(int port);
  void Close();
  // Sends one request and reads its whole reply.
  bool Exchange();

 private:
  int fd_ = -1;
  std::string out_;
  std::vector<char> in_;
};

}  // namespace tds_bench
