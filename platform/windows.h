// The Windows surface the module uses. On Windows these are the real headers; on Linux our
// stand-ins, declared under the same names with the same widths and error codes.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/linux/codepage.h"
#include "platform/linux/errors.h"
#include "platform/linux/files.h"
#include "platform/linux/locale.h"
#include "platform/linux/module.h"
#include "platform/linux/sync.h"
#include "platform/linux/types.h"
#endif
