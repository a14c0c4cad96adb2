// The Open Data Services version the module was built for.
#include <cstdint>

#include "runtime/export.h"

extern "C" XP_EXPORT uint32_t XP_CALL __GetXpVersion() {
  return 0x07000000;
}
