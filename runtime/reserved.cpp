// Reserved entry points: they return -1 at once and send nothing.
//
// Why 35 of them: the module keeps the whole export table of the module it replaces, 59 names,
// of which only 23 procedures work. Servers and scripts set up for that module may have any of
// its names registered with sp_addextendedproc; the server looks a name up in the DLL when it
// is executed, and a missing name would fail that call with an error of the server instead of the
// status -1 its callers have always received. So every name stays exported, and the ones
// without a working procedure answer -1 here. The release's register.sql registers only the
// working ones: runtime/Dunmarrow.def marks where the reserved names begin, and the build's
// module facts give scripts/make_dist.py both lists. The list below must match that part.
#include "runtime/export.h"

#define XP_RESERVED(name) \
  XP_PROCEDURE(name) {    \
    (void)srvproc;        \
    return -1;            \
  }

XP_RESERVED(xp_FileCompare)
XP_RESERVED(xp_FileConvert)
XP_RESERVED(xp_FindFiles)
XP_RESERVED(xp_FindFirstFile)
XP_RESERVED(xp_FindNextFile)
XP_RESERVED(xp_FindClose)
XP_RESERVED(xp_DirCreate)
XP_RESERVED(xp_DirRemove)
XP_RESERVED(xp_DirSize)
XP_RESERVED(xp_GetDriveSpace)
XP_RESERVED(xp_GetDriveType)
XP_RESERVED(xp_FileMove)
XP_RESERVED(xp_FileOpen)
XP_RESERVED(xp_FileClose)
XP_RESERVED(xp_FileCloseForce)
XP_RESERVED(xp_FileSeek)
XP_RESERVED(xp_FileRead)
XP_RESERVED(xp_FileReadContents)
XP_RESERVED(xp_FileWrite)
XP_RESERVED(xp_FileWriteLine)
XP_RESERVED(xp_FileReadLine)
XP_RESERVED(xp_IniDeleteKey)
XP_RESERVED(xp_IniDeleteSection)
XP_RESERVED(xp_ZAppend)
XP_RESERVED(xp_GetRandomData)
XP_RESERVED(xp_md5_quick)
XP_RESERVED(xp_md5_quick_compare)
XP_RESERVED(xp_HashCreate)
XP_RESERVED(xp_HashAppend)
XP_RESERVED(xp_HashClose)
XP_RESERVED(xp_CanPing)
XP_RESERVED(xp_TraceRoute)
XP_RESERVED(xp_IsPortOpen)
XP_RESERVED(xp_HttpPostFiles)
XP_RESERVED(xp_Whois)
