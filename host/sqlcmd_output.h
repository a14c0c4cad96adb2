// Output in the manner of sqlcmd: the engine's events as sqlcmd prints them. Result sets as
// aligned tables under their column names and a dashed rule, "(N rows affected)", messages as
// the server shows them, PRINT text, trace lines.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tsql/sink.h"

namespace dunmarrow::host {

// The command-line program is written in the engine's terms.
using namespace tsql;

struct OutputOptions {
  bool trim = false;             // -W: no padding, trailing blanks removed
  uint32_t max_var_width = 256;  // -y: width of the (max), text, ntext and image columns
  uint32_t max_fixed_width = 0;  // -Y: width limit of the other text columns (0: none)
};

class SqlcmdOutput : public Sink {
 public:
  SqlcmdOutput(std::ostream& out, OutputOptions options) : out_(out), options_(options) {}

  // A result set: the header is printed with the first row, or at its end when it has none.
  void Columns(const std::vector<Column>& columns) override;
  void Row(const std::vector<Value>& values) override;
  // Ends the open result set; a count prints "(N rows affected)".
  void End(const Done& done) override;
  // A message as the client shows it: the text alone for severity 10 and below, otherwise
  // "Msg N, Level L, State S[, Procedure P], Line n" and the text on the next line.
  void Info(const Message& message) override;
  // sqlcmd shows neither the return status nor OUTPUT values of a call.
  void ReturnStatus(int32_t) override {}
  void Output(const OutputParam&) override {}
  void Trace(std::string_view line) override;

 private:
  struct Layout {
    size_t width;
    bool right;
    bool cut = true;  // values longer than the width are cut (not with -y 0)
  };
  void PrintHeader();
  std::string Cell(const std::string& text, const Layout& layout) const;
  void PrintLine(std::string line);

  std::ostream& out_;
  OutputOptions options_;
  bool in_result_ = false;
  bool header_done_ = false;
  std::vector<Column> columns_;
  std::vector<Layout> layout_;
};

// The text sqlcmd shows for a value: NULL, 0x hex for binary values, numbers as the ODBC
// drivers convert them (1.0 for a float of 1, .5 for a decimal of 0.5).
std::string DisplayText(const Value& value);

}  // namespace dunmarrow::host
