// The engine's results as a TDS reply: each Sink event becomes its tokens, streamed into
// packets as they fill. A DONE is held back until the next token shows whether more follow, so
// that the last one goes out without DONE_MORE. Between events it asks whether the client has
// sent an attention; from then on the reply takes nothing more and ends at a token boundary.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/tds/packet.h"
#include "server/tds/type_encoding.h"
#include "server/tds/version.h"
#include "server/tds/wire.h"
#include "tsql/sink.h"

namespace dunmarrow::server::tds {

class TokenSink : public tsql::Sink {
 public:
  // `attention` is asked between events; true: the client cancelled the request.
  TokenSink(PacketWriter& writer, TdsVersion version, std::u16string server_name,
            std::function<bool()> attention);

  void Columns(const std::vector<tsql::Column>& columns) override;
  void Row(const std::vector<tsql::Value>& values) override;
  void Info(const tsql::Message& message) override;
  void ReturnStatus(int32_t status) override;
  void Output(const tsql::OutputParam& param) override;
  void End(const tsql::Done& done) override;
  void DatabaseChanged(std::string_view name) override;

  // Tokens the connection writes itself (ENVCHANGE, its own errors).
  void Tokens(Writer& tokens) { Emit(tokens); }
  void Error(int32_t number, uint8_t state, uint8_t severity, std::u16string_view text);
  void Done(uint8_t token, uint16_t status, uint16_t command, uint64_t count);

  // Around a procedure called by RPC: the procedures it runs in turn end in DONEINPROC, and
  // the call itself in DONEPROC.
  void BeginCall() { in_call_ = true; }
  void EndCall();

  // Ends the reply: the held DONE without DONE_MORE (a DONE of its own when there is none),
  // in the last packet.
  void Finish();
  // Whether the client cancelled; the reply then stops taking tokens.
  bool Cancelled() const { return cancelled_; }
  // The stream failed while the reply was written: why. Nothing is written after.
  const std::string& Failure() const { return failure_; }

 private:
  void Emit(Writer& tokens);
  bool Stopped();

  PacketWriter& writer_;
  TdsVersion version_;
  std::u16string server_name_;
  std::function<bool()> attention_;
  std::vector<tsql::Column> columns_;
  std::vector<WireType> wires_;
  std::vector<uint8_t> held_done_;
  bool in_call_ = false;
  bool cancelled_ = false;
  std::string failure_;
};

}  // namespace dunmarrow::server::tds
