// A session over the built module, with a recording sink, for the engine's tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "tsql/recording_sink.h"
#include "tsql/session.h"

namespace dunmarrow::tsql {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry.LoadModule(DUNMARROW_MODULE_PATH);
    session = std::make_unique<Session>(registry);
  }
  // The procedures of the tests' own module.
  void RegisterTestProcedures() {
    for (const char* name : {"xp_hosttest_write", "xp_hosttest_rows", "xp_hosttest_messages"}) {
      registry.Add(name, DUNMARROW_TEST_MODULE_PATH);
    }
  }
  bool RunBatch(const std::string& text) {
    sink.Clear();
    return session->RunBatch(text, sink);
  }
  bool Call(const std::string& name, const std::vector<RpcParam>& params) {
    sink.Clear();
    return session->Call(name, params, sink);
  }
  std::vector<Event::Kind> Kinds() const {
    std::vector<Event::Kind> kinds;
    for (const Event& e : sink.Events()) kinds.push_back(e.kind);
    return kinds;
  }

  ProcedureRegistry registry;
  std::unique_ptr<Session> session;
  RecordingSink sink;
};

}  // namespace dunmarrow::tsql
