// Sink events to tokens.
#include "server/tds/token_sink.h"

#include "server/tds/tokens.h"
#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::server::tds {

TokenSink::TokenSink(PacketWriter& writer, TdsVersion version, std::u16string server_name,
                     std::function<bool()> attention)
    : writer_(writer),
      version_(version),
      server_name_(std::move(server_name)),
      attention_(std::move(attention)) {
  writer_.Begin(packet::kReply);
}

bool TokenSink::Stopped() {
  if (!cancelled_ && failure_.empty() && attention_ && attention_()) cancelled_ = true;
  return cancelled_ || !failure_.empty();
}

void TokenSink::Emit(Writer& tokens) {
  if (Stopped()) return;
  try {
    if (!held_done_.empty()) {
      held_done_[1] |= done::kMore;
      writer_.Write(held_done_);
      held_done_.clear();
    }
    writer_.Write(tokens.Bytes());
  } catch (const std::exception& e) {
    failure_ = e.what();
  }
}

void TokenSink::Columns(const std::vector<tsql::Column>& columns) {
  columns_ = columns;
  wires_.clear();
  for (const tsql::Column& c : columns) {
    wires_.push_back(ChooseWireType(c.type, c.code_page, version_));
  }
  Writer out;
  WriteColumns(out, columns_, wires_, version_);
  Emit(out);
}

void TokenSink::Row(const std::vector<tsql::Value>& values) {
  if (values.size() != columns_.size()) return;
  bool any_null = false;
  for (const tsql::Value& v : values) any_null = any_null || v.null;
  Writer out;
  bool bitmap = any_null && version_.NullBitmapRows();
  out.U8(bitmap ? token::kNbcRow : token::kRow);
  if (bitmap) {
    std::vector<uint8_t> nulls((values.size() + 7) / 8, 0);
    for (size_t i = 0; i < values.size(); ++i) {
      if (values[i].null) nulls[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    out.Append(nulls);
  }
  for (size_t i = 0; i < values.size(); ++i) {
    if (bitmap && values[i].null) continue;
    const tsql::Value* value = &values[i];
    tsql::Value converted;
    // A value of another type than its column's (bytes that did not fit) goes in the column's.
    if (!value->null && value->type.id != columns_[i].type.id) {
      try {
        converted = tsql::Convert(*value, columns_[i].type, tsql::Conversion::kExplicit);
      } catch (const tsql::SqlError&) {
        converted = tsql::Value::Null(columns_[i].type);
      }
      value = &converted;
    }
    WriteValue(out, wires_[i], *value, true);
  }
  Emit(out);
}

void TokenSink::Info(const tsql::Message& m) {
  std::u16string text = tsql::Utf8ToWide(m.text);
  std::u16string procedure = tsql::Utf8ToWide(m.procedure);
  Writer out;
  WriteMessage(out,
               {m.number, static_cast<uint8_t>(m.state), static_cast<uint8_t>(m.severity), text,
                server_name_, procedure, m.line},
               version_);
  Emit(out);
}

void TokenSink::ReturnStatus(int32_t status) {
  Writer out;
  WriteReturnStatus(out, status);
  Emit(out);
}

void TokenSink::Output(const tsql::OutputParam& param) {
  Writer out;
  WriteReturnValue(out, param, version_);
  Emit(out);
}

void TokenSink::End(const tsql::Done& d) {
  uint8_t token = d.kind == tsql::Done::Kind::kStatement            ? token::kDone
                  : d.kind == tsql::Done::Kind::kInProc || in_call_ ? token::kDoneInProc
                                                                    : token::kDoneProc;
  uint16_t status = (d.count ? done::kCount : 0) | (d.error ? done::kError : 0);
  uint16_t command = d.kind == tsql::Done::Kind::kProc ? done::kCmdExecute
                     : d.count                         ? done::kCmdSelect
                                                       : 0;
  Done(token, status, command, d.count ? static_cast<uint64_t>(*d.count) : 0);
}

void TokenSink::Done(uint8_t token, uint16_t status, uint16_t command, uint64_t count) {
  Writer none;
  Emit(none);  // sends the DONE held before, with DONE_MORE
  if (Stopped()) return;
  Writer out;
  WriteDone(out, token, status, command, count, version_);
  held_done_ = std::move(out.Bytes());
}

void TokenSink::EndCall() {
  in_call_ = false;
  // The call's own end is the DONE held last.
  if (!held_done_.empty() && held_done_[0] == token::kDoneInProc) held_done_[0] = token::kDoneProc;
}

void TokenSink::DatabaseChanged(std::string_view name) {
  std::u16string wide = tsql::Utf8ToWide(name);
  Writer out;
  WriteEnvChange(out, 1, wide, u"master");
  Emit(out);
}

void TokenSink::Error(int32_t number, uint8_t state, uint8_t severity, std::u16string_view text) {
  Writer out;
  WriteMessage(out, {number, state, severity, text, server_name_, u"", 0}, version_);
  Emit(out);
}

void TokenSink::Finish() {
  if (!failure_.empty()) return;
  try {
    if (held_done_.empty()) {
      Writer out;
      WriteDone(out, token::kDone, 0, 0, 0, version_);
      held_done_ = std::move(out.Bytes());
    }
    writer_.Write(held_done_);
    held_done_.clear();
    writer_.End();
  } catch (const std::exception& e) {
    failure_ = e.what();
  }
}

}  // namespace dunmarrow::server::tds
