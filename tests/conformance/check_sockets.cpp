// Windows Sockets as the network procedures use it: start-up and clean-up with every version
// word around the supported ones, inet_addr on dotted texts in every base and length and on
// malformed ones, inet_ntoa, and the resolver calls on loopback names and numeric addresses.
// No name here may reach a name server: only localhost (from the hosts file) and numeric
// texts are looked up, and only 127.0.0.1 is looked up in reverse.
#include <cstring>
#include <string>
#include <vector>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

// Wine's gethostbyaddr answers before any start-up; Windows fails every resolver call then
// with WSANOTINITIALISED (as Wine's gethostbyname does).
constexpr const char* kUnstarted = "gethostbyaddr answers before WSAStartup";
// Windows fails an address length too small for the type with WSAEFAULT; Wine with
// WSAEAFNOSUPPORT.
constexpr const char* kShortLength = "gives WSAEAFNOSUPPORT for a length too small";
// Windows supports the types AF_INET and AF_INET6 only (WSAEAFNOSUPPORT otherwise); Wine
// passes AF_UNSPEC on to the system's resolver, which answers it as AF_INET.
constexpr const char* kUnspecified = "takes AF_UNSPEC as AF_INET";

std::string VersionText(WORD version) {
  return std::to_string(version & 0xFF) + "." + std::to_string(version >> 8);
}

std::string Dotted(ULONG address) {
  in_addr a;
  a.s_addr = address;
  return inet_ntoa(a);
}

void StartUp(WORD version) {
  WSADATA data;
  std::memset(&data, 0xCC, sizeof data);
  ResetLastError();
  int result = WSAStartup(version, &data);
  std::string error = LastErrorText();
  std::string output = std::to_string(result) + " " + error;
  if (result == 0) {
    output += " version=" + VersionText(data.wVersion) + " high=" + VersionText(data.wHighVersion) +
              " description=" + Quote(data.szDescription) + " status=" + Quote(data.szSystemStatus);
    WSACleanup();
  }
  Check("WSAStartup(" + VersionText(version) + ")", output);
}

void Cleanup(const std::string& label) {
  ResetLastError();
  int result = WSACleanup();
  std::string error = LastErrorText();
  Check("WSACleanup() " + label, std::to_string(result) + " " + error);
}

void Address(const std::string& text) {
  ULONG address = inet_addr(text.c_str());
  std::string output = Hex(address);
  if (address != INADDR_NONE) output += " " + Dotted(address);
  Check("inet_addr(" + Quote(text) + ")", output);
}

// The first address of an entry, and whether every address in it is a loopback address.
std::string Addresses(const hostent* entry) {
  if (!entry->h_addr_list || !entry->h_addr_list[0]) return "no address";
  ULONG first;
  std::memcpy(&first, entry->h_addr_list[0], 4);
  bool loopback = true;
  for (char** a = entry->h_addr_list; *a; ++a) loopback = loopback && (*a)[0] == 127;
  return "first=" + Dotted(first) + (loopback ? " all loopback" : " not all loopback");
}

// Whether a name resolves to 127.0.0.1 (its first address).
bool ResolvesToLoopback(const std::string& name) {
  const hostent* entry = gethostbyname(name.c_str());
  if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) return false;
  return std::memcmp(entry->h_addr_list[0], "\x7F\x00\x00\x01", 4) == 0;
}

// The name localhost stands for depends on the machine (Windows gives the computer's own name,
// a hosts file gives "localhost"): whether a name came back and where it leads is compared,
// not the name. A numeric text comes back as it is.
void Forward(const std::string& name, bool show_name) {
  ResetLastError();
  const hostent* entry = gethostbyname(name.c_str());
  std::string error = LastErrorText();
  std::string output;
  if (!entry) {
    output = "NULL " + error;
  } else {
    std::string official = entry->h_name ? entry->h_name : "";
    output = "type=" + std::to_string(entry->h_addrtype) +
             " length=" + std::to_string(entry->h_length) + " " + Addresses(entry);
    if (show_name) {
      output += " name=" + Quote(official);
    } else {
      output += official.empty() ? " no name" : " a name";
      output += ResolvesToLoopback(official) ? " back to 127.0.0.1" : " not back to 127.0.0.1";
    }
  }
  Check("gethostbyname(" + Quote(name) + ")", output);
}

void Reverse(const std::string& label, ULONG address, int length, int family,
             const char* wine_differs = nullptr) {
  ResetLastError();
  const hostent* entry = gethostbyaddr(reinterpret_cast<const char*>(&address), length, family);
  std::string error = LastErrorText();
  std::string output;
  if (!entry) {
    output = "NULL " + error;
  } else {
    std::string name = entry->h_name ? entry->h_name : "";
    output = "type=" + std::to_string(entry->h_addrtype) +
             " length=" + std::to_string(entry->h_length) + " " + Addresses(entry);
    output += name.empty() ? " no name" : " a name";
    output += ResolvesToLoopback(name) ? " back to 127.0.0.1" : " not back to 127.0.0.1";
  }
  std::string input = "gethostbyaddr(" + label + ", " + std::to_string(length) + ", " +
                      std::to_string(family) + ")";
  if (wine_differs) {
    WineDiffers(wine_differs, input, output);
  } else {
    Check(input, output);
  }
}

}  // namespace

void RunChecks(const Workspace&) {
  // Before any start-up the resolver calls fail; a clean-up without a start-up fails too.
  Cleanup("before any start-up");
  Forward("localhost", false);
  Reverse("127.0.0.1", inet_addr("127.0.0.1"), 4, AF_INET, kUnstarted);

  for (WORD version :
       {MAKEWORD(0, 0), MAKEWORD(0, 1), MAKEWORD(0, 2), MAKEWORD(1, 0), MAKEWORD(1, 1),
        MAKEWORD(1, 2), MAKEWORD(1, 3), MAKEWORD(2, 0), MAKEWORD(2, 1), MAKEWORD(2, 2),
        MAKEWORD(2, 3), MAKEWORD(3, 0), MAKEWORD(3, 5), MAKEWORD(255, 255)}) {
    StartUp(version);
  }
  ResetLastError();
  Check("WSAStartup(2.2, NULL)", std::to_string(WSAStartup(MAKEWORD(2, 2), nullptr)));

  // Start-ups are counted: two start-ups need two clean-ups.
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
  WSAStartup(MAKEWORD(2, 2), &data);
  Cleanup("first of two");
  Forward("localhost", false);
  Cleanup("second of two");
  Cleanup("third of two");

  // Dotted texts: one to four parts, each decimal, octal or hexadecimal; the limits of each
  // part; what may follow the address; malformed and empty texts.
  for (const char* text : {"127.0.0.1",
                           "127.1.2.3",
                           "127.255.255.254",
                           "127.0.0.0",
                           "0.0.0.0",
                           "0",
                           "255.255.255.255",
                           "255.255.255.254",
                           "0377.0377.0377.0377",
                           "0xff.0xff.0xff.0xff",
                           "0xffffffff",
                           "4294967295",
                           "4294967294",
                           "4294967296",
                           "0x100000000",
                           "127.1",
                           "127.0.1",
                           "127.65535",
                           "127.65536",
                           "127.0.65535",
                           "127.0.65536",
                           "127.16777215",
                           "127.16777216",
                           "2130706433",
                           "017700000001",
                           "0x7f000001",
                           "0X7F000001",
                           "0177.0.0.1",
                           "0x7f.0.0.1",
                           "0X7f.0X0.0x0.0x1",
                           "0x7F.1",
                           "010.0.0.1",
                           "08.0.0.1",
                           "09",
                           "0x",
                           "0x.0.0.1",
                           "0xg",
                           "00",
                           "0000000000177.0.0.1",
                           "0x00000000007f.0.0.1",
                           "127.000.000.001",
                           "127.0.0.1 ",
                           "127.0.0.1  trailing",
                           "127.0.0.1\t",
                           "127.0.0.1\n",
                           "127.0.0.1\r",
                           "127.0.0.1\v",
                           "127.0.0.1\f",
                           "127.0.0.1x",
                           "127.0.0.1.",
                           "127.0.0.1.5",
                           "127..0.1",
                           ".127.0.0.1",
                           "127.0.0.",
                           " 127.0.0.1",
                           "\t127.0.0.1",
                           "256.0.0.1",
                           "127.256.0.1",
                           "127.0.256.1",
                           "127.0.0.256",
                           "-1",
                           "+1",
                           "127.0.0.-1",
                           "127.+1.0.1",
                           "1.2.3.4.5",
                           "a.b.c.d",
                           "localhost",
                           "",
                           " ",
                           "  ",
                           "\t",
                           "\t1",
                           " 1",
                           "1 ",
                           "1\t2",
                           ".",
                           "...",
                           "127.0.0.1\x01",
                           "127.0.0.1\xC3\xA9",
                           "99999999999",
                           "127.99999999999"}) {
    Address(text);
  }

  for (ULONG address : {0x00000000u, 0x0100007Fu, 0x0302017Fu, 0xFFFFFFFFu, 0x07C8000Au,
                        0x04030201u, 0x000000FFu}) {
    in_addr a;
    a.s_addr = address;
    Check("inet_ntoa(" + Hex(address) + ")", Quote(inet_ntoa(a)));
  }

  // The resolver calls, started; loopback names and numeric addresses only.
  WSAStartup(MAKEWORD(1, 1), &data);
  Forward("localhost", false);
  Forward("LocalHost", false);
  Forward("LOCALHOST", false);
  Forward("127.0.0.1", true);
  Forward("127.1.2.3", true);
  Reverse("127.0.0.1", inet_addr("127.0.0.1"), 4, AF_INET);
  Reverse("127.0.0.1", inet_addr("127.0.0.1"), 3, AF_INET, kShortLength);
  Reverse("127.0.0.1", inet_addr("127.0.0.1"), 0, AF_INET, kShortLength);
  Reverse("127.0.0.1", inet_addr("127.0.0.1"), 4, 0, kUnspecified);
  Reverse("127.0.0.1", inet_addr("127.0.0.1"), 4, 23);
  // The entry of the last call is the calling thread's: a second call replaces it.
  const hostent* first = gethostbyname("127.0.0.1");
  const hostent* second = gethostbyname("localhost");
  Check("gethostbyname twice", first == second ? "same entry" : "another entry");
  WSACleanup();
}
