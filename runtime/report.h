// Failure reports: a report goes to the diagnostic log and, as a message, to the client.
#pragma once

#include <string>

#include "ods/srv.h"

namespace dunmarrow {

inline constexpr const char kDiagnosticLog[] = "c:\\Wexcombe.log";

// Appends " (Runtime Addr: $XXXXXXXX)" for the failure address, logs the text, sends it to
// the client as an informational message and returns -1.
int ReportProcError(SRV_PROC* srvproc, const std::string& text, const void* failure_address);

// The address suffix: the address relative to the load address of its module, in 8
// upper-case hexadecimal digits.
std::string RuntimeAddressSuffix(const void* failure_address);

// Appends "[date time] text\r\n" to the file under LogLock; an empty text does nothing, and a
// file that can be neither opened nor created is left alone.
void AppendLogLine(const std::string& file_name, const std::string& text, bool append);

// Destroys LogLock if it was created (module unload).
void DestroyLogLock();

}  // namespace dunmarrow
