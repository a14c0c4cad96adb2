// Output in the manner of sqlcmd: result sets as aligned tables under their column names and a
// dashed rule, "(N rows affected)", messages as the server shows them, PRINT text.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tsql/errors.h"
#include "tsql/value.h"

namespace dunmarrow::host {

struct OutputOptions {
  bool trim = false;             // -W: no padding, trailing blanks removed
  uint32_t max_var_width = 256;  // -y: width of the (max), text, ntext and image columns
  uint32_t max_fixed_width = 0;  // -Y: width limit of the other text columns (0: none)
};

struct OutputColumn {
  std::string name;
  SqlType type;
  bool nullable = true;
};

class SqlcmdOutput {
 public:
  SqlcmdOutput(std::ostream& out, OutputOptions options) : out_(out), options_(options) {}

  // A result set: the header is printed with the first row, or at its end when it has none.
  void BeginResult(std::vector<OutputColumn> columns);
  void Row(const std::vector<Value>& values);
  // Ends the open result set; a count prints "(N rows affected)" unless NOCOUNT is on.
  void EndResult(std::optional<int64_t> count);
  bool InResult() const { return in_result_; }

  // A message as the client shows it: the text alone for severity 10 and below, otherwise
  // "Msg N, Level L, State S[, Procedure P], Line n" and the text on the next line.
  void Message(int number, int level, int state, const std::string& procedure, int line,
               const std::string& text);
  void Error(const SqlError& error, int line);
  void Print(const std::string& utf8);
  void Line(const std::string& text);  // trace and echo lines

  void SetNoCount(bool on) { nocount_ = on; }

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
  bool nocount_ = false;
  bool in_result_ = false;
  bool header_done_ = false;
  std::vector<OutputColumn> columns_;
  std::vector<Layout> layout_;
};

// The text sqlcmd shows for a value: NULL, 0x hex for binary values, numbers as the ODBC
// drivers convert them (1.0 for a float of 1, .5 for a decimal of 0.5).
std::string DisplayText(const Value& value);

}  // namespace dunmarrow::host
