// The failure report both frames end in: the failure in flight turned into one report under
// the procedure's prefix.
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
