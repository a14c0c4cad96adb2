// The Open Data Services interface: the 13 server calls an extended procedure module makes.
// Widths follow the server's library: 32-bit lengths and flags, one-byte type codes.
// On Windows the module imports these from opends60.dll; on Linux from our own library.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct srv_proc SRV_PROC;

typedef int32_t DBINT;
typedef uint16_t DBUSMALLINT;
typedef uint8_t DBTINYINT;
typedef char DBCHAR;

// The server's headers declare these widths as int, long, ULONG, DBINT and BOOL: 32 bits on
// 32-bit and on 64-bit Windows (LLP64) alike, so one declaration serves both DLLs. Only the
// pointers (SRV_PROC*, the data pointers) grow to 64 bits in the x64 DLL.
#if defined(_WIN32) && defined(__cplusplus)
static_assert(sizeof(long) == sizeof(int32_t) && sizeof(int) == sizeof(int32_t),
              "the ODS interface's long and int are 32 bits on Windows");
#endif

#if defined(_WIN32) && defined(ODS_BUILDING_LIBRARY)
#define ODS_DECL __declspec(dllexport)
#define ODS_CALL __cdecl
#elif defined(_WIN32)
#define ODS_DECL __declspec(dllimport)
#define ODS_CALL __cdecl
#else
#define ODS_DECL __attribute__((visibility("default")))
#define ODS_CALL
#endif

enum {
  SRV_FAIL = 0,
  SRV_SUCCEED = 1,
  SRV_NULLTERM = -1,
};

// srv_senddone status bits.
enum {
  SRV_DONE_FINAL = 0x0000,
  SRV_DONE_MORE = 0x0001,
  SRV_DONE_ERROR = 0x0002,
  SRV_DONE_COUNT = 0x0010,
};

// srv_sendmsg message types.
enum {
  SRV_MSG_INFO = 1,
  SRV_MSG_ERROR = 2,
};

// The server's one-byte data type codes.
enum {
  SRVNULL = 0x1F,
  SRVIMAGE = 0x22,
  SRVTEXT = 0x23,
  SRVGUID = 0x24,
  SRVVARBINARY = 0x25,
  SRVINTN = 0x26,
  SRVVARCHAR = 0x27,
  SRVBINARY = 0x2D,
  SRVCHAR = 0x2F,
  SRVINT1 = 0x30,
  SRVBIT = 0x32,
  SRVINT2 = 0x34,
  SRVDECIMAL = 0x37,
  SRVINT4 = 0x38,
  SRVDATETIM4 = 0x3A,
  SRVFLT4 = 0x3B,
  SRVMONEY = 0x3C,
  SRVDATETIME = 0x3D,
  SRVFLT8 = 0x3E,
  SRVNUMERIC = 0x3F,
  SRVNTEXT = 0x63,
  SRVBITN = 0x68,
  SRVDECIMALN = 0x6A,
  SRVNUMERICN = 0x6C,
  SRVFLTN = 0x6D,
  SRVMONEYN = 0x6E,
  SRVDATETIMN = 0x6F,
  SRVMONEY4 = 0x7A,
  SRVINT8 = 0x7F,
  SRVBIGVARBINARY = 0xA5,
  SRVBIGVARCHAR = 0xA7,
  SRVBIGBINARY = 0xAD,
  SRVBIGCHAR = 0xAF,
  SRVNVARCHAR = 0xE7,
  SRVNCHAR = 0xEF,
};

ODS_DECL int ODS_CALL srv_rpcparams(SRV_PROC* srvproc);
ODS_DECL int ODS_CALL srv_paraminfo(SRV_PROC* srvproc, int n, uint8_t* type, uint32_t* maxlen,
                                    uint32_t* actuallen, uint8_t* data, int32_t* isnull);
ODS_DECL DBCHAR* ODS_CALL srv_paramname(SRV_PROC* srvproc, int n, int* len);
ODS_DECL int ODS_CALL srv_paramstatus(SRV_PROC* srvproc, int n);
ODS_DECL int ODS_CALL srv_paramsetoutput(SRV_PROC* srvproc, int n, uint8_t* data, uint32_t len,
                                         int32_t isnull);
ODS_DECL int ODS_CALL srv_paramset(SRV_PROC* srvproc, int n, void* data, int len);
ODS_DECL int ODS_CALL srv_describe(SRV_PROC* srvproc, int column, DBCHAR* name, int namelen,
                                   DBINT desttype, DBINT destlen, DBINT srctype, DBINT srclen,
                                   void* srcdata);
ODS_DECL int ODS_CALL srv_setcollen(SRV_PROC* srvproc, int column, int len);
ODS_DECL int ODS_CALL srv_setcoldata(SRV_PROC* srvproc, int column, void* data);
ODS_DECL int ODS_CALL srv_sendrow(SRV_PROC* srvproc);
ODS_DECL int ODS_CALL srv_senddone(SRV_PROC* srvproc, DBUSMALLINT status, DBUSMALLINT info,
                                   DBINT count);
ODS_DECL int ODS_CALL srv_sendmsg(SRV_PROC* srvproc, int msgtype, DBINT msgnum, DBTINYINT severity,
                                  DBTINYINT state, DBCHAR* rpcname, int rpcnamelen,
                                  DBUSMALLINT line, DBCHAR* text, int textlen);
ODS_DECL int ODS_CALL srv_convert(SRV_PROC* srvproc, int srctype, void* src, DBINT srclen,
                                  int desttype, void* dest, DBINT destlen);

#ifdef __cplusplus
}
#endif
