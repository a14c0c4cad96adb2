// EXEC of an extended procedure: the session that turns the procedure's srv_* events into
// typed rows, messages and OUTPUT values, the permission check, and the binding of arguments.
#include "tsql/exec.h"

#include <cstdio>

#include "tsql/errors.h"
#include "tsql/ods_values.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

const char kTracePrefix[] = "ods: ";

// The server's side of one call: the parameters in, every event out to the output.
class CallSession : public ods::Session {
 public:
  CallSession(std::vector<ods::Param> params, Emitter& out)
      : params_(std::move(params)), out_(out), trace_(out.Tracing()), outputs_(params_.size()) {}

  const std::vector<ods::Param>& Params() const override { return params_; }

  void OnEvent(const ods::Event& e) override {
    if (trace_) out_.Line(kTracePrefix + ods::DescribeEvent(e));
    switch (e.kind) {
      case ods::EventKind::Describe:
        if (described_) break;
        columns_.push_back({e.name, ColumnType(e.dest_type, e.dest_len), true, 0});
        types_.push_back(e.dest_type);
        break;
      case ods::EventKind::SendRow: {
        if (!described_) {
          out_.BeginResult(columns_);
          described_ = true;
        }
        std::vector<Value> values;
        for (size_t i = 0; i < e.row.size() && i < types_.size(); ++i) {
          if (!e.row[i]) {
            values.push_back(Value::Null(columns_[i].type));
            continue;
          }
          auto value = FromOds(types_[i], *e.row[i]);
          // Bytes that do not fit the column's type are shown as they are.
          values.push_back(value ? *value
                                 : Value::Binary(*e.row[i], TypeOf(TypeId::VarBinary, kMaxLength)));
        }
        out_.Row(values);
        ++rows_;
        break;
      }
      case ods::EventKind::SendDone: {
        bool counted = (e.status & SRV_DONE_COUNT) != 0;
        if (!columns_.empty() && !described_) out_.BeginResult(columns_);
        out_.EndResult(counted ? std::optional<int64_t>(e.count) : std::nullopt);
        columns_.clear();
        types_.clear();
        rows_ = 0;
        described_ = false;
        break;
      }
      case ods::EventKind::SendMsg:
        out_.Message(e.msg_number, e.severity, e.state, "", e.line, AnsiToUtf8(e.text));
        if (e.severity > 10) error_ = true;
        break;
      case ods::EventKind::ParamSetOutput:
      case ods::EventKind::ParamSet:
        if (e.number >= 1 && static_cast<size_t>(e.number) <= outputs_.size()) {
          outputs_[static_cast<size_t>(e.number) - 1] = e;
        }
        break;
      default:
        break;
    }
  }

  // Ends a result set the procedure left open without a DONE.
  void Finish() {
    if (out_.InResult()) out_.EndResult(std::nullopt);
  }

  bool Error() const { return error_; }
  const std::optional<ods::Event>& OutputOf(size_t index) const { return outputs_[index]; }

 private:
  std::vector<ods::Param> params_;
  Emitter& out_;
  bool trace_;
  std::vector<std::optional<ods::Event>> outputs_;
  std::vector<Column> columns_;
  std::vector<int32_t> types_;
  int64_t rows_ = 0;
  bool described_ = false;
  bool error_ = false;
};

// The value a procedure wrote into an OUTPUT parameter, in the argument's type.
Value OutputValue(const ods::Event& e, const ods::Param& param, const CallArgument& arg,
                  size_t number) {
  if (e.is_null) return Value::Null(arg.value.type);
  auto value = FromOds(param.type, e.data);
  if (!value) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", param.type);
    throw SqlError(8016, 16, 30,
                   "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol "
                   "stream is incorrect. Parameter " +
                       std::to_string(number) + " (\"" + arg.label + "\"): Data type " + code +
                       " has an invalid data length or metadata length.");
  }
  // The server reads the bytes as the parameter's type; then the variable keeps what its
  // declared size holds.
  return Convert(*value, arg.value.type, Conversion::kExplicit);
}

// The server's answer to a call the login has no EXECUTE permission for.
SqlError ExecuteDenied(const std::string& procedure, const std::string& database) {
  return SqlError(229, 14, 5,
                  "The EXECUTE permission was denied on the object '" + procedure +
                      "', database '" + database + "', schema 'dbo'.");
}

// The engine's procedures that change the registry: for administrators only.
const char* const kAdminProcedures[] = {"sp_addextendedproc", "sp_dropextendedproc"};

}  // namespace

bool Executor::Run(const Statement& s, Variables& variables) {
  std::vector<CallArgument> args;
  for (const ExecArg& arg : s.args) {
    CallArgument call{arg.param, arg.constant, arg.output, ""};
    if (!arg.variable.empty()) {
      const Variable& variable = variables.Get(arg.variable);
      call.value = variable.value;
      call.label = variable.name;
    }
    args.push_back(std::move(call));
  }
  CallResult result = Call(s.procedure, args);
  out_.ReturnStatus(result.status);
  // OUTPUT values reach the variables after the call, in parameter order.
  for (size_t i = 0; i < s.args.size(); ++i) {
    if (s.args[i].output && result.outputs[i]) {
      variables.Assign(args[i].label, *result.outputs[i]);
    }
  }
  if (!s.return_variable.empty()) {
    variables.Assign(s.return_variable, Value::Integer(result.status));
  }
  return result.error;
}

CallResult Executor::Call(const std::string& name, const std::vector<CallArgument>& args) {
  CallResult result;
  result.outputs.resize(args.size());
  const ExecutePermissions* permissions = state_.permissions.get();
  for (const char* admin_only : kAdminProcedures) {
    if (permissions && !permissions->admin && EqualsNoCase(name, admin_only))
      throw ExecuteDenied(admin_only, state_.database);
  }
  if (RunBuiltin(name, args, registry_, out_, result.status)) return result;
  if (execute_sql_ && EqualsNoCase(name, "sp_executesql")) return execute_sql_(args);
  std::optional<Procedure> procedure = registry_.Find(name);
  if (!procedure) {
    throw SqlError(2812, 16, 62, "Could not find stored procedure '" + name + "'.");
  }
  if (permissions && !permissions->MayExecute(procedure->name))
    throw ExecuteDenied(procedure->name, state_.database);
  std::vector<ods::Param> params;
  for (const CallArgument& arg : args) {
    ods::Param param = ToParam(arg.value);
    param.name = arg.name;
    param.is_output = arg.output;
    params.push_back(std::move(param));
  }
  bool trace = out_.Tracing();
  if (trace) {
    out_.Line(kTracePrefix + std::string("call ") + procedure->name);
    for (size_t i = 0; i < params.size(); ++i) {
      out_.Line(kTracePrefix + ods::DescribeParam(static_cast<int>(i + 1), params[i]));
    }
  }
  CallSession session(params, out_);
  result.status = ods::ExecuteProc(procedure->entry, session);
  session.Finish();
  if (trace) out_.Line(kTracePrefix + std::string("return ") + std::to_string(result.status));
  for (size_t i = 0; i < args.size(); ++i) {
    const auto& written = session.OutputOf(i);
    if (args[i].output && written) {
      result.outputs[i] = OutputValue(*written, params[i], args[i], i + 1);
    }
  }
  result.error = session.Error();
  return result;
}

}  // namespace dunmarrow::tsql
