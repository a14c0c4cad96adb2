// Value kinds, their mapping from and to the server's type codes, and direct parameter access.
#pragma once

#include <cstdint>

#include "ods/srv.h"

namespace dunmarrow {

enum TxpDataKind : uint8_t {
  dkUnknown = 0,
  dkString = 1,
  dkInteger = 3,
  dkBoolean = 5,
  dkFloat = 6,
  dkCurrency = 7,
  dkBCD = 8,
  dkDateTime = 11,
  dkBytes = 12,
  dkBlob = 15,
  dkMemo = 16,
  dkWideString = 24,
  dkLargeint = 25,
  dkGuid = 35,
};

TxpDataKind OdsTypeKind(uint8_t ods_type);
uint8_t KindOdsType(TxpDataKind kind);

inline constexpr uint32_t kParamDataSize = 8000;
inline constexpr uint32_t kParamZeroTail = 16;

struct TxpParamBuffer {
  uint8_t Type;
  int32_t Null;
  uint32_t MaxLen;
  uint32_t ActualLen;
  uint8_t Data[kParamDataSize];
  // Always zero, so that a value that fills Data still ends as 8-bit or UTF-16 text.
  uint8_t Terminator[2];
};

// Reads parameter n (from 1) into the buffer; false when the server has no such parameter.
// The value is followed by at least kParamZeroTail zero bytes and the buffer always ends in
// zeros, so a value read as text ends, and a fixed-size read of a shorter value (a number of
// one byte read as four, a NULL read as a number) sees zeros beyond it. A value longer than
// the data area raises the parameter-list failure: a value cut to fit could name another file
// or mean another thing.
bool ReadParam(SRV_PROC* srvproc, int n, TxpParamBuffer& buffer);

// Date-time values: days since 1899-12-30 with the time of day as the fraction.
struct OdsDateTime {
  uint8_t bytes[8];
};
OdsDateTime DateTimeToOdsDateTime(double value);

// Currency values count ten-thousandths; the server stores the high 32 bits first.
struct OdsMoney {
  uint8_t bytes[8];
};
OdsMoney CurrencyToOdsMoney(int64_t value);
int64_t OdsMoneyToCurrency(const uint8_t* bytes);

}  // namespace dunmarrow
