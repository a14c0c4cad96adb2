// A module for the host's tests, built against our ODS library like any module a server could
// load with sp_addextendedproc: procedures that write OUTPUT parameters byte for byte, send
// result sets of every column type, and send messages.
#include <cstring>
#include <stdexcept>
#include <vector>

#include "ods/srv.h"
#include "runtime/export.h"

namespace {

void Describe(SRV_PROC* srvproc, int column, const char* name, int type, int length) {
  srv_describe(srvproc, column, const_cast<char*>(name), SRV_NULLTERM, type, length, type, 0,
               nullptr);
}

void Set(SRV_PROC* srvproc, int column, const void* data, int length) {
  srv_setcollen(srvproc, column, length);
  srv_setcoldata(srvproc, column, length ? const_cast<void*>(data) : nullptr);
}

}  // namespace

// xp_hosttest_write @target OUTPUT, @bytes: writes the bytes of @bytes into @target as they
// are, whatever @target's type (NULL when @bytes is NULL); returns their length.
XP_PROCEDURE(xp_hosttest_write) {
  int status = -1;
  if (srv_rpcparams(srvproc) == 2) {
    uint8_t type = 0;
    uint32_t max_len = 0, length = 0;
    int32_t is_null = 0;
    srv_paraminfo(srvproc, 2, &type, &max_len, &length, nullptr, &is_null);
    std::vector<uint8_t> bytes(length + 1);
    srv_paraminfo(srvproc, 2, &type, &max_len, &length, bytes.data(), &is_null);
    if (is_null) {
      srv_paramsetoutput(srvproc, 1, nullptr, 0, 1);
    } else {
      srv_paramsetoutput(srvproc, 1, bytes.data(), length, 0);
    }
    status = static_cast<int>(length);
  } else {
    const char text[] = "xp_hosttest_write: two parameters, please";
    srv_sendmsg(srvproc, SRV_MSG_INFO, 0, 0, 0, nullptr, 0, 0, const_cast<char*>(text),
                SRV_NULLTERM);
  }
  srv_senddone(srvproc, SRV_DONE_MORE, 0, 0);
  return status;
}

// xp_hosttest_rows: one result set with a column of each kind the module sends, a row of
// values and a row of NULLs; returns 2.
XP_PROCEDURE(xp_hosttest_rows) {
  Describe(srvproc, 1, "i", SRVINTN, 4);
  Describe(srvproc, 2, "b", SRVBITN, 1);
  Describe(srvproc, 3, "f", SRVFLTN, 8);
  Describe(srvproc, 4, "m", SRVMONEYN, 8);
  Describe(srvproc, 5, "d", SRVNUMERICN, 19);
  Describe(srvproc, 6, "dt", SRVDATETIME, 8);
  Describe(srvproc, 7, "g", SRVGUID, 16);
  Describe(srvproc, 8, "s", SRVNVARCHAR, 20);
  Describe(srvproc, 9, "bin", SRVBIGVARBINARY, 4);
  Describe(srvproc, 10, "", SRVINTN, 4);
  int32_t i = -42;
  uint8_t b = 1;
  double f = 2.5;
  uint8_t m[8] = {0, 0, 0, 0, 0x98, 0x3A, 0, 0};      // 1.5: high 32 bits, then low
  uint8_t d[19] = {38, 2, 0, 0x39, 0x30};             // -123.45
  uint8_t dt[8] = {0, 0, 0, 0, 0x00, 0xC1, 0xC5, 0};  // 1900-01-01 12:00
  uint8_t g[16] = {0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                   0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
  const char16_t s[] = u"h\u00e9llo";
  uint8_t bin[3] = {0xDE, 0xAD, 0x01};
  int32_t unnamed = 7;
  Set(srvproc, 1, &i, 4);
  Set(srvproc, 2, &b, 1);
  Set(srvproc, 3, &f, 8);
  Set(srvproc, 4, m, 8);
  Set(srvproc, 5, d, 19);
  Set(srvproc, 6, dt, 8);
  Set(srvproc, 7, g, 16);
  Set(srvproc, 8, s, 10);
  Set(srvproc, 9, bin, 3);
  Set(srvproc, 10, &unnamed, 4);
  srv_sendrow(srvproc);
  for (int column = 1; column <= 10; ++column) Set(srvproc, column, nullptr, 0);
  srv_sendrow(srvproc);
  srv_senddone(srvproc, SRV_DONE_COUNT | SRV_DONE_MORE, 0, 2);
  srv_senddone(srvproc, SRV_DONE_MORE, 0, 0);
  return 2;
}

// xp_hosttest_messages: an informational message, a result set without rows, and an error
// message; returns 3.
XP_PROCEDURE(xp_hosttest_messages) {
  char info[] = "hosttest: an informational message";
  srv_sendmsg(srvproc, SRV_MSG_INFO, 0, 0, 0, nullptr, 0, 0, info, SRV_NULLTERM);
  Describe(srvproc, 1, "Empty", SRVNVARCHAR, 8);
  srv_senddone(srvproc, SRV_DONE_COUNT | SRV_DONE_MORE, 0, 0);
  char error[] = "hosttest: an error message";
  srv_sendmsg(srvproc, SRV_MSG_ERROR, 50001, 16, 3, nullptr, 0, 7, error, SRV_NULLTERM);
  srv_senddone(srvproc, SRV_DONE_MORE, 0, 0);
  return 3;
}

// xp_hosttest_throw: lets an exception out, as a badly written module might.
XP_PROCEDURE(xp_hosttest_throw) {
  (void)srvproc;
  throw std::runtime_error("hosttest: thrown out of the procedure");
}
