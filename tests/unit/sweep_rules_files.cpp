// How the file procedures (sizes, delete, copy, drives, temporary names, line appending,
// INI keys) answer in the bad-input sweep.
#include <cstring>

#include "platform/windows.h"
#include "tests/unit/sweep.h"

namespace {

using dunmarrow::ods::Param;
using dunmarrow::test::SweepFrame;

bool Done(int status, const std::vector<Param>&) {
  return status == 1;
}

bool Size(int status, const std::vector<Param>&) {
  return status >= 0;
}

// The length of the temporary path, as the system gives it.
bool TempPathLength(int status, const std::vector<Param>&) {
  char path[MAX_PATH + 1];
  return status == static_cast<int>(GetTempPathA(sizeof path, path));
}

bool Drives(int status, const std::vector<Param>&) {
  return status == static_cast<int>(GetLogicalDrives());
}

bool TempNumber(int status, const std::vector<Param>&) {
  return status >= 1 && status <= 0xFFFF;
}

bool IniLength(int status, const std::vector<Param>&) {
  return status >= 0 && status <= 2047;
}

}  // namespace

SWEEP_RULE("xp_FileSize", {SweepFrame::kDirect, "xp_FileSize: ", Size, {}});
SWEEP_RULE("xp_FileDelete", {SweepFrame::kDirect, "xp_FileDelete: ", Done, {}});
SWEEP_RULE("xp_GetTempDir", {SweepFrame::kDirect, "xp_GetTempDir: ", TempPathLength, {}});
SWEEP_RULE("xp_FileAppendLine", {SweepFrame::kDirect, "xp_FileAppendLine: ", Done, {}});
SWEEP_RULE("xp_FileCopy", {SweepFrame::kContext, "xp_FileCopy: ", Done, {}});
SWEEP_RULE("xp_GetLogicalDrives", {SweepFrame::kContext, "xp_GetLogicalDrives: ", Drives, {}});
SWEEP_RULE("xp_GetTempFile", {SweepFrame::kContext, "xp_GetTempFile: ", TempNumber, {}});
SWEEP_RULE("xp_IniWriteKey", {SweepFrame::kContext, "xp_IniWriteKey: ", Done, {}});
SWEEP_RULE("xp_IniReadKey", {SweepFrame::kContext, "xp_IniReadKey: ", IniLength, {}});
