// The ICMP echo engine: a series of echo requests to one host, sent from a worker thread, one
// reply record per echo and statistics over the series.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/internet.h"

namespace dunmarrow {

struct TEchoReply {
  uint32_t Address = 0;  // the host that answered, network byte order; 0 when none did
  uint32_t Time = 0;     // round-trip time, ms
  uint8_t TTL = 0;
  std::string HostName;    // reverse-resolved name of Address
  uint32_t ErrorCode = 0;  // the last-error value of the thread that took the reply
};

// The hand-over of one echo from the worker to its component: WParam is 1 when a reply came,
// LParam the echo's slot, whose record the worker has filled.
inline constexpr UINT EchoReplyMessage = WM_USER + 1;
// The hand-over after the last echo: the statistics are completed.
inline constexpr UINT EchoSeriesEndMessage = WM_USER + 2;

// The average of the answered echoes' times: the quotient rounded to the nearest integer,
// halves to the even neighbour. count > 0.
uint32_t RoundedAverageTime(uint32_t total, uint32_t count);
// The percentage of echoes lost as computed in extended binary floating point (64-bit
// significand, round to nearest even): lost / sent, times 100, each step rounded, then
// truncated. 0 <= lost <= sent, sent > 0.
uint8_t ExtendedPercentLost(int32_t lost, int32_t sent);

// Owns the handle of the system's ICMP service.
class TkxICMP : public TkxInternetComponent {
 public:
  // Raises "IcmpCreateFile failed" when the handle cannot be opened.
  explicit TkxICMP(bool blocking);
  ~TkxICMP() override;
  HANDLE IcmpHandle() const { return icmp_handle_; }

 private:
  HANDLE icmp_handle_;
};

class TPingThread;

class TkxPing : public TkxICMP {
 public:
  explicit TkxPing(bool blocking);
  ~TkxPing() override;

  // Runs one series against a host name or dotted quad; an unresolvable host is pinged at
  // address 0, where every echo goes unanswered. Blocking: returns when the statistics are
  // final. Raises "Range check error" for a negative EchoCount (before anything is sent),
  // "Out of memory" when the reply table cannot be held, and "Integer overflow" after a series
  // whose total time passes 32 bits.
  void Ping(const std::string& host);

  int32_t ReplyCount() const { return static_cast<int32_t>(replies_.size()); }
  // A copy of a slot; a cleared record for an index outside the slots.
  TEchoReply GetReply(int32_t index) const;

  void HandleMessage(TMessage& message) override;
  void ResetStatistics();
  // On the owning thread, after the last echo's hand-over.
  void ComputeStatistics();

  int16_t DataSize = 32;
  int32_t EchoCount = 4;
  bool ResolveNames = true;

  uint8_t PercentLost = 100;
  int32_t Sent = 0;
  int32_t Lost = 0;
  uint32_t TotalTime = 0;
  uint32_t MinTime = 0xFFFFFFFFu;
  uint32_t MaxTime = 0;
  uint32_t AvgTime = 0;

 private:
  friend class TPingThread;
  void HandleReply(bool received, int32_t index);

  int32_t reply_index_ = 0;
  std::vector<TEchoReply> replies_;
  bool total_overflowed_ = false;
};

class TPingThread : public TkxInternetComponentThread {
 public:
  // On the owning thread: resolves the host, resets the component's statistics and prepares
  // the request and reply buffers.
  TPingThread(TkxPing* ping, std::string host);

  uint32_t Address() const { return address_; }
  uint32_t EchoResult() const { return echo_result_; }
  const TEchoReply& Reply() const { return reply_; }

 protected:
  void Run() override;
  void DoFinish() override;

 private:
  friend class TkxPing;
  void StoreReply();
  TkxPing* Ping() const { return static_cast<TkxPing*>(Component()); }

  uint32_t address_;
  std::vector<unsigned char> request_data_;
  std::vector<unsigned char> reply_buffer_;
  uint32_t echo_result_ = 0;
  TEchoReply reply_;
};

}  // namespace dunmarrow
