// The command-line host's output: a tsql::Sink that prints the engine's events as sqlcmd
// prints them (tables of rows, counts, messages, PRINT text, trace lines).
#include "host/sqlcmd_output.h"

#include <algorithm>
#include <charconv>

#include "tsql/text.h"

namespace dunmarrow::host {

namespace {

// The display width of a column of the type, as sqlcmd sizes it.
size_t TypeWidth(const SqlType& t, const OutputOptions& options) {
  auto limited = [&](size_t width) {
    return options.max_fixed_width > 0 ? std::min<size_t>(width, options.max_fixed_width) : width;
  };
  switch (t.id) {
    case TypeId::Int:
      return 11;
    case TypeId::BigInt:
      return 20;
    case TypeId::SmallInt:
      return 6;
    case TypeId::TinyInt:
      return 3;
    case TypeId::Bit:
      return 1;
    case TypeId::Float:
      return 24;
    case TypeId::Real:
      return 14;
    case TypeId::Decimal:
    case TypeId::Numeric:
      return static_cast<size_t>(t.precision) + 2;
    case TypeId::Money:
      return 21;
    case TypeId::SmallMoney:
      return 12;
    case TypeId::DateTime:
      return 23;
    case TypeId::SmallDateTime:
      return 19;
    case TypeId::Guid:
      return 36;
    case TypeId::Text:
    case TypeId::NText:
    case TypeId::Image:
      return options.max_var_width;
    case TypeId::Char:
    case TypeId::VarChar:
    case TypeId::NChar:
    case TypeId::NVarChar:
      return t.IsMax() ? options.max_var_width : limited(t.length);
    case TypeId::Binary:
    case TypeId::VarBinary:
      return t.IsMax() ? options.max_var_width : limited(2 + 2 * static_cast<size_t>(t.length));
  }
  return 0;
}

std::string FloatDisplay(double value, bool single) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                              single ? 7 : 17);
  std::string text(buffer, result.ptr);
  size_t e = text.find('e');
  std::string mantissa = text.substr(0, e), exponent;
  if (e != std::string::npos) {
    exponent = text.substr(e + 1);  // "+20"
    exponent = "E" + exponent;
  }
  bool finite = mantissa.find_first_of("in") == std::string::npos;
  if (finite && mantissa.find('.') == std::string::npos) mantissa += ".0";
  return mantissa + exponent;
}

}  // namespace

std::string DisplayText(const Value& v) {
  if (v.null) return "NULL";
  TypeId id = v.type.id;
  if (IsInteger(id) || id == TypeId::Bit) return std::to_string(v.integer);
  if (IsApproximate(id)) return FloatDisplay(v.real, id == TypeId::Real);
  if (IsDecimal(id)) return v.decimal.ToString(false);
  if (IsMoney(id)) {
    Decimal money = Decimal::FromInt64(v.integer);
    money.scale = 4;
    return money.ToString(false);
  }
  if (IsDateTime(id)) {
    return *FormatDateTime(v.datetime, id == TypeId::DateTime ? 121 : 120, id != TypeId::DateTime);
  }
  if (IsUnicode(id)) return WideToUtf8(v.wide);
  if (IsCharacter(id)) return AnsiToUtf8(v.text);
  if (id == TypeId::Guid) return GuidText(v.bytes);
  return MessageText(v);  // 0x and the bytes
}

void SqlcmdOutput::Columns(const std::vector<Column>& columns) {
  if (in_result_) End(Done{});
  columns_ = columns;
  layout_.clear();
  for (const auto& c : columns_) {
    size_t name = Utf8Length(c.name);
    size_t width = options_.trim ? name : std::max(TypeWidth(c.type, options_), name);
    if (c.nullable && !options_.trim) width = std::max<size_t>(width, 4);
    bool unlimited = options_.max_var_width == 0 && (c.type.IsMax() || IsLob(c.type.id));
    layout_.push_back({width, IsNumber(c.type.id), !unlimited});
  }
  in_result_ = true;
  header_done_ = false;
}

std::string SqlcmdOutput::Cell(const std::string& text, const Layout& layout) const {
  if (options_.trim) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
  }
  std::string cut(layout.cut ? Utf8Prefix(text, layout.width) : std::string_view(text));
  size_t length = Utf8Length(cut);
  size_t pad = length < layout.width ? layout.width - length : 0;
  return layout.right ? std::string(pad, ' ') + cut : cut + std::string(pad, ' ');
}

void SqlcmdOutput::PrintHeader() {
  std::string names, rule;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i) {
      names += ' ';
      rule += ' ';
    }
    Layout left{layout_[i].width, false};
    names += options_.trim ? columns_[i].name : Cell(columns_[i].name, left);
    rule += std::string(options_.trim ? Utf8Length(columns_[i].name) : layout_[i].width, '-');
  }
  PrintLine(names);
  PrintLine(rule);
  header_done_ = true;
}

void SqlcmdOutput::Row(const std::vector<Value>& values) {
  if (!header_done_) PrintHeader();
  std::string line;
  for (size_t i = 0; i < values.size() && i < layout_.size(); ++i) {
    if (i) line += ' ';
    line += Cell(DisplayText(values[i]), layout_[i]);
  }
  PrintLine(line);
}

void SqlcmdOutput::End(const Done& done) {
  if (in_result_) {
    if (!header_done_) PrintHeader();
    PrintLine("");
    in_result_ = false;
  }
  if (done.count) PrintLine("(" + std::to_string(*done.count) + " rows affected)");
}

void SqlcmdOutput::Info(const Message& m) {
  if (m.severity > 10) {
    std::string header = "Msg " + std::to_string(m.number) + ", Level " +
                         std::to_string(m.severity) + ", State " + std::to_string(m.state) + ", ";
    if (!m.procedure.empty()) header += "Procedure " + m.procedure + ", ";
    PrintLine(header + "Line " + std::to_string(m.line));
  }
  PrintLine(m.text);
}

void SqlcmdOutput::Trace(std::string_view line) {
  PrintLine(std::string(line));
}

void SqlcmdOutput::PrintLine(std::string line) {
  out_ << line << '\n';
}

}  // namespace dunmarrow::host
