// A Sink that keeps every event it is given, in order, for the tests and for hosts that look
// at a whole response before they answer.
#pragma once

#include <string>
#include <vector>

#include "tsql/sink.h"

namespace dunmarrow::tsql {

struct Event {
  enum class Kind { kColumns, kRow, kInfo, kReturnStatus, kOutput, kEnd, kDatabase, kTrace };
  Kind kind = Kind::kEnd;
  std::vector<Column> columns;  // kColumns
  std::vector<Value> row;       // kRow
  Message message;              // kInfo
  int32_t status = 0;           // kReturnStatus
  OutputParam output;           // kOutput
  Done done;                    // kEnd
  std::string text;             // kDatabase, kTrace
};

class RecordingSink : public Sink {
 public:
  void Columns(const std::vector<Column>& columns) override {
    Add(Event::Kind::kColumns).columns = columns;
  }
  void Row(const std::vector<Value>& values) override { Add(Event::Kind::kRow).row = values; }
  void Info(const Message& message) override { Add(Event::Kind::kInfo).message = message; }
  void ReturnStatus(int32_t status) override { Add(Event::Kind::kReturnStatus).status = status; }
  void Output(const OutputParam& param) override { Add(Event::Kind::kOutput).output = param; }
  void End(const Done& done) override { Add(Event::Kind::kEnd).done = done; }
  void DatabaseChanged(std::string_view name) override {
    Add(Event::Kind::kDatabase).text = std::string(name);
  }
  void Trace(std::string_view line) override { Add(Event::Kind::kTrace).text = std::string(line); }

  const std::vector<Event>& Events() const { return events_; }
  // The events of one kind, in order.
  std::vector<Event> Of(Event::Kind kind) const {
    std::vector<Event> found;
    for (const Event& e : events_) {
      if (e.kind == kind) found.push_back(e);
    }
    return found;
  }
  void Clear() { events_.clear(); }

 private:
  Event& Add(Event::Kind kind) {
    events_.emplace_back();
    events_.back().kind = kind;
    return events_.back();
  }
  std::vector<Event> events_;
};

}  // namespace dunmarrow::tsql
