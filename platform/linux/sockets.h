// Windows Sockets: start-up and clean-up, the resolver calls and the address conversions
// (IPv4 only).
//
// The stand-ins live in a namespace of their own and are brought into the global namespace
// below, so that they never meet the C library's functions and structures of the same names:
// not at link time (their symbols differ) and not in a source file that needs both (the
// implementation includes this header with WINPLATFORM_SOCKETS_INTERNAL defined).
#pragma once

#include "platform/linux/types.h"

namespace winsock {

typedef uint16_t u_short;
typedef ULONG u_long;

inline constexpr int kDescriptionLength = 256;
inline constexpr int kSystemStatusLength = 128;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[kDescriptionLength + 1];
  char szSystemStatus[kSystemStatusLength + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

// The layout of Windows' hostent: the family and length are 16-bit.
struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};

// The address in network byte order.
struct in_addr {
  ULONG s_addr;
};

// Counts the start-ups; the resolver calls fail with WSANOTINITIALISED while the count is 0.
// Versions 0.x fail with WSAVERNOTSUPPORTED; 1.0, 1.1 and 2.0 to 2.2 are granted as asked,
// later 1.x as 1.1 and everything after 2.2 as 2.2.
WINAPI_EXPORT int WSAStartup(WORD version_requested, WSADATA* data);
WINAPI_EXPORT int WSACleanup();
WINAPI_EXPORT int WSAGetLastError();
// The entry lives in storage of the calling thread until its next resolver call, as on
// Windows. IPv4 addresses only. Names under the reserved domain "invalid" fail with
// WSAHOST_NOT_FOUND at once, without asking a resolver.
WINAPI_EXPORT hostent* gethostbyname(const char* name);
WINAPI_EXPORT hostent* gethostbyaddr(const char* address, int length, int family);
// One to four parts, each decimal, octal (leading 0) or hexadecimal (0x), ending the text or
// followed by white space; INADDR_NONE for anything else, the empty text included. A text of
// exactly one space gives 0, as on Windows.
WINAPI_EXPORT ULONG inet_addr(const char* text);
// Four decimal fields, in storage of the calling thread.
WINAPI_EXPORT char* inet_ntoa(in_addr address);

}  // namespace winsock

#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEAFNOSUPPORT 10047
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004

#ifndef WINPLATFORM_SOCKETS_INTERNAL
using winsock::hostent;
using winsock::in_addr;
using winsock::WSADATA;
typedef winsock::WSADATA* LPWSADATA;

using winsock::gethostbyaddr;
using winsock::gethostbyname;
using winsock::inet_addr;
using winsock::inet_ntoa;
using winsock::WSACleanup;
using winsock::WSAGetLastError;
using winsock::WSAStartup;

#ifndef AF_INET
#define AF_INET 2
#endif
#ifndef INADDR_NONE
#define INADDR_NONE 0xFFFFFFFFu
#endif
#ifndef MAKEWORD
#define MAKEWORD(low, high) \
  (static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))
#endif
#endif
