// The engine's own system procedures: sp_addextendedproc and sp_dropextendedproc register and
// remove extended procedures; sp_helpextendedproc lists them; sp_datatype_info describes the
// types to ODBC drivers.
#include <algorithm>

#include "tsql/errors.h"
#include "tsql/exec.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

struct Builtin {
  const char* name;
  std::vector<const char*> params;  // in order
  size_t required;
};

const Builtin kBuiltins[] = {
    {"sp_addextendedproc", {"@functname", "@dllname"}, 2},
    {"sp_dropextendedproc", {"@functname"}, 1},
    {"sp_helpextendedproc", {"@funcname"}, 0},
    {"sp_datatype_info", {"@data_type", "@ODBCVer"}, 0},
    {"sp_datatype_info_90", {"@data_type", "@ODBCVer"}, 0},
    {"sp_datatype_info_100", {"@data_type", "@ODBCVer"}, 0},
};

// A whole number argument of the engine's procedures, or nothing when it was not passed.
std::optional<int> IntegerArgument(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string digits = *text;
  while (!digits.empty() && digits.back() == ' ') digits.pop_back();
  while (!digits.empty() && digits.front() == ' ') digits.erase(0, 1);
  size_t used = 0;
  try {
    int value = std::stoi(digits, &used);
    if (used == digits.size()) return value;
  } catch (const std::exception&) {
  }
  throw SqlError(8114, 16, 5, "Error converting data type nvarchar to int.");
}

SqlError ProcedureError(int number, int level, int state, const std::string& procedure,
                        std::string text) {
  SqlError e(number, level, state, std::move(text));
  e.procedure = procedure;
  return e;
}

// The arguments by parameter position, as text; raises the server's errors for missing,
// surplus and unknown parameters.
std::vector<std::optional<std::string>> Bind(const Builtin& builtin,
                                             const std::vector<CallArgument>& args) {
  std::vector<std::optional<std::string>> bound(builtin.params.size());
  for (size_t i = 0; i < args.size(); ++i) {
    size_t slot = i;
    if (!args[i].name.empty()) {
      auto found = std::find_if(builtin.params.begin(), builtin.params.end(),
                                [&](const char* p) { return EqualsNoCase(p, args[i].name); });
      if (found == builtin.params.end()) {
        throw ProcedureError(
            8145, 16, 2, builtin.name,
            args[i].name + " is not a parameter for procedure " + builtin.name + ".");
      }
      slot = static_cast<size_t>(found - builtin.params.begin());
    } else if (i >= builtin.params.size()) {
      throw ProcedureError(8144, 16, 2, builtin.name,
                           std::string("Procedure or function ") + builtin.name +
                               " has too many arguments specified.");
    }
    bound[slot] = ArgumentText(args[i].value);
  }
  for (size_t i = 0; i < builtin.required; ++i) {
    if (!bound[i]) {
      throw ProcedureError(201, 16, 4, builtin.name,
                           std::string("Procedure or function '") + builtin.name +
                               "' expects parameter '" + builtin.params[i] +
                               "', which was not supplied.");
    }
  }
  return bound;
}

}  // namespace

std::optional<std::string> ArgumentText(const Value& value) {
  Value text = Convert(value, TypeOf(TypeId::NVarChar, kMaxLength));
  if (text.null) return std::nullopt;
  return WideToUtf8(text.wide);
}

bool RunBuiltin(const std::string& name, const std::vector<CallArgument>& args,
                ProcedureRegistry& registry, Emitter& out, int& status) {
  const Builtin* builtin = nullptr;
  for (const auto& b : kBuiltins) {
    if (EqualsNoCase(name, b.name)) builtin = &b;
  }
  if (!builtin) return false;
  auto bound = Bind(*builtin, args);
  std::string which = builtin->name;
  try {
    if (which == "sp_addextendedproc") {
      registry.Add(*bound[0], *bound[1]);
    } else if (which == "sp_dropextendedproc") {
      registry.Drop(*bound[0]);
    } else if (which.starts_with("sp_datatype_info")) {
      std::optional<int> odbc_version = IntegerArgument(bound[1]);
      EmitDatatypeInfo(IntegerArgument(bound[0]), odbc_version && *odbc_version >= 3, out);
    } else {
      std::vector<Column> columns = {{"name", TypeOf(TypeId::NVarChar, 128), false, 0},
                                     {"dll", TypeOf(TypeId::NVarChar, 255), true, 0}};
      out.BeginResult(columns);
      int64_t rows = 0;
      for (const Procedure& p : registry.All()) {
        if (bound[0] && *bound[0] != p.name) continue;
        out.Row({Value::WideChars(Utf8ToWide(p.name), columns[0].type),
                 Value::WideChars(Utf8ToWide(p.dll), columns[1].type)});
        ++rows;
      }
      out.EndResult(rows);
    }
  } catch (SqlError& e) {
    if (e.procedure.empty()) e.procedure = which;
    throw;
  }
  status = 0;
  return true;
}

}  // namespace dunmarrow::tsql
