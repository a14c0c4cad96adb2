// Working procedures whose families are not built yet. Until then they behave like reserved
// entry points, so that the export table is complete: -1 at once, nothing sent.
#include "runtime/export.h"

#define XP_PENDING(name) \
  XP_PROCEDURE(name) {   \
    (void)srvproc;       \
    return -1;           \
  }
