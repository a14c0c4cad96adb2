// Stand-in for the TDS connection until its branch is merged: closes every connection at once.
#include "server/connection.h"

#include "server/server_log.h"

namespace dunmarrow::server {

struct Connection::State {};

Connection::Connection(ByteStream& stream, ConnectionSettings settings)
    : stream_(stream), settings_(std::move(settings)) {}
Connection::~Connection() = default;

void Connection::Run() {
  LogLine("connection from " + settings_.peer + " closed: this build does not speak TDS");
}

uint64_t Connection::Calls() const {
  return 0;
}

const std::string& Connection::Login() const {
  static const std::string none;
  return none;
}

}  // namespace dunmarrow::server
