// The TDS versions the server speaks (7.1 to 7.4) and what changes between them. A version is
// the number a client puts in LOGIN7 (0x74000004 for 7.4); the login answers with the highest
// one both sides know, and every later encoding follows it.
#pragma once

#include <cstdint>
#include <optional>

namespace dunmarrow::server::tds {

struct TdsVersion {
  static constexpr uint32_t k71 = 0x71000001;
  static constexpr uint32_t k72 = 0x72090002;
  static constexpr uint32_t k73A = 0x730A0003;
  static constexpr uint32_t k73B = 0x730B0003;
  static constexpr uint32_t k74 = 0x74000004;

  uint32_t value = k74;

  // The version answered to a client's: the highest known one not above it; nothing below 7.1.
  static std::optional<TdsVersion> Negotiate(uint32_t client) {
    for (uint32_t v : {k74, k73B, k73A, k72, k71}) {
      if (client >= v) return TdsVersion{v};
    }
    return std::nullopt;
  }

  bool AllHeaders() const { return value >= k72; }       // in batch, RPC and TM requests
  bool WideCounts() const { return value >= k72; }       // 8-byte DONE counts
  bool WideUserType() const { return value >= k72; }     // 4-byte UserType, LineNumber
  bool Plp() const { return value >= k72; }              // (max) types as PLP
  bool NullBitmapRows() const { return value >= k73B; }  // NBCROW
  bool FeatureExt() const { return value >= k74; }
};

}  // namespace dunmarrow::server::tds
