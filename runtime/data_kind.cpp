// Value kinds and their mapping from and to the server's type codes, and ReadParam, the direct
// frame's access to one parameter.
#include "runtime/data_kind.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "runtime/failure.h"

namespace dunmarrow {

TxpDataKind OdsTypeKind(uint8_t ods_type) {
  switch (ods_type) {
    case SRVIMAGE:
      return dkBlob;
    case SRVTEXT:
    case SRVVARCHAR:
    case SRVCHAR:
    case SRVBIGVARCHAR:
    case SRVBIGCHAR:
      return dkString;
    case SRVGUID:
      return dkGuid;
    case SRVVARBINARY:
    case SRVBINARY:
    case SRVBIGVARBINARY:
    case SRVBIGBINARY:
      return dkBytes;
    case SRVINTN:
    case SRVINT1:
    case SRVINT2:
    case SRVINT4:
      return dkInteger;
    case SRVBIT:
    case SRVBITN:
      return dkBoolean;
    case SRVDECIMAL:
    case SRVNUMERIC:
    case SRVDECIMALN:
    case SRVNUMERICN:
    case SRVINT8:
      return dkBCD;
    case SRVDATETIM4:
    case SRVDATETIME:
    case SRVDATETIMN:
      return dkDateTime;
    case SRVFLT4:
    case SRVFLT8:
    case SRVFLTN:
      return dkFloat;
    case SRVMONEY:
    case SRVMONEYN:
    case SRVMONEY4:
      return dkCurrency;
    case SRVNTEXT:
    case SRVNVARCHAR:
    case SRVNCHAR:
      return dkWideString;
    default:
      return dkUnknown;
  }
}

uint8_t KindOdsType(TxpDataKind kind) {
  switch (static_cast<TxpDataKind>(kind & 0x7F)) {
    case dkString:
    case dkWideString:
      return SRVNVARCHAR;
    case dkInteger:
      return SRVINTN;
    case dkBoolean:
      return SRVBITN;
    case dkFloat:
      return SRVFLTN;
    case dkCurrency:
      return SRVMONEYN;
    case dkBCD:
      return SRVNUMERICN;
    case dkDateTime:
      return SRVDATETIME;
    case dkBytes:
      return SRVBIGVARBINARY;
    case dkBlob:
      return SRVIMAGE;
    case dkMemo:
      return SRVNTEXT;
    case dkGuid:
      return SRVGUID;
    default:
      return SRVNULL;
  }
}

bool ReadParam(SRV_PROC* srvproc, int n, TxpParamBuffer& buffer) {
  // Only the bytes a reader may look at are cleared, not the whole data area: a call reads
  // one short value far more often than a long one.
  buffer.Type = 0;
  buffer.Null = 0;
  buffer.MaxLen = 0;
  buffer.ActualLen = 0;
  std::memset(buffer.Data, 0, kParamZeroTail);
  buffer.Terminator[0] = buffer.Terminator[1] = 0;
  // The server copies the whole value: ask for its length before giving it the data area.
  if (srv_paraminfo(srvproc, n, &buffer.Type, &buffer.MaxLen, &buffer.ActualLen, nullptr,
                    &buffer.Null) != SRV_SUCCEED) {
    return false;
  }
  if (buffer.ActualLen > kParamDataSize) RaiseInvalidParams();
  if (srv_paraminfo(srvproc, n, &buffer.Type, &buffer.MaxLen, &buffer.ActualLen, buffer.Data,
                    &buffer.Null) != SRV_SUCCEED) {
    return false;
  }
  size_t end = std::min<size_t>(buffer.ActualLen, kParamDataSize);
  std::memset(buffer.Data + end, 0, std::min<size_t>(kParamZeroTail, kParamDataSize - end));
  return true;
}

OdsDateTime DateTimeToOdsDateTime(double value) {
  double whole = std::trunc(value);
  double days = whole - 2;  // day 2 of the date-time scale is 1900-01-01
  if (!(days >= -2147483648.0 && days <= 2147483647.0)) RaiseRangeError();
  // Milliseconds of the day, rounded as the date-time scale splits a time into its parts.
  int64_t ms = std::llround(std::fabs(value - whole) * 86400000.0);
  // ticks = ms * 300 / 1000 rounded to nearest, halves to even.
  int64_t tenths = ms * 3;
  int64_t ticks = tenths / 10;
  int64_t rest = tenths % 10;
  if (rest > 5 || (rest == 5 && (ticks & 1))) ++ticks;
  int32_t day_count = static_cast<int32_t>(days);
  uint32_t tick_count = static_cast<uint32_t>(ticks);
  OdsDateTime out;
  std::memcpy(out.bytes, &day_count, 4);
  std::memcpy(out.bytes + 4, &tick_count, 4);
  return out;
}

OdsMoney CurrencyToOdsMoney(int64_t value) {
  uint64_t bits = static_cast<uint64_t>(value);
  uint32_t high = static_cast<uint32_t>(bits >> 32);
  uint32_t low = static_cast<uint32_t>(bits);
  OdsMoney out;
  std::memcpy(out.bytes, &high, 4);
  std::memcpy(out.bytes + 4, &low, 4);
  return out;
}

int64_t OdsMoneyToCurrency(const uint8_t* bytes) {
  uint32_t high, low;
  std::memcpy(&high, bytes, 4);
  std::memcpy(&low, bytes + 4, 4);
  return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

}  // namespace dunmarrow
