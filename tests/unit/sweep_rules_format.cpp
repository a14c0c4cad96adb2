// How xp_FormatStr answers in the bad-input sweep: 0 when there is nothing to do (no
// parameter, or parameter 1 not text), 1 when it formatted; failures are reported.
#include "runtime/data_kind.h"
#include "tests/unit/sweep.h"

namespace {

bool FormatStatus(int status, const std::vector<dunmarrow::ods::Param>& params) {
  using namespace dunmarrow;
  bool text_target = !params.empty() && (OdsTypeKind(params[0].type) == dkString ||
                                         OdsTypeKind(params[0].type) == dkWideString);
  if (!text_target) return status == 0;
  return status == 1 && params.size() >= 2;
}

}  // namespace

SWEEP_RULE("xp_FormatStr",
           {dunmarrow::test::SweepFrame::kContext, "xp_FormatStr: ", FormatStatus, {}});
