// The server side of one procedure call, as our ODS library sees it: the parameters of the
// call come in through a Session, and every srv_* call the module makes goes out to it as an
// Event, in order. A host (the command-line host, the tests, later a TDS endpoint) implements
// Session; nothing here knows how the results are shown or sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ods/srv.h"

namespace dunmarrow::ods {

using Bytes = std::vector<uint8_t>;

// One parameter of a call, as the server would describe it to srv_paraminfo.
struct Param {
  std::string name;  // with its leading "@"; empty when passed by position
  uint8_t type = SRVNULL;
  uint32_t max_len = 0;
  bool is_null = true;
  bool is_output = false;
  Bytes value;
};

enum class EventKind {
  Describe,
  SetColLen,
  SetColData,
  SendRow,
  SendDone,
  SendMsg,
  ParamSetOutput,
  ParamSet,
};

// One srv_* call the module made, with its arguments.
struct Event {
  EventKind kind = EventKind::SendDone;
  int number = 0;  // column or parameter number
  // Describe
  std::string name;
  int32_t dest_type = 0, dest_len = 0, src_type = 0, src_len = 0;
  // SetColLen
  int32_t length = 0;
  // SetColData, ParamSetOutput: the bytes; SendMsg: unused (see text)
  Bytes data;
  bool is_null = false;
  // SendRow: one value per described column, nullopt for NULL
  std::vector<std::optional<Bytes>> row;
  // SendDone
  uint16_t status = 0, info = 0;
  int32_t count = 0;
  // SendMsg
  int msg_type = 0;
  int32_t msg_number = 0;
  uint8_t severity = 0, state = 0;
  uint16_t line = 0;
  std::string text;
};

// A column as srv_describe defined it.
struct Column {
  std::string name;
  int32_t type = 0;
  int32_t max_len = 0;
};

class Session {
 public:
  virtual ~Session() = default;
  // The parameters of the call, numbered from 1 in the srv_* calls.
  virtual const std::vector<Param>& Params() const = 0;
  // Every srv_* call that has an effect, in the order the module makes it.
  virtual void OnEvent(const Event& event) = 0;
};

// A Session that keeps the parameters it was given and records every event.
class RecordingSession : public Session {
 public:
  explicit RecordingSession(std::vector<Param> params = {}) : params_(std::move(params)) {}
  const std::vector<Param>& Params() const override { return params_; }
  void OnEvent(const Event& event) override { events_.push_back(event); }
  const std::vector<Event>& Events() const { return events_; }
  void ClearEvents() { events_.clear(); }

 private:
  std::vector<Param> params_;
  std::vector<Event> events_;
};

// An extended procedure entry point as the module exports it.
using ProcEntry = int (*)(SRV_PROC*);

// Runs one procedure call against a session: makes the call's SRV_PROC handle, keeps the
// per-call state of the result set (columns, lengths, data pointers) and returns the status.
int ExecuteProc(ProcEntry proc, Session& session);

// One line of text per event, the form of --trace and of the tests' transcripts.
std::string DescribeEvent(const Event& event);
// One line of text for parameter n of a call: name, type code, maximum length, OUTPUT, value.
std::string DescribeParam(int n, const Param& param);

}  // namespace dunmarrow::ods
