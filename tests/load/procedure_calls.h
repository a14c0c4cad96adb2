// The calls each load client makes, one procedure family per call in turn, every answer
// checked against what the test computes itself (zlib, nettle, printf).
#pragma once

#include <string>

#include "freetds_client.h"

namespace dunmarrow::load {

inline constexpr int kFamilies = 7;

// A client's running state: the size its own file in c:\load should have.
struct ClientState {
  int client = 0;
  long file_size = 0;
};

// Starts the client's file afresh; an error text, or empty.
std::string PrepareClient(FreeTdsConnection& connection, ClientState& state);
// Call number `call` of the client (its family is call % kFamilies); an error text naming
// the family, or empty when the answer was right.
std::string MakeCall(FreeTdsConnection& connection, ClientState& state, int call);

}  // namespace dunmarrow::load
