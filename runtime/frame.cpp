// The two frames around a procedure's work (direct and context), each one guard that turns any
// failure into one report.
#include "runtime/frame.h"

#include <exception>

namespace dunmarrow {

int ReportCurrentFailure(SRV_PROC* srvproc, const char* prefix) {
  try {
    throw;
  } catch (const Exception& failure) {
    return ReportProcError(srvproc, prefix + failure.Message(), failure.Address());
  } catch (const std::bad_alloc&) {
    return ReportProcError(srvproc, std::string(prefix) + kOutOfMemoryMessage, nullptr);
  } catch (const std::exception& failure) {
    return ReportProcError(srvproc, std::string(prefix) + failure.what(), nullptr);
  } catch (...) {
    return ReportProcError(srvproc, std::string(prefix) + "Unknown failure", nullptr);
  }
}

}  // namespace dunmarrow
