// One connection of FreeTDS's DB-Library to the benchmarks' server, and the procedure calls the
// benchmarks make on it by RPC, the way an application would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct tds_dblib_dbprocess;

namespace tds_bench {

// The bytes one connection has sent and received so far, as the kernel counts them.
struct WireBytes {
  uint64_t sent = 0;
  uint64_t received = 0;
};

class TdsClient {
 public:
  TdsClient() = default;
  TdsClient(const TdsClient&) = delete;
  TdsClient& operator=(const TdsClient&) = delete;
  ~TdsClient();  // closes the socket, as any owner of one does

  // Connects to 127.0.0.1:port and logs in, with TLS for the whole connection or none.
  bool Open(int port, bool tls, std::string& error);
  void Close();

  // xp_FileExists of `path`: true when the call answered with status 1.
  bool FileExists(const std::string& path);
  // xp_ZCreate seeded with `bytes`: the buffer's handle, or -1.
  int ZCreate(const std::vector<uint8_t>& bytes);
  // xp_ZCompress of the buffer: the size of the compressed value, or 0 on failure.
  size_t ZCompress(int handle);

  WireBytes Bytes() const;

 private:
  // Sends the prepared RPC, reads every result; the return status, or -2 when it failed.
  int Finish(size_t* value_size);

  tds_dblib_dbprocess* process_ = nullptr;
};

// The last error or message DB-Library reported on any connection (for the benchmark's skip
// reason).
std::string LastDbLibError();

}  // namespace tds_bench
