// The same 1000 ICMP echoes to 127.0.0.1 as ping_bench.cpp, sent directly on an ICMP socket
// the way a plain ping loop does: send one request, wait for its reply, 1000 times. xp_Ping
// uses an unprivileged ICMP datagram socket where net.ipv4.ping_group_range admits the
// process and a raw socket otherwise, so there is a loop for each; a loop whose socket the
// system refuses is skipped with the reason. Only loopback traffic is sent.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/echo_meter.h"

namespace {

using echo_bench::kEchoes;
using echo_bench::kTimeoutMs;
using echo_bench::Meter;

constexpr size_t kPayload = 32;  // as xp_Ping sends

uint32_t Loopback() {
  return htonl(INADDR_LOOPBACK);
}

std::string PingGroupRange() {
  std::ifstream range("/proc/sys/net/ipv4/ping_group_range");
  std::string low, high;
  range >> low >> high;
  return low + " " + high;
}

uint16_t Checksum(const unsigned char* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2) sum += static_cast<uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(static_cast<uint16_t>(~sum));
}

// One echo request with a zero payload and its reply, as a plain ping loop does it: send,
// poll, receive until the reply with this sequence number comes. The time-to-live comes
// with the reply (ancillary data on a datagram socket, the IP header on a raw one), as the
// platform's ICMP service reads it.
bool Echo(int fd, bool raw, uint16_t identifier, uint16_t sequence) {
  unsigned char packet[sizeof(icmphdr) + kPayload] = {};
  icmphdr header{};
  header.type = ICMP_ECHO;
  header.un.echo.id = htons(identifier);
  header.un.echo.sequence = htons(sequence);
  std::memcpy(packet, &header, sizeof header);
  if (raw) {
    uint16_t checksum = Checksum(packet, sizeof packet);
    std::memcpy(packet + offsetof(icmphdr, checksum), &checksum, sizeof checksum);
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = Loopback();
  if (sendto(fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&target), sizeof target) <
      0) {
    return false;
  }
  unsigned char buffer[1500];
  alignas(cmsghdr) unsigned char control[64];
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, kTimeoutMs) <= 0) return false;
    sockaddr_in from{};
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = recvmsg(fd, &message, MSG_DONTWAIT);
    if (received < 0) continue;
    const unsigned char* icmp = buffer;
    size_t size = static_cast<size_t>(received);
    int ttl = -1;
    if (raw) {
      size_t header_size = static_cast<size_t>(buffer[0] & 0x0F) * 4;
      if (size < header_size + sizeof(icmphdr)) continue;
      ttl = buffer[8];
      icmp += header_size;
      size -= header_size;
    } else {
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
          std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
        }
      }
    }
    if (size < sizeof(icmphdr)) continue;
    icmphdr reply;
    std::memcpy(&reply, icmp, sizeof reply);
    if (reply.type != ICMP_ECHOREPLY || ntohs(reply.un.echo.sequence) != sequence) continue;
    if (raw && ntohs(reply.un.echo.id) != identifier) continue;
    benchmark::DoNotOptimize(ttl);
    return true;
  }
}

void DirectEchoes(benchmark::State& state, bool raw) {
  int fd = socket(AF_INET, (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    int error = errno;
    std::string reason =
        raw ? "raw ICMP sockets need CAP_NET_RAW: " + std::string(std::strerror(error))
            : "unprivileged ICMP datagram sockets are not allowed here (net.ipv4.ping_group_range "
              "is '" +
                  PingGroupRange() + "'): " + std::strerror(error);
    state.SkipWithError(reason.c_str());
    for (auto _ : state) {
    }
    return;
  }
  if (!raw) {
    int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
  }
  // A datagram socket gets its identifier from the kernel; a raw one sees every ICMP packet
  // of the host, so its replies are told apart by an identifier of its own.
  const uint16_t identifier = static_cast<uint16_t>(getpid() ^ 0x5A5A);
  uint16_t sequence = 0;
  Meter meter;
  for (auto _ : state) {
    meter.Begin();
    bool answered = true;
    for (int i = 0; i < kEchoes && answered; ++i) answered = Echo(fd, raw, identifier, ++sequence);
    meter.End();
    if (!answered) {
      state.SkipWithError("an echo to 127.0.0.1 went unanswered");
      break;
    }
  }
  close(fd);
  meter.Report(state);
}

void BM_DirectDatagramSocket1000Loopback(benchmark::State& state) {
  DirectEchoes(state, false);
}
BENCHMARK(BM_DirectDatagramSocket1000Loopback)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

void BM_DirectRawSocket1000Loopback(benchmark::State& state) {
  DirectEchoes(state, true);
}
BENCHMARK(BM_DirectRawSocket1000Loopback)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

}  // namespace
