// The bad-input sweep: every export is called with many parameter lists (0 to 5 parameters
// of every kind, NULLs, empty values, values of 8000 and 8001 bytes, OUTPUT parameters) and
// each call must end in a documented status with a well-formed transcript.
//
// A procedure family registers how its procedures answer with SWEEP_RULE in its own test
// file; an export without a rule must behave as a reserved entry point.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ods/session.h"

namespace dunmarrow::test {

enum class SweepFrame {
  kDirect,   // message (if any) before the one final DONE
  kContext,  // DONE first, then the message (if any); rows may precede the DONE
  // A context frame whose procedure answers its failures with an error message of its own
  // while the context exists: the message (if any) before the DONE.
  kContextOwnMessage,
};

struct SweepRule {
  SweepFrame frame = SweepFrame::kDirect;
  std::string prefix;  // the report's prefix, "xp_FileExists: "
  // Whether a status may end a call with these parameters (besides -1 with a report).
  std::function<bool(int status, const std::vector<ods::Param>& params)> status_ok;
  // Set up before each call, for procedures that need a fixture (a registered buffer...).
  std::function<void()> before_each;
};

bool RegisterSweepRule(const std::string& export_name, SweepRule rule);
// Lists an export leaves out: calls that run for minutes by design (a ping series of millions
// of echoes), whose handling the family's own tests cover.
bool RegisterSweepSkip(const std::string& export_name,
                       std::function<bool(const std::vector<ods::Param>& params)> skip);

// The parameter values the sweep combines.
std::vector<ods::Param> SweepValuePool();

}  // namespace dunmarrow::test

#define SWEEP_CONCAT2(a, b) a##b
#define SWEEP_CONCAT(a, b) SWEEP_CONCAT2(a, b)
#define SWEEP_RULE(export_name, ...)                                 \
  static const bool SWEEP_CONCAT(sweep_rule_registered_, __LINE__) = \
      ::dunmarrow::test::RegisterSweepRule(export_name, __VA_ARGS__)
