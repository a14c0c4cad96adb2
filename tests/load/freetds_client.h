// A connection through FreeTDS's db-lib, a client we did not write: login, SQL batches with
// their rows read back as text, and RPC calls with their return status.
#pragma once

#include <string>
#include <vector>

namespace dunmarrow::load {

using Row = std::vector<std::string>;  // binary values as upper-case hexadecimal

// Once per process, before any connection (FREETDSCONF set by then names the servers).
void InitFreeTds();
// Once at the end, when no connection is left: db-lib frees what it holds.
void EndFreeTds();

class FreeTdsConnection {
 public:
  // Logs in to `server` (a section of the configuration, or "host:port"); ok() tells whether
  // it did, error() why not.
  FreeTdsConnection(const std::string& server, const std::string& user,
                    const std::string& password);
  ~FreeTdsConnection();
  FreeTdsConnection(const FreeTdsConnection&) = delete;
  FreeTdsConnection& operator=(const FreeTdsConnection&) = delete;

  bool ok() const { return process_ != nullptr; }
  const std::string& error() const { return error_; }

  // Runs a batch; the rows of all its result sets, or nothing and error() on a failure.
  bool Batch(const std::string& sql, std::vector<Row>& rows);
  // Calls a procedure by RPC with text inputs (db-lib sends them as nvarchar); its return
  // status.
  bool Call(const std::string& procedure, const std::vector<std::string>& inputs, int& status);

 private:
  bool Results(std::vector<Row>* rows);
  void* process_ = nullptr;  // DBPROCESS*
  std::string error_;
};

}  // namespace dunmarrow::load
