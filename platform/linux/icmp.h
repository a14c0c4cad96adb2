// The ICMP service of iphlpapi: echo requests to IPv4 hosts.
#pragma once

#include "platform/linux/types.h"

typedef ULONG IPAddr;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef uint16_t USHORT;
typedef void* PVOID;

struct IP_OPTION_INFORMATION {
  UCHAR Ttl;
  UCHAR Tos;
  UCHAR Flags;
  UCHAR OptionsSize;
  PUCHAR OptionsData;
};
typedef IP_OPTION_INFORMATION* PIP_OPTION_INFORMATION;

struct ICMP_ECHO_REPLY {
  IPAddr Address;
  ULONG Status;
  ULONG RoundTripTime;
  USHORT DataSize;
  USHORT Reserved;
  PVOID Data;
  IP_OPTION_INFORMATION Options;
};
typedef ICMP_ECHO_REPLY* PICMP_ECHO_REPLY;

#define IP_STATUS_BASE 11000
#define IP_SUCCESS 0
#define IP_BUF_TOO_SMALL (IP_STATUS_BASE + 1)
#define IP_DEST_HOST_UNREACHABLE (IP_STATUS_BASE + 3)
#define IP_NO_RESOURCES (IP_STATUS_BASE + 6)
#define IP_REQ_TIMED_OUT (IP_STATUS_BASE + 10)
#define IP_GENERAL_FAILURE (IP_STATUS_BASE + 50)

extern "C" {
// Opens an ICMP datagram socket where the system allows it to the caller
// (net.ipv4.ping_group_range) and a raw ICMP socket otherwise; INVALID_HANDLE_VALUE with
// ERROR_ACCESS_DENIED when neither may be opened.
WINAPI_EXPORT HANDLE IcmpCreateFile();
WINAPI_EXPORT BOOL IcmpCloseHandle(HANDLE icmp);
// Sends one echo request and waits at most timeout ms for its reply. Returns the number of
// reply records in the buffer: 1 with the replying address, the round-trip time in ms, the
// reply's TTL and the echoed data, or 0 (time-out or failure, the code in GetLastError).
// The reply buffer needs room for one ICMP_ECHO_REPLY and the request data. Requests to
// address 0 are not sent (IP_GENERAL_FAILURE, as Windows). Requests on one handle are served
// one at a time.
WINAPI_EXPORT DWORD IcmpSendEcho(HANDLE icmp, IPAddr destination, LPVOID request_data,
                                 WORD request_size, PIP_OPTION_INFORMATION request_options,
                                 LPVOID reply_buffer, DWORD reply_size, DWORD timeout);
}
