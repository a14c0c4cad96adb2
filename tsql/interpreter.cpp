// Running a batch: statement by statement, IF/ELSE branches, SELECT and PRINT, and the
// error reporting that decides whether a batch goes on after an error.
#include "tsql/interpreter.h"

#include <new>

#include "tsql/errors.h"
#include "tsql/operators.h"
#include "tsql/parser.h"
#include "tsql/session_options.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

Interpreter::Interpreter(ProcedureRegistry& registry, Sink& sink, SessionState& state, int nesting)
    : registry_(registry),
      nesting_(nesting),
      state_(state),
      out_(sink, state),
      executor_(registry, out_, state) {
  executor_.SetExecuteSql(
      [this](const std::vector<CallArgument>& args) { return ExecuteSql(args); });
  variables_.SetSession(&state_);
}

bool Interpreter::RunBatch(std::string_view batch, const std::vector<Variable>& parameters) {
  variables_.Clear();
  std::vector<std::string> declared;
  for (const Variable& p : parameters) {
    variables_.Declare(p.name, p.type);
    variables_.Assign(p.name, p.value);
    declared.push_back(p.name);
  }
  std::vector<Statement> statements;
  try {
    statements = ParseBatch(batch, declared);
  } catch (const SqlError& e) {
    out_.Error(e, 1);
    out_.End(statement_kind_, std::nullopt, true);
    return true;
  }
  bool error = false;
  for (const Statement& s : statements) {
    if (RunInBatch(s, error)) break;
  }
  return error;
}

bool Interpreter::RunInBatch(const Statement& s, bool& error) {
  if (state_.cancelled && state_.cancelled()) return true;
  if (s.kind == Statement::Kind::kIf || s.kind == Statement::Kind::kBlock) {
    return RunBranch(s, error);
  }
  bool failed = false, batch_ends = false;
  count_.reset();
  try {
    if (RunStatement(s)) failed = true;
  } catch (const SqlError& e) {
    batch_ends = ReportError(e, s.line, failed);
  } catch (const std::bad_alloc&) {
    if (out_.InResult()) out_.EndResult(std::nullopt);
    out_.Error(
        SqlError(
            701, 17, 123,
            "There is insufficient system memory in resource pool 'default' to run this query."),
        s.line);
    failed = batch_ends = true;
  } catch (const std::exception& e) {
    // A module that lets an exception out of its procedure: the call fails, the session goes on.
    if (out_.InResult()) out_.EndResult(std::nullopt);
    out_.Error(SqlError(0, 16, 1, std::string("The statement failed: ") + e.what()), s.line);
    failed = true;
  } catch (...) {
    if (out_.InResult()) out_.EndResult(std::nullopt);
    out_.Error(SqlError(0, 16, 1, "The statement failed with an unknown exception."), s.line);
    failed = true;
  }
  Done::Kind kind = s.kind == Statement::Kind::kExec ? Done::Kind::kProc : statement_kind_;
  out_.End(kind, count_, failed);
  if (failed) error = true;
  return batch_ends;
}

bool Interpreter::ReportError(const SqlError& e, int line, bool& failed) {
  if (out_.InResult()) out_.EndResult(std::nullopt);
  out_.Error(e, line);
  if (e.level > 10) failed = true;
  // Conversion failures end the batch, as they do in the server.
  bool batch_ends =
      e.scope == ErrorScope::kBatch || e.number == 245 || e.number == 241 || e.number == 8169;
  // XACT_ABORT ON: an error ends the batch and its transactions.
  if (e.level > 10 && state_.xact_abort) {
    batch_ends = true;
    state_.trancount = 0;
  }
  return batch_ends;
}

bool Interpreter::RunBranch(const Statement& s, bool& error) {
  const std::vector<Statement>* branch = &s.body;
  if (s.kind == Statement::Kind::kIf) {
    std::optional<bool> holds;
    try {
      holds = Test(*s.condition, variables_);
    } catch (const SqlError& e) {
      bool failed = false;
      bool batch_ends = ReportError(e, s.line, failed);
      out_.End(statement_kind_, std::nullopt, failed);
      if (failed) error = true;
      return batch_ends;
    }
    // A condition that is unknown (a comparison with NULL) does not hold.
    branch = holds.value_or(false) ? &s.body : &s.else_branch;
  }
  for (const Statement& inner : *branch) {
    if (RunInBatch(inner, error)) return true;
  }
  return false;
}

bool Interpreter::RunStatement(const Statement& s) {
  switch (s.kind) {
    case Statement::Kind::kDeclare:
      // Every variable of the statement is declared, even when an initializer fails.
      for (const Declaration& d : s.declarations) variables_.Declare(d.name, d.type);
      for (const Declaration& d : s.declarations) {
        if (d.init) variables_.Assign(d.name, Evaluate(*d.init, variables_));
      }
      return false;
    case Statement::Kind::kSet: {
      Value value = Evaluate(*s.expr, variables_);
      if (s.compound_add) value = Add(variables_.Get(s.target).value, value);
      variables_.Assign(s.target, value);
      return false;
    }
    case Statement::Kind::kSetOption:
      ApplySetOption(s, state_, out_);
      return false;
    case Statement::Kind::kUse:
      UseDatabase(s, state_, out_);
      return false;
    case Statement::Kind::kTransaction:
      RunTransaction(s, state_);
      return false;
    case Statement::Kind::kSelect:
      Select(s);
      return false;
    case Statement::Kind::kPrint:
      Print(s);
      return false;
    case Statement::Kind::kExec:
      return executor_.Run(s, variables_);
    case Statement::Kind::kIf:
    case Statement::Kind::kBlock:
      break;  // run by RunBranch
  }
  return false;
}

namespace {

// SET TEXTSIZE: the bytes of a text, ntext, image or (max) value that a result carries.
void LimitTextSize(Value& v, int64_t textsize) {
  if (v.null || !(v.type.IsMax() || IsLob(v.type.id))) return;
  size_t limit = static_cast<size_t>(textsize);
  if (IsUnicode(v.type.id)) {
    if (v.wide.size() > limit / 2) v.wide.resize(limit / 2);
  } else if (IsCharacter(v.type.id)) {
    if (v.text.size() > limit) v.text.resize(AnsiPrefixLength(v.text, limit));
  } else if (v.bytes.size() > limit) {
    v.bytes.resize(limit);
  }
}

}  // namespace

void Interpreter::Select(const Statement& s) {
  std::vector<Value> values;
  for (const SelectItem& item : s.items) values.push_back(Evaluate(*item.expr, variables_));
  if (!s.items.front().assign.empty()) {
    for (size_t i = 0; i < s.items.size(); ++i) variables_.Assign(s.items[i].assign, values[i]);
    return;
  }
  std::vector<Column> columns;
  for (size_t i = 0; i < s.items.size(); ++i) {
    // The NULL constant is reported as a NULL int.
    if (values[i].untyped_null) values[i] = Value::Null(TypeOf(TypeId::Int));
    columns.push_back({s.items[i].alias, values[i].type, MayBeNull(*s.items[i].expr), 0});
  }
  out_.BeginResult(columns);
  for (Value& v : values) LimitTextSize(v, state_.textsize);
  out_.Row(values);
  count_ = 1;
}

void Interpreter::Print(const Statement& s) {
  Value value = Evaluate(*s.expr, variables_);
  // PRINT shows at most 8000 bytes of 8-bit text or 4000 characters of UTF-16 text.
  bool unicode = !value.untyped_null && IsUnicode(value.type.id);
  Value text =
      Convert(value, TypeOf(unicode ? TypeId::NVarChar : TypeId::VarChar, unicode ? 4000 : 8000));
  if (text.null) {
    out_.Print("", s.line);
  } else {
    out_.Print(unicode ? WideToUtf8(text.wide) : AnsiToUtf8(text.text), s.line);
  }
}

}  // namespace dunmarrow::tsql
