// sp_executesql, as client drivers send every parameterised statement: the statement and the
// declarations of its parameters by position, then the values, by name or in the order
// declared. The statement runs as a batch of its own (it sees none of the caller's variables)
// inside the call; OUTPUT parameters come back to the caller.
#include <algorithm>

#include "tsql/errors.h"
#include "tsql/interpreter.h"
#include "tsql/parser.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

constexpr int kMaxNesting = 32;

SqlError ProcedureError(int number, int state, std::string text) {
  SqlError e(number, 16, state, std::move(text));
  e.procedure = "sp_executesql";
  return e;
}

// The text of the statement or of the parameter list: only Unicode text is taken.
std::optional<std::u16string> UnicodeArgument(const CallArgument* arg, const char* name) {
  if (!arg || arg->value.untyped_null || !IsUnicode(arg->value.type.id)) {
    throw ProcedureError(
        214, 2,
        std::string("Procedure expects parameter '") + name + "' of type 'ntext/nchar/nvarchar'.");
  }
  if (arg->value.null) return std::nullopt;
  return arg->value.wide;
}

}  // namespace

CallResult Interpreter::ExecuteSql(const std::vector<CallArgument>& args) {
  if (nesting_ + 1 > kMaxNesting) {
    throw SqlError(217, 16, 1,
                   "Maximum stored procedure, function, trigger, or view nesting level exceeded "
                   "(limit 32).");
  }
  CallResult result;
  result.outputs.resize(args.size());
  result.names.resize(args.size());
  auto statement = UnicodeArgument(args.empty() ? nullptr : &args[0], "@statement");
  std::optional<std::u16string> declarations;
  if (args.size() > 1) declarations = UnicodeArgument(&args[1], "@params");
  std::string statement_text = statement ? WideToUtf8(*statement) : "";
  std::string declarations_text = declarations ? WideToUtf8(*declarations) : "";
  std::vector<ParameterDeclaration> declared;
  try {
    declared = ParseParameters(declarations_text);
  } catch (SqlError& e) {
    // A declaration that does not parse fails the call, not the caller's batch.
    e.scope = ErrorScope::kStatement;
    throw;
  }

  // The values: by name, or by position after the first two arguments.
  std::vector<int> bound(declared.size(), -1);
  for (size_t i = 2; i < args.size(); ++i) {
    size_t slot = i - 2;
    if (!args[i].name.empty()) {
      auto found = std::find_if(declared.begin(), declared.end(),
                                [&](const auto& d) { return EqualsNoCase(d.name, args[i].name); });
      if (found == declared.end()) {
        throw ProcedureError(8145, 2,
                             args[i].name + " is not a parameter for procedure sp_executesql.");
      }
      slot = static_cast<size_t>(found - declared.begin());
    } else if (slot >= declared.size()) {
      throw ProcedureError(8144, 2,
                           "Procedure or function sp_executesql has too many arguments specified.");
    }
    bound[slot] = static_cast<int>(i);
    result.names[i] = declared[slot].name;
  }
  std::vector<Variable> parameters;
  for (size_t d = 0; d < declared.size(); ++d) {
    if (bound[d] < 0) {
      throw ProcedureError(8178, 1,
                           "The parameterized query '(" + declarations_text + ")" + statement_text +
                               "' expects the parameter '" + declared[d].name +
                               "', which was not supplied.");
    }
    const Value& given = args[static_cast<size_t>(bound[d])].value;
    parameters.push_back({declared[d].name, declared[d].type, Convert(given, declared[d].type)});
  }
  if (!statement) return result;

  Interpreter inner(registry_, out_.Target(), state_, nesting_ + 1);
  inner.RunInProcedure();
  result.error = inner.RunBatch(statement_text, parameters);
  for (size_t d = 0; d < declared.size(); ++d) {
    size_t i = static_cast<size_t>(bound[d]);
    if (declared[d].output && args[i].output) {
      result.outputs[i] = Convert(inner.variables_.Get(declared[d].name).value, args[i].value.type);
    }
  }
  return result;
}

}  // namespace dunmarrow::tsql
