// What a batch or a procedure call produces, as typed events in the order they happen: the
// engine reports to a Sink, and each host turns the events into its own output (sqlcmd's text,
// TDS tokens, a record for the tests).
//
// Values arrive in their exact typed form (tsql/value.h), so an encoder writes them without
// reading text back:
//   tinyint, smallint, int, bigint, bit  Value::integer, in the width of the type
//   float, real                          Value::real (a real holds a value a float can)
//   decimal(p,s), numeric(p,s)           Value::decimal: sign and 128-bit magnitude at scale s;
//                                        p and s in the type (SqlType::precision, scale)
//   money, smallmoney                    Value::integer in ten-thousandths
//   datetime                             Value::datetime: days since 1900-01-01 and 1/300 s
//   smalldatetime                        the same, on a whole minute
//   char, varchar, text                  Value::text: bytes in the code page of the column
//   nchar, nvarchar, ntext               Value::wide: UTF-16
//   binary, varbinary, image             Value::bytes
//   uniqueidentifier                     Value::bytes: 16 bytes as the server stores them
//                                        (Data1, Data2, Data3 little-endian, then 8 bytes)
// (max) types have SqlType::length kMaxLength. A NULL has Value::null set and the type of its
// column; the untyped NULL constant arrives as a NULL int.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tsql/value.h"

namespace dunmarrow::tsql {

// A column of a result set.
struct Column {
  std::string name;  // UTF-8; empty when the column has none
  SqlType type;
  bool nullable = true;
  uint32_t code_page = 0;  // char, varchar, text: the code page of the bytes; else 0
};

// An informational message (severity 10 and below, PRINT is number 0, severity 0) or an error.
struct Message {
  int32_t number = 0;
  int severity = 0;
  int state = 1;
  int line = 1;
  std::string text;       // UTF-8
  std::string procedure;  // the procedure that raised it, or empty
};

// The value of an OUTPUT parameter after a call by RPC.
struct OutputParam {
  int ordinal = 1;   // position of the parameter in the call, from 1
  std::string name;  // with "@" as the caller named it or as it was declared; may be empty
  SqlType type;
  uint32_t code_page = 0;
  Value value;
};

// The end of a statement, of a result inside a procedure, or of a procedure call.
struct Done {
  enum class Kind {
    kStatement,  // a statement of a batch
    kInProc,     // a result or count inside a procedure or sp_executesql
    kProc,       // a procedure call: an EXEC statement or a call by RPC
  };
  Kind kind = Kind::kStatement;
  std::optional<int64_t> count;  // rows affected, when counted (never with NOCOUNT ON)
  bool error = false;            // an error (severity above 10) was reported in it
};

class Sink {
 public:
  virtual ~Sink() = default;
  // A result set begins; its rows follow, and the next Done ends it.
  virtual void Columns(const std::vector<Column>& columns) = 0;
  // One row: a value per column, in the column's type (bytes a procedure sent that do not
  // fit its column's type arrive as varbinary(max)).
  virtual void Row(const std::vector<Value>& values) = 0;
  virtual void Info(const Message& message) = 0;
  // A procedure's return status, before its OUTPUT values and its Done.
  virtual void ReturnStatus(int32_t status) = 0;
  virtual void Output(const OutputParam& param) = 0;
  virtual void End(const Done& done) = 0;
  // The session's database changed (USE).
  virtual void DatabaseChanged(std::string_view /*name*/) {}
  // A line of the ODS trace, when the session traces.
  virtual void Trace(std::string_view /*line*/) {}
};

// The code page of 8-bit text values: the ANSI code page.
uint32_t AnsiCodePage();

}  // namespace dunmarrow::tsql
