// sp_datatype_info (and its _90 and _100 forms, which ODBC drivers call by the server's
// version): the engine's data types in the columns of ODBC's SQLGetTypeInfo. Drivers learn
// from it how long a value of each type may be; without it a driver sends longer values cut to
// 8000 bytes as a plain varbinary or varchar, where it would otherwise send them as (max).
#include <optional>

#include "tsql/emitter.h"
#include "tsql/exec.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

namespace {

enum class Literal { kNone, kQuoted, kUnicode, kBinary };

struct TypeRow {
  const char* name;
  int data_type;  // the ODBC 3 type code
  int64_t column_size;
  Literal literal;
  const char* create_params;  // or null
  bool numeric;
  std::optional<int> min_scale;
  std::optional<int> max_scale;
  int searchable;  // 3: in every WHERE clause; 1: with LIKE only
  int user_type;
};

// In the order of the server's answer: by ODBC type code, then by closeness of the match.
const TypeRow kTypes[] = {
    {"uniqueidentifier", -11, 36, Literal::kQuoted, nullptr, false, {}, {}, 2, 0},
    {"ntext", -10, 1073741823, Literal::kUnicode, nullptr, false, {}, {}, 1, 0},
    {"nvarchar(max)", -10, 1073741823, Literal::kUnicode, nullptr, false, {}, {}, 3, 0},
    {"nvarchar", -9, 4000, Literal::kUnicode, "max length", false, {}, {}, 3, 0},
    {"nchar", -8, 4000, Literal::kUnicode, "length", false, {}, {}, 3, 0},
    {"bit", -7, 1, Literal::kNone, nullptr, true, 0, 0, 2, 16},
    {"tinyint", -6, 3, Literal::kNone, nullptr, true, 0, 0, 2, 5},
    {"bigint", -5, 19, Literal::kNone, nullptr, true, 0, 0, 2, 0},
    {"image", -4, 2147483647, Literal::kBinary, nullptr, false, {}, {}, 0, 20},
    {"varbinary(max)", -4, 2147483647, Literal::kBinary, nullptr, false, {}, {}, 2, 0},
    {"varbinary", -3, 8000, Literal::kBinary, "max length", false, {}, {}, 2, 4},
    {"binary", -2, 8000, Literal::kBinary, "length", false, {}, {}, 2, 3},
    {"text", -1, 2147483647, Literal::kQuoted, nullptr, false, {}, {}, 1, 19},
    {"varchar(max)", -1, 2147483647, Literal::kQuoted, nullptr, false, {}, {}, 3, 0},
    {"char", 1, 8000, Literal::kQuoted, "length", false, {}, {}, 3, 1},
    {"numeric", 2, 38, Literal::kNone, "precision,scale", true, 0, 38, 2, 10},
    {"decimal", 3, 38, Literal::kNone, "precision,scale", true, 0, 38, 2, 24},
    {"money", 3, 19, Literal::kNone, nullptr, true, 4, 4, 2, 11},
    {"smallmoney", 3, 10, Literal::kNone, nullptr, true, 4, 4, 2, 21},
    {"int", 4, 10, Literal::kNone, nullptr, true, 0, 0, 2, 7},
    {"smallint", 5, 5, Literal::kNone, nullptr, true, 0, 0, 2, 6},
    {"float", 6, 53, Literal::kNone, nullptr, true, {}, {}, 2, 8},
    {"real", 7, 24, Literal::kNone, nullptr, true, {}, {}, 2, 23},
    {"varchar", 12, 8000, Literal::kQuoted, "max length", false, {}, {}, 3, 2},
    {"datetime", 93, 23, Literal::kQuoted, nullptr, false, 3, 3, 3, 12},
    {"smalldatetime", 93, 16, Literal::kQuoted, nullptr, false, 0, 0, 3, 22},
};

Value Small(std::optional<int> value) {
  return value ? Value::Integer(*value, TypeId::SmallInt) : Value::Null(TypeOf(TypeId::SmallInt));
}

Value Text(const char* text, SqlType type) {
  return text ? Value::Chars(text, type) : Value::Null(type);
}

}  // namespace

void EmitDatatypeInfo(std::optional<int> data_type, bool odbc3, Emitter& out) {
  const SqlType name_type = TypeOf(TypeId::NVarChar, 128);
  const SqlType text_type = TypeOf(TypeId::VarChar, 32);
  const SqlType small = TypeOf(TypeId::SmallInt);
  const SqlType integer = TypeOf(TypeId::Int);
  std::vector<Column> columns = {{"TYPE_NAME", name_type, false, 0},
                                 {"DATA_TYPE", small, false, 0},
                                 {"PRECISION", integer, true, 0},
                                 {"LITERAL_PREFIX", text_type, true, 0},
                                 {"LITERAL_SUFFIX", text_type, true, 0},
                                 {"CREATE_PARAMS", text_type, true, 0},
                                 {"NULLABLE", small, false, 0},
                                 {"CASE_SENSITIVE", small, false, 0},
                                 {"SEARCHABLE", small, false, 0},
                                 {"UNSIGNED_ATTRIBUTE", small, true, 0},
                                 {"MONEY", small, false, 0},
                                 {"AUTO_INCREMENT", small, true, 0},
                                 {"LOCAL_TYPE_NAME", name_type, true, 0},
                                 {"MINIMUM_SCALE", small, true, 0},
                                 {"MAXIMUM_SCALE", small, true, 0},
                                 {"SQL_DATA_TYPE", small, false, 0},
                                 {"SQL_DATETIME_SUB", small, true, 0},
                                 {"NUM_PREC_RADIX", integer, true, 0},
                                 {"INTERVAL_PRECISION", small, true, 0},
                                 {"USERTYPE", small, true, 0}};
  for (Column& column : columns) {
    if (column.type.id == TypeId::VarChar) column.code_page = AnsiCodePage();
  }
  out.BeginResult(columns);
  int64_t rows = 0;
  for (const TypeRow& type : kTypes) {
    // ODBC 2 calls the date-time types 11 (SQL_TIMESTAMP) where ODBC 3 says 93.
    int code = !odbc3 && type.data_type == 93 ? 11 : type.data_type;
    if (data_type && *data_type != 0 && *data_type != code) continue;
    const char* prefix = type.literal == Literal::kQuoted    ? "'"
                         : type.literal == Literal::kUnicode ? "N'"
                         : type.literal == Literal::kBinary  ? "0x"
                                                             : nullptr;
    const char* suffix =
        type.literal == Literal::kQuoted || type.literal == Literal::kUnicode ? "'" : nullptr;
    bool money = std::string_view(type.name).ends_with("money");
    bool float_type = code == 6 || code == 7;
    std::optional<int> radix;
    if (type.numeric) radix = float_type ? 2 : 10;
    out.Row({Value::WideChars(Utf8ToWide(type.name), name_type),
             Value::Integer(code, TypeId::SmallInt),
             Value::Integer(type.column_size, TypeId::Int),
             Text(prefix, text_type),
             Text(suffix, text_type),
             Text(type.create_params, text_type),
             Value::Integer(1, TypeId::SmallInt),
             Value::Integer(0, TypeId::SmallInt),
             Value::Integer(type.searchable, TypeId::SmallInt),
             type.numeric && code != -7 ? Small(code == -6 ? 1 : 0) : Small({}),
             Value::Integer(money ? 1 : 0, TypeId::SmallInt),
             type.numeric && code != -7 && !float_type ? Small(0) : Small({}),
             Value::WideChars(Utf8ToWide(type.name), name_type),
             Small(type.min_scale),
             Small(type.max_scale),
             Value::Integer(code == 93 || code == 11 ? 9 : code, TypeId::SmallInt),
             Small(code == 93 || code == 11 ? std::optional<int>(3) : std::nullopt),
             radix ? Value::Integer(*radix, TypeId::Int) : Value::Null(integer),
             Small({}),
             Small(type.user_type ? std::optional<int>(type.user_type) : std::nullopt)});
    ++rows;
  }
  out.EndResult(rows);
}

}  // namespace dunmarrow::tsql
