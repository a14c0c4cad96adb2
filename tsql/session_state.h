// The state of one engine session that outlives its batches: the SET options, the open
// transactions, the session id and what the session reports about itself.
#pragma once

#include <cstdint>
#include <string>

namespace dunmarrow::tsql {

struct SessionState {
  bool trace = false;  // report every ODS event of a call as a Trace line
  int spid = 0;        // @@SPID; 0: the session takes the next one
  bool nocount = false;
};

}  // namespace dunmarrow::tsql
