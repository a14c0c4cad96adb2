// The requests of a logged-in client: SQL batches, RPC requests (one or more calls per
// message) and transaction-manager requests, each after ALL_HEADERS from TDS 7.2 on.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "server/tds/version.h"
#include "tsql/session.h"

namespace dunmarrow::server::tds {

// The batch's text, as UTF-8.
std::string ParseSqlBatch(std::span<const uint8_t> payload, TdsVersion version);

// The procedures that clients call by number.
namespace proc_id {
constexpr uint16_t kExecuteSql = 10;
constexpr uint16_t kPrepare = 11;
constexpr uint16_t kExecute = 12;
constexpr uint16_t kPrepExec = 13;
constexpr uint16_t kUnprepare = 15;
}  // namespace proc_id

struct RpcCall {
  std::string name;      // UTF-8: as sent, or the name of the well-known procedure id
  uint16_t proc_id = 0;  // 0: called by name
  std::vector<tsql::RpcParam> params;
};

// Every call of the message. ProtocolError for a malformed one; RequestError (type_decoding.h)
// for a parameter the engine cannot take.
std::vector<RpcCall> ParseRpc(std::span<const uint8_t> payload, TdsVersion version);

struct TransactionRequest {
  enum class Kind { kBegin, kCommit, kRollback, kOther };
  Kind kind = Kind::kOther;
  uint16_t type = 0;
  bool begin_after = false;  // commit or rollback that begins a new transaction
};

TransactionRequest ParseTransactionRequest(std::span<const uint8_t> payload, TdsVersion version);

}  // namespace dunmarrow::server::tds
