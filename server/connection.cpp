// A connection's state machine: PRELOGIN, the TLS handshake inside PRELOGIN packets (then TLS
// for the whole connection, or for the login packet alone), LOGIN7, then requests on the
// connection's engine session until the client leaves. Any fault ends this connection alone,
// in one log line.
#include "server/connection.h"

#include <atomic>
#include <cstdio>

#include "platform/linux/server_policy.h"
#include "server/prepared_statements.h"
#include "server/server_log.h"
#include "server/tds/login7.h"
#include "server/tds/packet.h"
#include "server/tds/prelogin.h"
#include "server/tds/requests.h"
#include "server/tds/token_sink.h"
#include "server/tds/tokens.h"
#include "server/tds/type_decoding.h"
#include "tsql/session.h"
#include "tsql/text.h"

namespace dunmarrow::server {

using namespace tds;  // NOLINT: the protocol's names throughout
using Clock = std::chrono::steady_clock;

namespace {

const std::u16string& ServerName() {
  static const std::u16string name = tsql::Utf8ToWide(tsql::SessionState{}.server_name);
  return name;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// The connection ends without a fault of the protocol: the client left, or was refused.
struct Closed {};

}  // namespace

struct Connection::State {
  State(ByteStream& stream, const ConnectionSettings& settings)
      : raw(stream),
        settings(settings),
        current(&stream),
        reader(stream),
        writer(stream, static_cast<uint16_t>(settings.spid)) {}

  void Serve();
  // The messages before the login: PRELOGIN and TLS; the LOGIN7 message that follows.
  Message Prelogin();
  Message Handshake(Encryption encryption);
  void Login(const Message& message);
  void Request(const Message& message);
  void Rpc(RpcCall call, TokenSink& sink);
  void Transaction(const TransactionRequest& request, TokenSink& sink);
  void Reset(bool keep_transaction);
  // Between a request's events: whether the client cancelled (or went away, or broke the
  // protocol, which the request then ends for).
  bool PollAttention();
  void SendDone(uint16_t status);
  // A message of the login phase, within what is left of the login's time.
  std::optional<Message> ReadLoginMessage();
  void UseStream(ByteStream& stream) {
    current = &stream;
    reader.SetStream(stream);
    writer.SetStream(stream);
  }

  ByteStream& raw;
  const ConnectionSettings& settings;
  ByteStream* current;
  std::unique_ptr<ByteStream> secure;  // TLS for the whole connection
  PacketReader reader;
  PacketWriter writer;
  TdsVersion version;
  Clock::time_point login_deadline;
  bool logged_in = false;

  std::optional<tsql::Session> session;
  tsql::SessionState login_state;  // what a reset of the connection returns to
  std::string login;
  std::atomic<uint64_t> calls{0};
  PreparedStatements prepared;
  uint64_t next_transaction = 1;
  uint64_t transaction = 0;  // descriptor of the open transaction-manager transaction

  // Set while a request runs, by what the client sends meanwhile.
  bool attention = false;
  // The socket is asked again only after a pause: a call of a few microseconds would
  // otherwise spend more on these polls than on its work.
  static constexpr auto kAttentionPollInterval = std::chrono::milliseconds(1);
  Clock::time_point next_attention_poll;
  bool client_gone = false;
  std::string fault;
};

Connection::Connection(ByteStream& stream, ConnectionSettings settings)
    : stream_(stream),
      settings_(std::move(settings)),
      state_(std::make_unique<State>(stream_, settings_)) {}

Connection::~Connection() = default;

uint64_t Connection::Calls() const {
  return state_->calls.load();
}

const std::string& Connection::Login() const {
  return state_->login;
}

void Connection::Run() {
  std::string fault;
  try {
    state_->Serve();
  } catch (const Closed&) {
  } catch (const MessageTooLarge& e) {
    fault = e.what();
    // The client hears why before the connection closes.
    try {
      TokenSink sink(state_->writer, state_->version, ServerName(), nullptr);
      sink.Error(7119, 1, 16, tsql::Utf8ToWide(fault));
      sink.Done(token::kDone, done::kError, 0, 0);
      sink.Finish();
    } catch (...) {
    }
  } catch (const StreamTimeout& e) {
    fault = state_->logged_in ? std::string("idle timeout: ") + e.what()
                              : std::string("login timeout: ") + e.what();
  } catch (const std::exception& e) {
    fault = e.what();
  } catch (...) {
    fault = "unknown failure";
  }
  if (!fault.empty()) LogLine("connection " + settings_.peer + " ended: " + fault);
}

void Connection::State::Serve() {
  login_deadline = Clock::now() + settings.limits.login_timeout;
  Message login_message = Prelogin();
  Login(login_message);
  logged_in = true;
  for (;;) {
    current->SetReadTimeout(settings.limits.idle_timeout);
    std::optional<Message> m = reader.ReadMessage(settings.limits.max_message_bytes);
    if (!m) return;
    if (m->ignored) {
      SendDone(done::kError);
      continue;
    }
    switch (m->type) {
      case packet::kAttention:
        // Nothing runs: the acknowledgement alone.
        SendDone(done::kAttention);
        continue;
      case packet::kSqlBatch:
      case packet::kRpc:
      case packet::kTransaction:
        Request(*m);
        break;
      default:
        throw ProtocolError("a message of type " + Hex(m->type) + " after the login");
    }
    if (!fault.empty()) throw ProtocolError(fault);
    if (client_gone) throw ProtocolError("the client closed the connection during a request");
  }
}

std::optional<Message> Connection::State::ReadLoginMessage() {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(login_deadline - Clock::now());
  if (left.count() <= 0) throw StreamTimeout("the login took too long");
  current->SetReadTimeout(left);
  return reader.ReadMessage(settings.limits.max_message_bytes);
}

Message Connection::State::Prelogin() {
  std::optional<Message> m = ReadLoginMessage();
  if (!m) throw Closed{};
  bool tls = settings.tls != nullptr && settings.encrypt != EncryptMode::kOff;
  if (m->type == packet::kPrelogin) {
    tds::Prelogin prelogin = ParsePrelogin(m->payload);
    EncryptionChoice choice = ChooseEncryption(prelogin.encryption, settings.encrypt, tls);
    writer.Send(packet::kReply, PreloginReply(choice.answer));
    if (choice.refused) {
      LogLine("connection " + settings.peer + " refused: the client will not encrypt");
      throw Closed{};
    }
    if (choice.encryption != Encryption::kNone) return Handshake(choice.encryption);
    m = ReadLoginMessage();
    if (!m) throw ProtocolError("the client closed the connection before its login");
  } else if (tls && settings.encrypt == EncryptMode::kRequired) {
    throw ProtocolError("a login without PRELOGIN where encryption is required");
  }
  if (m->type != packet::kLogin7) {
    throw ProtocolError("a message of type " + Hex(m->type) + " before the login");
  }
  return std::move(*m);
}

Message Connection::State::Handshake(Encryption encryption) {
  std::unique_ptr<TlsHandshake> handshake = settings.tls->Accept();
  while (!handshake->Complete()) {
    std::optional<Message> flight = ReadLoginMessage();
    if (!flight) throw ProtocolError("the client closed the connection during the TLS handshake");
    if (flight->type != packet::kPrelogin) {
      throw ProtocolError("a message of type " + Hex(flight->type) + " during the TLS handshake");
    }
    std::vector<uint8_t> answer = handshake->Step(flight->payload);
    if (!answer.empty()) writer.Send(packet::kPrelogin, answer);
  }
  std::unique_ptr<ByteStream> tls = handshake->Secure(raw);
  if (encryption == Encryption::kFull) {
    secure = std::move(tls);
    UseStream(*secure);
    std::optional<Message> m = ReadLoginMessage();
    if (!m) throw ProtocolError("the client closed the connection before its login");
    if (m->type != packet::kLogin7) {
      throw ProtocolError("a message of type " + Hex(m->type) + " before the login");
    }
    return std::move(*m);
  }
  // Login-only: the first packet of the login under TLS, everything after in plain text.
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(login_deadline - Clock::now());
  tls->SetReadTimeout(std::max(left, std::chrono::milliseconds(1)));
  reader.SetStream(*tls);
  std::optional<Message> first = reader.ReadPacket();
  reader.SetStream(raw);
  tls.reset();
  if (!first) throw ProtocolError("the client closed the connection before its login");
  if (first->type != packet::kLogin7) {
    throw ProtocolError("a message of type " + Hex(first->type) + " before the login");
  }
  if (!(first->status & packet::kEndOfMessage)) {
    std::optional<Message> rest = ReadLoginMessage();
    if (!rest || rest->type != packet::kLogin7) {
      throw ProtocolError("a login message cut short");
    }
    if (first->payload.size() + rest->payload.size() > settings.limits.max_message_bytes) {
      throw MessageTooLarge("the login is larger than the connection allows");
    }
    first->payload.insert(first->payload.end(), rest->payload.begin(), rest->payload.end());
  }
  return std::move(*first);
}

void Connection::State::Login(const Message& message) {
  Login7 login7 = ParseLogin7(message.payload);
  std::optional<TdsVersion> negotiated = TdsVersion::Negotiate(login7.tds_version);
  if (negotiated) version = *negotiated;
  TokenSink sink(writer, version, ServerName(), nullptr);
  auto refuse = [&](int32_t number, uint8_t state, uint8_t severity, const std::string& text) {
    sink.Error(number, state, severity, tsql::Utf8ToWide(text));
    sink.Done(token::kDone, done::kError, 0, 0);
    sink.Finish();
    throw Closed{};
  };
  if (settings.refusal) refuse(17809, 1, 20, *settings.refusal);
  if (!negotiated) {
    LogLine("connection " + settings.peer + " refused: TDS version " + Hex(login7.tds_version) +
            " is not supported");
    refuse(18456, 1, 14, "Login failed: TDS versions before 7.1 are not supported.");
  }
  std::string name = tsql::WideToUtf8(login7.user);
  if (login7.integrated) {
    LogLine("connection " + settings.peer + " refused: integrated authentication");
    refuse(18452, 1, 14,
           "Login failed. The login is from an untrusted domain and cannot be used with "
           "Integrated authentication.");
  }
  std::optional<LoginIdentity> identity = settings.authenticator->Authenticate(
      name, tsql::WideToUtf8(login7.password), settings.peer_address);
  if (!identity) refuse(18456, 1, 14, "Login failed for user '" + name + "'.");
  std::string database = tsql::WideToUtf8(login7.database);
  if (!database.empty() && !tsql::EqualsNoCase(database, "master") && login7.DatabaseFatal()) {
    sink.Error(4060, 1, 11,
               tsql::Utf8ToWide("Cannot open database \"" + database +
                                "\" requested by the login. The login failed."));
    refuse(18456, 1, 14, "Login failed for user '" + name + "'.");
  }

  size_t packet_size = NegotiatePacketSize(login7.packet_size);
  Writer tokens;
  WriteLoginResponse(tokens, version, packet_size, login7.features, ServerName());
  sink.Tokens(tokens);
  sink.Done(token::kDone, 0, 0, 0);
  sink.Finish();
  if (!sink.Failure().empty()) throw StreamError(sink.Failure());
  writer.SetPacketSize(packet_size);

  winplatform::SetThreadUser(identity->name);
  tsql::SessionState state;
  state.spid = settings.spid;
  state.login = identity->name;
  state.permissions = identity->permissions;
  state.cancelled = [this] { return PollAttention(); };
  login_state = state;
  session.emplace(*settings.registry, std::move(state));
  login = identity->name;
}

bool Connection::State::PollAttention() {
  if (attention || client_gone || !fault.empty()) return true;
  Clock::time_point now = Clock::now();
  if (now < next_attention_poll) return false;
  next_attention_poll = now + kAttentionPollInterval;
  try {
    if (!current->ReadReady()) return false;
    std::optional<Message> m = reader.ReadMessage(settings.limits.max_message_bytes);
    if (!m) {
      client_gone = true;
    } else if (m->type == packet::kAttention) {
      attention = true;
    } else {
      fault = "a message of type " + Hex(m->type) + " while a request runs";
    }
  } catch (const std::exception& e) {
    fault = e.what();
  }
  return true;
}

void Connection::State::SendDone(uint16_t status) {
  Writer out;
  WriteDone(out, token::kDone, status, 0, 0, version);
  writer.Send(packet::kReply, out.Bytes());
}

void Connection::State::Reset(bool keep_transaction) {
  int trancount = session->State().trancount;
  session->State() = login_state;
  if (keep_transaction) {
    session->State().trancount = trancount;
  } else {
    transaction = 0;
  }
}

void Connection::State::Request(const Message& message) {
  attention = false;
  next_attention_poll = {};  // the first check of a request always asks
  TokenSink sink(writer, version, ServerName(), [this] { return PollAttention(); });
  if (message.status & (packet::kResetConnection | packet::kResetSkipTransaction)) {
    Reset(!(message.status & packet::kResetConnection));
    Writer reset;
    WriteEnvChangeBytes(reset, envchange::kResetConnection, {}, {});
    sink.Tokens(reset);
  }
  try {
    switch (message.type) {
      case packet::kSqlBatch: {
        std::string batch = ParseSqlBatch(message.payload, version);
        ++calls;
        session->RunBatch(batch, sink);
        break;
      }
      case packet::kRpc:
        for (RpcCall& call : ParseRpc(message.payload, version)) {
          if (sink.Cancelled() || PollAttention()) break;
          ++calls;
          Rpc(std::move(call), sink);
        }
        break;
      default:
        Transaction(ParseTransactionRequest(message.payload, version), sink);
        break;
    }
  } catch (const RequestError& e) {
    sink.Error(e.number, static_cast<uint8_t>(e.state), 16, tsql::Utf8ToWide(e.what()));
    sink.Done(message.type == packet::kRpc ? token::kDoneProc : token::kDone, done::kError, 0, 0);
  }
  sink.Finish();
  if (!sink.Failure().empty()) throw StreamError(sink.Failure());
  // The running call finished; the rest of the request did not run. The acknowledgement is a
  // message of its own.
  if (attention) SendDone(done::kAttention);
}

void Connection::State::Rpc(RpcCall call, TokenSink& sink) {
  std::vector<tsql::RpcParam>& params = call.params;
  std::string name = tsql::ToLowerAscii(tsql::ProcedureName(call.name));
  // The declarations of sp_executesql and sp_prepare(exec), with the date and time types as
  // the values of such parameters reach the engine.
  bool declares = name == "sp_executesql" || name == "sp_prepare" || name == "sp_prepexec";
  if (declares && params.size() > 1) {
    tsql::Value& declarations = params[1].value;
    if (!declarations.null && tsql::IsUnicode(declarations.type.id)) {
      declarations.wide = DeclarationsForEngine(declarations.wide);
    }
  }
  sink.BeginCall();
  if (!prepared.Run(*session, call.name, params, sink)) {
    session->Call(call.name, params, sink);
  }
  sink.EndCall();
}

void Connection::State::Transaction(const TransactionRequest& request, TokenSink& sink) {
  int& trancount = session->State().trancount;
  auto descriptor = [](uint64_t d) {
    std::vector<uint8_t> bytes(8);
    for (size_t i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(d >> (8 * i));
    return bytes;
  };
  auto begin = [&] {
    ++trancount;
    transaction = next_transaction++;
    Writer out;
    WriteEnvChangeBytes(out, envchange::kBeginTransaction, descriptor(transaction), {});
    sink.Tokens(out);
  };
  switch (request.kind) {
    case TransactionRequest::Kind::kBegin:
      begin();
      break;
    case TransactionRequest::Kind::kCommit:
    case TransactionRequest::Kind::kRollback: {
      bool commit = request.kind == TransactionRequest::Kind::kCommit;
      if (trancount == 0) {
        std::string text = std::string("The ") + (commit ? "COMMIT" : "ROLLBACK") +
                           " TRANSACTION request has no corresponding BEGIN TRANSACTION.";
        sink.Error(commit ? 3902 : 3903, 1, 16, tsql::Utf8ToWide(text));
        sink.Done(token::kDone, done::kError, 0, 0);
        return;
      }
      // COMMIT unnests one level, ROLLBACK ends them all.
      trancount = commit ? trancount - 1 : 0;
      if (trancount == 0) {
        Writer out;
        WriteEnvChangeBytes(
            out, commit ? envchange::kCommitTransaction : envchange::kRollbackTransaction, {},
            descriptor(transaction));
        sink.Tokens(out);
        transaction = 0;
      }
      if (request.begin_after) begin();
      break;
    }
    case TransactionRequest::Kind::kOther:
      sink.Error(
          0, 1, 16,
          tsql::Utf8ToWide("The transaction manager request " + std::to_string(request.type) +
                           " is not supported: the server has no distributed "
                           "transactions."));
      sink.Done(token::kDone, done::kError, 0, 0);
      return;
  }
  sink.Done(token::kDone, 0, 0, 0);
}

}  // namespace dunmarrow::server
