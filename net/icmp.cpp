// The ICMP echo engine behind xp_Ping: a worker thread sends a series of echo requests to one
// host and hands one reply record per echo to its component, which keeps the statistics.
#include "net/icmp.h"

#include <bit>
#include <cstring>

#include "runtime/failure.h"

namespace dunmarrow {
namespace {

// Windows wants room for an ICMP error message behind the reply record and the echoed data.
constexpr size_t kIcmpErrorRoom = 8;

// The replies of one series take at most this much memory; a count beyond it fails before
// anything is sent.
constexpr uint64_t kLargestReplyTable = 64 * 1024 * 1024;

// Whether an echo may go to an address (network byte order): never to 0.0.0.0, to the
// limited broadcast 255.255.255.255 or to a multicast group (224.0.0.0/4).
bool IsEchoTarget(uint32_t address) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
  return address != 0 && address != 0xFFFFFFFFu && (bytes[0] & 0xF0) != 0xE0;
}

}  // namespace

uint32_t RoundedAverageTime(uint32_t total, uint32_t count) {
  uint32_t quotient = total / count;
  uint64_t twice_remainder = 2 * static_cast<uint64_t>(total % count);
  if (twice_remainder > count || (twice_remainder == count && (quotient & 1))) ++quotient;
  return quotient;
}

// The value is worked out exactly in integers, step by step as the floating-point unit would
// round it, so every platform gets the same answer whatever its precision control says.
uint8_t ExtendedPercentLost(int32_t lost, int32_t sent) {
  if (lost <= 0) return 0;
  if (lost >= sent) return 100;
  const uint64_t divisor = static_cast<uint64_t>(sent);
  // lost / sent = significand * 2^(-63 - exponent), the significand in [2^63, 2^64).
  int exponent = 0;
  uint64_t remainder = static_cast<uint64_t>(lost);
  while (remainder < divisor) {
    remainder <<= 1;
    ++exponent;
  }
  uint64_t significand = 0;
  for (int bit = 0; bit < 64; ++bit) {
    significand <<= 1;
    if (remainder >= divisor) {
      significand |= 1;
      remainder -= divisor;
    }
    remainder <<= 1;
  }
  // remainder is now twice what is left over: compare it with the divisor to round.
  if (remainder > divisor || (remainder == divisor && (significand & 1))) {
    if (++significand == 0) {
      significand = uint64_t{1} << 63;
      --exponent;
    }
  }
  // times 100: a product of up to 71 bits in two words, then rounded to 64 bits again.
  uint64_t high_part = (significand >> 32) * 100;
  uint64_t low_part = (significand & 0xFFFFFFFFu) * 100;
  uint64_t product_high = high_part >> 32;
  uint64_t product_low = high_part << 32;
  product_low += low_part;
  if (product_low < low_part) ++product_high;
  int shift = 64 - std::countl_zero(product_high);  // bits above the low word
  uint64_t rounded = (product_high << (64 - shift)) | (product_low >> shift);
  uint64_t dropped = product_low & ((uint64_t{1} << shift) - 1);
  uint64_t half = uint64_t{1} << (shift - 1);
  if (dropped > half || (dropped == half && (rounded & 1))) {
    if (++rounded == 0) {
      rounded = uint64_t{1} << 63;
      ++shift;
    }
  }
  // The value is rounded * 2^(shift - 63 - exponent); truncated toward zero.
  int fraction_bits = 63 + exponent - shift;
  return static_cast<uint8_t>(fraction_bits >= 64 ? 0 : rounded >> fraction_bits);
}

// --- TkxICMP --------------------------------------------------------------------------------

TkxICMP::TkxICMP(bool blocking) : TkxInternetComponent(blocking) {
  icmp_handle_ = IcmpCreateFile();
  if (icmp_handle_ == INVALID_HANDLE_VALUE) throw Exception("IcmpCreateFile failed");
}

TkxICMP::~TkxICMP() {
  // No worker may be left using the handle.
  StopThreads();
  IcmpCloseHandle(icmp_handle_);
}

// --- TkxPing --------------------------------------------------------------------------------

TkxPing::TkxPing(bool blocking) : TkxICMP(blocking) {}

TkxPing::~TkxPing() {
  StopThreads();
}

void TkxPing::Ping(const std::string& host) {
  reply_index_ = 0;
  if (EchoCount < 0 || Timeout() < 0) RaiseRangeError();
  if (static_cast<uint64_t>(EchoCount) * sizeof(TEchoReply) > kLargestReplyTable) {
    throw Exception(kOutOfMemoryMessage);
  }
  replies_.assign(static_cast<size_t>(EchoCount), TEchoReply{});
  total_overflowed_ = false;
  auto* worker = new TPingThread(this, host);
  StartThreads({worker});
  if (total_overflowed_) RaiseOverflow();
}

TEchoReply TkxPing::GetReply(int32_t index) const {
  if (index < 0 || index >= ReplyCount()) return TEchoReply{};
  return replies_[static_cast<size_t>(index)];
}

void TkxPing::HandleMessage(TMessage& message) {
  if (message.Msg == EchoReplyMessage) {
    HandleReply(message.WParam != 0, static_cast<int32_t>(message.LParam));
  } else if (message.Msg == EchoSeriesEndMessage) {
    ComputeStatistics();
  }
}

void TkxPing::ResetStatistics() {
  MinTime = 0xFFFFFFFFu;
  MaxTime = 0;
  TotalTime = 0;
  AvgTime = 0;
  Lost = 0;
  Sent = 0;
  PercentLost = 100;
}

// On the owning thread: the worker has filled the echo's slot, except for the error code.
void TkxPing::HandleReply(bool received, int32_t index) {
  ++Sent;
  if (index < 0 || index >= ReplyCount()) return;
  TEchoReply& reply = replies_[static_cast<size_t>(index)];
  reply.ErrorCode = GetLastError();
  if (received) {
    uint32_t time = reply.Time;
    if (time < MinTime) MinTime = time;
    if (time > MaxTime) MaxTime = time;
    if (TotalTime > 0xFFFFFFFFu - time) {
      TotalTime = 0xFFFFFFFFu;
      total_overflowed_ = true;
    } else {
      TotalTime += time;
    }
  } else {
    ++Lost;
  }
}

void TkxPing::ComputeStatistics() {
  if (Lost == Sent) {
    MinTime = 0;
    return;
  }
  AvgTime = RoundedAverageTime(TotalTime, static_cast<uint32_t>(Sent - Lost));
  PercentLost = ExtendedPercentLost(Lost, Sent);
}

// --- TPingThread ----------------------------------------------------------------------------

TPingThread::TPingThread(TkxPing* ping, std::string host)
    : TkxInternetComponentThread(ping, std::move(host)) {
  address_ = ResolveHostAddress(Host());
  if (!IsEchoTarget(address_)) address_ = 0;  // sends nothing, as for a host not found
  ping->ResetStatistics();
  size_t data_size = CheckedNarrow<WORD>(ping->DataSize);
  request_data_.assign(data_size, 0);
  reply_buffer_.assign(sizeof(ICMP_ECHO_REPLY) + data_size + kIcmpErrorRoom, 0);
}

void TPingThread::Run() {
  TkxPing* ping = Ping();
  const int32_t count = ping->EchoCount;
  for (int32_t i = 0; i < count; ++i) {
    echo_result_ =
        IcmpSendEcho(ping->IcmpHandle(), address_, request_data_.data(),
                     static_cast<WORD>(request_data_.size()), nullptr, reply_buffer_.data(),
                     static_cast<DWORD>(reply_buffer_.size()), static_cast<DWORD>(ping->Timeout()));
    StoreReply();
    // The slot is the worker's until its hand-over is queued; the owner takes it from there.
    if (i < ping->ReplyCount()) ping->replies_[static_cast<size_t>(i)] = reply_;
    // Echoes answered within the millisecond are handed over in batches; a slower echo at
    // once, since its wait dwarfs what waking the owner costs.
    bool slow = echo_result_ == 0 || reply_.Time > 0;
    ping->QueueHandOver(TMessage{EchoReplyMessage, echo_result_ != 0 ? 1u : 0u, i, 0}, slow);
    ++ping->reply_index_;
    if (StopRequested()) break;
  }
}

void TPingThread::StoreReply() {
  if (echo_result_ == 0) {
    reply_ = TEchoReply{};
    return;
  }
  ICMP_ECHO_REPLY record;
  std::memcpy(&record, reply_buffer_.data(), sizeof record);
  reply_.Address = record.Address;
  reply_.Time = record.RoundTripTime;
  reply_.TTL = record.Options.Ttl;
  if (Ping()->ResolveNames) {
    std::string name = ResolveHostName(record.Address);
    if (!IsDottedQuad(name)) reply_.HostName = std::move(name);
  }
}

void TPingThread::DoFinish() {
  Ping()->QueueHandOver(TMessage{EchoSeriesEndMessage, 0, 0, 0}, true);
}

}  // namespace dunmarrow
