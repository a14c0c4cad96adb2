// Checks of parameter values before a procedure acts on them: integers read by their value,
// never by their bytes, and names that would name something else once cut or converted.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/context.h"
#include "runtime/data_kind.h"

namespace dunmarrow {

// The whole number a numeric, decimal, money, smallmoney, float or real value holds. False for
// every other type, bigint included (its bytes are read as the procedure documents: an integer
// by its low four bytes); the range failure when the value is not whole or does not fit 32
// bits.
bool WholeNumberValue(uint8_t ods_type, const uint8_t* data, uint32_t length, int32_t& value);

// An integer parameter: numbers of the types above by their value (see WholeNumberValue),
// every other kind as AsInteger reads it.
int32_t IntegerOf(const TxpItem& item);

// Refuses a text that names something (a file, a directory, a section, a host...) when it
// holds a NUL character, or as UTF-16 a lone surrogate: cut at the NUL, or with the
// surrogate turned into U+FFFD, it would name something else. `what` is the parameter's
// meaning ("the file name"), position its number from 1. Other kinds are not looked at.
void CheckName(const TxpItem& item, const char* what, int position);
void CheckName(const TxpParamBuffer& param, const char* what, int position);

// Raises a failure with the message "<problem> (<n>th param)".
[[noreturn]] void RaiseParamError(const std::string& problem, int position);

// Raises the parameter-list failure for an OUTPUT parameter that cannot take back text or
// bytes (an int, a datetime, an image...), so that the procedure fails before it acts.
void CheckOutputKind(const TxpItem& item);
// The same, and a failure when the parameter cannot take back `bytes` bytes whole.
void CheckOutputRoom(const TxpItem& item, uint64_t bytes, int position);

}  // namespace dunmarrow
