// How the existence checks answer in the bad-input sweep.
#include "tests/unit/sweep.h"

namespace {
bool YesOrNo(int status, const std::vector<dunmarrow::ods::Param>&) {
  return status == 0 || status == 1;
}
}  // namespace

SWEEP_RULE("xp_FileExists", {dunmarrow::test::SweepFrame::kDirect, "xp_FileExists: ", YesOrNo, {}});
SWEEP_RULE("xp_DirExists", {dunmarrow::test::SweepFrame::kDirect, "xp_DirExists: ", YesOrNo, {}});
