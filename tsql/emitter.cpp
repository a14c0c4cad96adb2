// The engine's reporting to a Sink: result sets and OUTPUT values with the code page of their
// 8-bit text, messages, and statement ends with their counts (none while NOCOUNT is on).
#include "tsql/emitter.h"

#include "platform/windows.h"

namespace dunmarrow::tsql {

uint32_t AnsiCodePage() {
  return GetACP();
}

namespace {

uint32_t CodePageOf(const SqlType& type) {
  return IsCharacter(type.id) && !IsUnicode(type.id) ? AnsiCodePage() : 0;
}

}  // namespace

void Emitter::BeginResult(std::vector<Column> columns) {
  if (in_result_) EndResult(std::nullopt);
  for (Column& c : columns) c.code_page = CodePageOf(c.type);
  sink_.Columns(columns);
  in_result_ = true;
}

void Emitter::End(Done::Kind kind, std::optional<int64_t> count, bool error) {
  in_result_ = false;
  sink_.End(Done{kind, state_.nocount ? std::nullopt : count, error});
}

void Emitter::Message(int number, int level, int state, const std::string& procedure, int line,
                      const std::string& text) {
  sink_.Info(tsql::Message{number, level, state, line, text, procedure});
}

void Emitter::Error(const SqlError& e, int line) {
  Message(e.number, e.level, e.state, e.procedure, e.line ? e.line : line, e.text);
}

void Emitter::Output(OutputParam param) {
  param.code_page = CodePageOf(param.type);
  sink_.Output(param);
}

}  // namespace dunmarrow::tsql
