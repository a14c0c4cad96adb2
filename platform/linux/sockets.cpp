// Windows Sockets over the C library's resolver (getaddrinfo and getnameinfo, which are safe
// to call from any thread), IPv4 only.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#define WINPLATFORM_SOCKETS_INTERNAL
#include "platform/linux/errors.h"
#include "platform/linux/net_hooks.h"
#include "platform/linux/sockets.h"

namespace winplatform {
namespace {

std::atomic<int> startups{0};
std::atomic<Resolver*> installed_resolver{nullptr};

// Windows keeps the entry of the last resolver call in storage of the calling thread.
struct HostEntryStorage {
  winsock::hostent entry{};
  std::string name;
  char* aliases[1] = {nullptr};
  std::vector<uint32_t> addresses;
  std::vector<char*> address_list;

  winsock::hostent* Fill(const std::string& official_name, const std::vector<uint32_t>& found) {
    name = official_name;
    addresses = found;
    address_list.clear();
    for (auto& address : addresses) address_list.push_back(reinterpret_cast<char*>(&address));
    address_list.push_back(nullptr);
    entry.h_name = name.data();
    entry.h_aliases = aliases;
    entry.h_addrtype = AF_INET;
    entry.h_length = 4;
    entry.h_addr_list = address_list.data();
    return &entry;
  }
};

thread_local HostEntryStorage host_entry;

// Host names are at most 255 characters; a longer text is no name and is not asked about.
constexpr size_t kMaxHostName = 255;

DWORD ResolverError(int code) {
  switch (code) {
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return WSANO_DATA;
    default:
      return WSANO_RECOVERY;
  }
}

bool SystemForward(const std::string& name, std::string& official_name,
                   std::vector<uint32_t>& addresses, DWORD& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int result = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (result != 0) {
    error = ResolverError(result);
    return false;
  }
  official_name = list->ai_canonname ? list->ai_canonname : name;
  for (addrinfo* info = list; info; info = info->ai_next) {
    if (info->ai_family != AF_INET || !info->ai_addr) continue;
    uint32_t address = reinterpret_cast<const sockaddr_in*>(info->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (uint32_t a : addresses) seen = seen || a == address;
    if (!seen) addresses.push_back(address);
  }
  freeaddrinfo(list);
  if (addresses.empty()) {
    error = WSANO_DATA;
    return false;
  }
  return true;
}

bool SystemReverse(uint32_t address, std::string& name, DWORD& error) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  socket_address.sin_addr.s_addr = address;
  char host[NI_MAXHOST];
  int result = getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address),
                           sizeof socket_address, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (result != 0) {
    error = ResolverError(result);
    return false;
  }
  name = host;
  return true;
}

// One part of a dotted address: decimal, octal after a leading 0, hexadecimal after 0x and at
// least one hexadecimal digit.
// Advances text past the part; false when there is no part or it does not fit 32 bits.
bool ParseAddressPart(const char*& text, uint32_t& value) {
  if (*text < '0' || *text > '9') return false;
  unsigned base = 10;
  if (*text == '0') {
    base = 8;
    ++text;
    if (*text == 'x' || *text == 'X') {
      base = 16;
      ++text;
      // "0x" needs a hexadecimal digit after it: alone it is no number.
      bool hex_digit = (*text >= '0' && *text <= '9') || (*text >= 'a' && *text <= 'f') ||
                       (*text >= 'A' && *text <= 'F');
      if (!hex_digit) return false;
    }
  }
  uint64_t accumulated = 0;
  for (;; ++text) {
    char c = *text;
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) return false;
    accumulated = accumulated * base + digit;
    if (accumulated > 0xFFFFFFFFu) return false;
  }
  value = static_cast<uint32_t>(accumulated);
  return true;
}

// Names in the reserved top-level domain "invalid" (RFC 6761) exist nowhere: they are answered
// as unknown at once, without asking a resolver, so that such a name never goes out to a name
// server. A trailing dot (the absolute form) and any letter case count the same.
bool IsReservedInvalidName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  constexpr std::string_view kDomain = "invalid";
  if (name.size() < kDomain.size()) return false;
  std::string_view last = name.substr(name.size() - kDomain.size());
  for (size_t i = 0; i < kDomain.size(); ++i) {
    char c = last[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kDomain[i]) return false;
  }
  return name.size() == kDomain.size() || name[name.size() - kDomain.size() - 1] == '.';
}

// The end of the text or white space of the C locale (what follows it is not read).
bool IsAddressEnd(char c) {
  return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

Resolver* InstallResolver(Resolver* resolver) {
  return installed_resolver.exchange(resolver);
}

}  // namespace winplatform

namespace winsock {

using namespace winplatform;

int WSAStartup(WORD version_requested, WSADATA* data) {
  BYTE major = static_cast<BYTE>(version_requested & 0xFF);
  BYTE minor = static_cast<BYTE>(version_requested >> 8);
  if (major == 0) return WSAVERNOTSUPPORTED;
  if (!data) return WSAEFAULT;
  std::memset(data, 0, sizeof *data);
  // 1.0 and 1.1 as asked, any later 1.x as 1.1; 2.0 to 2.2 as asked, anything later as 2.2.
  if (major == 1) {
    data->wVersion = minor == 0 ? static_cast<WORD>(0x0001) : static_cast<WORD>(0x0101);
  } else if (major == 2 && minor <= 2) {
    data->wVersion = version_requested;
  } else {
    data->wVersion = 0x0202;
  }
  data->wHighVersion = 0x0202;
  std::snprintf(data->szDescription, sizeof data->szDescription, "WinSock 2.0");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
  startups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int count = startups.load();
  while (count > 0 && !startups.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 0) {
    SetLastError(WSANOTINITIALISED);
    return -1;
  }
  return 0;
}

int WSAGetLastError() {
  return static_cast<int>(GetLastError());
}

hostent* gethostbyname(const char* name) {
  if (startups.load() <= 0) {
    SetLastError(WSANOTINITIALISED);
    return nullptr;
  }
  if (!name) {
    SetLastError(WSAEFAULT);
    return nullptr;
  }
  std::string query = name;
  if (query.empty()) {
    // The empty name stands for the local host.
    char local[256] = {};
    if (gethostname(local, sizeof local - 1) != 0) {
      SetLastError(WSANO_RECOVERY);
      return nullptr;
    }
    query = local;
  }
  if (query.size() > kMaxHostName || IsReservedInvalidName(query)) {
    SetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  std::string official_name;
  std::vector<uint32_t> addresses;
  DWORD error = WSAHOST_NOT_FOUND;
  bool found;
  if (Resolver* resolver = installed_resolver.load()) {
    found = resolver->Forward(query, official_name, addresses) && !addresses.empty();
  } else {
    found = SystemForward(query, official_name, addresses, error);
  }
  if (!found) {
    SetLastError(error);
    return nullptr;
  }
  return host_entry.Fill(official_name, addresses);
}

hostent* gethostbyaddr(const char* address, int length, int family) {
  if (startups.load() <= 0) {
    SetLastError(WSANOTINITIALISED);
    return nullptr;
  }
  if (family != AF_INET) {
    SetLastError(WSAEAFNOSUPPORT);
    return nullptr;
  }
  if (!address || length < 4) {
    SetLastError(WSAEFAULT);
    return nullptr;
  }
  uint32_t value;
  std::memcpy(&value, address, 4);
  std::string name;
  DWORD error = WSAHOST_NOT_FOUND;
  bool found;
  if (Resolver* resolver = installed_resolver.load()) {
    found = resolver->Reverse(value, name);
  } else {
    found = SystemReverse(value, name, error);
  }
  if (!found) {
    SetLastError(error);
    return nullptr;
  }
  return host_entry.Fill(name, {value});
}

ULONG inet_addr(const char* text) {
  if (!text) return INADDR_NONE;
  // Windows reads a text of exactly one space as address 0; any other text that does not
  // start with a digit is no address.
  if (text[0] == ' ' && text[1] == '\0') return 0;
  uint32_t parts[4];
  int count = 0;
  for (;;) {
    if (!ParseAddressPart(text, parts[count])) return INADDR_NONE;
    ++count;
    if (*text != '.') break;
    if (count == 4) return INADDR_NONE;
    ++text;
  }
  if (!IsAddressEnd(*text)) return INADDR_NONE;
  // The last part fills the bytes the others leave.
  uint32_t host_order = parts[count - 1];
  static const uint32_t kLastPartLimit[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  if (host_order > kLastPartLimit[count - 1]) return INADDR_NONE;
  for (int i = 0; i < count - 1; ++i) {
    if (parts[i] > 0xFF) return INADDR_NONE;
    host_order |= parts[i] << (24 - 8 * i);
  }
  return htonl(host_order);
}

char* inet_ntoa(in_addr address) {
  thread_local char text[16];
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace winsock
