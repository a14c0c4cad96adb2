// Helpers for driving procedures through the ODS library with an in-process session, and the
// transcript lines the tests expect of a call (its DONE, failure reports, values in hex).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "ods/params.h"
#include "ods/session.h"

namespace dunmarrow::test {

struct CallResult {
  int status = 0;
  std::vector<ods::Event> events;

  // One line per event; failure addresses masked as $XXXXXXXX.
  std::vector<std::string> Transcript() const {
    static const std::regex address(R"(\(Runtime Addr: \$[0-9A-F]{8}\))");
    std::vector<std::string> lines;
    for (const auto& e : events) {
      lines.push_back(
          std::regex_replace(ods::DescribeEvent(e), address, "(Runtime Addr: $XXXXXXXX)"));
    }
    return lines;
  }
};

inline CallResult Call(ods::ProcEntry proc, std::vector<ods::Param> params = {}) {
  ods::RecordingSession session(std::move(params));
  CallResult result;
  result.status = ods::ExecuteProc(proc, session);
  result.events = session.Events();
  return result;
}

// The final DONE of a call, as the transcript shows it.
inline const std::string kDone = "senddone status=0x0001 info=0 count=0";
inline const std::vector<std::string> kPlainDone = {kDone};

// A failure report with the given text, as the transcript shows it.
inline std::string FailureReport(const std::string& text) {
  return "sendmsg type=1 number=0 severity=0 state=0 line=0 \"" + text +
         " (Runtime Addr: $XXXXXXXX)\"";
}

// The transcript of a direct-frame failure with the given report text.
inline std::vector<std::string> DirectFailure(const std::string& text) {
  return {FailureReport(text), kDone};
}

// The transcript of a context-frame failure: the DONE (and OUTPUT write-backs) first, then the
// report.
inline std::vector<std::string> ContextFailure(const std::string& text,
                                               std::vector<std::string> write_backs = {}) {
  std::vector<std::string> lines = {kDone};
  lines.insert(lines.end(), write_backs.begin(), write_backs.end());
  lines.push_back(FailureReport(text));
  return lines;
}

// "0x" and the bytes in upper-case hexadecimal, as transcripts show values.
inline std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}
inline std::string Hex(const ods::Bytes& bytes) {
  return Hex(std::string(bytes.begin(), bytes.end()));
}

// A fresh drive root under the test's temporary directory, with drive C: mapped.
class DriveRootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::filesystem::path root_;
  std::filesystem::path c_drive_;
  std::string ReadLog() const;
};

}  // namespace dunmarrow::test

namespace dunmarrow::test {
inline ods::Bytes ByteStringOf(const uint8_t* bytes, size_t length) {
  return ods::Bytes(bytes, bytes + length);
}
}  // namespace dunmarrow::test
