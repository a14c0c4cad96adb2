// The Windows surface the module uses. On Windows these are the real headers; on Linux our
// stand-ins, declared under the same names with the same widths and error codes.
#pragma once

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which brings Windows Sockets 1.1; the ICMP service's types come first.
// clang-format off
#include <ipexport.h>
#include <icmpapi.h>
// clang-format on
// The module names the A and W functions explicitly; the generic macro would also rename
// methods such as TXProc::SendMessage in the files that see it.
#undef SendMessage
#else
#include "platform/linux/codepage.h"
#include "platform/linux/crypt.h"
#include "platform/linux/errors.h"
#include "platform/linux/files.h"
#include "platform/linux/heap.h"
#include "platform/linux/icmp.h"
#include "platform/linux/locale.h"
#include "platform/linux/messages.h"
#include "platform/linux/module.h"
#include "platform/linux/profile.h"
#include "platform/linux/sockets.h"
#include "platform/linux/sync.h"
#include "platform/linux/tempfiles.h"
#include "platform/linux/threads.h"
#include "platform/linux/types.h"
#include "platform/linux/users.h"
#endif
