// A session's requests: batches of T-SQL text and procedure calls by RPC, each reported to the
// sink that came with it.
#include "tsql/session.h"

#include <atomic>
#include <new>

#include "tsql/errors.h"
#include "tsql/interpreter.h"
#include "tsql/lexer.h"

namespace dunmarrow::tsql {

namespace {

// Session ids as the server numbers user sessions: from 51.
std::atomic<int> next_spid{51};

}  // namespace

std::string ProcedureName(std::string_view qualified) {
  try {
    std::vector<Token> tokens = Tokenize(qualified);
    std::string last;
    bool expect_name = true;
    for (const Token& t : tokens) {
      if (t.kind == TokenKind::kEnd) break;
      if (t.kind == TokenKind::kIdentifier && expect_name) {
        last = t.text;
        expect_name = false;
      } else if (t.Is(".")) {
        expect_name = true;
      } else {
        return std::string(qualified);
      }
    }
    return last.empty() ? std::string(qualified) : last;
  } catch (const SqlError&) {
    return std::string(qualified);
  }
}

Session::Session(ProcedureRegistry& registry, SessionState state)
    : registry_(registry), state_(std::move(state)) {
  if (state_.spid == 0) state_.spid = next_spid.fetch_add(1);
}

bool Session::RunBatch(std::string_view batch, Sink& sink) {
  Interpreter interpreter(registry_, sink, state_);
  return interpreter.RunBatch(batch);
}

bool Session::Call(std::string_view procedure, const std::vector<RpcParam>& params, Sink& sink) {
  std::vector<CallArgument> args;
  for (const RpcParam& p : params) {
    // The NULL constant has no type of its own; a parameter is an int then.
    Value value = p.value.untyped_null ? Value::Null(TypeOf(TypeId::Int)) : p.value;
    args.push_back({p.name, std::move(value), p.output, p.name});
  }
  Interpreter interpreter(registry_, sink, state_);
  return interpreter.CallProcedure(ProcedureName(procedure), args);
}

bool Interpreter::CallProcedure(std::string_view name, const std::vector<CallArgument>& args) {
  bool failed = false;
  try {
    CallResult result = executor_.Call(std::string(name), args);
    out_.ReturnStatus(result.status);
    for (size_t i = 0; i < args.size(); ++i) {
      if (!args[i].output) continue;
      std::string param_name = args[i].name;
      if (param_name.empty() && i < result.names.size()) param_name = result.names[i];
      const Value& value = result.outputs[i] ? *result.outputs[i] : args[i].value;
      out_.Output({static_cast<int>(i + 1), param_name, args[i].value.type, 0, value});
    }
    failed = result.error;
  } catch (const SqlError& e) {
    if (out_.InResult()) out_.EndResult(std::nullopt);
    out_.Error(e, 1);
    failed = e.level > 10;
  } catch (const std::bad_alloc&) {
    if (out_.InResult()) out_.EndResult(std::nullopt);
    out_.Error(SqlError(701, 17, 123,
                        "There is insufficient system memory in resource pool 'default' to run "
                        "this query."),
               1);
    failed = true;
  } catch (const std::exception& e) {
    if (out_.InResult()) out_.EndResult(std::nullopt);
    out_.Error(SqlError(0, 16, 1, std::string("The statement failed: ") + e.what()), 1);
    failed = true;
  }
  out_.End(Done::Kind::kProc, std::nullopt, failed);
  return failed;
}

}  // namespace dunmarrow::tsql
