// The frames around a procedure's work: one guard that turns any failure into one report. The
// direct frame is here; the context frame, which also ends the call's context, is
// RunContextFrame in runtime/context.h.
#pragma once

#include <new>
#include <string>

#include "ods/srv.h"
#include "runtime/failure.h"
#include "runtime/report.h"

namespace dunmarrow {

// Reports the failure in flight (inside a catch) under the procedure's prefix; returns -1.
int ReportCurrentFailure(SRV_PROC* srvproc, const char* prefix);

// The direct frame: runs the work, reports a failure as prefix + message, then sends
// DONE (status 1, count 0) in every case. The work returns the status.
template <typename Work>
int RunDirectFrame(SRV_PROC* srvproc, const char* prefix, Work&& work) {
  int status = -1;
  try {
    status = work();
  } catch (...) {
    status = ReportCurrentFailure(srvproc, prefix);
  }
  srv_senddone(srvproc, SRV_DONE_MORE, 0, 0);
  return status;
}

}  // namespace dunmarrow
