// The ICMP service over the kernel's ICMP sockets: unprivileged datagram sockets where
// net.ipv4.ping_group_range admits the caller, raw sockets (CAP_NET_RAW) otherwise.
#include "platform/linux/icmp.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "platform/linux/errors.h"
#include "platform/linux/net_hooks.h"

namespace winplatform {
namespace {

struct IcmpChannel {
  std::mutex mutex;  // one request at a time per handle
  int fd = -1;
  bool raw = false;
  uint16_t identifier = 0;  // raw sockets only: datagram sockets get theirs from the kernel
  uint16_t sequence = 0;
};

// Never destroyed: threads that end while the process exits may still use them.
std::mutex& channels_mutex = *new std::mutex;
std::set<IcmpChannel*>& channels = *new std::set<IcmpChannel*>;
std::atomic<IcmpService*> installed_service{nullptr};
std::atomic<uint16_t> next_identifier{static_cast<uint16_t>(getpid() * 7919u)};

bool IsChannel(IcmpChannel* channel) {
  std::lock_guard<std::mutex> lock(channels_mutex);
  return channels.count(channel) != 0;
}

uint16_t Checksum(const unsigned char* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2) sum += static_cast<uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(static_cast<uint16_t>(~sum));
}

DWORD SendError(int error) {
  switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
      return IP_DEST_HOST_UNREACHABLE;
    case ENOBUFS:
    case ENOMEM:
      return IP_NO_RESOURCES;
    default:
      return IP_GENERAL_FAILURE;
  }
}

// One echo over the channel's socket; false with the error code when no reply came.
bool SocketEcho(IcmpChannel& channel, uint32_t destination, const void* data, size_t size,
                uint32_t timeout_ms, EchoAnswer& answer, std::vector<unsigned char>& payload,
                DWORD& error) {
  std::lock_guard<std::mutex> lock(channel.mutex);
  if (channel.fd < 0) {
    error = IP_GENERAL_FAILURE;
    return false;
  }
  uint16_t sequence = ++channel.sequence;
  std::vector<unsigned char> packet(sizeof(icmphdr) + size);
  icmphdr header{};
  header.type = ICMP_ECHO;
  header.code = 0;
  header.un.echo.id = htons(channel.identifier);
  header.un.echo.sequence = htons(sequence);
  std::memcpy(packet.data(), &header, sizeof header);
  if (size) std::memcpy(packet.data() + sizeof header, data, size);
  if (channel.raw) {
    uint16_t checksum = Checksum(packet.data(), packet.size());
    std::memcpy(packet.data() + offsetof(icmphdr, checksum), &checksum, sizeof checksum);
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = destination;

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeout_ms);
  if (sendto(channel.fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target) < 0) {
    error = SendError(errno);
    return false;
  }
  unsigned char buffer[65536];
  alignas(cmsghdr) unsigned char control[256];
  for (;;) {
    auto now = Clock::now();
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    if (left < 0) left = 0;
    pollfd wait{channel.fd, POLLIN, 0};
    int ready = poll(&wait, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      error = IP_REQ_TIMED_OUT;
      return false;
    }
    sockaddr_in from{};
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = recvmsg(channel.fd, &message, MSG_DONTWAIT);
    if (received < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      error = IP_GENERAL_FAILURE;
      return false;
    }
    const unsigned char* icmp = buffer;
    size_t icmp_size = static_cast<size_t>(received);
    int ttl = -1;
    if (channel.raw) {
      // Raw sockets see the IP header, and every ICMP packet of the host.
      if (icmp_size < 20) continue;
      size_t header_size = static_cast<size_t>(buffer[0] & 0x0F) * 4;
      if (header_size < 20 || icmp_size < header_size) continue;
      ttl = buffer[8];
      icmp += header_size;
      icmp_size -= header_size;
    } else {
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
          int value;
          std::memcpy(&value, CMSG_DATA(c), sizeof value);
          ttl = value;
        }
      }
    }
    if (icmp_size < sizeof(icmphdr)) continue;
    icmphdr reply;
    std::memcpy(&reply, icmp, sizeof reply);
    if (reply.type != ICMP_ECHOREPLY || ntohs(reply.un.echo.sequence) != sequence) continue;
    if (channel.raw && ntohs(reply.un.echo.id) != channel.identifier) continue;
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    answer.address = from.sin_addr.s_addr;
    answer.round_trip_ms = static_cast<uint32_t>(elapsed.count());
    answer.ttl = static_cast<uint8_t>(ttl < 0 ? 0 : ttl);
    payload.assign(icmp + sizeof(icmphdr), icmp + icmp_size);
    return true;
  }
}

}  // namespace

IcmpService* InstallIcmpService(IcmpService* service) {
  return installed_service.exchange(service);
}

}  // namespace winplatform

using namespace winplatform;

extern "C" {

HANDLE IcmpCreateFile() {
  auto* channel = new IcmpChannel;
  if (!installed_service.load()) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
      int on = 1;
      setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    } else {
      fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
      channel->raw = fd >= 0;
      channel->identifier = next_identifier.fetch_add(1);
    }
    if (fd < 0) {
      delete channel;
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    channel->fd = fd;
  }
  std::lock_guard<std::mutex> lock(channels_mutex);
  channels.insert(channel);
  return channel;
}

BOOL IcmpCloseHandle(HANDLE icmp) {
  auto* channel = static_cast<IcmpChannel*>(icmp);
  {
    std::lock_guard<std::mutex> lock(channels_mutex);
    if (!channels.erase(channel)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  // A request still running on another thread holds the channel's lock.
  { std::lock_guard<std::mutex> wait_for_request(channel->mutex); }
  if (channel->fd >= 0) close(channel->fd);
  delete channel;
  return TRUE;
}

DWORD IcmpSendEcho(HANDLE icmp, IPAddr destination, LPVOID request_data, WORD request_size,
                   PIP_OPTION_INFORMATION request_options, LPVOID reply_buffer, DWORD reply_size,
                   DWORD timeout) {
  (void)request_options;  // the system's default TTL and options
  auto* channel = static_cast<IcmpChannel*>(icmp);
  if (!IsChannel(channel)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if ((request_size && !request_data) || !reply_buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (reply_size < sizeof(ICMP_ECHO_REPLY) + request_size) {
    SetLastError(IP_BUF_TOO_SMALL);
    return 0;
  }
  // Nothing is sent to 0.0.0.0 (Linux would take it for the local host), to the limited
  // broadcast address or to a multicast group: an echo to them could reach any host.
  const auto* octets = reinterpret_cast<const unsigned char*>(&destination);
  if (destination == 0 || destination == 0xFFFFFFFFu || (octets[0] & 0xF0) == 0xE0) {
    SetLastError(IP_GENERAL_FAILURE);
    return 0;
  }
  EchoAnswer answer;
  std::vector<unsigned char> payload;
  DWORD error = IP_REQ_TIMED_OUT;
  bool replied;
  if (IcmpService* service = installed_service.load()) {
    replied = service->Echo(destination, request_data, request_size, timeout, answer);
    if (replied) {
      const auto* bytes = static_cast<const unsigned char*>(request_data);
      payload.assign(bytes, bytes + request_size);
    }
  } else {
    replied = SocketEcho(*channel, destination, request_data, request_size, timeout, answer,
                         payload, error);
  }
  if (!replied) {
    SetLastError(error);
    return 0;
  }
  auto* record = static_cast<ICMP_ECHO_REPLY*>(reply_buffer);
  auto* data = static_cast<unsigned char*>(reply_buffer) + sizeof(ICMP_ECHO_REPLY);
  size_t room = reply_size - sizeof(ICMP_ECHO_REPLY);
  size_t copied = payload.size() < room ? payload.size() : room;
  if (copied) std::memcpy(data, payload.data(), copied);
  std::memset(record, 0, sizeof *record);
  record->Address = answer.address;
  record->Status = IP_SUCCESS;
  record->RoundTripTime = answer.round_trip_ms;
  record->DataSize = static_cast<USHORT>(copied);
  record->Data = data;
  record->Options.Ttl = answer.ttl;
  return 1;
}

}  // extern "C"
