// A private network namespace for the tests that need a host which drops echoes, or
// settings that differ from the machine's. The traffic stays inside the namespace.
#include <errno.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "tests/unit/net_fakes.h"

namespace dunmarrow::test {

bool RunInPrivateNetwork(const std::vector<std::pair<std::string, std::string>>& sysctls,
                         const std::function<void()>& body, std::string& why_not) {
  bool ran = false;
  // unshare changes the namespace of the calling thread only: the test's own thread stays.
  std::thread worker([&] {
    if (unshare(CLONE_NEWNET) != 0) {
      why_not = std::string("cannot create a network namespace: ") + std::strerror(errno);
      return;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) close(fd);
    if (!up) {
      why_not = "cannot bring up the loopback interface of the new namespace";
      return;
    }
    for (const auto& [path, value] : sysctls) {
      std::ofstream out("/proc/sys/net/" + path);
      out << value;
      out.close();
      if (!out) {
        why_not = "cannot set " + path + " in the new namespace";
        return;
      }
    }
    ran = true;
    body();
  });
  worker.join();
  return ran;
}

}  // namespace dunmarrow::test
