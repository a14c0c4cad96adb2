// The module's working procedures, declared as it exports them, for the tests that call them
// directly through the ODS library.
#pragma once

#include "runtime/export.h"

XP_PROCEDURE(xp_FileExists);
XP_PROCEDURE(xp_DirExists);
XP_PROCEDURE(xp_FileSize);
XP_PROCEDURE(xp_FileDelete);
XP_PROCEDURE(xp_FileCopy);
XP_PROCEDURE(xp_GetLogicalDrives);
XP_PROCEDURE(xp_GetTempDir);
XP_PROCEDURE(xp_GetTempFile);
XP_PROCEDURE(xp_FileAppendLine);
XP_PROCEDURE(xp_IniWriteKey);
XP_PROCEDURE(xp_IniReadKey);
XP_PROCEDURE(xp_FormatStr);
XP_PROCEDURE(xp_ZCompress);
XP_PROCEDURE(xp_ZDecompress);
XP_PROCEDURE(xp_ZCreate);
XP_PROCEDURE(xp_ZClose);
XP_PROCEDURE(xp_sha_quick);
XP_PROCEDURE(xp_sha_quick_compare);
XP_PROCEDURE(xp_symmetric_quick_encode);
XP_PROCEDURE(xp_symmetric_quick_decode);
XP_PROCEDURE(xp_Ping);
XP_PROCEDURE(xp_GetAddrByHost);
XP_PROCEDURE(xp_GetHostByAddr);
