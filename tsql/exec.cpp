#include "tsql/exec.h"

#include <cstdio>

#include "tsql/errors.h"
#include "tsql/ods_values.h"
#include "tsql/text.h"

namespace dunmarrow::host {

namespace {

const char kTracePrefix[] = "ods: ";

// The server's side of one call: the parameters in, every event out to the output.
class CallSession : public ods::Session {
 public:
  CallSession(std::vector<ods::Param> params, SqlcmdOutput& out, bool trace)
      : params_(std::move(params)), out_(out), trace_(trace), outputs_(params_.size()) {}

  const std::vector<ods::Param>& Params() const override { return params_; }

  void OnEvent(const ods::Event& e) override {
    if (trace_) out_.Line(kTracePrefix + ods::DescribeEvent(e));
    switch (e.kind) {
      case ods::EventKind::Describe:
        if (described_) break;
        columns_.push_back({e.name, ColumnType(e.dest_type, e.dest_len), true});
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
        if (!columns_.empty() || counted) {
          out_.EndResult(counted ? std::optional<int64_t>(e.count) : std::nullopt);
        }
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
  SqlcmdOutput& out_;
  bool trace_;
  std::vector<std::optional<ods::Event>> outputs_;
  std::vector<OutputColumn> columns_;
  std::vector<int32_t> types_;
  int64_t rows_ = 0;
  bool described_ = false;
  bool error_ = false;
};

// The value a procedure wrote into an OUTPUT parameter, in the variable's type.
Value OutputValue(const ods::Event& e, const ods::Param& param, const Variable& variable,
                  size_t number) {
  if (e.is_null) return Value::Null(variable.type);
  auto value = FromOds(param.type, e.data);
  if (!value) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", param.type);
    throw SqlError(8016, 16, 30,
                   "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol "
                   "stream is incorrect. Parameter " +
                       std::to_string(number) + " (\"" + variable.name + "\"): Data type " + code +
                       " has an invalid data length or metadata length.");
  }
  // The server reads the bytes as the parameter's type; then the variable keeps what its
  // declared size holds.
  return Convert(*value, variable.type, Conversion::kExplicit);
}

}  // namespace

bool Executor::Run(const Statement& s, Variables& variables) {
  int status = 0;
  if (RunBuiltin(s.procedure, s.args, variables, registry_, out_, status)) {
    if (!s.return_variable.empty()) variables.Assign(s.return_variable, Value::Integer(status));
    return false;
  }
  const Procedure* procedure = registry_.Find(s.procedure);
  if (!procedure) {
    throw SqlError(2812, 16, 62, "Could not find stored procedure '" + s.procedure + "'.");
  }
  std::vector<ods::Param> params;
  for (const ExecArg& arg : s.args) {
    Value value = arg.variable.empty() ? arg.constant : variables.Get(arg.variable).value;
    ods::Param param = ToParam(value);
    param.name = arg.param;
    param.is_output = arg.output;
    params.push_back(std::move(param));
  }
  if (trace_) {
    out_.Line(kTracePrefix + std::string("call ") + procedure->name);
    for (size_t i = 0; i < params.size(); ++i) {
      out_.Line(kTracePrefix + ods::DescribeParam(static_cast<int>(i + 1), params[i]));
    }
  }
  CallSession session(params, out_, trace_);
  status = ods::ExecuteProc(procedure->entry, session);
  session.Finish();
  if (trace_) out_.Line(kTracePrefix + std::string("return ") + std::to_string(status));
  // OUTPUT values reach the variables after the call, in parameter order.
  for (size_t i = 0; i < s.args.size(); ++i) {
    const auto& written = session.OutputOf(i);
    if (!s.args[i].output || !written) continue;
    const Variable& variable = variables.Get(s.args[i].variable);
    variables.Assign(variable.name, OutputValue(*written, params[i], variable, i + 1));
  }
  if (!s.return_variable.empty()) variables.Assign(s.return_variable, Value::Integer(status));
  return session.Error();
}

}  // namespace dunmarrow::host
