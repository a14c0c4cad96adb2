// The values of the @@ functions, SERVERPROPERTY and the name functions, read from the
// session's state.
#include "tsql/system_functions.h"

#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

const char* const kSystemVariables[] = {"@@VERSION", "@@SPID", "@@SERVERNAME", "@@TRANCOUNT",
                                        "@@LANGUAGE"};

// sysname and the other names the server reports are nvarchar(128).
Value Name(const std::string& utf8) {
  return Value::WideChars(Utf8ToWide(utf8), TypeOf(TypeId::NVarChar, 128));
}

// SERVERPROPERTY answers sql_variant in the server; here its base type: nvarchar(128) for
// names, int for numbers, NULL for a property it does not know.
Value ServerProperty(const Value& arg, const SessionState& session) {
  Value name = Convert(arg, TypeOf(TypeId::NVarChar, 128));
  if (name.null) return Value::Null(TypeOf(TypeId::NVarChar, 128));
  std::string property = ToLowerAscii(WideToUtf8(name.wide));
  if (property == "productversion") return Name(session.product_version);
  if (property == "productlevel") return Name(session.product_level);
  if (property == "edition") return Name(session.edition);
  if (property == "engineedition") return Value::Integer(session.engine_edition);
  if (property == "servername" || property == "machinename") return Name(session.server_name);
  if (property == "collation") return Name(session.collation);
  return Value::Null(TypeOf(TypeId::NVarChar, 128));
}

}  // namespace

bool IsSystemVariable(std::string_view name) {
  for (const char* known : kSystemVariables) {
    if (EqualsNoCase(name, known)) return true;
  }
  return false;
}

Value SystemFunction(const std::string& name, const std::vector<Value>& args,
                     const SessionState& session) {
  if (name == "@@VERSION") {
    return Value::WideChars(Utf8ToWide(session.version), TypeOf(TypeId::NVarChar, 300));
  }
  if (name == "@@SPID") return Value::Integer(session.spid, TypeId::SmallInt);
  if (name == "@@SERVERNAME") return Name(session.server_name);
  if (name == "@@TRANCOUNT") return Value::Integer(session.trancount);
  if (name == "@@LANGUAGE") return Name(session.language);
  if (name == "SERVERPROPERTY") return ServerProperty(args.at(0), session);
  if (name == "DB_NAME") return Name(session.database);
  if (name == "SCHEMA_NAME") return Name("dbo");
  if (name == "SUSER_SNAME") return Name(session.login);
  throw SqlError(195, 15, 10, "'" + name + "' is not a recognized built-in function name.");
}

}  // namespace dunmarrow::tsql
