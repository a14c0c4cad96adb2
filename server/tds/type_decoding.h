// Values that clients send in RPC parameters, from their TYPE_INFO and encoding to the
// engine's typed values: the fixed types, the N types, B/US varlen, PLP, text, ntext and image
// in their RPC form, decimal and the date and time types.
#pragma once

#include <stdexcept>
#include <string>

#include "server/tds/wire.h"
#include "tsql/value.h"

namespace dunmarrow::server::tds {

// A well-formed request the server cannot serve (a type it does not have, a value out of the
// engine's range): answered with this error, and the connection goes on.
class RequestError : public std::runtime_error {
 public:
  RequestError(int number, int state, std::string text)
      : std::runtime_error(text), number(number), state(state) {}
  int number;
  int state;
};

// One TYPE_INFO and the value after it. Types are read whatever the negotiated version (a
// driver may send a (max) or datetime2 value to a 7.1 server; the bytes say what they are).
tsql::Value ReadTypedValue(Reader& in);

// Parameter declarations as drivers write them ("@P1 DATETIME2,@P2 date") with the date and
// time types the engine has not replaced by datetime, the type their values reach it in.
std::u16string DeclarationsForEngine(std::u16string_view declarations);

// 8-bit text of a client's collation (code page 1252, or UTF-8) in the engine's ANSI code page.
std::string ClientCharsToAnsi(std::span<const uint8_t> bytes, bool utf8);

}  // namespace dunmarrow::server::tds
