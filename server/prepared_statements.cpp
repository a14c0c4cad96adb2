// sp_prepare, sp_execute, sp_prepexec and sp_unprepare: the statement runs through
// sp_executesql, and the OUTPUT values come back numbered as the client's call numbers them.
#include "server/prepared_statements.h"

#include "tsql/text.h"

namespace dunmarrow::server {

namespace {

using tsql::Done;
using tsql::RpcParam;

// Forwards a call's events, renumbering its OUTPUT values and, for sp_prepexec, reporting the
// new handle after the return status, as the call's first parameter.
class RenumberingSink : public tsql::Sink {
 public:
  RenumberingSink(tsql::Sink& target, int shift, std::optional<tsql::OutputParam> handle)
      : target_(target), shift_(shift), handle_(std::move(handle)) {}
  void Columns(const std::vector<tsql::Column>& c) override { target_.Columns(c); }
  void Row(const std::vector<tsql::Value>& v) override { target_.Row(v); }
  void Info(const tsql::Message& m) override { target_.Info(m); }
  void ReturnStatus(int32_t status) override {
    target_.ReturnStatus(status);
    if (handle_) target_.Output(*handle_);
  }
  void Output(const tsql::OutputParam& p) override {
    tsql::OutputParam moved = p;
    moved.ordinal += shift_;
    target_.Output(moved);
  }
  void End(const Done& d) override { target_.End(d); }
  void DatabaseChanged(std::string_view name) override { target_.DatabaseChanged(name); }

 private:
  tsql::Sink& target_;
  int shift_;
  std::optional<tsql::OutputParam> handle_;
};

void Fail(tsql::Sink& sink, int number, int state, const std::string& procedure,
          const std::string& text) {
  sink.Info({number, 16, state, 1, text, procedure});
  sink.End({Done::Kind::kProc, std::nullopt, true});
}

std::optional<tsql::OutputParam> HandleOutput(const RpcParam& param, int32_t handle) {
  if (!param.output) return std::nullopt;
  return tsql::OutputParam{1, param.name.empty() ? "@handle" : param.name,
                           tsql::TypeOf(tsql::TypeId::Int), 0, tsql::Value::Integer(handle)};
}

// Runs a statement through sp_executesql with the values given after it.
void RunStatement(tsql::Session& session, const tsql::Value& text, const tsql::Value& declarations,
                  std::vector<RpcParam> values, int shift, std::optional<tsql::OutputParam> handle,
                  tsql::Sink& sink) {
  std::vector<RpcParam> args{{"", text, false}, {"", declarations, false}};
  for (RpcParam& v : values) args.push_back(std::move(v));
  RenumberingSink renumbering(sink, shift, std::move(handle));
  session.Call("sp_executesql", args, renumbering);
}

}  // namespace

bool PreparedStatements::Run(tsql::Session& session, std::string_view procedure,
                             const std::vector<RpcParam>& params, tsql::Sink& sink) {
  std::string name = tsql::ToLowerAscii(tsql::ProcedureName(procedure));
  if (name == "sp_prepare") {
    Prepare(params, sink);
  } else if (name == "sp_prepexec") {
    PrepExec(session, params, sink);
  } else if (name == "sp_execute") {
    Execute(session, params, sink);
  } else if (name == "sp_unprepare") {
    Unprepare(params, sink);
  } else {
    return false;
  }
  return true;
}

int32_t PreparedStatements::Add(const std::vector<RpcParam>& params) {
  int32_t handle = next_handle_++;
  statements_[handle] = {params[1].value, params[2].value};
  return handle;
}

void PreparedStatements::Prepare(const std::vector<RpcParam>& params, tsql::Sink& sink) {
  if (params.size() < 3) {
    Fail(sink, 201, 4, "sp_prepare",
         "Procedure or function 'sp_prepare' expects parameter '@stmt', which was not supplied.");
    return;
  }
  int32_t handle = Add(params);
  sink.ReturnStatus(0);
  if (auto out = HandleOutput(params[0], handle)) sink.Output(*out);
  sink.End({Done::Kind::kProc, std::nullopt, false});
}

void PreparedStatements::PrepExec(tsql::Session& session, const std::vector<RpcParam>& params,
                                  tsql::Sink& sink) {
  if (params.size() < 3) {
    Fail(sink, 201, 4, "sp_prepexec",
         "Procedure or function 'sp_prepexec' expects parameter '@stmt', which was not "
         "supplied.");
    return;
  }
  int32_t handle = Add(params);
  // Values follow the handle, @params and @stmt: one place later than in sp_executesql.
  RunStatement(session, params[2].value, params[1].value,
               std::vector<RpcParam>(params.begin() + 3, params.end()), 1,
               HandleOutput(params[0], handle), sink);
}

const PreparedStatements::Statement* PreparedStatements::Find(const RpcParam* handle,
                                                              const char* procedure,
                                                              tsql::Sink& sink) {
  const tsql::Value* v = handle ? &handle->value : nullptr;
  if (v && !v->null && tsql::IsInteger(v->type.id)) {
    auto found = statements_.find(static_cast<int32_t>(v->integer));
    if (found != statements_.end()) return &found->second;
  }
  std::string shown =
      v && !v->null && tsql::IsInteger(v->type.id) ? std::to_string(v->integer) : "NULL";
  Fail(sink, 8179, 4, procedure, "Could not find prepared statement with handle " + shown + ".");
  return nullptr;
}

void PreparedStatements::Execute(tsql::Session& session, const std::vector<RpcParam>& params,
                                 tsql::Sink& sink) {
  const Statement* s = Find(params.empty() ? nullptr : &params[0], "sp_execute", sink);
  if (!s) return;
  // Values follow the handle: one place earlier than in sp_executesql.
  RunStatement(session, s->text, s->declarations,
               std::vector<RpcParam>(params.begin() + 1, params.end()), -1, std::nullopt, sink);
}

void PreparedStatements::Unprepare(const std::vector<RpcParam>& params, tsql::Sink& sink) {
  if (!Find(params.empty() ? nullptr : &params[0], "sp_unprepare", sink)) return;
  statements_.erase(static_cast<int32_t>(params[0].value.integer));
  sink.ReturnStatus(0);
  sink.End({Done::Kind::kProc, std::nullopt, false});
}

}  // namespace dunmarrow::server
