#include "host/interpreter.h"

#include <new>

#include "host/errors.h"
#include "host/operators.h"
#include "host/parser.h"
#include "host/text.h"

namespace dunmarrow::host {

bool Interpreter::RunBatch(std::string_view batch) {
  variables_.Clear();
  std::vector<Statement> statements;
  try {
    statements = ParseBatch(batch);
  } catch (const SqlError& e) {
    out_.Error(e, 1);
    return true;
  }
  bool error = false;
  for (const Statement& s : statements) {
    try {
      if (RunStatement(s)) error = true;
    } catch (const SqlError& e) {
      if (out_.InResult()) out_.EndResult(std::nullopt);
      out_.Error(e, s.line);
      if (e.level > 10) error = true;
      // Conversion failures end the batch, as they do in the server.
      bool batch_ends =
          e.scope == ErrorScope::kBatch || e.number == 245 || e.number == 241 || e.number == 8169;
      if (batch_ends) break;
    } catch (const std::bad_alloc&) {
      if (out_.InResult()) out_.EndResult(std::nullopt);
      out_.Error(
          SqlError(
              701, 17, 123,
              "There is insufficient system memory in resource pool 'default' to run this query."),
          s.line);
      error = true;
      break;
    } catch (const std::exception& e) {
      // A module that lets an exception out of its procedure: the call fails, the host goes on.
      if (out_.InResult()) out_.EndResult(std::nullopt);
      out_.Error(SqlError(0, 16, 1, std::string("The statement failed: ") + e.what()), s.line);
      error = true;
    } catch (...) {
      if (out_.InResult()) out_.EndResult(std::nullopt);
      out_.Error(SqlError(0, 16, 1, "The statement failed with an unknown exception."), s.line);
      error = true;
    }
  }
  return error;
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
      out_.SetNoCount(s.option_on);
      return false;
    case Statement::Kind::kSelect:
      Select(s);
      return false;
    case Statement::Kind::kPrint:
      Print(s);
      return false;
    case Statement::Kind::kExec:
      return executor_.Run(s, variables_);
  }
  return false;
}

void Interpreter::Select(const Statement& s) {
  std::vector<Value> values;
  for (const SelectItem& item : s.items) values.push_back(Evaluate(*item.expr, variables_));
  if (!s.items.front().assign.empty()) {
    for (size_t i = 0; i < s.items.size(); ++i) variables_.Assign(s.items[i].assign, values[i]);
    return;
  }
  std::vector<OutputColumn> columns;
  for (size_t i = 0; i < s.items.size(); ++i) {
    SqlType type = values[i].untyped_null ? TypeOf(TypeId::Int) : values[i].type;
    columns.push_back({s.items[i].alias, type, MayBeNull(*s.items[i].expr)});
  }
  out_.BeginResult(columns);
  out_.Row(values);
  out_.EndResult(1);
}

void Interpreter::Print(const Statement& s) {
  Value value = Evaluate(*s.expr, variables_);
  // PRINT shows at most 8000 bytes of 8-bit text or 4000 characters of UTF-16 text.
  bool unicode = !value.untyped_null && IsUnicode(value.type.id);
  Value text =
      Convert(value, TypeOf(unicode ? TypeId::NVarChar : TypeId::VarChar, unicode ? 4000 : 8000));
  if (text.null) {
    out_.Print("");
  } else {
    out_.Print(unicode ? WideToUtf8(text.wide) : AnsiToUtf8(text.text));
  }
}

}  // namespace dunmarrow::host
